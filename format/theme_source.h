// The platform's side of reading the theme file: opening it as a binary
// stream, learning its length, reading bytes at an absolute position, and
// holding a large block without copying it where the platform can.
// theme_source-posix.cpp and theme_source-win32.cpp implement it; the rest of
// format/ never knows which platform it runs on.
#ifndef THEMEUNPACK_FORMAT_THEME_SOURCE_H
#define THEMEUNPACK_FORMAT_THEME_SOURCE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "format/theme_file.h"

// Opens `path` (UTF-8) for reading, with no translation of its bytes, or
// returns null.
FILE* open_theme_stream(const char* path);

// The length of the file behind `stream`, in bytes.
bool measure_theme_stream(FILE* stream, uint64_t* length);

// Reads exactly `length` bytes at `offset`; a short read is a failure.
bool read_theme_bytes(const theme_file& theme, uint64_t offset, void* bytes,
                      size_t length);

enum class map_result { mapped, no_memory, not_mappable };

// Holds the `length` bytes at `offset` as a read-only mapping in `block`, or
// says why not; a block that is not mappable is read into memory instead.
map_result map_theme_bytes(const theme_file& theme, uint64_t offset,
                           uint64_t length, theme_block* block);

// Releases a block that map_theme_bytes mapped.
void unmap_theme_bytes(const theme_block& block);

#endif
