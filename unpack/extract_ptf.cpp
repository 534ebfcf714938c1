#include "unpack/extract_ptf.h"

#include <string>

#include "unpack/block_output.h"
#include "unpack/messages.h"
#include "unpack/output_file.h"
#include "unpack/theme_directory.h"

namespace {

bool write_ptf_image(const theme_file& theme, uint32_t body_length,
                     const char* name) {
  if (path_holds_symlink(name, nullptr)) {
    printf(SKIP_SYMLINK, name);
    return false;
  }
  // Computed in 64 bits: a body length near 2^32 must not wrap to a short image.
  uint64_t image_length = static_cast<uint64_t>(body_length) + PTF_HEADER_SIZE;
  theme_block image;
  if (!load_theme_block(theme, 0, image_length, name, &image)) return false;
  bool written = save_theme_block(name, name, image);
  release_theme_data(&image);
  return written;
}

}  // namespace

phase_result extract_ptf(const theme_file& theme, const char* argument) {
  uint32_t body_length = 0;
  // Read only now, after every packed file has been written.
  if (!read_theme_u32(theme, PTF_BODY_LENGTH_OFFSET, &body_length)) {
    fclose(theme.stream);
    return phase_result::cannot_read;
  }
  std::string name = ptf_file_name(argument);
  bool written = write_ptf_image(theme, body_length, name.c_str());
  fclose(theme.stream);
  if (!written) return phase_result::had_errors;
  fputs(PTF_OK, stdout);
  return phase_result::ok;
}
