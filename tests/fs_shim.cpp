// Preloaded into the tool by the tests (LD_PRELOAD) to act on its file-system
// calls from inside, deterministically, where a second process could only race:
//   SHIM_SWAP_AT=K, SHIM_SWAP_DIR=path, SHIM_SWAP_TO=path: just before the
//     tool's K-th file-system call, the directory at SHIM_SWAP_DIR is moved
//     aside (to the same path with ".moved" appended) and a symbolic link to
//     SHIM_SWAP_TO is put in its place; "SWAPPED" is then written to
//     SHIM_REPORT, so the test knows the run got that far. With
//     SHIM_SWAP_WITH=fifo a FIFO is put there instead of the link, and with
//     SHIM_SWAP_WITH=rewritten the file there is rewritten, longer, in place.
//   SHIM_FAIL_CLOSE=1: closing a file the tool created for writing fails with
//     EIO (after really closing it), as on a disk that fills up late.
//   SHIM_KILL_AT_WRITE=N: the N-th write to a file the tool created kills it
//     with SIGKILL before any byte of it is written.
//   SHIM_NO_UNNAMED=1: files without a name (O_TMPFILE) cannot be made, as on
//     a file system that does not offer them (EOPNOTSUPP), or with the errno
//     SHIM_UNNAMED_ERROR (EPERM or EACCES, as a container's seccomp filter).
//   SHIM_NO_EMPTY_PATH=1: a descriptor cannot be linked itself (AT_EMPTY_PATH),
//     as for a user without the privilege on older kernels.
//   SHIM_NO_PROC=1: nothing can be linked through /proc, nor found there, as
//     where it is not mounted.
//   SHIM_NO_LINK=1: no hard link can be made at all (EPERM), as on FAT.
//   SHIM_NO_NOREPLACE=1: a rename cannot be told not to replace (EINVAL, or
//     the errno SHIM_NOREPLACE_ERROR: EPERM, as FUSE FAT16 answers).
//   SHIM_PLANT_AT_TEMPORARY=path: just before the tool first creates a file
//     under a temporary name, a hard link to `path` is planted at that name.
//   SHIM_CUT_FILE=path, SHIM_CUT_AT=N: just before the first read whose range
//     holds byte N, the file at `path` is cut short to N bytes. A copy the
//     kernel makes (copy_file_range, sendfile) reads too.
//   SHIM_READ_ERROR_AT=N: every read whose range holds byte N fails with EIO,
//     as on a failing card; a kernel copy's reading too.
//   SHIM_NO_COPY_FILE_RANGE=1: copy_file_range is refused (EXDEV), as across
//     file systems.
//   SHIM_NO_SENDFILE=1: sendfile is refused (EINVAL), as where the kernel
//     does not send from file to file.
//   SHIM_COPY_MOST=N: each kernel copy copies at most N bytes, as a call may.
//   SHIM_TEMPORARY_NAMES=path: every temporary name the tool creates a file
//     at is appended to `path`, a line each.
//   SHIM_RMDIR=path, SHIM_RMDIR_BEFORE_LINKING=name: just before the tool first
//     links a file at `name`, the (empty) directory at `path` is removed, as
//     by another process racing it.
//   SHIM_LOG=path: how each output was made and its bytes copied, a line per
//     event appended to `path`: "unnamed" (O_TMPFILE), "temporary" (a file
//     created at a temporary name), "probe" (an unnamed file linked at a
//     temporary name), "copy_file_range", "sendfile" (each call, refused
//     or not), "write" (each write to a created file).
//   SHIM_FAIL_LINK_AT=N, SHIM_FAIL_LINK_ERROR=E: the N-th linkat fails with
//     errno E (ENOSPC by default), as on a disk that fills up for a moment.
//   SHIM_UNWRITABLE=path: no file can be created in the directory at `path`
//     (EACCES), as in a directory nobody may write to, even as root.
// A kernel copy into a file the tool created counts as a write to it.
// The plain and the 64-bit names of each call are defined separately here, so
// the headers must not rename one into the other.
#undef _FILE_OFFSET_BITS
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int MAX_TRACKED = 1024;

