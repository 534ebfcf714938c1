#include "pack/pack_folder.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "format/theme_file.h"
#include "pack/pack_messages.h"
#include "tree/input_tree.h"
#include "tree/output_names.h"
#include "tree/output_tree.h"
#include "unpack/extract_entries.h"
#include "unpack/messages.h"
#include "unpack/theme_directory.h"
#include "unpack/theme_info.h"

namespace {

constexpr const char* PTF_EXTENSION = ".ptf";
constexpr const char* THEME_EXTENSION = ".ctf";
constexpr size_t PTF_EXTENSION_LENGTH = 4;

// What the survey of the folder found: the PTF image and every record of the
// table, in table order once the survey is complete.
struct pack_plan {
  std::string ptf_path;  // below the folder; empty while none is found
  uint64_t ptf_length = 0;
  std::vector<theme_entry> records;
  bool refused = false;
};

// One pack: the folder as given, its tree, and what the survey found.
struct pack_run {
  std::string folder;  // as given, without separators at its end
  // The name a run gives the image at the top of the theme directory.
  std::string ptf_name;
  input_tree tree;
  pack_plan plan;
};

// `path` without the separators at its end (those of the platform: a "\" is
// one only on Windows), so that the theme file goes beside the folder.
std::string without_trailing_separators(std::string path) {
  std::string plain = path;
  use_platform_separators(&plain[0]);
  while (plain.size() > 1 && plain.back() == '/') {
    plain.pop_back();
    path.pop_back();
  }
  return path;
}

// `path` below the folder as messages show it: the folder's own path first.
std::string shown_path(const pack_run& run, const std::string& path) {
  return path.empty() ? run.folder : run.folder + "/" + path;
}

void refuse(pack_run* run, const char* message, const std::string& path) {
  print_about(message, shown_path(*run, path).c_str());
  run->plan.refused = true;
}

void refuse_because(pack_run* run, const char* message, const std::string& path,
                    int error) {
  print_about_because(message, shown_path(*run, path).c_str(),
                      system_reason(error));
  run->plan.refused = true;
}

void refuse_failure(pack_run* run, input_result result, const std::string& path,
                    int error) {
  switch (result) {
    case input_result::done:
      return;
    case input_result::through_link:
      refuse(run, REFUSE_LINK, path);
      return;
    case input_result::not_a_file:
      refuse(run, REFUSE_CHANGED, path);
      return;
    case input_result::cannot_read:
      refuse_because(run, CANNOT_READ_INPUT, path, error);
      return;
  }
}

bool ends_with(const std::string& text, const char* ending, size_t length) {
  return text.size() > length &&
         text.compare(text.size() - length, length, ending) == 0;
}

// Where the file stored as `name` lies below the folder: the other way.
std::string folder_path_of(const char* name) {
  char output_path[OUTPUT_PATH_SIZE];
  form_output_path(name, output_path);
  const patch_redirect* patch = find_patch_redirect(output_path);
  return patch != nullptr ? std::string(patch->patch_path + 2)
                          : std::string(name + 1);
}

// Whether a run of themeunpack writes the file stored as `name` at the very
// place it is packed from: not diverted, not cut short by the text rule, not
// refused by the platform's own rules.
bool written_back_in_place(const pack_run& run, const std::string& name,
                           const std::string& path) {
  if (name.find('\n') != std::string::npos) return false;
  // The theme directory is made with "patch-only" in it before any file, the
  // report is written before the packed files and the image after them.
  std::string top = path.substr(0, path.find('/'));
  if (path == PATCH_DIRECTORY || top == THEME_INFO_FILE ||
      top == run.ptf_name) {
    return false;
  }
  std::string output_path = "." + name;
  int error = 0;
  if (find_patch_redirect(output_path.c_str()) != nullptr) return false;
  return check_output_path(output_path.c_str(), &error) == tree_result::done;
}

void take_ptf(pack_run* run, const input_item& item) {
  if (!run->plan.ptf_path.empty()) {
    refuse(run, REFUSE_SECOND_PTF, item.name);
    return;
  }
  run->plan.ptf_path = item.name;
  run->plan.ptf_length = item.size;
  if (item.size < PTF_HEADER_SIZE) refuse(run, REFUSE_NOT_PTF, item.name);
}

void take_file(pack_run* run, const std::string& path, const input_item& item,
               bool at_top) {
  if (at_top && item.name == THEME_INFO_FILE) return;
  if (at_top && ends_with(item.name, PTF_EXTENSION, PTF_EXTENSION_LENGTH)) {
    take_ptf(run, item);
    return;
  }
  // A module patch is stored under its module's name, anything else under
  // its own path.
  const patch_redirect* patch = find_patch_source(("./" + path).c_str());
  std::string name =
      patch != nullptr ? std::string(patch->module_path + 1) : "/" + path;
  if (name.size() > THEME_ENTRY_NAME_LIMIT) {
    refuse(run, REFUSE_TOO_LONG, path);
    return;
  }
  if (patch == nullptr && !written_back_in_place(*run, name, path)) {
    refuse(run, REFUSE_NOT_WRITTEN_BACK, path);
    return;
  }
  if (item.size > THEME_OFFSET_LIMIT) {
    refuse(run, REFUSE_PAST_LIMIT, path);
    return;
  }
  theme_entry entry{};
  memcpy(entry.name, name.c_str(), name.size() + 1);
  entry.size = static_cast<uint32_t>(item.size);
  run->plan.records.push_back(entry);
}

void survey_folder(pack_run* run, const std::string& path);

void survey_item(pack_run* run, const std::string& folder,
                 const input_item& item) {
  std::string path = folder.empty() ? item.name : folder + "/" + item.name;
  switch (item.kind) {
    case input_kind::file:
      take_file(run, path, item, folder.empty());
      return;
    case input_kind::folder:
      survey_folder(run, path);
      return;
    case input_kind::link:
      refuse(run, REFUSE_LINK, path);
      return;
    case input_kind::special:
      refuse(run, REFUSE_SPECIAL, path);
      return;
  }
}

void survey_folder(pack_run* run, const std::string& path) {
  std::vector<input_item> items;
  int error = 0;
  input_result listed = list_input_folder(&run->tree, path, &items, &error);
  if (listed != input_result::done) {
    refuse_failure(run, listed, path, error);
    return;
  }
  // In byte order of the names, so that every machine reports the same
  // refusals in the same order and takes the same .ptf for the first.
  std::sort(items.begin(), items.end(),
            [](const input_item& a, const input_item& b) {
              return strcmp(a.name.c_str(), b.name.c_str()) < 0;
            });
  // Below this depth no name fits in a record; going no further also bounds
  // how deep the survey goes, whatever the folder holds.
  if (!path.empty() && path.size() + 2 >= THEME_ENTRY_NAME_LIMIT) {
    if (!items.empty())
      refuse(run, REFUSE_TOO_LONG, path + "/" + items[0].name);
    return;
  }
  for (const input_item& item : items) survey_item(run, path, item);
}

bool by_stored_name(const theme_entry& a, const theme_entry& b) {
  return strcmp(a.name, b.name) < 0;
}

// Places the data right after the PTF image, in table order.
void lay_out(pack_run* run) {
  uint64_t end = run->plan.ptf_length;
  if (end > THEME_OFFSET_LIMIT)
    refuse(run, REFUSE_PAST_LIMIT, run->plan.ptf_path);
  for (theme_entry& entry : run->plan.records) {
    entry.offset = static_cast<uint32_t>(std::min(end, THEME_OFFSET_LIMIT));
    end += entry.size;
    if (end > THEME_OFFSET_LIMIT && !run->plan.refused) {
      refuse(run, REFUSE_PAST_LIMIT, folder_path_of(entry.name));
    }
  }
}

// Whether the PTF image found begins with the magic; it is read again, and
// checked again, when it is packed.
void check_ptf_magic(pack_run* run) {
  const std::string& path = run->plan.ptf_path;
  input_file file;
  int error = 0;
  input_result opened = open_input_file(&run->tree, path, &file, &error);
  if (opened != input_result::done) {
    refuse_failure(run, opened, path, error);
    return;
  }
  unsigned char magic[THEME_U32_SIZE];
  bool read =
      read_input_bytes(file, THEME_MAGIC_OFFSET, magic, sizeof magic, &error);
  close_input_file(&file);
  if (!read && error != 0) {
    refuse_because(run, CANNOT_READ_INPUT, path, error);
  } else if (!read || theme_u32_at(magic) != THEME_MAGIC) {
    refuse(run, REFUSE_NOT_PTF, path);
  }
}

// Surveys the whole folder before anything is written: every refusal is
// reported, and the table is laid out.
bool plan_pack(pack_run* run) {
  survey_folder(run, "");
  if (run->plan.ptf_path.empty()) {
    print_about(NO_PTF_IMAGE, run->folder.c_str());
    run->plan.refused = true;
  } else if (run->plan.ptf_length >= PTF_HEADER_SIZE) {
    check_ptf_magic(run);
  }
  std::sort(run->plan.records.begin(), run->plan.records.end(), by_stored_name);
  if (!run->plan.refused) lay_out(run);
  return !run->plan.refused;
}

// How one step of writing the theme file went.
enum class pack_step { done, refused, cannot_write };

// Appends the `length` bytes at `offset` of `file` (at `path` below the
// folder) to `output`: in the kernel where it can, through `buffer` for the
// rest.
pack_step append_input(pack_run* run, const input_file& file,
                       const std::string& path, uint64_t offset,
                       uint64_t length, const copy_buffer& buffer,
                       staged_output* output) {
  uint64_t copied = copy_into_output(output, file.handle, offset, length);
  while (copied < length) {
    auto piece =
        static_cast<size_t>(std::min<uint64_t>(buffer.size, length - copied));
    int error = 0;
    if (!read_input_bytes(file, offset + copied, buffer.bytes, piece, &error)) {
      if (error == 0) {
        refuse(run, REFUSE_CHANGED, path);
      } else {
        refuse_because(run, CANNOT_READ_INPUT, path, error);
      }
      return pack_step::refused;
    }
    if (append_output(output, buffer.bytes, piece) != tree_result::done) {
      return pack_step::cannot_write;
    }
    copied += piece;
  }
  if (output->failure != tree_result::done) return pack_step::cannot_write;
  if (!input_file_unchanged(file)) {
    refuse(run, REFUSE_CHANGED, path);
    return pack_step::refused;
  }
  return pack_step::done;
}

// Opens the file at `path` below the folder, which must still be as long as
// the survey found it.
bool open_planned(pack_run* run, const std::string& path, uint64_t length,
                  input_file* file) {
  int error = 0;
  input_result opened = open_input_file(&run->tree, path, file, &error);
  if (opened != input_result::done) {
    refuse_failure(run, opened, path, error);
    return false;
  }
  if (file->size != length) {
    close_input_file(file);
    refuse(run, REFUSE_CHANGED, path);
    return false;
  }
  return true;
}

// The PTF image, every byte as it stands but the file count and the body's
// length, which are the packed ones.
pack_step write_ptf_image(pack_run* run, const copy_buffer& buffer,
                          staged_output* output) {
  const std::string& path = run->plan.ptf_path;
  input_file file;
  if (!open_planned(run, path, run->plan.ptf_length, &file)) {
    return pack_step::refused;
  }
  unsigned char header[PTF_HEADER_SIZE];
  int error = 0;
  if (!read_input_bytes(file, 0, header, sizeof header, &error) ||
      theme_u32_at(header + THEME_MAGIC_OFFSET) != THEME_MAGIC) {
    close_input_file(&file);
    refuse(run, REFUSE_NOT_PTF, path);
    return pack_step::refused;
  }
  put_theme_u32_at(header + THEME_FILE_COUNT_OFFSET,
                   static_cast<uint32_t>(run->plan.records.size()));
  put_theme_u32_at(
      header + PTF_BODY_LENGTH_OFFSET,
      static_cast<uint32_t>(run->plan.ptf_length - PTF_HEADER_SIZE));
  pack_step step =
      append_output(output, header, sizeof header) == tree_result::done
          ? append_input(run, file, path, PTF_HEADER_SIZE,
                         run->plan.ptf_length - PTF_HEADER_SIZE, buffer, output)
          : pack_step::cannot_write;
  close_input_file(&file);
  return step;
}

pack_step write_packed_files(pack_run* run, const copy_buffer& buffer,
                             staged_output* output) {
  for (const theme_entry& entry : run->plan.records) {
    std::string path = folder_path_of(entry.name);
    input_file file;
    if (!open_planned(run, path, entry.size, &file)) return pack_step::refused;
    pack_step step =
        append_input(run, file, path, 0, entry.size, buffer, output);
    close_input_file(&file);
    if (step != pack_step::done) return step;
  }
  return pack_step::done;
}

// The table, a batch of records at a time through the buffer.
pack_step write_file_table(const pack_run& run, const copy_buffer& buffer,
                           staged_output* output) {
  size_t per_batch = buffer.size / THEME_ENTRY_SIZE;
  const std::vector<theme_entry>& records = run.plan.records;
  for (size_t first = 0; first < records.size(); first += per_batch) {
    size_t count = std::min(per_batch, records.size() - first);
    for (size_t i = 0; i < count; ++i) {
      encode_theme_entry(records[first + i],
                         buffer.bytes + i * THEME_ENTRY_SIZE);
    }
    if (append_output(output, buffer.bytes, count * THEME_ENTRY_SIZE) !=
        tree_result::done) {
      return pack_step::cannot_write;
    }
  }
  return pack_step::done;
}

// Prints why the theme file cannot take its name or its bytes.
void report_theme_output(tree_result result, const staged_output& output,
                         const char* theme) {
  if (result == tree_result::through_link) {
    print_about(REFUSE_LINK, theme);
  } else if (result == tree_result::cannot_write) {
    print_about_because(CANNOT_WRITE, theme, system_reason(output.error));
  } else {
    print_about(REFUSE_THEME_NAME, theme);
  }
}

bool write_theme(pack_run* run, output_tree* folder, const char* theme,
                 const copy_buffer& buffer) {
  staged_output output;
  std::string name = theme_base_name(theme);
  tree_result staged =
      stage_output(folder, name.c_str(), stage_mode::check_name, &output);
  if (staged != tree_result::done) {
    report_theme_output(staged, output, theme);
    return false;
  }
  pack_step step = write_ptf_image(run, buffer, &output);
  if (step == pack_step::done) step = write_packed_files(run, buffer, &output);
  if (step == pack_step::done) step = write_file_table(*run, buffer, &output);
  if (step == pack_step::refused) return false;
  tree_result published =
      step == pack_step::done ? publish_output(&output) : output.failure;
  if (published != tree_result::done) {
    report_theme_output(published, output, theme);
    return false;
  }
  return true;
}

// Opens the folder the theme file goes into, which must lie outside the
// folder packed.
bool open_theme_folder(const pack_run& run, const char* theme,
                       output_tree* folder) {
  std::string where = theme_folder(theme);
  int error = 0;
  if (!open_output_folder(where.empty() ? "." : where.c_str(), file_identity{},
                          folder, &error)) {
    print_about_because(CANNOT_WRITE, theme, system_reason(error));
    return false;
  }
  if (input_tree_holds(run.tree, folder->root)) {
    print_about(REFUSE_THEME_INSIDE, theme);
    close_output_tree(folder);
    return false;
  }
  return true;
}

bool pack_opened(pack_run* run, const char* theme, const copy_buffer& buffer) {
  output_tree folder;
  if (!open_theme_folder(*run, theme, &folder)) return false;
  bool packed = plan_pack(run) && write_theme(run, &folder, theme, buffer);
  close_output_tree(&folder);
  return packed;
}

}  // namespace

std::string default_theme_path(const char* folder) {
  return without_trailing_separators(folder) + THEME_EXTENSION;
}

bool pack_theme_folder(const char* folder, const char* theme,
                       const copy_buffer& buffer) {
  pack_run run;
  run.folder = without_trailing_separators(folder);
  run.ptf_name = ptf_file_name(theme);
  int error = 0;
  bool packed = false;
  if (!open_input_tree(folder, &run.tree, &error)) {
    print_about_because(CANNOT_OPEN_FOLDER, folder, system_reason(error));
  } else {
    packed = pack_opened(&run, theme, buffer);
    close_input_tree(&run.tree);
  }
  if (!packed) {
    print_about(NOT_PACKED, theme);
    return false;
  }
  print_about_because(PACKED_OK, theme,
                      std::to_string(run.plan.records.size()));
  return true;
}
