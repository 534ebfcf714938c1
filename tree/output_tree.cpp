#include "tree/output_tree.h"

#include <cstring>

#include "tree/output_names.h"
#include "tree/output_tree_platform.h"

namespace {

bool is_separator(char c) { return c == '/' || c == '\\'; }

const char* last_component(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash == nullptr ? path : slash + 1;
}

// What the path itself rules out, before anything is looked up for it.
tree_result check_path(const char* path) {
  if (leads_outside(path)) return tree_result::leads_outside;
  if (platform_cannot_hold(path)) return tree_result::cannot_hold;
  return tree_result::done;
}

// A path that ends in "/" or "." names a directory, never a file.
bool names_a_file(const std::string& name) {
  return !name.empty() && name != ".";
}

// Ends the output: its file, if any, is discarded and its directory closed.
void end_output(staged_output* output) {
  if (output->file != NO_HANDLE) discard_output_file(output);
  if (output->directory != NO_HANDLE) {
    close_output_directory(*output->tree, output->directory);
  }
  output->directory = NO_HANDLE;
  output->file = NO_HANDLE;
  output->temporary.clear();
}

// A failed output keeps its first failure, and why, and holds nothing any
// more.
tree_result fail_output(staged_output* output, const tree_failure& failure) {
  end_output(output);
  output->failure = failure.result;
  output->error = failure.error;
  return failure.result;
}

tree_result ensure_output_file(staged_output* output) {
  if (output->failure != tree_result::done) return output->failure;
  if (output->directory == NO_HANDLE) return tree_result::cannot_write;
  if (output->file != NO_HANDLE) return tree_result::done;
  tree_result made = create_output_file(output);
  return made == tree_result::done ? made
                                   : fail_output(output, {made, output->error});
}

}  // namespace

staged_output::~staged_output() { end_output(this); }

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

tree_result check_output_path(const char* path, int* error) {
  tree_result path_check = check_path(path);
  if (path_check != tree_result::done) return path_check;
  if (names_a_file(last_component(path))) return tree_result::done;
  *error = directory_in_the_way_error();
  return tree_result::cannot_write;
}

tree_result make_output_directories(output_tree* tree, const char* path) {
  tree_result path_check = check_path(path);
  if (path_check != tree_result::done) return path_check;
  tree_failure why;
  native_handle directory = open_output_parent(tree, path, true, &why);
  if (directory == NO_HANDLE) return why.result;
  close_output_directory(*tree, directory);
  return tree_result::done;
}

tree_result stage_output(output_tree* tree, const char* path, stage_mode mode,
                         staged_output* output) {
  end_output(output);
  output->tree = tree;
  output->name.clear();
  output->error = 0;
  output->failure = check_path(path);
  if (output->failure != tree_result::done) return output->failure;

  tree_failure why;
  bool make = mode == stage_mode::make_directories;
  native_handle directory = open_output_parent(tree, path, make, &why);
  if (directory == NO_HANDLE) return fail_output(output, why);
  output->directory = directory;
  output->name = last_component(path);
  if (!names_a_file(output->name)) {
    return fail_output(
        output, {tree_result::cannot_write, directory_in_the_way_error()});
  }
  if (mode == stage_mode::check_name) {
    tree_failure standing = check_output_name(*tree, directory, output->name);
    if (standing.result != tree_result::done)
      return fail_output(output, standing);
  }
  return tree_result::done;
}

tree_result append_output(staged_output* output, const void* bytes,
                          size_t size) {
  tree_result ready = ensure_output_file(output);
  if (ready != tree_result::done) return ready;
  int error = write_output_bytes(output->file, bytes, size);
  if (error != 0)
    return fail_output(output, {tree_result::cannot_write, error});
  return tree_result::done;
}

uint64_t copy_into_output(staged_output* output, native_handle source,
                          uint64_t offset, uint64_t length) {
  if (ensure_output_file(output) != tree_result::done) return 0;
  return copy_output_bytes(output->tree, output->file, source, offset, length);
}

tree_result publish_output(staged_output* output) {
  tree_result ready = ensure_output_file(output);
  if (ready != tree_result::done) return ready;
  tree_result named = name_output_file(output);
  // The file is closed and named, or gone, either way: there is nothing left
  // to discard, and the output is spent.
  output->file = NO_HANDLE;
  end_output(output);
  return named;
}
