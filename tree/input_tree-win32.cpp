// The folder being read, on Windows. There is no openat here: each folder is
// opened by the final path of the one above it, never through a reparse point,
// and held open without delete sharing while the next is opened, so that none
// on the way can be renamed or removed meanwhile; every folder and file opened
// must, by its own final path, lie below the root. A folder is listed from its
// handle.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "text/utf16-win32.h"
#include "tree/handles-win32.h"
#include "tree/input_tree.h"

namespace {

// A folder or file held this way cannot be renamed or removed by anyone.
constexpr DWORD SHARE_ALL_BUT_DELETE = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD OPEN_AS_IT_STANDS =
    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
constexpr DWORD FOLDER_ACCESS =
    FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr size_t LISTING_ROOM = 64 * 1024;
constexpr DWORD READ_CALL_MAX = 1024 * 1024;

HANDLE handle_of(native_handle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

native_handle native(HANDLE handle) {
  return reinterpret_cast<native_handle>(handle);
}

input_result failed(DWORD code, int* error) {
  *error = static_cast<int>(code);
  return input_result::cannot_read;
}

// Why `opened`, found at a name below the root at `root`, is not what may
// be read there; done when it is.
input_result judge_opened(HANDLE opened, const std::wstring& root,
                          bool want_folder, int* error) {
  placement place = place_of(opened, root);
  if (is_name_surrogate(opened) || place == placement::outside) {
    return input_result::through_link;
  }
  if (place == placement::unknown) return failed(GetLastError(), error);
  return is_directory(opened) == want_folder ? input_result::done
                                             : input_result::not_a_file;
}

// Opens `name` in the folder at the final path `folder_path`, as it stands.
HANDLE open_at(const std::wstring& folder_path, const std::string& name,
               DWORD access, DWORD sharing) {
  std::wstring wide;
  if (!utf16_from_utf8(name, &wide)) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return INVALID_HANDLE_VALUE;
  }
  return CreateFileW((folder_path + L"\\" + wide).c_str(), access, sharing,
                     nullptr, OPEN_EXISTING, OPEN_AS_IT_STANDS, nullptr);
}

// Opens the folder `path` below the root one component at a time, holding
// each until the next is open.
HANDLE open_folder(const input_tree& tree, const std::string& path,
                   input_result* result, int* error) {
  std::wstring root = final_path(handle_of(tree.root));
  HANDLE current = INVALID_HANDLE_VALUE;
  std::wstring current_path = root;
  size_t start = 0;
  *result = input_result::done;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    std::string component = path.substr(start, slash - start);
    start = slash + 1;
    if (component.empty() || component == ".") continue;
    HANDLE next =
        open_at(current_path, component, FOLDER_ACCESS, SHARE_ALL_BUT_DELETE);
    if (next == INVALID_HANDLE_VALUE) {
      *result = failed(GetLastError(), error);
    } else {
      *result = judge_opened(next, root, true, error);
      current_path = final_path(next);
    }
    if (current != INVALID_HANDLE_VALUE) CloseHandle(current);
    current = next;
    if (*result != input_result::done) break;
  }
  if (*result != input_result::done) {
    if (current != INVALID_HANDLE_VALUE) CloseHandle(current);
    return INVALID_HANDLE_VALUE;
  }
  if (current != INVALID_HANDLE_VALUE) return current;
  // The root itself, by a handle of its own.
  HANDLE self = CreateFileW(root.c_str(), FOLDER_ACCESS, SHARE_ALL_BUT_DELETE,
                            nullptr, OPEN_EXISTING, OPEN_AS_IT_STANDS, nullptr);
  if (self == INVALID_HANDLE_VALUE) *result = failed(GetLastError(), error);
  return self;
}

input_kind kind_of(DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return input_kind::link;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return input_kind::folder;
  if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) return input_kind::special;
  return input_kind::file;
}

// Adds the entries of one batch of the listing.
void add_listed(const unsigned char* batch, std::vector<input_item>* items) {
  for (const unsigned char* at = batch;;) {
    const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
    std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
    if (name != L"." && name != L"..") {
      items->push_back({utf8_from_utf16(name), kind_of(entry->FileAttributes),
                        static_cast<uint64_t>(entry->EndOfFile.QuadPart)});
    }
    if (entry->NextEntryOffset == 0) return;
    at += entry->NextEntryOffset;
  }
}

}  // namespace

