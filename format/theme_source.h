// The platform's side of reading the theme file: opening it as a binary
// stream and learning its length. Reading bytes at an absolute position and
// learning the file's identity (theme_file.h) are the platform's too.
// theme_source-posix.cpp and theme_source-win32.cpp implement it; the rest of
// format/ never knows which platform it runs on.
#ifndef THEMEUNPACK_FORMAT_THEME_SOURCE_H
#define THEMEUNPACK_FORMAT_THEME_SOURCE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "format/theme_file.h"

// Opens `path` (UTF-8) for reading, with no translation of its bytes, or
// returns null with the system's error code in `error`.
FILE* open_theme_stream(const char* path, int* error);

// True for an error code of open_theme_stream that means nothing is there.
bool means_not_found(int error);

// The length of the file behind `stream`, in bytes; false, with the system's
// error code in `error`, when it cannot be learnt.
bool measure_theme_stream(FILE* stream, uint64_t* length, int* error);

#endif
