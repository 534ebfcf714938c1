// The confined output tree on Windows. There is no openat here: each directory
// is opened by the final path of the one above it, never through a reparse
// point that names another place (a symbolic link or a junction), and held
// open without delete sharing, so it can be neither renamed nor removed while
// it is in use. Every directory and file made is then checked by its own final
// path, which must lie below the theme directory's; under Wine that check is
// the one that sees a link planted from the host, which looks like what it
// points to. Files are written under a temporary name and moved to theirs
// once complete.
#define _CRT_RAND_S  // rand_s, the system's random source
#include <stdlib.h>
#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "text/utf16-win32.h"
#include "tree/handles-win32.h"
#include "tree/output_names.h"
#include "tree/output_tree.h"
#include "tree/output_tree_platform.h"

namespace {

constexpr DWORD SHARE_ALL =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A directory held this way cannot be renamed or removed by anyone.
constexpr DWORD SHARE_ALL_BUT_DELETE = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD OPEN_AS_IT_STANDS =
    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
constexpr DWORD WRITE_CALL_MAX = 1024 * 1024;
constexpr const char* TEMPORARY_PREFIX = ".themeunpack-";
constexpr int TEMPORARY_TRIES = 100;

HANDLE handle_of(native_handle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

native_handle native(HANDLE handle) {
  return reinterpret_cast<native_handle>(handle);
}

void close_directory(const output_tree& tree, HANDLE directory) {
  if (directory != INVALID_HANDLE_VALUE && directory != handle_of(tree.root)) {
    CloseHandle(directory);
  }
}

bool is_protected_file(const output_tree& tree, HANDLE handle) {
  uint64_t volume = 0;
  uint64_t index = 0;
  return identity_of(handle, &volume, &index) &&
         volume == tree.protected_file.device &&
         index == tree.protected_file.inode;
}

std::wstring root_path(const output_tree& tree) {
  return final_path(handle_of(tree.root));
}

// Opens what stands at `path` as it stands, without following a link there.
HANDLE open_as_it_stands(const std::wstring& path, DWORD sharing) {
  return CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, sharing, nullptr,
                     OPEN_EXISTING, OPEN_AS_IT_STANDS, nullptr);
}

tree_failure failed_with(DWORD error) {
  return {tree_result::cannot_write, static_cast<int>(error)};
}

// Where the final path of something the tool opened cannot be learnt, the
// reason the query gave, or else that the path could not be found.
tree_failure place_unknown() {
  DWORD error = GetLastError();
  return failed_with(error != 0 ? error : ERROR_PATH_NOT_FOUND);
}

// What stands at `path`: nothing, or a file the tool may replace (done); a
// link, or anything whose final path leads out of the theme directory; the
// theme file; a directory.
tree_failure check_path(const output_tree& tree, const std::wstring& path) {
  HANDLE standing = open_as_it_stands(path, SHARE_ALL);
  if (standing == INVALID_HANDLE_VALUE) return {tree_result::done, 0};
  tree_failure result{tree_result::done, 0};
  placement place = place_of(standing, root_path(tree));
  if (is_name_surrogate(standing) || place == placement::outside) {
    result = {tree_result::through_link, 0};
  } else if (place == placement::unknown) {
    result = place_unknown();
  } else if (is_protected_file(tree, standing)) {
    result = {tree_result::protected_file, 0};
  } else if (is_directory(standing)) {
    result = failed_with(ERROR_ALREADY_EXISTS);
  }
  CloseHandle(standing);
  return result;
}

// Makes the directory `name` in the one open as `parent`, found by its handle
// rather than by a path, and returns a handle to the very directory made
// (which may be removed through it); INVALID_HANDLE_VALUE when it was not made
// (something stands there already, or it cannot be), with the system's error
// code in `error`.
HANDLE make_directory_at(HANDLE parent, const std::wstring& name,
                         DWORD* error) {
  UNICODE_STRING relative;
  relative.Buffer = const_cast<wchar_t*>(name.c_str());
  relative.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  relative.MaximumLength = relative.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &relative, 0, parent, nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE made = INVALID_HANDLE_VALUE;
  NTSTATUS status = NtCreateFile(
      &made, FILE_READ_ATTRIBUTES | DELETE | SYNCHRONIZE, &attributes, &io,
      nullptr, FILE_ATTRIBUTE_NORMAL, SHARE_ALL_BUT_DELETE, FILE_CREATE,
      FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT |
          FILE_OPEN_FOR_BACKUP_INTENT,
      nullptr, 0);
  if (status == 0) return made;
  *error = RtlNtStatusToDosError(status);
  return INVALID_HANDLE_VALUE;
}

// Removes the empty directory open as `directory` (with DELETE access), by its
// handle.
void remove_directory(HANDLE directory) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  SetFileInformationByHandle(directory, FileDispositionInfo, &disposition,
                             sizeof disposition);
}