bool open_input_tree(const char* path, input_tree* tree, int* error) {
  std::wstring wide;
  if (!long_path_from_utf8(path, &wide)) {
    *error = ERROR_INVALID_NAME;
    return false;
  }
  HANDLE root =
      CreateFileW(wide.c_str(), FOLDER_ACCESS, SHARE_ALL_BUT_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (root == INVALID_HANDLE_VALUE) {
    *error = static_cast<int>(GetLastError());
    return false;
  }
  if (!is_directory(root) || final_path(root).empty()) {
    DWORD why = is_directory(root) ? GetLastError() : ERROR_DIRECTORY;
    *error = static_cast<int>(why != 0 ? why : ERROR_PATH_NOT_FOUND);
    CloseHandle(root);
    return false;
  }
  *tree = input_tree{};
  tree->root = native(root);
  return true;
}

void close_input_tree(input_tree* tree) {
  if (tree->root != NO_HANDLE) CloseHandle(handle_of(tree->root));
  tree->root = NO_HANDLE;
}

input_result list_input_folder(input_tree* tree, const std::string& path,
                               std::vector<input_item>* items, int* error) {
  input_result opened = input_result::done;
  HANDLE folder = open_folder(*tree, path, &opened, error);
  if (folder == INVALID_HANDLE_VALUE) return opened;
  items->clear();
  std::vector<unsigned char> batch(LISTING_ROOM);
  FILE_INFO_BY_HANDLE_CLASS next_batch = FileIdBothDirectoryRestartInfo;
  input_result result = input_result::done;
  while (GetFileInformationByHandleEx(folder, next_batch, batch.data(),
                                      static_cast<DWORD>(batch.size()))) {
    add_listed(batch.data(), items);
    next_batch = FileIdBothDirectoryInfo;
  }
  if (GetLastError() != ERROR_NO_MORE_FILES) {
    result = failed(GetLastError(), error);
  }
  CloseHandle(folder);
  return result;
}

input_result open_input_file(input_tree* tree, const std::string& path,
                             input_file* file, int* error) {
  size_t slash = path.rfind('/');
  std::string folder_path =
      slash == std::string::npos ? "" : path.substr(0, slash);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  input_result opened = input_result::done;
  HANDLE folder = open_folder(*tree, folder_path, &opened, error);
  if (folder == INVALID_HANDLE_VALUE) return opened;
  HANDLE reading = open_at(final_path(folder), name, GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE);
  DWORD open_error = GetLastError();
  CloseHandle(folder);
  if (reading == INVALID_HANDLE_VALUE) return failed(open_error, error);
  std::wstring root = final_path(handle_of(tree->root));
  input_result judged = judge_opened(reading, root, false, error);
  LARGE_INTEGER size{};
  uint64_t volume = 0;
  uint64_t index = 0;
  if (judged == input_result::done &&
      (!GetFileSizeEx(reading, &size) ||
       !identity_of(reading, &volume, &index))) {
    judged = failed(GetLastError(), error);
  }
  if (judged != input_result::done) {
    CloseHandle(reading);
    return judged;
  }
  file->handle = native(reading);
  file->size = static_cast<uint64_t>(size.QuadPart);
  file->identity = {volume, index};
  return input_result::done;
}

void close_input_file(input_file* file) {
  if (file->handle != NO_HANDLE) CloseHandle(handle_of(file->handle));
  file->handle = NO_HANDLE;
}

bool read_input_bytes(const input_file& file, uint64_t offset, void* bytes,
                      size_t size, int* error) {
  auto* into = static_cast<unsigned char*>(bytes);
  while (size > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD asked = static_cast<DWORD>(std::min<size_t>(size, READ_CALL_MAX));
    DWORD got = 0;
    if (!ReadFile(handle_of(file.handle), into, asked, &got, &at)) {
      DWORD why = GetLastError();
      *error = why == ERROR_HANDLE_EOF ? 0 : static_cast<int>(why);
      return false;
    }
    if (got == 0) {
      *error = 0;
      return false;
    }
    into += got;
    offset += got;
    size -= got;
  }
  return true;
}

bool input_file_unchanged(const input_file& file) {
  LARGE_INTEGER size{};
  return GetFileSizeEx(handle_of(file.handle), &size) &&
         static_cast<uint64_t>(size.QuadPart) == file.size;
}

bool input_tree_holds(const input_tree& tree, native_handle folder) {
  std::wstring root = final_path(handle_of(tree.root));
  std::wstring path = final_path(handle_of(folder));
  if (root.empty() || path.empty()) return true;
  bool same = path.size() == root.size() &&
              CompareStringOrdinal(path.c_str(), static_cast<int>(path.size()),
                                   root.c_str(), static_cast<int>(root.size()),
                                   TRUE) == CSTR_EQUAL;
  return same || lies_below(path, root);
}
