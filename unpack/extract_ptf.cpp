#include "unpack/extract_ptf.h"

#include <cstdlib>
#include <string>

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
  unsigned char* image = nullptr;
  switch (read_theme_data(theme, 0, image_length, &image)) {
    case data_result::read:
      break;
    case data_result::outside_file:
      printf(SKIP_OUTSIDE_FILE, name);
      return false;
    case data_result::out_of_memory:
      printf(SKIP_NO_MEMORY, name);
      return false;
  }
  bool written = write_output_file(name, image, image_length);
  free(image);
  if (!written) printf(CANNOT_WRITE, name);
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
