// What each platform's side of the output tree (output_tree-posix.cpp,
// output_tree-win32.cpp) gives the part both share (output_tree.cpp). Nothing
// outside the module includes it.
#ifndef THEMEUNPACK_UNPACK_OUTPUT_TREE_PLATFORM_H
#define THEMEUNPACK_UNPACK_OUTPUT_TREE_PLATFORM_H

#include "unpack/output_tree.h"

// Opens the directory that holds the last component of `path`, making the
// missing ones when `make` is set; NO_HANDLE, with the reason in `why`, when a
// link stands on the way or one cannot be made or opened. The handle may be the
// theme directory's own.
native_handle open_output_parent(output_tree* tree, const char* path,
                                 bool make, tree_result* why);

// Closes a handle from open_output_parent, unless it is the theme directory's.
void close_output_directory(const output_tree& tree, native_handle directory);

#endif
