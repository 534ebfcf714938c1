#include "unpack/messages.h"

#include <cstdio>

namespace {

constexpr unsigned char FIRST_PRINTED = 0x20;
constexpr unsigned char DELETE = 0x7F;

}  // namespace

std::string shown_name(const char* name) {
  static const char HEX_DIGITS[] = "0123456789abcdef";
  std::string shown;
  for (const char* p = name; *p != '\0'; ++p) {
    auto byte = static_cast<unsigned char>(*p);
    if (byte >= FIRST_PRINTED && byte != DELETE) {
      shown += *p;
      continue;
    }
    shown += "\\x";
    shown += HEX_DIGITS[byte >> 4];
    shown += HEX_DIGITS[byte & 0xF];
  }
  return shown;
}

void print_about(const char* format, const char* name) {
  printf(format, shown_name(name).c_str());
}
