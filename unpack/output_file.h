// Writes the tool's output files, and decides which output paths are safe to
// write: nothing leaves the theme directory, nothing goes through a symbolic link,
// and no file is left behind with contents other than the ones meant for it.
// Never prints; the phases report.
#ifndef THEMEUNPACK_UNPACK_OUTPUT_FILE_H
#define THEMEUNPACK_UNPACK_OUTPUT_FILE_H

#include <cstddef>
#include <cstdio>

// True when `path` has a ".." component, splitting on "/" and also on "\",
// which the Windows layer treats as a separator too.
bool leads_outside(const char* path);

// True when a directory named in `path` before its last component already
// exists as a symbolic link.
bool directories_hold_symlink(const char* path);

// True when `path` itself, or a directory named in it, already exists as a
// symbolic link.
bool path_holds_symlink(const char* path);

// Creates `path` (replacing an existing file), writes `size` bytes with one
// write and closes it. On failure a file it created or truncated is removed and
// false is returned.
bool write_output_file(const char* path, const void* data, size_t size);

// Creates `path` for writing line by line, or returns null.
FILE* create_output_file(const char* path);

// Closes a file made by create_output_file. When anything written to it failed,
// or closing fails, the file is removed and false is returned.
bool finish_output_file(FILE* file, const char* path);

#endif
