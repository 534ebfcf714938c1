// UTF-8 as the tool checks it, in names and in what it prints of them.
#ifndef THEMEUNPACK_TEXT_UTF8_H
#define THEMEUNPACK_TEXT_UTF8_H

#include <cstddef>

// The length of the well-formed UTF-8 sequence that starts at `text` (no
// overlong form, no surrogate, nothing past U+10FFFF), or 0 when none does.
// `text` is NUL-terminated; the NUL itself is not a sequence.
size_t utf8_sequence_length(const unsigned char* text);

#endif