// Opens the directory `name` in the one open as `parent` at the final path
// `parent_path`, making it first when asked. One this call made and finds
// outside the theme directory is removed again.
HANDLE open_directory(const std::wstring& root, HANDLE parent,
                      const std::wstring& parent_path, const std::wstring& name,
                      bool make, tree_failure* why) {
  DWORD make_error = ERROR_ALREADY_EXISTS;
  HANDLE made = make ? make_directory_at(parent, name, &make_error)
                     : INVALID_HANDLE_VALUE;
  if (made != INVALID_HANDLE_VALUE) {
    placement place = place_of(made, root);
    if (place == placement::inside) return made;
    *why = place == placement::outside ? tree_failure{tree_result::through_link}
                                       : place_unknown();
    remove_directory(made);
    CloseHandle(made);
    return INVALID_HANDLE_VALUE;
  }
  std::wstring path = parent_path + L"\\" + name;
  HANDLE directory = open_as_it_stands(path, SHARE_ALL_BUT_DELETE);
  if (directory == INVALID_HANDLE_VALUE) {
    // Where it could not be made, that is why it cannot be opened.
    DWORD error = GetLastError();
    bool missing =
        error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    *why = failed_with(
        missing && make_error != ERROR_ALREADY_EXISTS ? make_error : error);
    return directory;
  }
  placement place = place_of(directory, root);
  if (is_name_surrogate(directory) || place == placement::outside) {
    *why = {tree_result::through_link, 0};
  } else if (place == placement::unknown) {
    *why = place_unknown();
  } else if (!is_directory(directory)) {
    *why = failed_with(ERROR_DIRECTORY);
  } else {
    return directory;
  }
  CloseHandle(directory);
  return INVALID_HANDLE_VALUE;
}

// Opens the directory that holds the last component of `path` ("/"-separated,
// relative to the theme directory), one component at a time.
HANDLE open_parent(const output_tree& tree, const char* path, bool make,
                   tree_failure* why) {
  HANDLE current = handle_of(tree.root);
  std::wstring root = root_path(tree);
  std::wstring current_path = root;
  const char* last_slash = strrchr(path, '/');
  if (last_slash == nullptr) return current;
  std::string component;
  for (const char* p = path; p <= last_slash; ++p) {
    if (*p != '/') {
      component += *p;
      continue;
    }
    std::wstring name;
    if (component.empty() || component == ".") {
      component.clear();
      continue;
    }
    bool converted = utf16_from_utf8(component, &name);
    component.clear();
    if (!converted) *why = failed_with(ERROR_NO_UNICODE_TRANSLATION);
    HANDLE next =
        converted ? open_directory(root, current, current_path, name, make, why)
                  : INVALID_HANDLE_VALUE;
    close_directory(tree, current);
    if (next == INVALID_HANDLE_VALUE) return next;
    current = next;
    current_path = final_path(next);
  }
  return current;
}

// Temporary names carry 64 random bits, so nobody can plant a thing at the
// next one; a name that is taken all the same only costs another try.
std::string temporary_name() {
  std::string name = TEMPORARY_PREFIX;
  char hex[9];
  for (int half = 0; half < 2; ++half) {
    unsigned int random = 0;
    if (rand_s(&random) != 0) random = GetTickCount() ^ GetCurrentProcessId();
    snprintf(hex, sizeof hex, "%08x", random);
    name += hex;
  }
  return name;
}

