// Packs a theme folder, as themeunpack writes one, back into a theme file that
// themeunpack unpacks into the same files: the PTF image from the folder's one
// ".ptf" file, then every file's data in the order of the file table, then the
// table, its records in byte order of the stored names. The module patches in
// "patch-only" are stored under the module's own name; "theme info.txt" at the
// top, which only reports the header, is left out.
#ifndef THEMEUNPACK_PACK_PACK_FOLDER_H
#define THEMEUNPACK_PACK_PACK_FOLDER_H

#include <string>

#include "unpack/block_output.h"

// Where the theme file goes when none is named: the folder's own path with
// ".ctf" after it ("theme_ctf" gives "theme_ctf.ctf"), so that it lies beside
// the folder and never replaces the theme file the folder was unpacked from.
std::string default_theme_path(const char* folder);

// Packs `folder` into the theme file `theme`, which is replaced whole or left
// as it was, and prints what happened. True after a complete pack.
bool pack_theme_folder(const char* folder, const char* theme,
                       const copy_buffer& buffer);

#endif
