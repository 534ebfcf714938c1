// UTF-8 as the tool checks it, in names and in what it prints of them.
#ifndef THEMEUNPACK_TEXT_UTF8_H
#define THEMEUNPACK_TEXT_UTF8_H

#include <cstddef>
#include <string>

// The length of the well-formed UTF-8 sequence that starts at `text` (no
// overlong form, no surrogate, nothing past U+10FFFF), or 0 when none does.
// `text` is NUL-terminated; the NUL itself is not a sequence.
size_t utf8_sequence_length(const unsigned char* text);

// The character of the well-formed sequence of `length` bytes at `text`.
char32_t utf8_character(const unsigned char* text, size_t length);

// `character` (at most U+10FFFF, no surrogate) appended to `text` as UTF-8.
void append_utf8(char32_t character, std::string* text);

#endif
