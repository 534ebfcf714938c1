#include "text/utf16-win32.h"

#include <windows.h>

bool utf16_from_utf8(const std::string& text, std::wstring* wide) {
  wide->clear();
  if (text.empty()) return true;
  auto length = static_cast<int>(text.size());
  int needed = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                   length, nullptr, 0);
  if (needed <= 0) return false;
  wide->resize(static_cast<size_t>(needed));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length,
                             wide->data(), needed) == needed;
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
