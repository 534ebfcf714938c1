// The confined output tree: the theme directory, held open from the moment it is
// entered, and everything a run writes below it. Every directory below it is
// reached from its parent's handle one component at a time, never through a
// link, and every file is created in its directory's handle, so nothing planted
// below the theme directory, before or during the run, can send a write
// elsewhere. A file gets its name only once its contents are complete; what stood
// at the name before stays until then, and stays for good when the write fails.
// Never prints; the phases report.
#ifndef THEMEUNPACK_UNPACK_OUTPUT_TREE_H
#define THEMEUNPACK_UNPACK_OUTPUT_TREE_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "format/theme_file.h"

// A handle of the platform: a file descriptor, or a Windows HANDLE. Both
// platforms' invalid handle is -1.
using native_handle = intptr_t;
constexpr native_handle NO_HANDLE = -1;

// The theme directory, and the one output being prepared in it. Only this
// module looks inside.
struct output_tree {
  native_handle root = NO_HANDLE;   // the theme directory
  native_handle theme = NO_HANDLE;  // the theme file, to learn its length
  uint64_t theme_device = 0;        // the theme file's identity: no output
  uint64_t theme_inode = 0;         // may ever replace it
  native_handle held = NO_HANDLE;   // the directory of the output prepared
  std::string held_name;            // that output's name in it
  bool resolve_in_one = true;    // the kernel resolves a confined path at once
  bool unnamed_files = true;     // files can be made without a name first
  bool link_descriptors = true;  // such a file is named through its handle
};

enum class tree_result {
  done,
  through_link,   // a link stands on the way or at the name
  theme_file,     // the name is the theme file itself
  cannot_write,   // the file or a directory on the way cannot be made or written
  source_lost,    // the data themselves could not be read: a block mapped from
                  // a theme file that shrank during the run
};

// Directories are created with this mode, subject to the process's umask.
constexpr unsigned DIRECTORY_MODE = 0777;

// True when `path` has a ".." component, splitting on "/" and also on "\",
// which the Windows layer treats as a separator too.
bool leads_outside(const char* path);

// Makes the directory `name` in the working directory unless it exists, enters
// it, holds it as the root of the tree, and makes `subdirectory` inside. Returns
// false when it cannot be entered; a directory this call made is then removed.
bool open_output_tree(const char* name, const char* subdirectory,
                      const theme_file& theme, output_tree* tree);

void close_output_tree(output_tree* tree);

// Makes every directory named in `path` (relative to the theme directory) before
// its last component. Returns through_link when one of them is a link, and
// cannot_write when one cannot be made or opened.
tree_result make_output_directories(output_tree* tree, const char* path);

// Finds where `path` goes: opens the directories before its last component,
// making them when `make_directories` is set, and holds the last one for the
// write. Returns through_link when a link stands on the way, cannot_write when
// the output cannot be made there, done otherwise. The output stays held,
// whatever the result, until written or released.
tree_result prepare_output(output_tree* tree, const char* path,
                           bool make_directories);

// Looks at what stands at the prepared output's name now: through_link or
// theme_file when it must be refused, cannot_write for a directory, done when
// nothing stands there or what does may be replaced. The write checks again
// before it names the file; this only lets a phase refuse before it starts.
tree_result check_prepared_output(const output_tree& tree);

// Writes the `size` bytes as the prepared output and releases it. The data are
// named only when complete: what stood at the name is replaced then, and left
// as it was when anything fails. When `source_end` is not 0 the theme file must
// still be at least that long once the data are written, or they are taken as
// lost.
tree_result write_prepared_output(output_tree* tree, const void* data,
                                  size_t size, uint64_t source_end);

void release_prepared_output(output_tree* tree);

#endif
