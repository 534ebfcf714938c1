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
