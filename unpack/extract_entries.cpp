#include "unpack/extract_entries.h"

#include <strings.h>

#include <cstring>

#include "unpack/block_output.h"
#include "unpack/messages.h"
#include "unpack/output_file.h"

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

// Checked before anything is done for the entry, so a refused entry leaves no
// trace on disk.
bool path_is_refused(const theme_entry& entry, const char* output_path,
                     directory_cache* cache) {
  if (leads_outside(output_path)) {
    printf(SKIP_OUTSIDE_DIRECTORY, entry.name);
    return true;
  }
  const patch_redirect* redirect = find_patch_redirect(output_path);
  const char* target = redirect ? redirect->patch_path : output_path;
  // A planted "vsh -> /etc" would make the directories below it, and the file,
  // land outside the theme directory.
  // A diverted entry still has its own directories made, so both paths count.
  if (path_holds_symlink(target, cache) ||
      (redirect != nullptr && directories_hold_symlink(output_path, cache))) {
    printf(SKIP_SYMLINK, entry.name);
    return true;
  }
  return false;
}

// Returns false when the entry was skipped or could not be written.
bool extract_entry(const theme_file& theme, const theme_entry& entry,
                   directory_cache* cache) {
  char output_path[OUTPUT_PATH_SIZE];
  form_output_path(entry.name, output_path);
  if (path_is_refused(entry, output_path, cache)) return false;

  // Directories come first, even for entries whose data turn out to be
  // unreadable or that are diverted into "patch-only".
  make_parent_directories(output_path, cache);

  theme_block data;
  if (!load_theme_block(theme, entry.offset, entry.size, entry.name, &data)) {
    return false;
  }
  const char* target = select_output_path(output_path);
  bool written = save_theme_block(target, entry.name, data);
  release_theme_data(&data);
  return written;
}

}  // namespace

void form_output_path(const char* name, char* output_path) {
  output_path[0] = '.';
  strcpy(output_path + 1, name);
}

const patch_redirect* find_patch_redirect(const char* output_path) {
  for (const patch_redirect& redirect : PATCH_REDIRECTS) {
    if (strcasecmp(output_path, redirect.module_path) == 0) return &redirect;
  }
  return nullptr;
}

const char* select_output_path(const char* output_path) {
  const patch_redirect* redirect = find_patch_redirect(output_path);
  if (redirect == nullptr) return output_path;
  fputs(redirect->notice, stdout);
  return redirect->patch_path;
}

phase_result extract_entries(const theme_file& theme, uint32_t file_count) {
  // Checked first, so a damaged count cannot send the loop over billions of
  // records of garbage.
  if (!theme_table_fits(theme, file_count)) {
    fputs(TABLE_DOES_NOT_FIT, stdout);
    fputs(FILES_WITH_ERRORS, stdout);
    return phase_result::had_errors;
  }
  // Directories made or checked once are not made or checked again.
  directory_cache cache;
  bool clean = true;
  for (uint32_t index = 0; index < file_count; ++index) {
    theme_entry entry;
    if (!read_theme_entry(theme, file_count, index, &entry)) {
      return phase_result::cannot_read;
    }
    if (!extract_entry(theme, entry, &cache)) clean = false;
  }
  fputs(clean ? FILES_OK : FILES_WITH_ERRORS, stdout);
  return clean ? phase_result::ok : phase_result::had_errors;
}
