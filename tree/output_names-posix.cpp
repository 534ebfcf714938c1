#include <cstring>

#include "tree/output_names.h"

// Only "/" separates; every other byte, a backslash too, is part of a name,
// and the file system holds any name.
void use_platform_separators(char*) {}

bool platform_cannot_hold(const char*) { return false; }

const char* platform_base_name(const char* argument) {
  const char* slash = strrchr(argument, '/');
  return slash == nullptr ? argument : slash + 1;
}

std::string platform_made_name(std::string name) { return name; }
