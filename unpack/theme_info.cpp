#include "unpack/theme_info.h"

#include <cinttypes>
#include <string>

#include "unpack/block_output.h"
#include "unpack/messages.h"

namespace {

// Reads one text field and adds its line to the report.
bool report_text(const theme_file& theme, uint32_t offset, uint32_t limit,
                 const char* label, std::string* report) {
  std::string value;
  if (!read_theme_text(theme, offset, limit, &value)) return false;
  *report += label;
  *report += value;
  *report += '\n';
  return true;
}

}  // namespace

bool make_theme_report(const theme_file& theme, std::string* report,
                       uint32_t* file_count) {
  if (!report_text(theme, THEME_SHORT_NAME_OFFSET, THEME_SHORT_NAME_LIMIT,
                   "Short theme name: ", report) ||
      !report_text(theme, THEME_INTERNAL_ID_OFFSET, THEME_INTERNAL_ID_LIMIT,
                   "Internal ID: ", report) ||
      !report_text(theme, THEME_FIRMWARE_OFFSET, THEME_FIRMWARE_LIMIT,
                   "Required firmware: ", report) ||
      !read_theme_u32(theme, THEME_FILE_COUNT_OFFSET, file_count)) {
    return false;
  }
  // The count is printed as the signed value of its 32 bits.
  char count_line[32];
  snprintf(count_line, sizeof count_line, "Files in theme: %" PRId32 "\n",
           static_cast<int32_t>(*file_count));
  *report += count_line;
  return true;
}

phase_result write_theme_info(const theme_file& theme, output_tree* tree,
                              uint32_t* file_count) {
  staged_output output;
  tree_result target =
      stage_output(tree, THEME_INFO_FILE, stage_mode::check_name, &output);
  bool refused = output_refused(target);
  if (refused) report_output(target, output, THEME_INFO_FILE, THEME_INFO_FILE);

  // The report is made whole in memory and written in one piece; the fields
  // are read even when it cannot be written, since file_count is needed all
  // the same.
  std::string report;
  if (!make_theme_report(theme, &report, file_count))
    return phase_result::cannot_read;
  if (refused) return phase_result::had_errors;
  if (target == tree_result::done) {
    target = append_output(&output, report.data(), report.size());
  }
  if (target == tree_result::done) target = publish_output(&output);
  if (!report_output(target, output, THEME_INFO_FILE, THEME_INFO_FILE)) {
    return phase_result::had_errors;
  }
  print_text(METADATA_OK);
  return phase_result::ok;
}
