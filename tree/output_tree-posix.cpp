// The confined output tree on POSIX systems: each directory opened with openat
// from the one above it (or, on Linux, found in one confined openat2 call).
// Each file is made without a name (O_TMPFILE) where the file system can and
// the process can then link it; elsewhere under a fresh temporary name, which
// is renamed to the file's own once the file is complete.
#include <fcntl.h>
#include <locale.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>

#include "text/utf8.h"
#include "tree/output_tree.h"
#include "tree/output_tree_platform.h"

#if defined(__linux__)
#include <linux/openat2.h>
#include <sys/random.h>
#include <sys/sendfile.h>
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

// Temporary names carry 64 random bits, so nobody can plant a thing at the
// next one; a name that is taken all the same only costs another try.
constexpr const char* TEMPORARY_PREFIX = ".themeunpack-";
constexpr int TEMPORARY_TRIES = 100;
constexpr size_t TEMPORARY_RANDOM_BYTES = 8;

// The tree keeps descriptors in native handles.
int descriptor(native_handle handle) { return static_cast<int>(handle); }

void close_directory(const output_tree& tree, int directory) {
  if (directory >= 0 && directory != descriptor(tree.root)) close(directory);
}

bool same_identity(const struct stat& status, const file_identity& identity) {
  return static_cast<uint64_t>(status.st_dev) == identity.device &&
         static_cast<uint64_t>(status.st_ino) == identity.inode;
}

bool is_protected_file(const output_tree& tree, const struct stat& status) {
  return same_identity(status, tree.protected_file);
}

// How a name is spelt anew: with every letter raised, as a folder that folds
// case compares names, or with every letter's case turned, which gives the
// name's other spelling.
enum class spelling { raised, turned };

// `name` spelt anew by the system's own Unicode simple case mapping
// (towupper_l and towlower_l in a C.UTF-8 locale object), character by
// character; a byte that is not UTF-8 stays as it is. False when the system
// offers no such locale.
bool respell(const std::string& name, spelling how, std::string* spelt) {
  locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
  if (unicode == locale_t{}) return false;
  spelt->clear();
  const auto* text = reinterpret_cast<const unsigned char*>(name.c_str());
  while (*text != '\0') {
    size_t length = utf8_sequence_length(text);
    if (length == 0) {
      *spelt += static_cast<char>(*text++);
      continue;
    }
    auto character = static_cast<wint_t>(utf8_character(text, length));
    wint_t upper = towupper_l(character, unicode);
    wint_t other = how == spelling::raised || upper != character
                       ? upper
                       : towlower_l(character, unicode);
    append_utf8(static_cast<char32_t>(other), spelt);
    text += length;
  }
  freelocale(unicode);
  return true;
}

// `name` with the case of every letter turned: of every ASCII letter where the
// system cannot tell the others.
std::string other_spelling(const std::string& name) {
  std::string other;
  if (respell(name, spelling::turned, &other)) return other;
  other = name;
  for (char& c : other) {
    auto byte = static_cast<unsigned char>(c);
    c = static_cast<char>(islower(byte) ? toupper(byte) : tolower(byte));
  }
  return other;
}

// Whether two names are one where case is folded: ASCII letters everywhere,
// every letter where the system can tell. Where it cannot, names of one length
// that differ only beyond ASCII are taken for one: refusing is the safe
// mistake.
bool same_when_folded(const std::string& a, const std::string& b) {
  std::string raised_a;
  std::string raised_b;
  if (respell(a, spelling::raised, &raised_a) &&
      respell(b, spelling::raised, &raised_b)) {
    return raised_a == raised_b;
  }
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto x = static_cast<unsigned char>(a[i]);
    auto y = static_cast<unsigned char>(b[i]);
    if (x < 0x80 && y < 0x80 && toupper(x) != toupper(y)) return false;
  }
  return true;
}

