// The confined output tree: the theme directory, held open from the moment it
// is entered, and everything a run writes below it. Every directory below it is
// reached from its parent's handle, never through a link, and every file is
// created in its directory's handle, so nothing planted below the theme
// directory, before or during the run, can send a write elsewhere. Whoever
// calls it, a path with a ".." component, a name the platform cannot hold, a
// link on the way or at the name, and the protected file are refused.
//
// An output is staged, its bytes are appended in pieces, and it is published:
// only then does it take its name, replacing what stood there. A staged output
// that is never published is discarded, and leaves every name as it was.
// Never prints; the caller reports.
#ifndef THEMEUNPACK_TREE_OUTPUT_TREE_H
#define THEMEUNPACK_TREE_OUTPUT_TREE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A handle of the platform: a file descriptor, or a Windows HANDLE. Both
// platforms' invalid handle is -1.
using native_handle = intptr_t;
constexpr native_handle NO_HANDLE = -1;

// Where a file lies on its volume: a device and inode number, or a volume
// serial and file index.
struct file_identity {
  uint64_t device = 0;
  uint64_t inode = 0;
};

// What the tree has learnt of a file system it writes to.
enum class ability { unknown, yes, no };

// What one file system (a device) offers, learnt the first time it refuses
// a call as not offered there. Another file system mounted below the theme
// directory (a FAT card, say) learns for itself.
struct file_system_abilities {
  uint64_t device = 0;
  ability unnamed_files = ability::unknown;  // made without a name, then linked
  bool link_descriptors = true;  // such a file is linked by its descriptor
  bool rename_noreplace = true;  // a rename can refuse to replace
  // The kernel copies from file to file: by copy_file_range, else sendfile.
  bool copy_file_range_offered = true;
  bool sendfile_offered = true;
};

// The theme directory. Only this module looks inside.
struct output_tree {
  native_handle root = NO_HANDLE;
  file_identity protected_file;  // never replaced by an output
  // Where the protected file's folder answers to its name in another case:
  // that folder, and the name, which no output may take in any case.
  file_identity protected_folder;
  std::string protected_name;
  bool resolve_in_one = true;  // the kernel resolves a confined path at once
  // One record for each file system written to so far: a handful at most.
  std::vector<file_system_abilities> file_systems;
};

enum class tree_result {
  done,
  leads_outside,   // the path has a ".." component
  cannot_hold,     // the platform cannot hold the name
  through_link,    // a link stands on the way or at the name
  protected_file,  // the name is the protected file itself
  cannot_write,  // the file or a directory on the way cannot be made or written
};

// How a staged output treats what stands at its name before it is published.
enum class stage_mode {
  make_directories,  // make the missing directories; look at the name when
                     // publishing
  check_name,  // the directories must exist; refuse at once what stands there
};

// One output on its way to its name: its directory, its name, and the file
// its bytes go to, made at the first byte. Discarded unless published.
struct staged_output {
  output_tree* tree = nullptr;
  native_handle directory = NO_HANDLE;
  std::string name;
  native_handle file = NO_HANDLE;
  std::string temporary;  // the file's temporary name, when it has one
  tree_result failure = tree_result::done;
  // Why it could not be written: the system's error code (errno, or a Windows
  // error code) for cannot_write; 0 otherwise.
  int error = 0;

  staged_output() = default;
  staged_output(const staged_output&) = delete;
  staged_output& operator=(const staged_output&) = delete;
  ~staged_output();
};

// Directories are created with this mode, subject to the process's umask.
constexpr unsigned DIRECTORY_MODE = 0777;

// True when `path` has a ".." component, splitting on "/" and also on "\",
// which the Windows layer treats as a separator too.
bool leads_outside(const char* path);

// Makes the directory `path` (relative to the working directory, or absolute)
// unless it exists, holds it as the root of the tree, and makes `subdirectory`
// inside. The working directory stays as it was. No output may ever replace
// `protected_file`. Returns false, with the system's error code in `error`,
// when it cannot be opened, or when the directory this call made was swapped
// for a link before it was opened; a directory this call made is then removed
// again.
bool open_output_tree(const char* path, const char* subdirectory,
                      const file_identity& protected_file, output_tree* tree,
                      int* error);

// Holds the existing directory `path` as the root of a tree, making nothing
// (the folder a single output is written into). Returns false, with the
// system's error code in `error`, when it cannot be opened and entered.
bool open_output_folder(const char* path, const file_identity& protected_file,
                        output_tree* tree, int* error);

void close_output_tree(output_tree* tree);

// What `path` alone rules out, before anything on disk is looked at: a ".."
// component, a name the platform cannot hold, or a path that names a
// directory and never a file (cannot_write, with the system's error code in
// `error`).
tree_result check_output_path(const char* path, int* error);

// Also refuses, as the protected file, every spelling of its name in its
// folder where that folder takes a name in another case for the same file (a
// FAT card, an exFAT stick): there, through FUSE, each spelling may have an
// identity of its own. `path` is the protected file's path as it was opened.
void protect_every_spelling(output_tree* tree, const char* path);

// Makes every directory named in `path` (relative to the theme directory)
// before its last component.
tree_result make_output_directories(output_tree* tree, const char* path);

// Stages the output `path` ("/"-separated, relative to the theme directory).
// Anything but done is final: the output is refused and nothing was made for
// it but directories on the way.
tree_result stage_output(output_tree* tree, const char* path, stage_mode mode,
                         staged_output* output);

// Appends `size` bytes to the staged output. After a failure the output can
// only be discarded. Whenever cannot_write is returned, output->error says
// why.
tree_result append_output(staged_output* output, const void* bytes,
                          size_t size);

// Copies up to `length` bytes at `offset` of the open file `source` into the
// staged output, in the kernel where the system offers such a copy, and
// returns how many it copied. The rest, all of it where no such copy is
// offered, or from where the source ended or a call failed, is the caller's
// to append: a short source or a failed write is then met, and reported,
// exactly as without the copy. What the system refuses is learnt once.
uint64_t copy_into_output(staged_output* output, native_handle source,
                          uint64_t offset, uint64_t length);

// Names the complete output: what stood at its name is replaced now, or left
// as it was when anything fails.
tree_result publish_output(staged_output* output);

#endif
