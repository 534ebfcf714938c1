#include "unpack/extract_entries.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "tree/output_names.h"
#include "unpack/block_output.h"
#include "unpack/messages.h"

namespace {

// The data stored for these modules are patches, not the modules themselves.
// Rows are compared in this order.
constexpr patch_redirect PATCH_REDIRECTS[] = {
    {"./vsh/module/common_gui.prx", "Unpacking common_gui.prx patch...\n",
     "./patch-only/common_gui.prx.patch"},
    {"./vsh/module/paf.prx", "Unpacking paf.prx patch...\n",
     "./patch-only/paf.prx.patch"},
    {"./vsh/module/vshmain.prx", "Unpacking vshmain.prx patch...\n",
     "./patch-only/vshmain.prx.patch"},
};

// Stages the entry's output and makes its directories. A refusal is met
// before anything is made for the entry (unless another process races the
// tool), so a refused entry leaves no trace. A diverted entry still has its own
// directories made, so both paths count, and what stands at its patch's name
// is looked at first, so that a refused patch is not announced. Any other
// entry's name is looked at only when its file is named: in a fresh theme
// directory almost every name is new.
tree_result stage_entry(output_tree* tree, const char* output_path,
                        const patch_redirect* redirect, staged_output* output) {
  if (redirect == nullptr) {
    return stage_output(tree, output_path, stage_mode::make_directories,
                        output);
  }
  tree_result target =
      stage_output(tree, redirect->patch_path, stage_mode::check_name, output);
  if (output_refused(target)) return target;
  // Directories that cannot be made show when the file in them cannot be.
  tree_result directories = make_output_directories(tree, output_path);
  return output_refused(directories) ? directories : target;
}

// Returns false when the entry was skipped or could not be written.
bool extract_entry(const theme_file& theme, output_tree* tree,
                   const copy_buffer& buffer, const theme_entry& entry) {
  char output_path[OUTPUT_PATH_SIZE];
  form_output_path(entry.name, output_path);
  const patch_redirect* redirect = find_patch_redirect(output_path);
  staged_output output;
  tree_result target = stage_entry(tree, output_path, redirect, &output);
  if (output_refused(target)) {
    return report_output(target, output, output_path, entry.name);
  }
  if (!theme_range_fits(theme, entry.offset, entry.size)) {
    print_about(SKIP_OUTSIDE_FILE, entry.name);
    return false;
  }
  const char* target_path = select_output_path(output_path);
  if (target != tree_result::done) {
    return report_output(target, output, target_path, entry.name);
  }
  return save_theme_block(theme, entry.offset, entry.size, buffer, &output,
                          target_path, entry.name);
}

}  // namespace

void form_output_path(const char* name, char* output_path) {
  output_path[0] = '.';
  strcpy(output_path + 1, name);
  use_platform_separators(output_path);
}

const patch_redirect* find_patch_redirect(const char* output_path) {
  for (const patch_redirect& redirect : PATCH_REDIRECTS) {
    if (strcasecmp(output_path, redirect.module_path) == 0) return &redirect;
  }
  return nullptr;
}

const patch_redirect* find_patch_source(const char* patch_path) {
  for (const patch_redirect& redirect : PATCH_REDIRECTS) {
    if (strcmp(patch_path, redirect.patch_path) == 0) return &redirect;
  }
  return nullptr;
}

const char* select_output_path(const char* output_path) {
  const patch_redirect* redirect = find_patch_redirect(output_path);
  if (redirect == nullptr) return output_path;
  print_text(redirect->notice);
  return redirect->patch_path;
}

phase_result extract_entries(const theme_file& theme, output_tree* tree,
                             const copy_buffer& buffer, uint32_t file_count) {
  // Checked first, so a damaged count cannot send the loop over billions of
  // records of garbage.
  if (!theme_table_fits(theme, file_count)) {
    print_text(TABLE_DOES_NOT_FIT);
    print_text(FILES_WITH_ERRORS);
    return phase_result::had_errors;
  }
  bool clean = true;
  theme_entry batch[THEME_ENTRIES_PER_READ];
  for (uint32_t first = 0; first < file_count;) {
    uint32_t count = std::min(file_count - first, THEME_ENTRIES_PER_READ);
    // Where a batch cannot be read, its records are taken one at a time, so
    // every entry before the first unreadable record is still extracted.
    if (!read_theme_entries(theme, file_count, first, count, batch)) {
      count = 1;
      if (!read_theme_entry(theme, file_count, first, batch)) {
        return phase_result::cannot_read;
      }
    }
    for (uint32_t i = 0; i < count; ++i) {
      if (!extract_entry(theme, tree, buffer, batch[i])) clean = false;
    }
    first += count;
  }
  print_text(clean ? FILES_OK : FILES_WITH_ERRORS);
  return clean ? phase_result::ok : phase_result::had_errors;
}
