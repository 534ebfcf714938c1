// How a message reaches the user on Windows: on a console as UTF-16, which it
// shows on every Windows version whatever its code page (a UTF-8 code page is
// honoured only from Windows 10 1903 on); redirected to a file or a pipe, the
// same UTF-8 bytes as on every platform. Reasons are the system's own
// messages.
#include <windows.h>

#include <cstdio>
#include <string>

#include "text/utf16-win32.h"
#include "unpack/messages.h"

namespace {

bool write_to_console(const std::string& text) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(output, &mode)) return false;
  std::wstring wide = utf16_shown_from_utf8(text);
  // Whatever went to the stream before must come first.
  fflush(stdout);
  const wchar_t* rest = wide.data();
  size_t left = wide.size();
  while (left > 0) {
    DWORD written = 0;
    if (!WriteConsoleW(output, rest, static_cast<DWORD>(left), &written,
                       nullptr) ||
        written == 0) {
      return false;
    }
    rest += written;
    left -= written;
  }
  return true;
}

bool is_trailing(wchar_t c) {
  return c == L'.' || c == L' ' || c == L'\r' || c == L'\n';
}

}  // namespace

void print_text(const std::string& text) {
  if (!write_to_console(text)) fwrite(text.data(), 1, text.size(), stdout);
}

std::string system_reason(int error) {
  auto code = static_cast<DWORD>(error);
  wchar_t* message = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  if (length == 0 || message == nullptr) {
    if (message != nullptr) LocalFree(message);
    return "error " + std::to_string(code);
  }
  std::wstring wide(message, length);
  LocalFree(message);
  // One line, without the closing full stop the message already ends in.
  while (!wide.empty() && is_trailing(wide.back())) wide.pop_back();
  for (wchar_t& c : wide) {
    if (c == L'\r' || c == L'\n') c = L' ';
  }
  return utf8_from_utf16(wide);
}
