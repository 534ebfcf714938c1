// What each platform's side of the output tree (output_tree-posix.cpp,
// output_tree-win32.cpp) gives the part both share (output_tree.cpp). Nothing
// outside the module includes it.
#ifndef THEMEUNPACK_TREE_OUTPUT_TREE_PLATFORM_H
#define THEMEUNPACK_TREE_OUTPUT_TREE_PLATFORM_H

#include <cstddef>
#include <string>

#include "tree/output_tree.h"

// Why a tree operation failed: what the tree makes of it, and for
// cannot_write the system's error code.
struct tree_failure {
  tree_result result = tree_result::cannot_write;
  int error = 0;
};

// Opens the directory that holds the last component of `path`, making the
// missing ones when `make` is set; NO_HANDLE, with the reason in `why`, when a
// link stands on the way or one cannot be made or opened. The handle may be the
// theme directory's own.
native_handle open_output_parent(output_tree* tree, const char* path, bool make,
                                 tree_failure* why);

// Closes a handle from open_output_parent, unless it is the theme directory's.
void close_output_directory(const output_tree& tree, native_handle directory);

// What stands at `name` in `directory` now: through_link or protected_file
// when it must be refused, cannot_write for a directory, done when nothing
// stands there or what does may be replaced.
tree_failure check_output_name(const output_tree& tree, native_handle directory,
                               const std::string& name);

// The system's error code for a name that is, or must be, a directory where a
// file is wanted.
int directory_in_the_way_error();

// Makes the file the staged output's bytes go to, in its directory, without
// its name: unnamed where the file system allows, else under a fresh
// temporary name. On cannot_write, output->error says why.
tree_result create_output_file(staged_output* output);

// Copies up to `length` bytes at `offset` of `source` to the end of `file` in
// the kernel, as copy_into_output says; 0 where the platform offers no such
// copy.
uint64_t copy_output_bytes(output_tree* tree, native_handle file,
                           native_handle source, uint64_t offset,
                           uint64_t length);

// Writes all `size` bytes to `file`; the system's error code when any could
// not be written, else 0.
int write_output_bytes(native_handle file, const void* bytes, size_t size);

// Closes the complete file and gives it the staged output's name. On failure
// nothing is left under any name, and what stood at the name stays; on
// cannot_write, output->error says why.
tree_result name_output_file(staged_output* output);

// Closes the file of an output that is not to be published and removes its
// temporary name.
void discard_output_file(staged_output* output);

#endif
