#include <utility>

#include "tree/output_names.h"

// "\" separates like "/", in stored names and in the argument alike, and the
// names Windows cannot hold are refused before anything is made for them.
void use_platform_separators(char* output_path) {
  turn_backslashes_into_slashes(output_path);
}

bool platform_cannot_hold(const char* output_path) {
  return windows_cannot_hold(output_path);
}

const char* platform_base_name(const char* argument) {
  return windows_base_name(argument);
}

// "t.ctf." gives the folder "t_ctf", as Windows itself would name it.
std::string platform_made_name(std::string name) {
  return without_trailing_dots_and_spaces(std::move(name));
}