struct shim_state {
  long calls = 0;
  long writes = 0;
  bool created[MAX_TRACKED] = {};  // file descriptors of files the tool made
};
shim_state state;

long env_number(const char* name) {
  const char* value = getenv(name);
  return value == nullptr ? 0 : atol(value);
}

template <typename F>
F next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// Counts one file-system call and swaps the directory when its turn comes.
void count_call() {
  long swap_at = env_number("SHIM_SWAP_AT");
  if (++state.calls != swap_at || swap_at == 0) return;
  const char* directory = getenv("SHIM_SWAP_DIR");
  const char* target = getenv("SHIM_SWAP_TO");
  const char* report = getenv("SHIM_REPORT");
  const char* with = getenv("SHIM_SWAP_WITH");
  if (with == nullptr) with = "link";
  if (directory == nullptr || report == nullptr ||
      (target == nullptr && strcmp(with, "link") == 0)) {
    return;
  }
  if (strcmp(with, "rewritten") == 0) {
    int rewritten = static_cast<int>(
        syscall(SYS_openat, AT_FDCWD, directory, O_WRONLY | O_TRUNC, 0));
    syscall(SYS_write, rewritten, "REWRITTEN", 9);
    syscall(SYS_close, rewritten);
  } else {
    char moved[4096];
    snprintf(moved, sizeof moved, "%s.moved", directory);
    syscall(SYS_rename, directory, moved);
    if (strcmp(with, "fifo") == 0) {
      syscall(SYS_mknodat, AT_FDCWD, directory, S_IFIFO | 0644, 0);
    } else {
      syscall(SYS_symlink, target, directory);
    }
  }
  int file = static_cast<int>(syscall(SYS_openat, AT_FDCWD, report,
                                      O_WRONLY | O_CREAT | O_TRUNC, 0644));
  syscall(SYS_write, file, "SWAPPED", 7);
  syscall(SYS_close, file);
}

// Appends `event` to SHIM_LOG.
void log_event(const char* event) {
  const char* log = getenv("SHIM_LOG");
  if (log == nullptr) return;
  int file = static_cast<int>(
      syscall(SYS_openat, AT_FDCWD, log, O_WRONLY | O_CREAT | O_APPEND, 0644));
  syscall(SYS_write, file, event, strlen(event));
  syscall(SYS_write, file, "\n", 1);
  syscall(SYS_close, file);
}

// True, with errno EACCES, for a file to be created in the directory
// SHIM_UNWRITABLE.
bool in_unwritable(int directory, int flags) {
  const char* unwritable = getenv("SHIM_UNWRITABLE");
  bool creates = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
  if (unwritable == nullptr || !creates) return false;
  struct stat here, there;
  if (syscall(SYS_fstat, directory, &here) != 0 ||
      syscall(SYS_newfstatat, AT_FDCWD, unwritable, &there, 0) != 0 ||
      here.st_dev != there.st_dev || here.st_ino != there.st_ino) {
    return false;
  }
  errno = EACCES;
  return true;
}