// `name` in `directory` is the protected file's name in another case, in the
// folder that takes it for the same file.
bool is_protected_spelling(const output_tree& tree, int directory,
                           const char* name) {
  if (tree.protected_name.empty() ||
      !same_when_folded(name, tree.protected_name)) {
    return false;
  }
  struct stat folder;
  // A folder that cannot be told apart is taken for the protected one.
  return fstat(directory, &folder) != 0 ||
         same_identity(folder, tree.protected_folder);
}

tree_failure failed_with(int error) {
  return {tree_result::cannot_write, error};
}

// What the file system that `descriptor` lies on offers, as learnt so far.
// One that cannot be told is taken for a file system of its own, which
// learns nothing for the others.
file_system_abilities* abilities_of(output_tree* tree, int descriptor) {
  struct stat status;
  uint64_t device = fstat(descriptor, &status) == 0
                        ? static_cast<uint64_t>(status.st_dev)
                        : std::numeric_limits<uint64_t>::max();
  for (file_system_abilities& known : tree->file_systems) {
    if (known.device == device) return &known;
  }
  tree->file_systems.push_back(file_system_abilities{});
  tree->file_systems.back().device = device;
  return &tree->file_systems.back();
}

// Why `name` in `directory` cannot take a directory or a new file's contents,
// or done when what stands there may be replaced.
tree_failure check_name(const output_tree& tree, int directory,
                        const char* name) {
  struct stat status;
  if (fstatat(directory, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
    return {tree_result::done, 0};
  }
  if (S_ISLNK(status.st_mode)) return {tree_result::through_link, 0};
  if (is_protected_file(tree, status) ||
      is_protected_spelling(tree, directory, name)) {
    return {tree_result::protected_file, 0};
  }
  if (S_ISDIR(status.st_mode)) return failed_with(EISDIR);
  return {tree_result::done, 0};
}

// Opens the directory `name` in `parent`, making it first when asked. A link
// there is never followed.
int open_directory_at(const output_tree& tree, int parent, const char* name,
                      bool make, tree_failure* why) {
  // Asked to make it, the walk has found it missing, or at least one
  // directory above it; what stands there already, or was made by someone
  // else in the meantime, is for the open to judge. Where it could not be
  // made, that is the reason the open then fails.
  int make_error = 0;
  if (make && mkdirat(parent, name, DIRECTORY_MODE) != 0 && errno != EEXIST) {
    make_error = errno;
  }
  int directory = openat(parent, name, DIRECTORY_HANDLE | O_NOFOLLOW);
  if (directory < 0) {
    int error = errno == ENOENT && make_error != 0 ? make_error : errno;
    tree_failure found = check_name(tree, parent, name);
    *why =
        found.result == tree_result::through_link ? found : failed_with(error);
  }
  return directory;
}

// Opens the directories in the first `length` bytes of `path` one component at
// a time from `start` (the theme directory, or one found below it, which the
// walk then owns); only the one last opened is held.
int walk_directories(const output_tree& tree, int start, const char* path,
                     size_t length, bool make, tree_failure* why) {
  int current = start;
  std::string component;
  const char* end = path + length;
  for (const char* next_name = path; next_name < end;) {
    const char* slash = static_cast<const char*>(
        memchr(next_name, '/', static_cast<size_t>(end - next_name)));
    if (slash == nullptr) slash = end;
    component.assign(next_name, slash);
    next_name = slash + 1;
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
  auto directory =
      static_cast<int>(syscall(SYS_openat2, descriptor(tree->root),
                               directories.c_str(), &how, sizeof how));
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
                tree_failure* why) {
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

// Fills `bytes` from the system's random source; where it offers none, from
// the clock, which still changes from one try to the next.
void random_bytes(unsigned char* bytes, size_t size) {
#if defined(__linux__)
  if (getrandom(bytes, size, GRND_NONBLOCK) == static_cast<ssize_t>(size))
    return;
#endif
  int source = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (source >= 0) {
    ssize_t got = read(source, bytes, size);
    close(source);
    if (got == static_cast<ssize_t>(size)) return;
  }
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  auto mixed = static_cast<uint64_t>(now.tv_nsec) * 0x9E3779B97F4A7C15u ^
               static_cast<uint64_t>(now.tv_sec) ^
               static_cast<uint64_t>(getpid()) << 32;
  for (size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<unsigned char>(mixed >> (8 * (i % 8)));
}

std::string temporary_name() {
  unsigned char random[TEMPORARY_RANDOM_BYTES];
  random_bytes(random, sizeof random);
  std::string name = TEMPORARY_PREFIX;
  char hex[3];
  for (unsigned char byte : random) {
    snprintf(hex, sizeof hex, "%02x", byte);
    name += hex;
  }
  return name;
}

// True when `directory` was removed meanwhile (by another process): a call
// that failed in it says nothing of what the system offers.
bool directory_removed(int directory) {
  struct stat status;
  return fstat(directory, &status) != 0 || status.st_nlink == 0;
}

// Links the unnamed file `file` into `directory` as `name`; fails when
// anything already stands there. Linking the descriptor itself is cheaper but
// may need a privilege; the process's own view of its descriptors is the
// other way.
bool link_unnamed(output_tree* tree, int file, int directory,
                  const char* name) {
#ifdef AT_EMPTY_PATH
  file_system_abilities* offered = abilities_of(tree, directory);
  if (offered->link_descriptors) {
    if (linkat(file, "", directory, name, AT_EMPTY_PATH) == 0) return true;
    if (errno != ENOENT && errno != EPERM) return false;
    // ENOENT is also the answer in a directory removed meanwhile.
    if (directory_removed(directory)) {
      errno = ENOENT;
      return false;
    }
    offered->link_descriptors = false;
  }
#else
  (void)tree;
#endif
  std::string self = "/proc/self/fd/" + std::to_string(file);
  return linkat(AT_FDCWD, self.c_str(), directory, name, AT_SYMLINK_FOLLOW) ==
         0;
}

// Gives the unnamed file `file` a free temporary name in `directory`.
bool link_temporary(output_tree* tree, int file, int directory,
                    std::string* name) {
  for (int attempt = 0; attempt < TEMPORARY_TRIES; ++attempt) {
    *name = temporary_name();
    if (link_unnamed(tree, file, directory, name->c_str())) return true;
    if (errno != EEXIST) return false;
  }
  return false;
}

// Creates a new file under a free temporary name in `directory`. O_EXCL: a
// thing planted at the name, a link or a hard link, is never written through.
int create_temporary(int directory, std::string* name) {
  for (int attempt = 0; attempt < TEMPORARY_TRIES; ++attempt) {
    *name = temporary_name();
    int file = openat(directory, name->c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      OUTPUT_FILE_MODE);
    if (file >= 0) return file;
    if (errno != EEXIST) break;
  }
  name->clear();
  return -1;
}

// A file without a name, which vanishes with the process if the run is killed
// before it is complete; -1 where the file system (`offered`, what is known of
// the directory's) cannot make one.
int create_unnamed(file_system_abilities* offered, int directory) {
#ifdef O_TMPFILE
  if (offered->unnamed_files == ability::no) return -1;
  int file = openat(directory, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC,
                    OUTPUT_FILE_MODE);
  // These answers say the call is not offered here at all; EPERM and EACCES
  // may say so too (a filter), or that this directory cannot be written to.
  if (file < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL ||
                   errno == ENOSYS)) {
    offered->unnamed_files = ability::no;
  }
  return file;
#else
  (void)directory;
  offered->unnamed_files = ability::no;
  return -1;
#endif
}

// Removes the temporary name of a file that cannot be named, and says why.
tree_failure drop_temporary(int directory, const std::string& temporary,
                            int error) {
  unlinkat(directory, temporary.c_str(), 0);
  return failed_with(error);
}

// Puts the complete file `temporary` in place of what stands at `name`, once
// that is known to be something the tool may replace.
tree_failure replace_with(const output_tree& tree, int directory,
                          const std::string& temporary, const char* name) {
  tree_failure standing = check_name(tree, directory, name);
  if (standing.result != tree_result::done) {
    unlinkat(directory, temporary.c_str(), 0);
    return standing;
  }
  if (renameat(directory, temporary.c_str(), directory, name) == 0) {
    return {tree_result::done, 0};
  }
  return drop_temporary(directory, temporary, errno);
}

// Moves the complete file `temporary` to `name` where nothing stands; where
// something does, replaces it as replace_with does. A file system that cannot
// refuse to replace in the rename itself is asked first what stands there.
tree_failure rename_into_place(output_tree* tree, int directory,
                               const std::string& temporary, const char* name) {
#ifdef RENAME_NOREPLACE
  file_system_abilities* offered = abilities_of(tree, directory);
  if (offered->rename_noreplace) {
    if (renameat2(directory, temporary.c_str(), directory, name,
                  RENAME_NOREPLACE) == 0) {
      return {tree_result::done, 0};
    }
    int error = errno;
    if (error == EEXIST) return replace_with(*tree, directory, temporary, name);
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP &&
        error != EPERM) {
      return drop_temporary(directory, temporary, error);
    }
    // The flag refused (by the file system, or a filter), or a name the file
    // system cannot hold: a plain rename after a look at the name tells
    // which, and only the first is learnt.
    tree_failure placed = replace_with(*tree, directory, temporary, name);
    if (placed.result == tree_result::done) offered->rename_noreplace = false;
    return placed;
  }
#endif
  return replace_with(*tree, directory, temporary, name);
}

// Names a complete unnamed file. A new name is linked to it directly; an
// existing name is replaced through a temporary name, so it never shows
// partial contents.
tree_failure name_unnamed(output_tree* tree, int file, int directory,
                          const char* name) {
  if (link_unnamed(tree, file, directory, name)) {
    // A full disk may show only when the file is closed.
    if (close(file) == 0) return {tree_result::done, 0};
    int error = errno;
    unlinkat(directory, name, 0);
    return failed_with(error);
  }
  std::string temporary;
  int error = errno;
  bool linked =
      error == EEXIST && link_temporary(tree, file, directory, &temporary);
  if (error == EEXIST) error = errno;
  bool closed = close(file) == 0;
  if (!linked) return failed_with(error);
  if (!closed) return drop_temporary(directory, temporary, errno);
  return replace_with(*tree, directory, temporary, name);
}

// Names a complete file written under a temporary name.
tree_failure name_temporary(output_tree* tree, int file, int directory,
                            const std::string& temporary, const char* name) {
  if (close(file) != 0) return drop_temporary(directory, temporary, errno);
  return rename_into_place(tree, directory, temporary, name);
}

#if defined(__linux__)
// The most one call of either kernel copy is asked for: sendfile copies at
// most this much at once anyway.
constexpr size_t KERNEL_COPY_CALL_MAX = 0x7ffff000;

enum class kernel_copy { copy_file_range, sendfile };

// An answer that says the kernel will not copy between these two files this
// way at all: across file systems, a file system without the call, an older
// kernel, or a filter that forbids it.
bool refuses_the_copy(int error) {
  return error == EXDEV || error == EINVAL || error == EOPNOTSUPP ||
         error == ENOSYS || error == EPERM;
}

ssize_t copy_once(kernel_copy route, int file, int source, off_t* position,
                  size_t size) {
  if (route == kernel_copy::copy_file_range) {
    return copy_file_range(source, position, file, nullptr, size, 0);
  }
  return sendfile(file, source, position, size);
}

// Copies with `route` until all `length` bytes are copied, the source ends or
// a call fails; returns how many it copied. `refused` tells whether the
// kernel refused the route itself.
uint64_t copy_with(kernel_copy route, int file, int source, uint64_t offset,
                   uint64_t length, bool* refused) {
  constexpr uint64_t MAX_POSITION = std::numeric_limits<off_t>::max();
  uint64_t copied = 0;
  while (copied < length && offset + copied <= MAX_POSITION) {
    auto position = static_cast<off_t>(offset + copied);
    auto piece = static_cast<size_t>(
        std::min<uint64_t>(length - copied, KERNEL_COPY_CALL_MAX));
    // A call may copy fewer bytes than asked; the next continues from there.
    ssize_t got = copy_once(route, file, source, &position, piece);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) *refused = refuses_the_copy(errno);
    if (got <= 0) break;
    copied += static_cast<uint64_t>(got);
  }
  return copied;
}
#endif

// Makes the file of an output while the run does not yet know whether
// unnamed files can be made and named here, and learns it: an empty one is
// made, linked at a temporary name and removed again. Where none can be made,
// or named, the output is made under a temporary name. Only what says the
// system will not do it is learnt: a failure in a directory removed
// meanwhile, or one nobody may write to, concerns this output alone.
int create_first_file(output_tree* tree, file_system_abilities* offered,
                      int directory, std::string* temporary) {
  int probe = create_unnamed(offered, directory);
  if (probe < 0) {
    int refused = errno;
    int file = create_temporary(directory, temporary);
    // A named file could be made where the unnamed one was refused with
    // EPERM or EACCES: the call itself is refused.
    if (file >= 0 && (refused == EPERM || refused == EACCES)) {
      offered->unnamed_files = ability::no;
    }
    return file;
  }
  std::string probe_name;
  bool linked = link_temporary(tree, probe, directory, &probe_name);
  int link_error = errno;
  if (linked) unlinkat(directory, probe_name.c_str(), 0);
  close(probe);
  if (!linked &&
      (link_error == ENOSPC || link_error == EDQUOT || link_error == EIO ||
       link_error == EROFS || directory_removed(directory))) {
    errno = link_error;
    return -1;
  }
  offered->unnamed_files = linked ? ability::yes : ability::no;
  return linked ? create_unnamed(offered, directory)
                : create_temporary(directory, temporary);
}

// Whether names can be looked up in `directory`: a handle that needs no read
// permission opens all the same where the directory cannot be entered.
bool can_enter(int directory) {
  int self = openat(directory, ".", DIRECTORY_HANDLE);
  if (self < 0) return false;
  close(self);
  return true;
}

}  // namespace

