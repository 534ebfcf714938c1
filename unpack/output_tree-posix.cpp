// The confined output tree on POSIX systems: each directory opened with openat
// from the one above it (or, on Linux, found in one confined openat2 call), and
// each file made without a name (O_TMPFILE) where the file system can, then
// linked into place; elsewhere under a temporary name.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "unpack/output_tree.h"
#include "unpack/output_tree_platform.h"

#if defined(__linux__)
#include <linux/openat2.h>
#include <sys/syscall.h>
#endif

namespace {

constexpr mode_t OUTPUT_FILE_MODE = 0666;  // subject to the umask, as fopen's

// A directory handle is only ever used to name things in that directory, so it
// needs no read permission where the system offers path-only handles.
#ifdef O_PATH
constexpr int DIRECTORY_HANDLE = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int DIRECTORY_HANDLE = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

// Temporary names are tried until one is free; a name planted at one only
// costs another try.
constexpr const char* TEMPORARY_PREFIX = ".themeunpack-";
constexpr int TEMPORARY_TRIES = 100;

// A large file is written by one loop, but handed to the kernel at most this
// much per call. Linux sizes the pages of the new file's cache by the length of
// each call; up to 32 KiB they come from lists of recently freed memory, larger
// ones more often from memory a virtual machine's host has taken back, which the
// host must fault in again. On such a machine a 1.5 GiB file written in 64 KiB
// calls took a third longer in the median, and in 256 KiB or larger calls
// erratically several times as long.
constexpr size_t WRITE_CALL_MAX = 32 * 1024;

// A file up to this long is handed over in one call: there the larger pages
// cost less than the calls and pages they replace (a theme of 150 files of
// 100 B to 1 MiB unpacked in 6 % less time than in 32 KiB calls).
constexpr size_t ONE_CALL_MAX = 1024 * 1024;

// Returns 0, or the error of the write that failed.
int write_fully(int file, const char* data, size_t size) {
  size_t call_max = size <= ONE_CALL_MAX ? size : WRITE_CALL_MAX;
  // Each call continues where the last stopped; the kernel may also take
  // fewer bytes than it was given.
  while (size > 0) {
    size_t piece = size < call_max ? size : call_max;
    ssize_t written = write(file, data, piece);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return errno;
    if (written == 0) return ENOSPC;  // nothing taken and no reason given
    data += written;
    size -= static_cast<size_t>(written);
  }
  return 0;
}

// The tree keeps descriptors in native handles.
int descriptor(native_handle handle) { return static_cast<int>(handle); }

void close_directory(const output_tree& tree, int directory) {
  if (directory >= 0 && directory != descriptor(tree.root)) close(directory);
}

bool is_theme_file(const output_tree& tree, const struct stat& status) {
  return static_cast<uint64_t>(status.st_dev) == tree.theme_device &&
         static_cast<uint64_t>(status.st_ino) == tree.theme_inode;
}

// Why `name` in `directory` cannot take a directory or a new file's contents,
// or done when what stands there may be replaced.
tree_result check_name(const output_tree& tree, int directory,
                       const char* name) {
  struct stat status;
  if (fstatat(directory, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
    return tree_result::done;
  }
  if (S_ISLNK(status.st_mode)) return tree_result::through_link;
  if (is_theme_file(tree, status)) return tree_result::theme_file;
  if (S_ISDIR(status.st_mode)) return tree_result::cannot_write;
  return tree_result::done;
}

// Opens the directory `name` in `parent`, making it first when asked. A link
// there is never followed.
int open_directory_at(const output_tree& tree, int parent, const char* name,
                      bool make, tree_result* why) {
  // Asked to make it, the walk has found it missing, or at least one
  // directory above it; what stands there already, or was made by someone
  // else in the meantime, is for the open to judge.
  if (make) mkdirat(parent, name, DIRECTORY_MODE);
  int directory = openat(parent, name, DIRECTORY_HANDLE | O_NOFOLLOW);
  if (directory < 0) {
    tree_result found = check_name(tree, parent, name);
    *why = found == tree_result::through_link ? found
                                              : tree_result::cannot_write;
  }
  return directory;
}

// Opens the directories in the first `length` bytes of `path` one component at
// a time from `start` (the theme directory, or one found below it, which the
// walk then owns); only the one last opened is held.
int walk_directories(const output_tree& tree, int start, const char* path,
                     size_t length, bool make, tree_result* why) {
  int current = start;
  std::string component;
  const char* end = path + length;
  for (const char* start = path; start < end;) {
    const char* slash =
        static_cast<const char*>(memchr(start, '/', end - start));
    if (slash == nullptr) slash = end;
    component.assign(start, slash);
    start = slash + 1;
    if (component.empty() || component == ".") continue;
    int next = open_directory_at(tree, current, component.c_str(), make, why);
    close_directory(tree, current);
    if (next < 0) return -1;
    current = next;
  }
  return current;
}

// The kernel's own confined lookup: one call for the whole way, refusing any
// link and anything that would leave the theme directory. Returns -1 when it
// is not offered or does not succeed; the walk then decides.
int open_beneath(output_tree* tree, const char* path, size_t length) {
#if defined(__linux__) && defined(SYS_openat2)
  if (!tree->resolve_in_one) return -1;
  std::string directories(path, length);
  open_how how{};
  how.flags = DIRECTORY_HANDLE | O_NOFOLLOW;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  auto directory = static_cast<int>(
      syscall(SYS_openat2, descriptor(tree->root), directories.c_str(), &how, sizeof how));
  if (directory < 0 && errno == ENOSYS) tree->resolve_in_one = false;
  return directory;
#else
  (void)path;
  (void)length;
  tree->resolve_in_one = false;
  return -1;
#endif
}

// The length of the part of `path` before its last "/" within the first
// `length` bytes, or 0 when there is none.
size_t parent_length(const char* path, size_t length) {
  while (length > 0 && path[length - 1] != '/') --length;
  return length > 0 ? length - 1 : 0;
}

// Opens the directory that holds the last component of `path`. Where the
// directories are missing, the deepest one that exists is found with the
// kernel's confined lookup, and only the missing ones are walked and made.
int open_parent(output_tree* tree, const char* path, bool make,
                tree_result* why) {
  const char* slash = strrchr(path, '/');
  if (slash == nullptr) return descriptor(tree->root);
  auto length = static_cast<size_t>(slash - path);
  int directory = open_beneath(tree, path, length);
  if (directory >= 0) return directory;
  size_t found = length;
  int start = descriptor(tree->root);
  while (make && tree->resolve_in_one && errno == ENOENT && found > 0) {
    found = parent_length(path, found);
    if (found == 0) break;
    directory = open_beneath(tree, path, found);
    if (directory >= 0) {
      start = directory;
      break;
    }
  }
  // Anything but a missing directory (a link, a file in the way) is for the
  // walk from the theme directory to find and name.
  if (start == descriptor(tree->root)) found = 0;
  return walk_directories(*tree, start, path + found, length - found, make,
                          why);
}

// Links the unnamed file `file` into `directory` as `name`; fails when
// anything already stands there. Linking the descriptor itself is cheaper but
// needs a privilege most users lack; the process's own view of its
// descriptors serves everyone.
bool link_unnamed(output_tree* tree, int file, int directory,
                  const char* name) {
#ifdef AT_EMPTY_PATH
  if (tree->link_descriptors) {
    if (linkat(file, "", directory, name, AT_EMPTY_PATH) == 0) return true;
    if (errno != ENOENT && errno != EPERM) return false;
    tree->link_descriptors = false;
  }
#endif
  std::string self = "/proc/self/fd/" + std::to_string(file);
  return linkat(AT_FDCWD, self.c_str(), directory, name, AT_SYMLINK_FOLLOW) ==
         0;
}

std::string temporary_name(int attempt) {
  return TEMPORARY_PREFIX + std::to_string(getpid()) + "-" +
         std::to_string(attempt);
}

// Creates a new file under a free temporary name in `directory`.
int create_temporary(int directory, std::string* name) {
  for (int attempt = 0; attempt < TEMPORARY_TRIES; ++attempt) {
    *name = temporary_name(attempt);
    int file = openat(directory, name->c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      OUTPUT_FILE_MODE);
    if (file >= 0 || errno != EEXIST) return file;
  }
  return -1;
}

// Gives the unnamed file `file` a free temporary name in `directory`.
bool link_temporary(output_tree* tree, int file, int directory,
                    std::string* name) {
  for (int attempt = 0; attempt < TEMPORARY_TRIES; ++attempt) {
    *name = temporary_name(attempt);
    if (link_unnamed(tree, file, directory, name->c_str())) return true;
    if (errno != EEXIST) return false;
  }
  return false;
}

// Puts the complete file `temporary` in place of what stands at `name`, once
// that is known to be something the tool may replace.
tree_result replace_with(const output_tree& tree, int directory,
                         const std::string& temporary, const char* name) {
  tree_result standing = check_name(tree, directory, name);
  if (standing == tree_result::done &&
      renameat(directory, temporary.c_str(), directory, name) == 0) {
    return tree_result::done;
  }
  unlinkat(directory, temporary.c_str(), 0);
  return standing == tree_result::done ? tree_result::cannot_write : standing;
}

// Names a complete unnamed file. A new name is linked to it directly; an
// existing name is replaced through a temporary name, so it never shows
// partial contents.
tree_result name_unnamed(output_tree* tree, int file, int directory,
                         const char* name) {
  if (link_unnamed(tree, file, directory, name)) {
    // A full disk may show only when the file is closed.
    if (close(file) == 0) return tree_result::done;
    unlinkat(directory, name, 0);
    return tree_result::cannot_write;
  }
  std::string temporary;
  bool linked =
      errno == EEXIST && link_temporary(tree, file, directory, &temporary);
  bool closed = close(file) == 0;
  if (!linked) return tree_result::cannot_write;
  if (!closed) {
    unlinkat(directory, temporary.c_str(), 0);
    return tree_result::cannot_write;
  }
  return replace_with(*tree, directory, temporary, name);
}

// Names a complete file written under a temporary name: linked to a new name
// (which fails when anything stands there), or renamed over an existing one.
tree_result name_temporary(const output_tree& tree, int file, int directory,
                           const std::string& temporary, const char* name) {
  tree_result result = tree_result::cannot_write;
  if (close(file) == 0) {
    if (linkat(directory, temporary.c_str(), directory, name, 0) == 0) {
      result = tree_result::done;
    } else if (errno == EEXIST) {
      return replace_with(tree, directory, temporary, name);
    }
  }
  unlinkat(directory, temporary.c_str(), 0);
  return result;
}

// A file without a name, which vanishes with the process if the run is killed
// before it is complete; -1 where the file system cannot make one.
int create_unnamed(output_tree* tree, int directory) {
#ifdef O_TMPFILE
  if (!tree->unnamed_files) return -1;
  int file = openat(directory, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC,
                    OUTPUT_FILE_MODE);
  if (file < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    tree->unnamed_files = false;
  }
  return file;
#else
  (void)directory;
  tree->unnamed_files = false;
  return -1;
#endif
}

bool theme_file_shrank(const output_tree& tree, uint64_t source_end) {
  struct stat status;
  if (source_end == 0) return false;
  return fstat(descriptor(tree.theme), &status) != 0 ||
         static_cast<uint64_t>(status.st_size) < source_end;
}

tree_result write_and_name(output_tree* tree, int directory, const char* name,
                           const void* data, size_t size,
                           uint64_t source_end) {
  std::string temporary;
  int file = create_unnamed(tree, directory);
  if (file < 0) file = create_temporary(directory, &temporary);
  if (file < 0) return tree_result::cannot_write;

  int error = write_fully(file, static_cast<const char*>(data), size);
  // A mapped block whose file was cut short inside its last page reads as
  // zeros there instead of failing: only the file's length tells.
  if (error == 0 && theme_file_shrank(*tree, source_end)) error = EFAULT;
  if (error != 0) {
    close(file);
    if (!temporary.empty()) unlinkat(directory, temporary.c_str(), 0);
    return error == EFAULT ? tree_result::source_lost
                           : tree_result::cannot_write;
  }
  if (temporary.empty()) return name_unnamed(tree, file, directory, name);
  return name_temporary(*tree, file, directory, temporary, name);
}

}  // namespace

bool open_output_tree(const char* name, const char* subdirectory,
                      const theme_file& theme, output_tree* tree) {
  bool made = mkdir(name, DIRECTORY_MODE) == 0;
  // The theme directory itself may be a link; everything below it may not.
  int root = open(name, DIRECTORY_HANDLE);
  if (root < 0 || fchdir(root) != 0) {
    if (root >= 0) close(root);
    // A directory this run made but cannot use is not left behind.
    if (made) rmdir(name);
    return false;
  }
  struct stat status;
  int theme_handle = fileno(theme.stream);
  if (fstat(theme_handle, &status) != 0) {
    close(root);
    return false;
  }
  *tree = output_tree{};
  tree->root = root;
  tree->theme = theme_handle;
  tree->theme_device = static_cast<uint64_t>(status.st_dev);
  tree->theme_inode = static_cast<uint64_t>(status.st_ino);
  // An unnamed file is given its name through the process's own view of its
  // descriptors; without it, files are written under temporary names.
  tree->unnamed_files = access("/proc/self/fd", X_OK) == 0;
  mkdirat(root, subdirectory, DIRECTORY_MODE);
  return true;
}

void close_output_tree(output_tree* tree) {
  release_prepared_output(tree);
  if (tree->root != NO_HANDLE) close(descriptor(tree->root));
  tree->root = NO_HANDLE;
}

native_handle open_output_parent(output_tree* tree, const char* path,
                                 bool make, tree_result* why) {
  return open_parent(tree, path, make, why);
}

void close_output_directory(const output_tree& tree, native_handle directory) {
  close_directory(tree, descriptor(directory));
}

tree_result check_prepared_output(const output_tree& tree) {
  if (tree.held == NO_HANDLE) return tree_result::cannot_write;
  return check_name(tree, descriptor(tree.held), tree.held_name.c_str());
}

tree_result write_prepared_output(output_tree* tree, const void* data,
                                  size_t size, uint64_t source_end) {
  if (tree->held == NO_HANDLE) return tree_result::cannot_write;
  tree_result result = write_and_name(tree, descriptor(tree->held),
                                      tree->held_name.c_str(),
                                      data, size, source_end);
  release_prepared_output(tree);
  return result;
}
