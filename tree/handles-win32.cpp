#include "tree/handles-win32.h"

#include <winternl.h>

#include <vector>

namespace {

// Room for an object's name: a UNICODE_STRING and the longest path Windows
// takes, 32,767 UTF-16 units.
constexpr size_t OBJECT_NAME_ROOM =
    sizeof(UNICODE_STRING) + 32768 * sizeof(wchar_t);
constexpr auto OBJECT_NAME_INFORMATION_CLASS =
    static_cast<OBJECT_INFORMATION_CLASS>(1);

// The object manager's name of what `handle` holds, when it names a drive
// (\??\Z:\...), in its long form (\\?\Z:\...); empty otherwise.
// Wine's GetFinalPathNameByHandleW fails past about 260 characters; its
// object names do not.
std::wstring object_path(HANDLE handle) {
  std::vector<unsigned char> buffer(OBJECT_NAME_ROOM);
  ULONG needed = 0;
  NTSTATUS status =
      NtQueryObject(handle, OBJECT_NAME_INFORMATION_CLASS, buffer.data(),
                    static_cast<ULONG>(buffer.size()), &needed);
  if (status != 0) return {};
  const auto* name = reinterpret_cast<const UNICODE_STRING*>(buffer.data());
  std::wstring path(name->Buffer, name->Length / sizeof(wchar_t));
  if (path.rfind(L"\\??\\", 0) != 0 || path.size() < 6 || path[5] != L':')
    return {};
  return L"\\\\?\\" + path.substr(4);
}

}  // namespace

// Where an open file or directory really is, every link resolved, in its long
// form; empty when that cannot be learnt. The query says how much room it
// needs when given too little, and the path may grow in between.
std::wstring final_path(HANDLE handle) {
  const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
  std::wstring path(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD got = GetFinalPathNameByHandleW(
        handle, &path[0], static_cast<DWORD>(path.size()), flags);
    if (got == 0) return object_path(handle);
    if (got < path.size()) {
      path.resize(got);
      return path;
    }
    path.assign(got, L'\0');
  }
  return {};
}

// True when `path` lies strictly below `root`; names compare in any case, as
// the file system takes them.
bool lies_below(const std::wstring& path, const std::wstring& root) {
  if (root.empty() || path.size() <= root.size() + 1 ||
      path[root.size()] != L'\\') {
    return false;
  }
  auto length = static_cast<int>(root.size());
  return CompareStringOrdinal(path.c_str(), length, root.c_str(), length,
                              TRUE) == CSTR_EQUAL;
}

// Whether what `handle` holds lies below the theme directory at `root`.
placement place_of(HANDLE handle, const std::wstring& root) {
  std::wstring path = final_path(handle);
  if (path.empty() || root.empty()) return placement::unknown;
  return lies_below(path, root) ? placement::inside : placement::outside;
}

FILE_ATTRIBUTE_TAG_INFO attributes_of(HANDLE handle) {
  FILE_ATTRIBUTE_TAG_INFO info{};
  GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info,
                               sizeof info);
  return info;
}

// A symbolic link or a junction: a reparse point that names another place.
bool is_name_surrogate(HANDLE handle) {
  FILE_ATTRIBUTE_TAG_INFO info = attributes_of(handle);
  return (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
         IsReparseTagNameSurrogate(info.ReparseTag);
}

bool is_directory(HANDLE handle) {
  return (attributes_of(handle).FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool identity_of(HANDLE handle, uint64_t* volume, uint64_t* index) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return false;
  *volume = info.dwVolumeSerialNumber;
  *index =
      static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
  return true;
}