bool open_output_tree(const char* path, const char* subdirectory,
                      const file_identity& protected_file, output_tree* tree,
                      int* error) {
  bool made = mkdir(path, DIRECTORY_MODE) == 0;
  // Where it could not be made, that is why it cannot be opened.
  int make_error = made || errno == EEXIST ? 0 : errno;
  // A theme directory that was there before may be a link; one this run has
  // just made and finds a link now was swapped for it and is not used.
  int root = open(path, DIRECTORY_HANDLE | (made ? O_NOFOLLOW : 0));
  if (root < 0) {
    *error = errno == ENOENT && make_error != 0 ? make_error : errno;
  } else if (!can_enter(root)) {
    *error = errno;
    close(root);
    root = -1;
  }
  if (root < 0) {
    // A directory this run made but cannot use is not left behind.
    if (made) rmdir(path);
    return false;
  }
  *tree = output_tree{};
  tree->root = root;
  tree->protected_file = protected_file;
  mkdirat(root, subdirectory, DIRECTORY_MODE);
  return true;
}

bool open_output_folder(const char* path, const file_identity& protected_file,
                        output_tree* tree, int* error) {
  int root = open(path, DIRECTORY_HANDLE);
  if (root < 0 || !can_enter(root)) {
    *error = errno;
    if (root >= 0) close(root);
    return false;
  }
  *tree = output_tree{};
  tree->root = root;
  tree->protected_file = protected_file;
  return true;
}

