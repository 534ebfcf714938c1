#include "unpack/extract_ptf.h"

#include <string>

#include "unpack/block_output.h"
#include "unpack/messages.h"
#include "unpack/theme_directory.h"

namespace {

bool write_ptf_image(const theme_file& theme, output_tree* tree,
                     uint32_t body_length, const char* name) {
  tree_result target = prepare_checked_output(tree, name);
  if (output_refused(target)) {
    release_prepared_output(tree);
    return report_output(target, name, name);
  }
  // Computed in 64 bits: a body length near 2^32 must not wrap to a short image.
  uint64_t image_length = static_cast<uint64_t>(body_length) + PTF_HEADER_SIZE;
  theme_block image;
  if (!load_theme_block(theme, 0, image_length, name, &image)) {
    release_prepared_output(tree);
    return false;
  }
  bool written = save_theme_block(tree, target, name, name, image);
  release_theme_data(&image);
  return written;
}

}  // namespace

phase_result extract_ptf(const theme_file& theme, output_tree* tree,
                         const char* argument) {
  uint32_t body_length = 0;
  // Read only now, after every packed file has been written.
  if (!read_theme_u32(theme, PTF_BODY_LENGTH_OFFSET, &body_length)) {
    fclose(theme.stream);
    return phase_result::cannot_read;
  }
  std::string name = ptf_file_name(argument);
  bool written = write_ptf_image(theme, tree, body_length, name.c_str());
  fclose(theme.stream);
  if (!written) return phase_result::had_errors;
  fputs(PTF_OK, stdout);
  return phase_result::ok;
}
