#include "unpack/output_file.h"

#include <sys/stat.h>

#include <cstring>
#include <string>

namespace {

bool is_separator(char c) { return c == '/' || c == '\\'; }

bool is_symlink(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

}  // namespace

bool leads_outside(const char* path) {
  const char* component = path;
  for (const char* p = path;; ++p) {
    if (*p == '\0' || is_separator(*p)) {
      if (p - component == 2 && component[0] == '.' && component[1] == '.') {
        return true;
      }
      if (*p == '\0') return false;
      component = p + 1;
    }
  }
}

bool directories_hold_symlink(const char* path) {
  std::string prefix(path);
  for (size_t slash = prefix.find('/'); slash != std::string::npos;
       slash = prefix.find('/', slash + 1)) {
    if (slash > 0 && is_symlink(prefix.substr(0, slash))) return true;
  }
  return false;
}

bool path_holds_symlink(const char* path) {
  return directories_hold_symlink(path) || is_symlink(path);
}

FILE* create_output_file(const char* path) { return fopen(path, "w"); }

bool finish_output_file(FILE* file, const char* path) {
  bool written = !ferror(file);
  if (fclose(file) != 0) written = false;
  if (!written) remove(path);
  return written;
}

bool write_output_file(const char* path, const void* data, size_t size) {
  FILE* file = create_output_file(path);
  if (file == nullptr) return false;
  if (size > 0 && fwrite(data, 1, size, file) != size) {
    fclose(file);
    remove(path);
    return false;
  }
  return finish_output_file(file, path);
}
