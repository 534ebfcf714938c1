#include "unpack/extract_ptf.h"

#include <string>

#include "unpack/messages.h"
#include "unpack/theme_directory.h"

namespace {

bool write_ptf_image(const theme_file& theme, output_tree* tree,
                     const copy_buffer& buffer, uint32_t body_length,
                     const char* name) {
  staged_output output;
  tree_result target =
      stage_output(tree, name, stage_mode::check_name, &output);
  if (output_refused(target)) return report_output(target, output, name, name);
  // Computed in 64 bits: a body length near 2^32 must not wrap to a short
  // image.
  uint64_t image_length = static_cast<uint64_t>(body_length) + PTF_HEADER_SIZE;
  if (!theme_range_fits(theme, 0, image_length)) {
    print_about(SKIP_OUTSIDE_FILE, name);
    return false;
  }
  if (target != tree_result::done) {
    return report_output(target, output, name, name);
  }
  return save_theme_block(theme, 0, image_length, buffer, &output, name, name);
}

}  // namespace

phase_result extract_ptf(const theme_file& theme, output_tree* tree,
                         const copy_buffer& buffer, const char* argument) {
  uint32_t body_length = 0;
  // Read only now, after every packed file has been written.
  if (!read_theme_u32(theme, PTF_BODY_LENGTH_OFFSET, &body_length)) {
    fclose(theme.stream);
    return phase_result::cannot_read;
  }
  std::string name = ptf_file_name(argument);
  bool written =
      write_ptf_image(theme, tree, buffer, body_length, name.c_str());
  fclose(theme.stream);
  if (!written) return phase_result::had_errors;
  print_text(PTF_OK);
  return phase_result::ok;
}
