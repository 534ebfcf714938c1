// Extracts every packed file of the file table into the theme directory, under
// the path stored for it, with its parent directories created first. The
// patches stored for three system modules are diverted into "patch-only".
#ifndef THEMEUNPACK_UNPACK_EXTRACT_ENTRIES_H
#define THEMEUNPACK_UNPACK_EXTRACT_ENTRIES_H

#include <cstdint>

#include "format/theme_file.h"
#include "tree/output_tree.h"
#include "unpack/block_output.h"
#include "unpack/phase_result.h"

// An output path is "." followed by the stored name: at most 64 bytes and a
// NUL.
constexpr uint32_t OUTPUT_PATH_SIZE = THEME_ENTRY_NAME_LIMIT + 2;

// One row of the patch redirection table.
struct patch_redirect {
  const char* module_path;
  const char* notice;
  const char* patch_path;
};

// Extracts entries 0 .. file_count - 1 in table order and prints the phase's
// closing line.
phase_result extract_entries(const theme_file& theme, output_tree* tree,
                             const copy_buffer& buffer, uint32_t file_count);

// Forms the output path of a stored name: "." followed by the name, with
// every separator of the platform made a "/".
void form_output_path(const char* name, char* output_path);

// The row whose module path equals the whole `output_path`, ignoring the case
// of ASCII letters, or null.
const patch_redirect* find_patch_redirect(const char* output_path);

// The row whose patch path is exactly `patch_path`, or null.
const patch_redirect* find_patch_source(const char* patch_path);

// The path to write an entry to: the row's patch path, after printing the row's
// notice, when a row matches; otherwise the output path itself.
const char* select_output_path(const char* output_path);

#endif
