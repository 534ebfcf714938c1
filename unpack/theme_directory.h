// Names every output of a run after the theme file argument: the theme
// directory, made where the tool was started (or beside the theme file), its
// "patch-only" subdirectory and the PTF image file. Reads nothing from the
// theme file and touches no disk. On Windows the theme directory's name loses
// the dots and spaces at its end, as Windows would strip them; the PTF file's
// name always ends in ".ptf".
#ifndef THEMEUNPACK_UNPACK_THEME_DIRECTORY_H
#define THEMEUNPACK_UNPACK_THEME_DIRECTORY_H

#include <string>

// The subdirectory of the theme directory that receives the module patches.
constexpr const char* PATCH_DIRECTORY = "patch-only";

// The part of `argument` after its last "/" (all of it when it holds none).
// On POSIX systems only "/" separates and a backslash is an ordinary byte of
// the name; on Windows "\" separates too, and a leading drive ("C:") goes.
const char* theme_base_name(const char* argument);

// The theme directory's name, without a trailing "/": the base name with its
// first
// "." replaced by "_" ("theme.ctf" -> "theme_ctf"), or with "_" appended when
// it holds no "." ("theme" -> "theme_").
std::string theme_directory_name(const char* argument);

// The folder part of `argument`, its last separator and a drive included; ""
// for a bare name. The theme directory is made there when it is to lie beside
// the theme file.
std::string theme_folder(const char* argument);

// The name of the PTF image file: the base name with the text after its last
// "." replaced by "ptf" ("theme.ctf" -> "theme.ptf", "a.b.bin" -> "a.b.ptf"),
// or with
// ".ptf" appended when it holds no ".".
std::string ptf_file_name(const char* argument);

#endif