std::wstring path_in(HANDLE directory, const std::string& name) {
  std::wstring wide;
  if (!utf16_from_utf8(name, &wide)) return {};
  std::wstring directory_path = final_path(directory);
  if (directory_path.empty()) return {};
  return directory_path + L"\\" + wide;
}

// A new file under a free temporary name in `directory`; on failure, the
// system's error code in `error`.
HANDLE create_temporary(HANDLE directory, std::string* name, DWORD* error) {
  *error = ERROR_PATH_NOT_FOUND;
  for (int attempt = 0; attempt < TEMPORARY_TRIES; ++attempt) {
    *name = temporary_name();
    std::wstring path = path_in(directory, *name);
    if (path.empty()) break;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    *error = GetLastError();
    if (*error != ERROR_FILE_EXISTS && *error != ERROR_ALREADY_EXISTS) break;
  }
  name->clear();
  return INVALID_HANDLE_VALUE;
}

// Moves the complete file at `temporary` to `target`: to a new name directly,
// over what stands there once that is known to be something the tool may
// replace.
tree_failure name_temporary(const output_tree& tree,
                            const std::wstring& temporary,
                            const std::wstring& target) {
  if (MoveFileExW(temporary.c_str(), target.c_str(), 0)) {
    return {tree_result::done, 0};
  }
  DWORD error = GetLastError();
  tree_failure standing = failed_with(error);
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
    standing = check_path(tree, target);
    if (standing.result == tree_result::done) {
      if (MoveFileExW(temporary.c_str(), target.c_str(),
                      MOVEFILE_REPLACE_EXISTING)) {
        return {tree_result::done, 0};
      }
      standing = failed_with(GetLastError());
    }
  }
  DeleteFileW(temporary.c_str());
  return standing;
}

// Why the theme directory at `root`, just opened, cannot be used; 0 when it
// can.
DWORD unusable_root(HANDLE root, bool made, DWORD make_error) {
  if (root == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    bool missing =
        error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return missing && make_error != 0 ? make_error : error;
  }
  if (!is_directory(root)) return ERROR_ALREADY_EXISTS;
  if (made && is_name_surrogate(root)) return ERROR_CANT_ACCESS_FILE;
  if (final_path(root).empty()) {
    DWORD error = GetLastError();
    return error != 0 ? error : ERROR_PATH_NOT_FOUND;
  }
  return 0;
}

}  // namespace

