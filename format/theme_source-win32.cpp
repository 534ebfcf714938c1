#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "format/theme_source.h"
#include "text/utf16-win32.h"

FILE* open_theme_stream(const char* path) {
  std::wstring wide;
  // In its long form, a path of any length works and "aux.x.ctf" is a file.
  if (!long_path_from_utf8(path, &wide)) return nullptr;
  // Binary: no CR LF translation and no end of file at byte 0x1A.
  return _wfopen(wide.c_str(), L"rb");
}

bool measure_theme_stream(FILE* stream, uint64_t* length) {
  if (_fseeki64(stream, 0, SEEK_END) != 0) return false;
  __int64 end = _ftelli64(stream);
  if (end < 0) return false;
  *length = static_cast<uint64_t>(end);
  return true;
}

// The tool has one thread and reads the theme file through nothing else, so a
// seek before each read serves as a read at an absolute position.
bool read_theme_bytes(const theme_file& theme, uint64_t offset, void* bytes,
                      size_t length) {
  if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
  if (_fseeki64(theme.stream, static_cast<__int64>(offset), SEEK_SET) != 0) {
    return false;
  }
  return fread(bytes, 1, length, theme.stream) == length;
}

bool theme_file_identity(const theme_file& theme, uint64_t* device,
                         uint64_t* inode) {
  auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(theme.stream)));
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return false;
  *device = info.dwVolumeSerialNumber;
  *inode =
      static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
  return true;
}
