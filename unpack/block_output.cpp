#include "unpack/block_output.h"

#include <algorithm>
#include <cstdio>

#include "unpack/messages.h"

bool output_refused(tree_result result) {
  return result != tree_result::done && result != tree_result::cannot_write;
}

bool report_output(tree_result result, const staged_output& output,
                   const char* path, const char* name) {
  switch (result) {
    case tree_result::done:
      return true;
    case tree_result::leads_outside:
      print_about(SKIP_OUTSIDE_DIRECTORY, name);
      return false;
    case tree_result::cannot_hold:
      print_about(SKIP_NOT_ON_WINDOWS, name);
      return false;
    case tree_result::through_link:
      print_about(SKIP_SYMLINK, name);
      return false;
    case tree_result::protected_file:
      print_about(SKIP_THEME_FILE, name);
      return false;
    case tree_result::cannot_write:
      print_about_because(CANNOT_WRITE, path, system_reason(output.error));
      return false;
  }
  return false;
}

bool save_theme_block(const theme_file& theme, uint64_t offset, uint64_t length,
                      const copy_buffer& buffer, staged_output* output,
                      const char* path, const char* name) {
  // The system copies what it can; the buffer takes over from where it
  // stopped, and finds out why.
  uint64_t copied =
      copy_into_output(output, theme_file_handle(theme), offset, length);
  while (copied < length) {
    auto piece =
        static_cast<size_t>(std::min<uint64_t>(buffer.size, length - copied));
    if (!read_theme_bytes(theme, offset + copied, buffer.bytes, piece)) {
      // The file cut short meanwhile, or a failing disk: the user needs to
      // know which.
      if (theme.read_error == THEME_ENDED_EARLY) {
        print_about(SKIP_OUTSIDE_FILE, name);
      } else {
        print_about_because(SKIP_CANNOT_READ, name,
                            system_reason(theme.read_error));
      }
      return false;
    }
    tree_result appended = append_output(output, buffer.bytes, piece);
    if (appended != tree_result::done)
      return report_output(appended, *output, path, name);
    copied += piece;
  }
  tree_result published = publish_output(output);
  return report_output(published, *output, path, name);
}
