#include "unpack/messages.h"

#include "text/utf8.h"

namespace {

constexpr unsigned char FIRST_PRINTED = 0x20;
constexpr unsigned char DELETE = 0x7F;
constexpr unsigned char LAST_C1_CONTROL = 0x9F;

// A C1 control (U+0080-U+009F), which some terminals take for the start of an
// escape sequence, or a control of the text's direction (U+202A-U+202E,
// U+2066-U+2069), which turns what follows it around on the screen.
bool is_hidden_control(const unsigned char* sequence, size_t length) {
  if (length == 2) return sequence[0] == 0xC2 && sequence[1] <= LAST_C1_CONTROL;
  if (length != 3 || sequence[0] != 0xE2) return false;
  return (sequence[1] == 0x80 && sequence[2] >= 0xAA && sequence[2] <= 0xAE) ||
         (sequence[1] == 0x81 && sequence[2] >= 0xA6 && sequence[2] <= 0xA9);
}

// Bytes 0x80-0x9F on their own are C1 controls to a terminal that does not
// read UTF-8.
bool is_escaped_byte(unsigned char byte) {
  return byte < FIRST_PRINTED || byte == DELETE ||
         (byte > DELETE && byte <= LAST_C1_CONTROL);
}

void append_escaped(const unsigned char* bytes, size_t length,
                    std::string* shown) {
  static const char HEX_DIGITS[] = "0123456789abcdef";
  for (size_t i = 0; i < length; ++i) {
    *shown += "\\x";
    *shown += HEX_DIGITS[bytes[i] >> 4];
    *shown += HEX_DIGITS[bytes[i] & 0xF];
  }
}

}  // namespace

std::string shown_name(const char* name) {
  std::string shown;
  const auto* p = reinterpret_cast<const unsigned char*>(name);
  while (*p != '\0') {
    size_t length = utf8_sequence_length(p);
    if (length > 1) {
      if (is_hidden_control(p, length)) {
        append_escaped(p, length, &shown);
      } else {
        shown.append(reinterpret_cast<const char*>(p), length);
      }
      p += length;
      continue;
    }
    if (is_escaped_byte(*p)) {
      append_escaped(p, 1, &shown);
    } else {
      shown += static_cast<char>(*p);
    }
    ++p;
  }
  return shown;
}

std::string fill_message(const char* format,
                         std::initializer_list<std::string> values) {
  std::string text;
  const std::string* next = values.begin();
  for (const char* p = format; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 's' && next != values.end()) {
      text += *next++;
      ++p;
    } else {
      text += *p;
    }
  }
  return text;
}

void print_about(const char* format, const char* name) {
  print_text(fill_message(format, {shown_name(name)}));
}

void print_about_because(const char* format, const char* name,
                         const std::string& reason) {
  print_text(fill_message(format, {shown_name(name), reason}));
}
