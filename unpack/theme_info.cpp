#include "unpack/theme_info.h"

#include <string>

#include "unpack/messages.h"
#include "unpack/output_file.h"

namespace {

// Reads one text field and writes its line to the report, when there is one.
bool report_text(const theme_file& theme, uint32_t offset, uint32_t limit,
                 const char* format, FILE* report) {
  std::string value;
  if (!read_theme_text(theme, offset, limit, &value)) return false;
  if (report != nullptr) fprintf(report, format, value.c_str());
  return true;
}

bool report_fields(const theme_file& theme, FILE* report,
                   uint32_t* file_count) {
  if (!report_text(theme, THEME_SHORT_NAME_OFFSET, THEME_SHORT_NAME_LIMIT,
                   "Short theme name: %s\n", report) ||
      !report_text(theme, THEME_INTERNAL_ID_OFFSET, THEME_INTERNAL_ID_LIMIT,
                   "Internal ID: %s\n", report) ||
      !report_text(theme, THEME_FIRMWARE_OFFSET, THEME_FIRMWARE_LIMIT,
                   "Required firmware: %s\n", report) ||
      !read_theme_u32(theme, THEME_FILE_COUNT_OFFSET, file_count)) {
    return false;
  }
  // The count is printed as the signed value of its 32 bits.
  if (report != nullptr) {
    fprintf(report, "Files in theme: %i\n", static_cast<int32_t>(*file_count));
  }
  return true;
}

}  // namespace

phase_result write_theme_info(const theme_file& theme, uint32_t* file_count) {
  bool refused = path_holds_symlink(THEME_INFO_FILE, nullptr);
  if (refused) printf(SKIP_SYMLINK, THEME_INFO_FILE);
  FILE* report = refused ? nullptr : create_output_file(THEME_INFO_FILE);

  if (!report_fields(theme, report, file_count)) {
    if (report != nullptr) {
      fclose(report);
      remove(THEME_INFO_FILE);
    }
    return phase_result::cannot_read;
  }
  if (refused) return phase_result::had_errors;
  if (report == nullptr || !finish_output_file(report, THEME_INFO_FILE)) {
    printf(CANNOT_WRITE, THEME_INFO_FILE);
    return phase_result::had_errors;
  }
  fputs(METADATA_OK, stdout);
  return phase_result::ok;
}
