#include "tests/unpack_oracle.h"

#include <strings.h>

#include <cstdint>
#include <cstdio>

namespace {

constexpr uint64_t HEADER_SIZE = 320;
constexpr uint64_t RECORD_SIZE = 72;
constexpr size_t NAME_LIMIT = 63;

uint32_t u32_at(const std::string& bytes, uint64_t offset) {
  uint32_t value = 0;
  for (uint64_t i = 4; i-- > 0;) {
    value = value << 8 | static_cast<unsigned char>(bytes[offset + i]);
  }
  return value;
}

// A text field up to its first NUL, through a newline, or to its limit.
std::string text_at(const std::string& bytes, uint64_t offset, size_t limit) {
  std::string value;
  for (size_t i = 0; i < limit; ++i) {
    char c = bytes[offset + i];
    if (c == '\0') break;
    value += c;
    if (c == '\n') break;
  }
  return value;
}

std::string report_of(const std::string& bytes) {
  char count[16];
  snprintf(count, sizeof count, "%d",
           static_cast<int32_t>(u32_at(bytes, 0x18)));
  return "Short theme name: " + text_at(bytes, 0x8, 8) +
         "\nInternal ID: " + text_at(bytes, 0x88, 8) +
         "\nRequired firmware: " + text_at(bytes, 0xC0, 4) +
         "\nFiles in theme: " + count + "\n";
}

// Collapses "./a//b/./c" to "a/b/c".
std::string normalise(const std::string& path) {
  std::string result;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string component = path.substr(start, end - start);
    if (!component.empty() && component != ".") {
      if (!result.empty()) result += '/';
      result += component;
    }
    start = end + 1;
  }
  return result;
}

bool has_dot_dot(const std::string& path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of("/\\", start);
    if (end == std::string::npos) end = path.size();
    if (end - start == 2 && path.compare(start, 2, "..") == 0) return true;
    start = end + 1;
  }
  return false;
}

// "x/" and "x/." name directories: no file can be created there.
bool names_a_directory(const std::string& path) {
  std::string last = path.substr(path.rfind('/') + 1);
  return last.empty() || last == ".";
}

std::string target_of(const std::string& output_path) {
  static const char* const redirects[][2] = {
      {"./vsh/module/common_gui.prx", "patch-only/common_gui.prx.patch"},
      {"./vsh/module/paf.prx", "patch-only/paf.prx.patch"},
      {"./vsh/module/vshmain.prx", "patch-only/vshmain.prx.patch"}};
  for (const auto& redirect : redirects) {
    if (strcasecmp(output_path.c_str(), redirect[0]) == 0) return redirect[1];
  }
  return normalise(output_path);
}

bool reports_failure(const std::string& output) {
  for (const char* failure :
       {"Skipping ", "Cannot ", "File table does not fit", "with errors",
        "Invalid theme file.", " not found.\n"}) {
    if (output.find(failure) != std::string::npos) return true;
  }
  return false;
}

bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() &&
         text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::map<std::string, std::string> expected_contents(const std::string& bytes) {
  std::map<std::string, std::string> expected;
  expected["theme info.txt"] = report_of(bytes);
  uint64_t length = bytes.size();
  uint64_t count = u32_at(bytes, 0x18);
  if (count * RECORD_SIZE <= length) {
    for (uint64_t i = 0; i < count; ++i) {
      uint64_t record = length - (count - i) * RECORD_SIZE;
      std::string output_path = "." + text_at(bytes, record, NAME_LIMIT);
      uint64_t offset = u32_at(bytes, record + 64);
      uint64_t size = u32_at(bytes, record + 68);
      if (has_dot_dot(output_path) || names_a_directory(output_path) ||
          offset + size > length) {
        continue;
      }
      expected[target_of(output_path)] = bytes.substr(offset, size);
    }
  }
  uint64_t image = u32_at(bytes, 0x124) + HEADER_SIZE;
  if (image <= length) expected["theme.ptf"] = bytes.substr(0, image);
  return expected;
}

std::string status_problem(int status, const std::string& output) {
  bool failed = reports_failure(output);
  if (status == 0 && failed) return "status 0 after a failure message";
  if (status != 0 && !failed) return "failure status without a message";
  if (status == 0 && !ends_with(output, "Finished OK!\n")) {
    return "a clean run must end with Finished OK!";
  }
  return "";
}
