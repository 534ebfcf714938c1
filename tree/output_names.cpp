#include "tree/output_names.h"

#include <cctype>
#include <cstring>
#include <string>

namespace {

constexpr const char* RESERVED_DEVICE_NAMES[] = {"CON", "PRN", "AUX", "NUL",
                                                 "CONIN$", "CONOUT$"};
constexpr const char* NUMBERED_DEVICE_NAMES[] = {"COM", "LPT"};
constexpr const char* FORBIDDEN_CHARACTERS = ":<>\"|?*";
constexpr unsigned char FIRST_PRINTED = 0x20;

bool equal_ignoring_case(const std::string& a, const char* b) {
  if (a.size() != strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (toupper(static_cast<unsigned char>(a[i])) != b[i]) return false;
  }
  return true;
}

// The name before its first "." with trailing spaces dropped is what Windows
// takes for a device: "nul.txt" and "NUL .txt" both name NUL.
bool is_reserved_device_name(const std::string& component) {
  std::string stem = component.substr(0, component.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (const char* reserved : RESERVED_DEVICE_NAMES) {
    if (equal_ignoring_case(stem, reserved)) return true;
  }
  if (stem.size() != 4 || !isdigit(static_cast<unsigned char>(stem[3]))) {
    return false;
  }
  for (const char* numbered : NUMBERED_DEVICE_NAMES) {
    if (equal_ignoring_case(stem.substr(0, 3), numbered)) return true;
  }
  return false;
}

bool component_unusable(const std::string& component) {
  if (component.empty() || component == ".") return false;
  for (char c : component) {
    if (static_cast<unsigned char>(c) < FIRST_PRINTED ||
        strchr(FORBIDDEN_CHARACTERS, c) != nullptr) {
      return true;
    }
  }
  char last = component.back();
  return last == '.' || last == ' ' || is_reserved_device_name(component);
}

// The length of the UTF-8 sequence a lead byte starts, or 0 for a byte that
// cannot start one.
int sequence_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// Well-formed UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool is_valid_utf8(const char* text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (*p != '\0') {
    int length = sequence_length(*p);
    if (length == 0) return false;
    unsigned char second = length > 1 ? p[1] : 0;
    if ((*p == 0xE0 && second < 0xA0) || (*p == 0xED && second > 0x9F) ||
        (*p == 0xF0 && second < 0x90) || (*p == 0xF4 && second > 0x8F)) {
      return false;
    }
    for (int i = 1; i < length; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
    }
    p += length;
  }
  return true;
}

bool is_drive_letter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

bool windows_cannot_hold(const char* path) {
  if (!is_valid_utf8(path)) return true;
  std::string component;
  for (const char* p = path;; ++p) {
    if (*p == '\0' || *p == '/' || *p == '\\') {
      if (component_unusable(component)) return true;
      if (*p == '\0') return false;
      component.clear();
    } else {
      component += *p;
    }
  }
}

void turn_backslashes_into_slashes(char* path) {
  for (char* p = path; *p != '\0'; ++p) {
    if (*p == '\\') *p = '/';
  }
}

const char* windows_base_name(const char* argument) {
  const char* base = argument;
  if (is_drive_letter(argument[0]) && argument[1] == ':') base = argument + 2;
  for (const char* p = base; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') base = p + 1;
  }
  return base;
}
