#include "text/utf8.h"

namespace {

// The length of the sequence a lead byte starts, or 0 for a byte that cannot
// start one.
size_t lead_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

}  // namespace

size_t utf8_sequence_length(const unsigned char* text) {
  if (*text == '\0') return 0;
  size_t length = lead_length(*text);
  if (length == 0) return 0;
  unsigned char second = length > 1 ? text[1] : 0;
  if ((*text == 0xE0 && second < 0xA0) || (*text == 0xED && second > 0x9F) ||
      (*text == 0xF0 && second < 0x90) || (*text == 0xF4 && second > 0x8F)) {
    return 0;
  }
  for (size_t i = 1; i < length; ++i) {
    if ((text[i] & 0xC0) != 0x80) return 0;
  }
  return length;
}

char32_t utf8_character(const unsigned char* text, size_t length) {
  static const unsigned char LEAD_BITS[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  char32_t character = text[0] & LEAD_BITS[length];
  for (size_t i = 1; i < length; ++i) {
    character = character << 6 | (text[i] & 0x3F);
  }
  return character;
}

void append_utf8(char32_t character, std::string* text) {
  if (character < 0x80) {
    *text += static_cast<char>(character);
    return;
  }
  size_t length = character < 0x800 ? 2 : character < 0x10000 ? 3 : 4;
  static const unsigned char LEAD_MARKS[] = {0, 0, 0xC0, 0xE0, 0xF0};
  std::string sequence(length, '\0');
  for (size_t i = length - 1; i > 0; --i) {
    sequence[i] = static_cast<char>(0x80 | (character & 0x3F));
    character >>= 6;
  }
  sequence[0] = static_cast<char>(LEAD_MARKS[length] | character);
  *text += sequence;
}
