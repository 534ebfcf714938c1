#include "unpack/list_outputs.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "tree/output_tree.h"
#include "unpack/extract_entries.h"
#include "unpack/messages.h"
#include "unpack/theme_directory.h"
#include "unpack/theme_info.h"

namespace {

// The outputs listed so far.
struct listing {
  std::string directory;  // the theme directory's name, in front of each path
  uint64_t files = 0;
  uint64_t bytes = 0;
  bool skipped = false;
};

// `path` as a run makes it inside the theme directory: "./x/y" is "x/y".
std::string inside_directory(const listing& list, const std::string& path) {
  bool dotted = path.compare(0, 2, "./") == 0;
  return list.directory + "/" + (dotted ? path.substr(2) : path);
}

void list_output(listing* list, uint64_t size, const std::string& path) {
  char size_text[32];
  snprintf(size_text, sizeof size_text, "%*llu", LIST_SIZE_WIDTH,
           static_cast<unsigned long long>(size));
  std::string shown = shown_name(inside_directory(*list, path).c_str());
  print_text(fill_message(LIST_LINE, {size_text, shown}));
  ++list->files;
  list->bytes += size;
}

// Prints the run's message for an output that `path`, what its path alone
// rules out, says it would not write.
void report_path(listing* list, tree_result path, int error, const char* target,
                 const char* name) {
  if (path == tree_result::leads_outside) {
    print_about(SKIP_OUTSIDE_DIRECTORY, name);
  } else if (path == tree_result::cannot_hold) {
    print_about(SKIP_NOT_ON_WINDOWS, name);
  } else {
    print_about_because(CANNOT_WRITE, target, system_reason(error));
  }
  list->skipped = true;
}

// One block's output, in the order of a run's checks: what its path rules
// out, then data outside the theme file, then a path that names no file. A
// diverted patch's own path always names a file.
void list_block(listing* list, const theme_file& theme, uint64_t offset,
                uint64_t length, const char* checked_path, const char* target,
                const char* name) {
  int error = 0;
  tree_result path = check_output_path(checked_path, &error);
  bool refused = path != tree_result::done && path != tree_result::cannot_write;
  if (!refused && !theme_range_fits(theme, offset, length)) {
    print_about(SKIP_OUTSIDE_FILE, name);
    list->skipped = true;
  } else if (path != tree_result::done) {
    report_path(list, path, error, target, name);
  } else {
    list_output(list, length, target);
  }
}

void list_entry(listing* list, const theme_file& theme,
                const theme_entry& entry) {
  char output_path[OUTPUT_PATH_SIZE];
  form_output_path(entry.name, output_path);
  const patch_redirect* redirect = find_patch_redirect(output_path);
  const char* target = redirect != nullptr ? redirect->patch_path : output_path;
  list_block(list, theme, entry.offset, entry.size, output_path, target,
             entry.name);
}

// The entries in table order; false when the table cannot be read.
bool list_entries(listing* list, const theme_file& theme, uint32_t file_count) {
  if (!theme_table_fits(theme, file_count)) {
    print_text(TABLE_DOES_NOT_FIT);
    list->skipped = true;
    return true;
  }
  theme_entry batch[THEME_ENTRIES_PER_READ];
  for (uint32_t first = 0; first < file_count;) {
    uint32_t count = std::min(file_count - first, THEME_ENTRIES_PER_READ);
    if (!read_theme_entries(theme, file_count, first, count, batch)) {
      return false;
    }
    for (uint32_t i = 0; i < count; ++i) list_entry(list, theme, batch[i]);
    first += count;
  }
  return true;
}

}  // namespace

phase_result list_theme_outputs(const theme_file& theme, const char* argument) {
  listing list;
  list.directory = theme_directory_name(argument);
  std::string report;
  uint32_t file_count = 0;
  if (!make_theme_report(theme, &report, &file_count)) {
    return phase_result::cannot_read;
  }
  list_output(&list, report.size(), THEME_INFO_FILE);
  if (!list_entries(&list, theme, file_count)) return phase_result::cannot_read;
  uint32_t body_length = 0;
  if (!read_theme_u32(theme, PTF_BODY_LENGTH_OFFSET, &body_length)) {
    return phase_result::cannot_read;
  }
  std::string name = ptf_file_name(argument);
  uint64_t image_length = static_cast<uint64_t>(body_length) + PTF_HEADER_SIZE;
  list_block(&list, theme, 0, image_length, name.c_str(), name.c_str(),
             name.c_str());
  print_text(fill_message(
      LIST_TOTAL, {std::to_string(list.files), std::to_string(list.bytes)}));
  return list.skipped ? phase_result::had_errors : phase_result::ok;
}
