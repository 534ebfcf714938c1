// A folder read the way the output tree writes one: held open from the start,
// every folder below it reached from its parent's handle one component at a
// time (or by the kernel's confined lookup), never through a link, and a file
// opened only once it is seen to be a regular file, so that nothing from
// outside the folder is ever read as if it were in it, whoever swaps what
// while it is read. A FIFO, a socket or a device is never opened. Never
// prints; the caller reports.
#ifndef THEMEUNPACK_TREE_INPUT_TREE_H
#define THEMEUNPACK_TREE_INPUT_TREE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tree/output_tree.h"

// The folder being read. Only this module looks inside.
struct input_tree {
  native_handle root = NO_HANDLE;
  bool resolve_in_one = true;  // the kernel resolves a confined path at once
};

enum class input_kind {
  file,     // a regular file
  folder,   // a directory
  link,     // a symbolic link, a junction or another reparse point
  special,  // a FIFO, a socket or a device
};

struct input_item {
  std::string name;
  input_kind kind = input_kind::special;
  uint64_t size = 0;  // a regular file's length when it was listed
};

enum class input_result {
  done,
  through_link,  // a link stands on the way or at the name
  not_a_file,    // it is not (or no longer) a regular file
  cannot_read,   // the system failed; the error code says why
};

// An open regular file of the tree, and its length when it was opened.
struct input_file {
  native_handle handle = NO_HANDLE;
  uint64_t size = 0;
  file_identity identity;
};

// Holds the folder `path` as the root of the tree. Returns false, with the
// system's error code in `error`, when it is not a folder that can be read.
bool open_input_tree(const char* path, input_tree* tree, int* error);

void close_input_tree(input_tree* tree);

// The names in the folder `path` ("/"-separated below the root, "" for the
// root itself), "." and ".." left out, each with what it is, in the order the
// system lists them.
input_result list_input_folder(input_tree* tree, const std::string& path,
                               std::vector<input_item>* items, int* error);

// Opens the regular file `path` for reading.
input_result open_input_file(input_tree* tree, const std::string& path,
                             input_file* file, int* error);

void close_input_file(input_file* file);

// Reads exactly `size` bytes at `offset` of `file`. False when they cannot all
// be read: `error` is then the system's error code, or 0 where the file ended
// first.
bool read_input_bytes(const input_file& file, uint64_t offset, void* bytes,
                      size_t size, int* error);

// Whether `file` is still the regular file it was when opened, of the same
// length.
bool input_file_unchanged(const input_file& file);

// True when the folder open as `folder` is the tree's root or lies anywhere
// below it; also when that cannot be told, which is the safe mistake.
bool input_tree_holds(const input_tree& tree, native_handle folder);

#endif
