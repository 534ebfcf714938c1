#include "unpack/theme_directory.h"

#include "tree/output_names.h"

const char* theme_base_name(const char* argument) {
  return platform_base_name(argument);
}

std::string theme_directory_name(const char* argument) {
  std::string name = theme_base_name(argument);
  size_t dot = name.find('.');
  if (dot == std::string::npos) {
    name += '_';
  } else {
    name[dot] = '_';
  }
  return platform_made_name(name);
}

std::string theme_directory_path(const char* argument, bool beside_theme_file) {
  std::string name = theme_directory_name(argument);
  if (!beside_theme_file) return name;
  // The folder part of the argument, separator and drive included.
  std::string folder(argument, theme_base_name(argument));
  return folder + name;
}

std::string ptf_file_name(const char* argument) {
  std::string name = theme_base_name(argument);
  size_t dot = name.rfind('.');
  if (dot == std::string::npos) return platform_made_name(name + ".ptf");
  return platform_made_name(name.substr(0, dot) + ".ptf");
}
