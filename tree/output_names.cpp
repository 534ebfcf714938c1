#include "tree/output_names.h"

#include <cctype>
#include <cstring>
#include <string>

#include "text/utf8.h"

namespace {

constexpr const char* RESERVED_DEVICE_NAMES[] = {"CON", "PRN",    "AUX",
                                                 "NUL", "CONIN$", "CONOUT$"};
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

// COM and LPT take a digit, or one of the superscript digits 1, 2 and 3
// (U+00B9, U+00B2, U+00B3), which Windows reserves as well.
bool ends_in_device_number(const std::string& stem) {
  if (stem.size() == 4)
    return isdigit(static_cast<unsigned char>(stem[3])) != 0;
  if (stem.size() != 5 || stem[3] != '\xc2') return false;
  return stem[4] == '\xb9' || stem[4] == '\xb2' || stem[4] == '\xb3';
}

// The name before its first "." with trailing spaces dropped is what Windows
// takes for a device: "nul.txt" and "NUL .txt" both name NUL.
bool is_reserved_device_name(const std::string& component) {
  std::string stem = component.substr(0, component.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (const char* reserved : RESERVED_DEVICE_NAMES) {
    if (equal_ignoring_case(stem, reserved)) return true;
  }
  if (!ends_in_device_number(stem)) return false;
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

bool is_valid_utf8(const char* text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (*p != '\0') {
    size_t length = utf8_sequence_length(p);
    if (length == 0) return false;
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

std::string without_trailing_dots_and_spaces(std::string name) {
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
    name.pop_back();
  }
  return name;
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
