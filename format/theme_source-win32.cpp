#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "format/theme_source.h"
#include "text/utf16-win32.h"

namespace {

constexpr DWORD READ_CALL_MAX = 1024 * 1024;

HANDLE handle_of(FILE* stream) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

}  // namespace

FILE* open_theme_stream(const char* path, int* error) {
  std::wstring wide;
  // In its long form, a path of any length works and "aux.x.ctf" is a file.
  if (!long_path_from_utf8(path, &wide)) {
    *error = ERROR_INVALID_NAME;
    return nullptr;
  }
  // Shared as the C library shares a file it opens for reading.
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = static_cast<int>(GetLastError());
    return nullptr;
  }
  // Binary: no CR LF translation and no end of file at byte 0x1A.
  int descriptor =
      _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
  FILE* stream = descriptor < 0 ? nullptr : _fdopen(descriptor, "rb");
  if (stream == nullptr) {
    *error = ERROR_TOO_MANY_OPEN_FILES;
    if (descriptor >= 0) {
      _close(descriptor);
    } else {
      CloseHandle(file);
    }
  }
  return stream;
}

// A name Windows cannot hold cannot be there either, as on other systems.
bool means_not_found(int error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_INVALID_NAME;
}

bool measure_theme_stream(FILE* stream, uint64_t* length, int* error) {
  LARGE_INTEGER size;
  if (GetFileType(handle_of(stream)) != FILE_TYPE_DISK) {
    *error = ERROR_SEEK_ON_DEVICE;
    return false;
  }
  if (!GetFileSizeEx(handle_of(stream), &size)) {
    *error = static_cast<int>(GetLastError());
    return false;
  }
  *length = static_cast<uint64_t>(size.QuadPart);
  return true;
}

// Each read carries its own absolute position, so one bad range cannot shift
// the next.
bool read_theme_bytes(const theme_file& theme, uint64_t offset, void* bytes,
                      size_t length) {
  HANDLE file = handle_of(theme.stream);
  // A pipe or a device has no positions to read at.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    theme.read_error = ERROR_SEEK_ON_DEVICE;
    return false;
  }
  auto* into = static_cast<char*>(bytes);
  while (length > 0) {
    DWORD piece =
        length < READ_CALL_MAX ? static_cast<DWORD>(length) : READ_CALL_MAX;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    if (!ReadFile(file, into, piece, &got, &at)) {
      DWORD error = GetLastError();
      theme.read_error = error == ERROR_HANDLE_EOF ? THEME_ENDED_EARLY
                                                   : static_cast<int>(error);
      return false;
    }
    if (got == 0) {
      theme.read_error = THEME_ENDED_EARLY;
      return false;
    }
    into += got;
    offset += got;
    length -= got;
  }
  return true;
}

intptr_t theme_file_handle(const theme_file& theme) {
  return reinterpret_cast<intptr_t>(handle_of(theme.stream));
}

bool theme_file_identity(const theme_file& theme, uint64_t* device,
                         uint64_t* inode) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle_of(theme.stream), &info)) {
    theme.read_error = static_cast<int>(GetLastError());
    return false;
  }
  *device = info.dwVolumeSerialNumber;
  *inode =
      static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
  return true;
}
