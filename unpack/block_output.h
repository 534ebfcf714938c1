// Moves one block of the theme file whole into an output file, and reports on
// standard output why it could not: the two phases that write packed data, the
// file extraction and the PTF image, say the same things the same way.
#ifndef THEMEUNPACK_UNPACK_BLOCK_OUTPUT_H
#define THEMEUNPACK_UNPACK_BLOCK_OUTPUT_H

#include <cstdint>

#include "format/theme_file.h"

// Reads the `length` bytes at `offset` into `block`. When that fails, prints
// why the item `name` is skipped and returns false.
bool load_theme_block(const theme_file& theme, uint64_t offset, uint64_t length,
                      const char* name, theme_block* block);

// Writes `block` as the file `path`. When that fails, prints "Cannot write" for
// `path`, or, when the block's own bytes could not be read any more, that the
// item `name` is skipped, and returns false. Nothing is left at `path` then.
bool save_theme_block(const char* path, const char* name,
                      const theme_block& block);

#endif