bool open_output_tree(const char* path, const char* subdirectory,
                      const file_identity& protected_file, output_tree* tree,
                      int* error) {
  // Through a long path, "CON" would be made as a folder nothing else can
  // open.
  const char* name = windows_base_name(path);
  if (*name == '\0' || windows_cannot_hold(name)) {
    *error = ERROR_INVALID_NAME;
    return false;
  }
  std::wstring wide_name;
  std::wstring wide_subdirectory;
  if (!long_path_from_utf8(path, &wide_name) ||
      !utf16_from_utf8(subdirectory, &wide_subdirectory)) {
    *error = ERROR_INVALID_NAME;
    return false;
  }
  bool made = CreateDirectoryW(wide_name.c_str(), nullptr) != 0;
  // Where it could not be made, that is why it cannot be opened.
  DWORD make_error = made ? 0 : GetLastError();
  if (make_error == ERROR_ALREADY_EXISTS) make_error = 0;
  // A theme directory that was there before may be a link; one this run has
  // just made and finds a link now was swapped for it and is not used.
  DWORD flags =
      FILE_FLAG_BACKUP_SEMANTICS | (made ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  HANDLE root =
      CreateFileW(wide_name.c_str(), FILE_READ_ATTRIBUTES, SHARE_ALL_BUT_DELETE,
                  nullptr, OPEN_EXISTING, flags, nullptr);
  DWORD unusable = unusable_root(root, made, make_error);
  if (unusable != 0) {
    *error = static_cast<int>(unusable);
    if (root != INVALID_HANDLE_VALUE) CloseHandle(root);
    // A directory this run made but cannot use is not left behind.
    if (made) RemoveDirectoryW(wide_name.c_str());
    return false;
  }
  // Everything below is reached from the theme directory's final path; the
  // working directory stays where it was, so that the next theme file named
  // relative to it is found.
  *tree = output_tree{};
  tree->root = native(root);
  tree->protected_file = protected_file;
  CreateDirectoryW((final_path(root) + L"\\" + wide_subdirectory).c_str(),
                   nullptr);
  return true;
}

bool open_output_folder(const char* path, const file_identity& protected_file,
                        output_tree* tree, int* error) {
  std::wstring wide_name;
  if (!long_path_from_utf8(path, &wide_name)) {
    *error = ERROR_INVALID_NAME;
    return false;
  }
  HANDLE root =
      CreateFileW(wide_name.c_str(), FILE_READ_ATTRIBUTES, SHARE_ALL_BUT_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  DWORD unusable = unusable_root(root, false, 0);
  if (unusable != 0) {
    *error = static_cast<int>(unusable);
    if (root != INVALID_HANDLE_VALUE) CloseHandle(root);
    return false;
  }
  *tree = output_tree{};
  tree->root = native(root);
  tree->protected_file = protected_file;
  return true;
}

// Windows gives a file one index whatever its name is spelt as.
void protect_every_spelling(output_tree*, const char*) {}

void close_output_tree(output_tree* tree) {
  if (tree->root != NO_HANDLE) CloseHandle(handle_of(tree->root));
  tree->root = NO_HANDLE;
}

native_handle open_output_parent(output_tree* tree, const char* path, bool make,
                                 tree_failure* why) {
  return native(open_parent(*tree, path, make, why));
}

void close_output_directory(const output_tree& tree, native_handle directory) {
  close_directory(tree, handle_of(directory));
}

tree_failure check_output_name(const output_tree& tree, native_handle directory,
                               const std::string& name) {
  std::wstring path = path_in(handle_of(directory), name);
  if (path.empty()) return place_unknown();
  return check_path(tree, path);
}

int directory_in_the_way_error() {
  return static_cast<int>(ERROR_ALREADY_EXISTS);
}

tree_result create_output_file(staged_output* output) {
  HANDLE directory = handle_of(output->directory);
  DWORD error = 0;
  HANDLE file = create_temporary(directory, &output->temporary, &error);
  if (file == INVALID_HANDLE_VALUE) {
    output->error = static_cast<int>(error);
    return tree_result::cannot_write;
  }
  output->file = native(file);
  switch (place_of(file, root_path(*output->tree))) {
    case placement::inside:
      return tree_result::done;
    case placement::outside:
      return tree_result::through_link;
    case placement::unknown:
      break;
  }
  output->error = place_unknown().error;
  return tree_result::cannot_write;
}

// Windows has no copy between two open files; every block goes through the
// caller's buffer.
uint64_t copy_output_bytes(output_tree*, native_handle, native_handle, uint64_t,
                           uint64_t) {
  return 0;
}

int write_output_bytes(native_handle file, const void* bytes, size_t size) {
  const auto* data = static_cast<const char*>(bytes);
  while (size > 0) {
    DWORD piece =
        size < WRITE_CALL_MAX ? static_cast<DWORD>(size) : WRITE_CALL_MAX;
    DWORD written = 0;
    if (!WriteFile(handle_of(file), data, piece, &written, nullptr)) {
      return static_cast<int>(GetLastError());
    }
    // A write that takes nothing and says no more cannot go on.
    if (written == 0) return static_cast<int>(ERROR_WRITE_FAULT);
    data += written;
    size -= written;
  }
  return 0;
}

tree_result name_output_file(staged_output* output) {
  HANDLE directory = handle_of(output->directory);
  std::wstring temporary = path_in(directory, output->temporary);
  std::wstring target = path_in(directory, output->name);
  // A full disk may show only when the file is closed.
  bool closed = CloseHandle(handle_of(output->file)) != 0;
  if (!closed || target.empty()) {
    output->error =
        closed ? place_unknown().error : static_cast<int>(GetLastError());
    DeleteFileW(temporary.c_str());
    return tree_result::cannot_write;
  }
  tree_failure named = name_temporary(*output->tree, temporary, target);
  output->error = named.error;
  return named.result;
}

void discard_output_file(staged_output* output) {
  CloseHandle(handle_of(output->file));
  std::wstring temporary =
      path_in(handle_of(output->directory), output->temporary);
  if (!temporary.empty()) DeleteFileW(temporary.c_str());
}
