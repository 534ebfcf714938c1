// How a message reaches the user on POSIX systems: its bytes on standard
// output, and the C library's words for an errno value.
#include <cstdio>
#include <cstring>
#include <string>

#include "unpack/messages.h"

void print_text(const std::string& text) {
  fwrite(text.data(), 1, text.size(), stdout);
}

std::string system_reason(int error) {
  if (error == 0) return "unknown error";
  return strerror(error);
}