void protect_every_spelling(output_tree* tree, const char* path) {
  const char* slash = strrchr(path, '/');
  std::string folder = slash == nullptr ? "." : std::string(path, slash + 1);
  std::string name = slash == nullptr ? path : slash + 1;
  std::string other = other_spelling(name);
  struct stat folder_status;
  struct stat spelt_otherwise;
  if (other == name || stat(folder.c_str(), &folder_status) != 0 ||
      fstatat(AT_FDCWD, (folder + "/" + other).c_str(), &spelt_otherwise,
              AT_SYMLINK_NOFOLLOW) != 0) {
    return;
  }
  // Another file of that spelling beside it is taken for the same: refusing
  // it is the safe mistake.
  tree->protected_folder = {static_cast<uint64_t>(folder_status.st_dev),
                            static_cast<uint64_t>(folder_status.st_ino)};
  tree->protected_name = name;
}

void close_output_tree(output_tree* tree) {
  if (tree->root != NO_HANDLE) close(descriptor(tree->root));
  tree->root = NO_HANDLE;
}

native_handle open_output_parent(output_tree* tree, const char* path, bool make,
                                 tree_failure* why) {
  return open_parent(tree, path, make, why);
}

void close_output_directory(const output_tree& tree, native_handle directory) {
  close_directory(tree, descriptor(directory));
}

