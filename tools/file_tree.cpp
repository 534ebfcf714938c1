#include "tools/file_tree.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

bool list_directory(const std::string& path, std::vector<std::string>* names) {
  names->clear();
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return false;
  while (dirent* item = readdir(dir)) {
    std::string name = item->d_name;
    if (name != "." && name != "..") names->push_back(name);
  }
  closedir(dir);
  std::sort(names->begin(), names->end());
  return true;
}

bool read_whole_file(const std::string& path, std::string* contents) {
  contents->clear();
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  char buffer[65536];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) {
    contents->append(buffer, got);
  }
  bool read = ferror(file) == 0;
  fclose(file);
  return read;
}

void remove_tree(const std::string& path) {
  struct stat status;
  if (lstat(path.c_str(), &status) != 0) return;
  if (!S_ISDIR(status.st_mode)) {
    unlink(path.c_str());
    return;
  }
  chmod(path.c_str(), 0700);
  std::vector<std::string> names;
  list_directory(path, &names);
  for (const std::string& name : names) remove_tree(path + "/" + name);
  rmdir(path.c_str());
}
