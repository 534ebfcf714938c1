#include "unpack/block_output.h"

#include <cstdio>

#include "unpack/messages.h"

bool load_theme_block(const theme_file& theme, uint64_t offset, uint64_t length,
                      const char* name, theme_block* block) {
  switch (read_theme_data(theme, offset, length, block)) {
    case data_result::read:
      return true;
    case data_result::outside_file:
      print_about(SKIP_OUTSIDE_FILE, name);
      return false;
    case data_result::out_of_memory:
      print_about(SKIP_NO_MEMORY, name);
      return false;
  }
  return false;
}

tree_result prepare_checked_output(output_tree* tree, const char* path) {
  tree_result target = prepare_output(tree, path, false);
  return target == tree_result::done ? check_prepared_output(*tree) : target;
}

bool output_refused(tree_result result) {
  return result == tree_result::through_link ||
         result == tree_result::theme_file;
}

bool report_output(tree_result result, const char* path, const char* name) {
  switch (result) {
    case tree_result::done:
      return true;
    case tree_result::through_link:
      print_about(SKIP_SYMLINK, name);
      return false;
    case tree_result::theme_file:
      print_about(SKIP_THEME_FILE, name);
      return false;
    case tree_result::cannot_write:
      print_about(CANNOT_WRITE, path);
      return false;
    case tree_result::source_lost:
      // The theme file was cut short after its length was learnt.
      print_about(SKIP_OUTSIDE_FILE, name);
      return false;
  }
  return false;
}

bool save_theme_block(output_tree* tree, tree_result prepared,
                      const char* path, const char* name,
                      const theme_block& block) {
  tree_result result = prepared;
  if (prepared == tree_result::done) {
    // A block in memory is never longer than the address space. Only a mapped
    // block can lose bytes after it was taken: a read would have seen them go.
    auto size = static_cast<size_t>(block.length);
    uint64_t source_end = block.mapping_length > 0 ? block.offset + block.length : 0;
    result = write_prepared_output(tree, block.bytes, size, source_end);
  }
  release_prepared_output(tree);
  return report_output(result, path, name);
}
