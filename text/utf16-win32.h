// Windows only: text between the UTF-8 the tool works in throughout and the
// UTF-16 of the wide file API, so no name outside the ANSI code page is lost
// and no two names collapse into one.
#ifndef THEMEUNPACK_TEXT_UTF16_WIN32_H
#define THEMEUNPACK_TEXT_UTF16_WIN32_H

#include <string>

// `text` as UTF-16. Returns false when it is not valid UTF-8.
bool utf16_from_utf8(const std::string& text, std::wstring* wide);

// `text` as UTF-16 for showing it, any byte that is not UTF-8 as U+FFFD.
std::wstring utf16_shown_from_utf8(const std::string& text);

// `path` as a Windows path in its long form: UTF-16, made absolute, and
// behind "\\?\" (or "\\?\UNC\"), so that no length limit applies and no
// component, "aux.x.ctf" say, is taken for a device. Returns false when
// `path` is not valid UTF-8 or cannot be made absolute.
bool long_path_from_utf8(const std::string& path, std::wstring* wide);

// `wide` as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf8_from_utf16(const std::wstring& wide);

#endif
