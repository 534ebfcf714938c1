#include "unpack/output_tree.h"

#include <cstring>

#include "unpack/output_tree_platform.h"

namespace {

bool is_separator(char c) { return c == '/' || c == '\\'; }

const char* last_component(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash == nullptr ? path : slash + 1;
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

tree_result make_output_directories(output_tree* tree, const char* path) {
  tree_result why = tree_result::cannot_write;
  native_handle directory = open_output_parent(tree, path, true, &why);
  if (directory == NO_HANDLE) return why;
  close_output_directory(*tree, directory);
  return tree_result::done;
}

tree_result prepare_output(output_tree* tree, const char* path,
                           bool make_directories) {
  release_prepared_output(tree);
  tree_result why = tree_result::cannot_write;
  native_handle directory =
      open_output_parent(tree, path, make_directories, &why);
  if (directory == NO_HANDLE) return why;
  tree->held = directory;
  tree->held_name = last_component(path);
  if (tree->held_name.empty() || tree->held_name == ".") {
    return tree_result::cannot_write;
  }
  return tree_result::done;
}

void release_prepared_output(output_tree* tree) {
  if (tree->held != NO_HANDLE) close_output_directory(*tree, tree->held);
  tree->held = NO_HANDLE;
  tree->held_name.clear();
}