bool creates_file(int flags) {
  return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

int track(int file, int flags) {
  if (file >= 0 && file < MAX_TRACKED)
    state.created[file] = creates_file(flags);
  return file;
}

mode_t mode_argument(int flags, va_list arguments) {
  return creates_file(flags) ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  mode_t mode = mode_argument(flags, arguments);
  va_end(arguments);
  count_call();
  return track(
      next<int (*)(const char*, int, mode_t)>("open")(path, flags, mode),
      flags);
}

int open64(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  mode_t mode = mode_argument(flags, arguments);
  va_end(arguments);
  count_call();
  return track(
      next<int (*)(const char*, int, mode_t)>("open64")(path, flags, mode),
      flags);
}

bool is_temporary_name(const char* path) {
  const char* base = strrchr(path, '/');
  base = base == nullptr ? path : base + 1;
  return strncmp(base, ".themeunpack-", 13) == 0;
}

// Notes a temporary name the tool is about to create a file at.
void note_temporary(const char* path, int flags) {
  const char* report = getenv("SHIM_TEMPORARY_NAMES");
  if (report == nullptr || (flags & O_CREAT) == 0 || !is_temporary_name(path)) {
    return;
  }
  int file = static_cast<int>(syscall(SYS_openat, AT_FDCWD, report,
                                      O_WRONLY | O_CREAT | O_APPEND, 0644));
  syscall(SYS_write, file, path, strlen(path));
  syscall(SYS_write, file, "\n", 1);
  syscall(SYS_close, file);
}

// Plants a hard link to SHIM_PLANT_AT_TEMPORARY where the tool is about to
// create a file under a temporary name.
void plant_at_temporary(int directory, const char* path, int flags) {
  static bool done = false;
  const char* planted = getenv("SHIM_PLANT_AT_TEMPORARY");
  if (done || planted == nullptr || (flags & O_CREAT) == 0 ||
      !is_temporary_name(path)) {
    return;
  }
  done = true;
  syscall(SYS_linkat, AT_FDCWD, planted, directory, path, 0);
}

bool refuse_unnamed(int flags) {
  if ((flags & O_TMPFILE) != O_TMPFILE || env_number("SHIM_NO_UNNAMED") == 0) {
    return false;
  }
  long error = env_number("SHIM_UNNAMED_ERROR");
  errno = error != 0 ? static_cast<int>(error) : EOPNOTSUPP;
  return true;
}

// What openat and openat64 do, `real` naming the library's own call.
int open_in(const char* real, int directory, const char* path, int flags,
            mode_t mode) {
  count_call();
  if (refuse_unnamed(flags) || in_unwritable(directory, flags)) return -1;
  note_temporary(path, flags);
  plant_at_temporary(directory, path, flags);
  int file = track(next<int (*)(int, const char*, int, mode_t)>(real)(
                       directory, path, flags, mode),
                   flags);
  if (file >= 0 && (flags & O_TMPFILE) == O_TMPFILE) log_event("unnamed");
  if (file >= 0 && (flags & O_CREAT) != 0 && is_temporary_name(path)) {
    log_event("temporary");
  }
  return file;
}

int openat(int directory, const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  mode_t mode = mode_argument(flags, arguments);
  va_end(arguments);
  return open_in("openat", directory, path, flags, mode);
}

int openat64(int directory, const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  mode_t mode = mode_argument(flags, arguments);
  va_end(arguments);
  return open_in("openat64", directory, path, flags, mode);
}

// A tool built with fortified headers opens through these where the flags are
// not known when it is compiled; they take no mode (no O_CREAT, no O_TMPFILE).
int __open_2(const char* path, int flags) { return open(path, flags); }
int __open64_2(const char* path, int flags) { return open64(path, flags); }
int __openat_2(int directory, const char* path, int flags) {
  return openat(directory, path, flags);
}
int __openat64_2(int directory, const char* path, int flags) {
  return openat64(directory, path, flags);
}

// openat2 has no library wrapper here: the tool reaches it through syscall().
long syscall(long number, ...) {
  va_list arguments;
  va_start(arguments, number);
  long a = va_arg(arguments, long), b = va_arg(arguments, long),
       c = va_arg(arguments, long), d = va_arg(arguments, long),
       e = va_arg(arguments, long), f = va_arg(arguments, long);
  va_end(arguments);
  count_call();
  return next<long (*)(long, ...)>("syscall")(number, a, b, c, d, e, f);
}

int access(const char* path, int mode) {
  if (strncmp(path, "/proc/", 6) == 0 && env_number("SHIM_NO_PROC") != 0) {
    errno = ENOENT;
    return -1;
  }
  return next<int (*)(const char*, int)>("access")(path, mode);
}

int mkdir(const char* path, mode_t mode) {
  count_call();
  return next<int (*)(const char*, mode_t)>("mkdir")(path, mode);
}

int mkdirat(int directory, const char* path, mode_t mode) {
  count_call();
  return next<int (*)(int, const char*, mode_t)>("mkdirat")(directory, path,
                                                            mode);
}

int stat(const char* path, struct stat* status) {
  count_call();
  return next<int (*)(const char*, struct stat*)>("stat")(path, status);
}

int lstat(const char* path, struct stat* status) {
  count_call();
  return next<int (*)(const char*, struct stat*)>("lstat")(path, status);
}

int stat64(const char* path, struct stat64* status) {
  count_call();
  return next<int (*)(const char*, struct stat64*)>("stat64")(path, status);
}

int lstat64(const char* path, struct stat64* status) {
  count_call();
  return next<int (*)(const char*, struct stat64*)>("lstat64")(path, status);
}

int fstatat(int directory, const char* path, struct stat* status, int flags) {
  count_call();
  return next<int (*)(int, const char*, struct stat*, int)>("fstatat")(
      directory, path, status, flags);
}

int fstatat64(int directory, const char* path, struct stat64* status,
              int flags) {
  count_call();
  return next<int (*)(int, const char*, struct stat64*, int)>("fstatat64")(
      directory, path, status, flags);
}

int linkat(int from_directory, const char* from, int to_directory,
           const char* to, int flags) {
  count_call();
  static bool removed = false;
  const char* doomed = getenv("SHIM_RMDIR");
  const char* linking = getenv("SHIM_RMDIR_BEFORE_LINKING");
  if (!removed && doomed != nullptr && linking != nullptr &&
      strcmp(to, linking) == 0) {
    removed = true;
    syscall(SYS_rmdir, doomed);
  }
  bool refused =
      env_number("SHIM_NO_LINK") != 0 ||
      ((flags & AT_EMPTY_PATH) != 0 && env_number("SHIM_NO_EMPTY_PATH") != 0) ||
      (strncmp(from, "/proc/", 6) == 0 && env_number("SHIM_NO_PROC") != 0);
  if (refused) {
    errno = env_number("SHIM_NO_LINK") != 0 ? EPERM : ENOENT;
    return -1;
  }
  static long links = 0;
  if (++links == env_number("SHIM_FAIL_LINK_AT")) {
    long error = env_number("SHIM_FAIL_LINK_ERROR");
    errno = error != 0 ? static_cast<int>(error) : ENOSPC;
    return -1;
  }
  int linked = next<int (*)(int, const char*, int, const char*, int)>("linkat")(
      from_directory, from, to_directory, to, flags);
  if (linked == 0 && is_temporary_name(to)) log_event("probe");
  return linked;
}

int renameat(int from_directory, const char* from, int to_directory,
             const char* to) {
  count_call();
  return next<int (*)(int, const char*, int, const char*)>("renameat")(
      from_directory, from, to_directory, to);
}

int renameat2(int from_directory, const char* from, int to_directory,
              const char* to, unsigned int flags) {
  count_call();
  if (flags != 0 && env_number("SHIM_NO_NOREPLACE") != 0) {
    long error = env_number("SHIM_NOREPLACE_ERROR");
    errno = error != 0 ? static_cast<int>(error) : EINVAL;
    return -1;
  }
  return next<int (*)(int, const char*, int, const char*, unsigned int)>(
      "renameat2")(from_directory, from, to_directory, to, flags);
}

int unlinkat(int directory, const char* path, int flags) {
  count_call();
  return next<int (*)(int, const char*, int)>("unlinkat")(directory, path,
                                                          flags);
}

int unlink(const char* path) {
  count_call();
  return next<int (*)(const char*)>("unlink")(path);
}

// Cuts SHIM_CUT_FILE short at SHIM_CUT_AT before the first read that would
// reach that byte.
void cut_before_read(off_t offset, size_t size) {
  static bool cut = false;
  const char* path = getenv("SHIM_CUT_FILE");
  long at = env_number("SHIM_CUT_AT");
  if (cut || path == nullptr || at < offset ||
      at >= offset + static_cast<off_t>(size)) {
    return;
  }
  cut = true;
  syscall(SYS_truncate, path, at);
}

// True, with errno EIO, for a read of `size` bytes at `offset` that holds the
// byte SHIM_READ_ERROR_AT.
bool read_fails(off_t offset, size_t size) {
  const char* at_text = getenv("SHIM_READ_ERROR_AT");
  if (at_text == nullptr) return false;
  long at = atol(at_text);
  if (at < offset || at >= offset + static_cast<off_t>(size)) return false;
  errno = EIO;
  return true;
}

ssize_t pread(int file, void* data, size_t size, off_t offset) {
  cut_before_read(offset, size);
  if (read_fails(offset, size)) return -1;
  return next<ssize_t (*)(int, void*, size_t, off_t)>("pread")(file, data, size,
                                                               offset);
}

ssize_t pread64(int file, void* data, size_t size, off64_t offset) {
  cut_before_read(static_cast<off_t>(offset), size);
  if (read_fails(static_cast<off_t>(offset), size)) return -1;
  return next<ssize_t (*)(int, void*, size_t, off64_t)>("pread64")(
      file, data, size, offset);
}

// Counts a write to a file the tool created, and kills the tool at the
// SHIM_KILL_AT_WRITE-th.
void count_write(int file) {
  if (file >= 0 && file < MAX_TRACKED && state.created[file] &&
      ++state.writes == env_number("SHIM_KILL_AT_WRITE")) {
    kill(getpid(), SIGKILL);
  }
}

ssize_t write(int file, const void* data, size_t size) {
  if (file > STDERR_FILENO) count_call();
  if (file >= 0 && file < MAX_TRACKED && state.created[file]) {
    log_event("write");
  }
  count_write(file);
  return next<ssize_t (*)(int, const void*, size_t)>("write")(file, data, size);
}

// What every kernel copy into `file` of `size` bytes read at `offset` goes
// through first; false when the copy is refused, with errno set.
bool before_copy(const char* refusal, int error, int file, off_t offset,
                 size_t* size) {
  count_call();
  if (env_number(refusal) != 0) {
    errno = error;
    return false;
  }
  long most = env_number("SHIM_COPY_MOST");
  if (most > 0 && *size > static_cast<size_t>(most)) {
    *size = static_cast<size_t>(most);
  }
  cut_before_read(offset, *size);
  if (read_fails(offset, *size)) return false;
  count_write(file);
  return true;
}

ssize_t copy_file_range(int source, off64_t* source_offset, int file,
                        off64_t* file_offset, size_t size, unsigned int flags) {
  off_t from = source_offset != nullptr ? static_cast<off_t>(*source_offset)
                                        : lseek(source, 0, SEEK_CUR);
  log_event("copy_file_range");
  if (!before_copy("SHIM_NO_COPY_FILE_RANGE", EXDEV, file, from, &size)) {
    return -1;
  }
  return next<ssize_t (*)(int, off64_t*, int, off64_t*, size_t, unsigned int)>(
      "copy_file_range")(source, source_offset, file, file_offset, size, flags);
}

ssize_t sendfile(int file, int source, off_t* offset, size_t size) {
  off_t from = offset != nullptr ? *offset : lseek(source, 0, SEEK_CUR);
  log_event("sendfile");
  if (!before_copy("SHIM_NO_SENDFILE", EINVAL, file, from, &size)) return -1;
  return next<ssize_t (*)(int, int, off_t*, size_t)>("sendfile")(file, source,
                                                                 offset, size);
}

ssize_t sendfile64(int file, int source, off64_t* offset, size_t size) {
  off_t from = offset != nullptr ? static_cast<off_t>(*offset)
                                 : lseek(source, 0, SEEK_CUR);
  log_event("sendfile");
  if (!before_copy("SHIM_NO_SENDFILE", EINVAL, file, from, &size)) return -1;
  return next<ssize_t (*)(int, int, off64_t*, size_t)>("sendfile64")(
      file, source, offset, size);
}

int close(int file) {
  if (file > STDERR_FILENO) count_call();
  int result = next<int (*)(int)>("close")(file);
  bool created = file >= 0 && file < MAX_TRACKED && state.created[file];
  if (created) state.created[file] = false;
  if (result == 0 && created && env_number("SHIM_FAIL_CLOSE") != 0) {
    errno = EIO;
    return -1;
  }
  return result;
}

}  // extern "C"
