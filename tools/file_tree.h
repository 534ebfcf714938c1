// Files and directories as the tests, the fuzz target and the benchmark look at
// them: one way to list, read and remove, shared by all three.
#ifndef THEMEUNPACK_TOOLS_FILE_TREE_H
#define THEMEUNPACK_TOOLS_FILE_TREE_H

#include <string>
#include <vector>

// The names in the directory `path`, "." and ".." left out, sorted. False when
// it cannot be listed.
bool list_directory(const std::string& path, std::vector<std::string>* names);

// The whole contents of the file `path`. False when it cannot be read.
bool read_whole_file(const std::string& path, std::string* contents);

// Removes `path` and everything below it, making each directory searchable and
// writable first (a test may leave one that is not); links are removed, never
// followed.
void remove_tree(const std::string& path);

#endif
