#include "text/utf16-win32.h"

#include <windows.h>

namespace {

// `text` as UTF-16 by `flags` of MultiByteToWideChar; false when it cannot be.
bool convert_utf8(const std::string& text, DWORD flags, std::wstring* wide) {
  wide->clear();
  if (text.empty()) return true;
  auto length = static_cast<int>(text.size());
  int needed =
      MultiByteToWideChar(CP_UTF8, flags, text.data(), length, nullptr, 0);
  if (needed <= 0) return false;
  wide->resize(static_cast<size_t>(needed));
  return MultiByteToWideChar(CP_UTF8, flags, text.data(), length, wide->data(),
                             needed) == needed;
}

// `path` made absolute by Windows' own rules; empty when it cannot be.
std::wstring full_path(const std::wstring& path) {
  // GetFullPathNameW says how much room it needs when given too little.
  std::wstring full(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD got = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()),
                                 &full[0], nullptr);
    if (got == 0) return {};
    if (got < full.size()) {
      full.resize(got);
      return full;
    }
    full.assign(got, L'\0');
  }
  return {};
}

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

bool utf16_from_utf8(const std::string& text, std::wstring* wide) {
  return convert_utf8(text, MB_ERR_INVALID_CHARS, wide);
}

std::wstring utf16_shown_from_utf8(const std::string& text) {
  std::wstring wide;
  convert_utf8(text, 0, &wide);
  return wide;
}

bool long_path_from_utf8(const std::string& path, std::wstring* wide) {
  std::wstring given;
  if (!utf16_from_utf8(path, &given) || given.empty()) return false;
  // Already in its long form, or a device path: taken as it stands.
  if (given.rfind(L"\\\\?\\", 0) == 0 || given.rfind(L"\\\\.\\", 0) == 0) {
    *wide = given;
    return true;
  }
  // Only the folder is made absolute by Windows' rules, which would take a
  // last name such as "aux.x.ctf" for a device; the name is added as it is.
  size_t base = given.size();
  while (base > 0 && !is_separator(given[base - 1])) --base;
  if (base == 0 && given.size() >= 2 && given[1] == L':') base = 2;
  std::wstring name = given.substr(base);
  std::wstring folder = given.substr(0, base);
  if (name == L"." || name == L"..") {
    folder = given;
    name.clear();
  }
  std::wstring full = full_path(folder.empty() ? L"." : folder);
  if (full.empty()) return false;
  if (!name.empty()) {
    if (!is_separator(full.back())) full += L'\\';
    full += name;
  }
  *wide = full.rfind(L"\\\\", 0) == 0 ? L"\\\\?\\UNC\\" + full.substr(2)
                                      : L"\\\\?\\" + full;
  return true;
}

std::string utf8_from_utf16(const std::wstring& wide) {
  if (wide.empty()) return {};
  auto length = static_cast<int>(wide.size());
  int needed = WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0,
                                   nullptr, nullptr);
  std::string text(static_cast<size_t>(needed > 0 ? needed : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, text.data(), needed,
                      nullptr, nullptr);
  return text;
}
