#include "unpack/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "unpack/theme_directory.h"

namespace {

constexpr mode_t OUTPUT_FILE_MODE = 0666;  // subject to the umask, as fopen's
constexpr int OUTPUT_FLAGS = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW;

bool is_separator(char c) { return c == '/' || c == '\\'; }

bool is_symlink(const char* path) {
  struct stat status;
  return lstat(path, &status) == 0 && S_ISLNK(status.st_mode);
}

// Checks one directory named in a path; `prefix` is that directory's path.
bool directory_is_symlink(const std::string& prefix, directory_cache* cache) {
  if (cache != nullptr && cache->made_by_run.count(prefix) != 0) return false;
  struct stat status;
  if (lstat(prefix.c_str(), &status) != 0) return false;
  if (S_ISLNK(status.st_mode)) return true;
  if (cache != nullptr && S_ISDIR(status.st_mode)) {
    cache->made_by_run.emplace(prefix, false);
  }
  return false;
}

// Whether the directory that holds `path` was made by this run.
bool parent_made_by_run(const char* path, const directory_cache* cache) {
  const char* slash = strrchr(path, '/');
  if (cache == nullptr || slash == nullptr) return false;
  auto known = cache->made_by_run.find(std::string(path, slash));
  return known != cache->made_by_run.end() && known->second;
}

// The whole buffer is written by one loop, but handed to the kernel at most
// this much per call. Linux sizes the pages of the new file's cache by the
// length of each call; up to 32 KiB they come from lists of recently freed
// memory, larger ones more often from memory a virtual machine's host has taken
// back, which the host must fault in again. On such a machine a 1.5 GiB file
// written in 64 KiB calls took a third longer in the median, and in 256 KiB or
// larger calls erratically several times as long.
constexpr size_t WRITE_CALL_MAX = 32 * 1024;

// Returns 0, or the error of the write that failed.
int write_fully(int file, const char* data, size_t size) {
  // Each call continues where the last stopped; the kernel may also take
  // fewer bytes than it was given.
  while (size > 0) {
    size_t piece = size < WRITE_CALL_MAX ? size : WRITE_CALL_MAX;
    ssize_t written = write(file, data, piece);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return errno;
    if (written == 0) return ENOSPC;  // nothing taken and no reason given
    data += written;
    size -= static_cast<size_t>(written);
  }
  return 0;
}

}  // namespace

bool leads_outside(const char* path) {
  const char* component = path;
  for (const char* p = path;; ++p) {
    if (*p == '\0' || is_separator(*p)) {
      if (p - component == 2 && component[0] == '.' && component[1] == '.') {
        return true;
      }
      if (*p == '\0') return false;
      component = p + 1;
    }
  }
}

bool directories_hold_symlink(const char* path, directory_cache* cache) {
  std::string prefix;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/' && p != path) {
      prefix.assign(path, p);
      if (directory_is_symlink(prefix, cache)) return true;
    }
  }
  return false;
}

bool path_holds_symlink(const char* path, directory_cache* cache) {
  if (directories_hold_symlink(path, cache)) return true;
  return !parent_made_by_run(path, cache) && is_symlink(path);
}

void make_parent_directories(char* path, directory_cache* cache) {
  for (char* p = path; *p != '\0'; ++p) {
    if (*p != '/') continue;
    *p = '\0';
    if (cache->made_by_run.count(path) == 0 &&
        mkdir(path, DIRECTORY_MODE) == 0) {
      cache->made_by_run.emplace(path, true);
    }
    *p = '/';
  }
}

FILE* create_output_file(const char* path) {
  int file = open(path, OUTPUT_FLAGS, OUTPUT_FILE_MODE);
  if (file < 0) return nullptr;
  FILE* stream = fdopen(file, "w");
  if (stream == nullptr) close(file);
  return stream;
}

bool finish_output_file(FILE* file, const char* path) {
  bool written = !ferror(file);
  if (fclose(file) != 0) written = false;
  if (!written) remove(path);
  return written;
}

write_result write_output_file(const char* path, const void* data,
                               size_t size) {
  int file = open(path, OUTPUT_FLAGS, OUTPUT_FILE_MODE);
  if (file < 0) return write_result::cannot_write;
  int error = write_fully(file, static_cast<const char*>(data), size);
  // A full disk often shows only when the file is closed.
  if (close(file) != 0 && error == 0) error = EIO;
  if (error == 0) return write_result::written;
  remove(path);
  return error == EFAULT ? write_result::source_lost
                         : write_result::cannot_write;
}
