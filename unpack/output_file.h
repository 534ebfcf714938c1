// Writes the tool's output files, and decides which output paths are safe to
// write: nothing leaves the theme directory, nothing goes through a symbolic link,
// and no file is left behind with contents other than the ones meant for it.
// Never prints; the phases report.
#ifndef THEMEUNPACK_UNPACK_OUTPUT_FILE_H
#define THEMEUNPACK_UNPACK_OUTPUT_FILE_H

#include <cstddef>
#include <cstdio>
#include <string>
#include <unordered_map>

// Directories known to be real directories during one run, each marked with
// whether this run made it. The tool never removes a directory and never makes
// a symbolic link, so what is learnt once holds for the rest of the run, and
// nothing inside a directory this run made can be a symbolic link.
struct directory_cache {
  std::unordered_map<std::string, bool> made_by_run;
};

// True when `path` has a ".." component, splitting on "/" and also on "\",
// which the Windows layer treats as a separator too.
bool leads_outside(const char* path);

// True when a directory named in `path` before its last component already
// exists as a symbolic link. `cache` may be null; directories found real are
// recorded in it.
bool directories_hold_symlink(const char* path, directory_cache* cache);

// True when `path` itself, or a directory named in it, already exists as a
// symbolic link. `cache` may be null.
bool path_holds_symlink(const char* path, directory_cache* cache);

// Creates every directory named in `path` before its last component that is not
// known to exist, and records those it made. Results are otherwise ignored: a
// directory that cannot be made shows up when the file in it cannot be created.
void make_parent_directories(char* path, directory_cache* cache);

enum class write_result {
  written,
  cannot_write,  // the file could not be created, written or closed
  source_lost,   // the bytes themselves could not be read (EFAULT): a block
                 // mapped from a theme file that shrank during the run
};

// Creates `path` (replacing an existing file, never following a symbolic link),
// writes the `size` bytes and closes it. On failure a file it created or
// truncated is removed.
write_result write_output_file(const char* path, const void* data, size_t size);

// Creates `path` for writing line by line, or returns null.
FILE* create_output_file(const char* path);

// Closes a file made by create_output_file. When anything written to it failed,
// or closing fails, the file is removed and false is returned.
bool finish_output_file(FILE* file, const char* path);

#endif
