// The folder being read, on POSIX systems: each folder below the root opened
// with openat from the one above it with O_NOFOLLOW (or, on Linux, found in one
// openat2 call that refuses every link). A file is first opened as a path
// only, which reads nothing and opens no device; only once that very file is
// seen to be a regular file is it opened for reading.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <string>

#include "tree/input_tree.h"

#if defined(__linux__)
#include <linux/openat2.h>
#include <sys/syscall.h>
#endif

namespace {

constexpr int FOLDER_FLAGS = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// A path-only handle where the system has one: opening it starts nothing.
#ifdef O_PATH
constexpr int LOOK_FLAGS = O_PATH | O_NOFOLLOW | O_CLOEXEC;
#else
constexpr int LOOK_FLAGS =
    O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC;
#endif
// A parent folder's chain is followed up at most this far.
constexpr int MOST_FOLDERS_UP = 4096;

int descriptor(native_handle handle) { return static_cast<int>(handle); }

file_identity identity_of(const struct stat& status) {
  return {static_cast<uint64_t>(status.st_dev),
          static_cast<uint64_t>(status.st_ino)};
}

bool same_file(const file_identity& a, const file_identity& b) {
  return a.device == b.device && a.inode == b.inode;
}

input_kind kind_of(mode_t mode) {
  if (S_ISREG(mode)) return input_kind::file;
  if (S_ISDIR(mode)) return input_kind::folder;
  if (S_ISLNK(mode)) return input_kind::link;
  return input_kind::special;
}

// What an open that refused to follow a link says when it met one.
bool met_a_link(int error) { return error == ELOOP || error == EXDEV; }

input_result failed(int code, int* error) {
  *error = code;
  return met_a_link(code) ? input_result::through_link
                          : input_result::cannot_read;
}

// The kernel's own confined lookup of the folder `path`: -1 when it is not
// offered (the walk then decides) or fails.
int open_beneath(input_tree* tree, const std::string& path, int* error) {
#if defined(__linux__) && defined(SYS_openat2)
  if (tree->resolve_in_one) {
    open_how how{};
    how.flags = FOLDER_FLAGS;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    auto folder = static_cast<int>(syscall(SYS_openat2, descriptor(tree->root),
                                           path.c_str(), &how, sizeof how));
    if (folder >= 0 || errno != ENOSYS) {
      *error = errno;
      return folder;
    }
    tree->resolve_in_one = false;
  }
#else
  tree->resolve_in_one = false;
#endif
  (void)path;
  *error = ENOSYS;
  return -1;
}

// Opens the folder `path` below the root one component at a time.
int walk_to_folder(const input_tree& tree, const std::string& path,
                   int* error) {
  int current = fcntl(descriptor(tree.root), F_DUPFD_CLOEXEC, 0);
  size_t start = 0;
  while (current >= 0 && start < path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    std::string component = path.substr(start, slash - start);
    start = slash + 1;
    if (component.empty() || component == ".") continue;
    int next = openat(current, component.c_str(), FOLDER_FLAGS);
    *error = errno;
    close(current);
    current = next;
  }
  if (current < 0 && *error == ENOTDIR) {
    // O_NOFOLLOW on a link that was asked to be a folder says ENOTDIR on
    // some systems; the link is what stood there.
    *error = ELOOP;
  }
  return current;
}

int open_folder(input_tree* tree, const std::string& path, int* error) {
  if (path.empty()) {
    int self = openat(descriptor(tree->root), ".", FOLDER_FLAGS);
    *error = errno;
    return self;
  }
  int folder = open_beneath(tree, path, error);
  if (folder >= 0 || tree->resolve_in_one) return folder;
  return walk_to_folder(*tree, path, error);
}

// Reads every name in the open folder `folder`, which it takes over.
input_result read_names(int folder, std::vector<input_item>* items,
                        int* error) {
  int listing_handle = fcntl(folder, F_DUPFD_CLOEXEC, 0);
  DIR* listing = listing_handle >= 0 ? fdopendir(listing_handle) : nullptr;
  if (listing == nullptr) {
    int code = errno;
    if (listing_handle >= 0) close(listing_handle);
    close(folder);
    return failed(code, error);
  }
  items->clear();
  errno = 0;
  input_result result = input_result::done;
  while (dirent* entry = readdir(listing)) {
    if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) {
      continue;
    }
    struct stat status;
    if (fstatat(folder, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
      // Removed since it was listed: it is no longer there to pack.
      if (errno == ENOENT) continue;
      result = failed(errno, error);
      break;
    }
    items->push_back({entry->d_name, kind_of(status.st_mode),
                      static_cast<uint64_t>(status.st_size)});
    errno = 0;
  }
  if (result == input_result::done && errno != 0) result = failed(errno, error);
  closedir(listing);
  close(folder);
  return result;
}

// The folder holding `path`, and the last component's name.
int open_parent_of(input_tree* tree, const std::string& path, std::string* name,
                   int* error) {
  size_t slash = path.rfind('/');
  *name = slash == std::string::npos ? path : path.substr(slash + 1);
  return open_folder(
      tree, slash == std::string::npos ? "" : path.substr(0, slash), error);
}

// Opens for reading the very file that the path-only handle `looked` holds.
int reopen_for_reading(int looked, int folder, const char* name) {
#ifdef O_PATH
  (void)folder;
  (void)name;
  std::string self = "/proc/self/fd/" + std::to_string(looked);
  int file = open(self.c_str(), O_RDONLY | O_CLOEXEC);
  if (file >= 0 || errno != ENOENT) return file;
  // Without /proc, by its name again; what opens is checked to be the same.
  return openat(folder, name,
                O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
#else
  (void)folder;
  (void)name;
  return fcntl(looked, F_DUPFD_CLOEXEC, 0);
#endif
}

}  // namespace

bool open_input_tree(const char* path, input_tree* tree, int* error) {
  int root = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) {
    *error = errno;
    return false;
  }
  *tree = input_tree{};
  tree->root = root;
  return true;
}

