#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "format/theme_source.h"

namespace {

constexpr uint64_t MAX_FILE_POSITION = std::numeric_limits<off_t>::max();

}  // namespace

FILE* open_theme_stream(const char* path, int* error) {
  FILE* stream = fopen(path, "r");
  if (stream == nullptr) *error = errno;
  return stream;
}

bool means_not_found(int error) { return error == ENOENT || error == ENOTDIR; }

bool measure_theme_stream(FILE* stream, uint64_t* length, int* error) {
  off_t end = -1;
  if (fseeko(stream, 0, SEEK_END) == 0) end = ftello(stream);
  if (end < 0) {
    *error = errno;
    return false;
  }
  *length = static_cast<uint64_t>(end);
  return true;
}

// Each read carries its own absolute position, so no seek is needed and one
// bad range cannot shift the next.
bool read_theme_bytes(const theme_file& theme, uint64_t offset, void* bytes,
                      size_t length) {
  if (offset > MAX_FILE_POSITION) {
    theme.read_error = EOVERFLOW;
    return false;
  }
  int file = fileno(theme.stream);
  auto* into = static_cast<char*>(bytes);
  // The kernel may hand over a very large block in parts.
  while (length > 0) {
    ssize_t got = pread(file, into, length, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      theme.read_error = got < 0 ? errno : THEME_ENDED_EARLY;
      return false;
    }
    into += got;
    offset += static_cast<uint64_t>(got);
    length -= static_cast<size_t>(got);
  }
  return true;
}

intptr_t theme_file_handle(const theme_file& theme) {
  return fileno(theme.stream);
}

bool theme_file_identity(const theme_file& theme, uint64_t* device,
                         uint64_t* inode) {
  struct stat status;
  if (fstat(fileno(theme.stream), &status) != 0) {
    theme.read_error = errno;
    return false;
  }
  *device = static_cast<uint64_t>(status.st_dev);
  *inode = static_cast<uint64_t>(status.st_ino);
  return true;
}