tree_failure check_output_name(const output_tree& tree, native_handle directory,
                               const std::string& name) {
  return check_name(tree, descriptor(directory), name.c_str());
}

int directory_in_the_way_error() { return EISDIR; }

tree_result create_output_file(staged_output* output) {
  output_tree* tree = output->tree;
  int directory = descriptor(output->directory);
  int file = -1;
  file_system_abilities* offered = abilities_of(tree, directory);
  switch (offered->unnamed_files) {
    case ability::yes:
      file = create_unnamed(offered, directory);
      // Refused as not offered after all: this output takes the next route.
      if (file < 0 && offered->unnamed_files == ability::no) {
        file = create_temporary(directory, &output->temporary);
      }
      break;
    case ability::no:
      file = create_temporary(directory, &output->temporary);
      break;
    case ability::unknown:
      file = create_first_file(tree, offered, directory, &output->temporary);
      break;
  }
  if (file < 0) {
    output->error = errno;
    return tree_result::cannot_write;
  }
  output->file = file;
  return tree_result::done;
}

// On Linux the kernel copies without the bytes passing through the process:
// copy_file_range, which also shares or clones blocks where the file system
// can; where it is refused for this pair of files (across file systems, say),
// sendfile. Whatever stops either is for the caller's own copy to meet.
uint64_t copy_output_bytes(output_tree* tree, native_handle file,
                           native_handle source, uint64_t offset,
                           uint64_t length) {
#if defined(__linux__)
  uint64_t copied = 0;
  file_system_abilities* abilities = abilities_of(tree, descriptor(file));
  for (kernel_copy route :
       {kernel_copy::copy_file_range, kernel_copy::sendfile}) {
    bool* offered = route == kernel_copy::copy_file_range
                        ? &abilities->copy_file_range_offered
                        : &abilities->sendfile_offered;
    if (!*offered) continue;
    bool refused = false;
    copied += copy_with(route, descriptor(file), descriptor(source),
                        offset + copied, length - copied, &refused);
    if (!refused) break;
    *offered = false;
  }
  return copied;
#else
  (void)tree;
  (void)file;
  (void)source;
  (void)offset;
  (void)length;
  return 0;
#endif
}

int write_output_bytes(native_handle file, const void* bytes, size_t size) {
  const auto* data = static_cast<const char*>(bytes);
  // The kernel may take fewer bytes than it was given; each call continues
  // where the last stopped.
  while (size > 0) {
    ssize_t written = write(descriptor(file), data, size);
    if (written < 0 && errno == EINTR) continue;
    // A write that takes nothing and says no more is an I/O error.
    if (written < 0) return errno;
    if (written == 0) return EIO;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return 0;
}

tree_result name_output_file(staged_output* output) {
  int file = descriptor(output->file);
  int directory = descriptor(output->directory);
  tree_failure named =
      output->temporary.empty()
          ? name_unnamed(output->tree, file, directory, output->name.c_str())
          : name_temporary(output->tree, file, directory, output->temporary,
                           output->name.c_str());
  output->error = named.error;
  return named.result;
}

void discard_output_file(staged_output* output) {
  close(descriptor(output->file));
  if (!output->temporary.empty()) {
    unlinkat(descriptor(output->directory), output->temporary.c_str(), 0);
  }
}