void close_input_tree(input_tree* tree) {
  if (tree->root != NO_HANDLE) close(descriptor(tree->root));
  tree->root = NO_HANDLE;
}

input_result list_input_folder(input_tree* tree, const std::string& path,
                               std::vector<input_item>* items, int* error) {
  int folder = open_folder(tree, path, error);
  if (folder < 0) return failed(*error, error);
  return read_names(folder, items, error);
}

input_result open_input_file(input_tree* tree, const std::string& path,
                             input_file* file, int* error) {
  std::string name;
  int folder = open_parent_of(tree, path, &name, error);
  if (folder < 0) return failed(*error, error);
  int looked = openat(folder, name.c_str(), LOOK_FLAGS);
  struct stat seen;
  if (looked < 0 || fstat(looked, &seen) != 0) {
    int code = errno;
    if (looked >= 0) close(looked);
    close(folder);
    return failed(code, error);
  }
  if (!S_ISREG(seen.st_mode)) {
    close(looked);
    close(folder);
    return S_ISLNK(seen.st_mode) ? input_result::through_link
                                 : input_result::not_a_file;
  }
  int reading = reopen_for_reading(looked, folder, name.c_str());
  int code = errno;
  close(looked);
  close(folder);
  struct stat opened;
  if (reading < 0) return failed(code, error);
  if (fstat(reading, &opened) != 0 || !S_ISREG(opened.st_mode) ||
      !same_file(identity_of(opened), identity_of(seen))) {
    close(reading);
    return input_result::not_a_file;
  }
  file->handle = reading;
  file->size = static_cast<uint64_t>(opened.st_size);
  file->identity = identity_of(opened);
  return input_result::done;
}

void close_input_file(input_file* file) {
  if (file->handle != NO_HANDLE) close(descriptor(file->handle));
  file->handle = NO_HANDLE;
}

bool read_input_bytes(const input_file& file, uint64_t offset, void* bytes,
                      size_t size, int* error) {
  constexpr uint64_t MAX_POSITION = std::numeric_limits<off_t>::max();
  auto* into = static_cast<char*>(bytes);
  while (size > 0) {
    if (offset > MAX_POSITION) {
      *error = EOVERFLOW;
      return false;
    }
    ssize_t got =
        pread(descriptor(file.handle), into, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      *error = got < 0 ? errno : 0;
      return false;
    }
    into += got;
    offset += static_cast<uint64_t>(got);
    size -= static_cast<size_t>(got);
  }
  return true;
}

bool input_file_unchanged(const input_file& file) {
  struct stat now;
  return fstat(descriptor(file.handle), &now) == 0 && S_ISREG(now.st_mode) &&
         static_cast<uint64_t>(now.st_size) == file.size;
}

bool input_tree_holds(const input_tree& tree, native_handle folder) {
  struct stat root;
  if (fstat(descriptor(tree.root), &root) != 0) return true;
  int current = fcntl(descriptor(folder), F_DUPFD_CLOEXEC, 0);
  for (int up = 0; current >= 0 && up < MOST_FOLDERS_UP; ++up) {
    struct stat here;
    struct stat above;
    int parent = openat(current, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool known =
        fstat(current, &here) == 0 && parent >= 0 && fstat(parent, &above) == 0;
    close(current);
    current = parent;
    if (!known) break;
    if (same_file(identity_of(here), identity_of(root))) {
      close(current);
      return true;
    }
    // The top of the file system is its own parent.
    if (same_file(identity_of(here), identity_of(above))) {
      close(current);
      return false;
    }
  }
  if (current >= 0) close(current);
  return true;
}
