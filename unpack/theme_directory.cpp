#include "unpack/theme_directory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

const char* theme_base_name(const char* argument) {
  const char* slash = strrchr(argument, '/');
  return slash == nullptr ? argument : slash + 1;
}

std::string theme_directory_name(const char* argument) {
  std::string name = theme_base_name(argument);
  size_t dot = name.find('.');
  if (dot == std::string::npos) {
    name += '_';
  } else {
    name[dot] = '_';
  }
  return name;
}

bool make_theme_directory(const char* argument) {
  std::string directory = theme_directory_name(argument) + "/";
  // An existing directory is simply reused, so the result is not needed; whether
  // the directory can be entered is what decides.
  mkdir(directory.c_str(), DIRECTORY_MODE);
  if (chdir(directory.c_str()) != 0) return false;
  mkdir(PATCH_DIRECTORY, DIRECTORY_MODE);
  return true;
}

std::string ptf_file_name(const char* argument) {
  std::string name = theme_base_name(argument);
  size_t dot = name.rfind('.');
  if (dot == std::string::npos) return name + ".ptf";
  return name.substr(0, dot) + ".ptf";
}
