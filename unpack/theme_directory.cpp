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

std::string theme_folder(const char* argument) {
  return std::string(argument, theme_base_name(argument));
}

std::string ptf_file_name(const char* argument) {
  std::string name = theme_base_name(argument);
  size_t dot = name.rfind('.');
  if (dot == std::string::npos) return name + ".ptf";
  return name.substr(0, dot) + ".ptf";
}
