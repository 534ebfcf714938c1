#include "app/run_unpacker.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/console.h"
#include "format/theme_file.h"
#include "tree/output_tree.h"
#include "unpack/block_output.h"
#include "unpack/extract_entries.h"
#include "unpack/extract_ptf.h"
#include "unpack/list_outputs.h"
#include "unpack/messages.h"
#include "unpack/theme_directory.h"
#include "unpack/theme_info.h"

namespace {

void print_usage(const char* program_name) {
  const char* shown = program_name ? program_name : DEFAULT_PROGRAM_NAME;
  print_text(fill_message(USAGE_TEXT, {shown}));
}

// Runs the three phases in order and sums up how they went: cannot_read when
// the theme file could not be read even where it must be readable (nothing that
// follows can be trusted then), had_errors when anything was skipped. The theme
// file is closed at the end.
phase_result run_phases(const theme_file& theme, output_tree* tree,
                        const copy_buffer& buffer, const char* argument) {
  uint32_t file_count = 0;
  phase_result report = write_theme_info(theme, tree, &file_count);
  phase_result files = report == phase_result::cannot_read
                           ? report
                           : extract_entries(theme, tree, buffer, file_count);
  if (files == phase_result::cannot_read) {
    fclose(theme.stream);
    return phase_result::cannot_read;
  }
  // The PTF phase closes the theme file itself, whatever happens.
  phase_result image = extract_ptf(theme, tree, buffer, argument);
  if (image != phase_result::ok) return image;
  bool clean = report == phase_result::ok && files == phase_result::ok;
  return clean ? phase_result::ok : phase_result::had_errors;
}

// Why the theme file could not be read, in the system's words.
std::string read_failure_reason(const theme_file& theme) {
  if (theme.read_error == THEME_ENDED_EARLY) return THEME_ENDED_EARLY_REASON;
  return system_reason(theme.read_error);
}

bool open_or_report(const char* argument, theme_file* theme) {
  int error = 0;
  switch (open_theme_file(argument, theme, &error)) {
    case open_result::opened:
      return true;
    case open_result::not_found:
      // The user's own argument, shown exactly as given.
      print_text(fill_message(THEME_NOT_FOUND, {argument}));
      return false;
    case open_result::cannot_open:
      print_about_because(CANNOT_OPEN_THEME, argument, system_reason(error));
      return false;
    case open_result::not_theme_file:
      print_text(INVALID_THEME);
      return false;
    case open_result::cannot_read:
      print_text(fill_message(CANNOT_READ_THEME, {system_reason(error)}));
      return false;
  }
  return false;
}

// Unpacks every theme file named, in the order given, each as a run of its
// own would; with more than one, each one's messages under its name.
int unpack_every_theme(int argc, char** argv, bool beside_theme_file) {
  int status = RUN_OK;
  for (int i = 1; i < argc; ++i) {
    if (argc > 2) print_about(THEME_HEADING, argv[i]);
    if (run_unpacker(argv[i], beside_theme_file) != RUN_OK) status = RUN_FAILED;
  }
  return status;
}

// Lists every theme file named after the option, each as a run would
// unpack it.
int list_every_theme(int argc, char** argv) {
  int status = RUN_OK;
  for (int i = 2; i < argc; ++i) {
    if (argc > 3) print_about(THEME_HEADING, argv[i]);
    if (run_lister(argv[i]) != RUN_OK) status = RUN_FAILED;
  }
  return status;
}

int run_arguments(int argc, char** argv) {
  const char* program_name = argc > 0 ? argv[0] : nullptr;
  if (argc < 2) {
    print_usage(program_name);
    // Its window would otherwise close before the text could be read.
    if (started_outside_a_console(program_name)) wait_for_enter();
    return RUN_FAILED;
  }
  if (argc == 2 && strcmp(argv[1], HELP_OPTION) == 0) {
    print_usage(program_name);
    return RUN_OK;
  }
  if (argc == 2 && strcmp(argv[1], VERSION_OPTION) == 0) {
    print_text(fill_message(VERSION_TEXT, {THEMEUNPACK_VERSION}));
    return RUN_OK;
  }
  if (strcmp(argv[1], LIST_OPTION) == 0) {
    if (argc > 2) return list_every_theme(argc, argv);
    print_usage(program_name);
    return RUN_FAILED;
  }
  // Dropped onto, the tool was started wherever Explorer chose, and its
  // window would close before anyone could read what it did.
  bool own_window = owns_its_console();
  int status = unpack_every_theme(argc, argv, own_window);
  if (own_window) {
    print_text(PRESS_ENTER);
    wait_for_enter();
  }
  return status;
}

}  // namespace

int run_command_line(int argc, char** argv) {
  int status = run_arguments(argc, argv);
  // Standard output is the run's only report: a run whose report was lost
  // (a full disk, a closed pipe) has not succeeded.
  if (fflush(stdout) != 0 || ferror(stdout)) return RUN_FAILED;
  return status;
}

int run_lister(const char* argument) {
  theme_file theme;
  if (!open_or_report(argument, &theme)) return RUN_FAILED;
  phase_result listed = list_theme_outputs(theme, argument);
  fclose(theme.stream);
  if (listed == phase_result::cannot_read) {
    print_text(fill_message(CANNOT_READ_THEME, {read_failure_reason(theme)}));
  }
  return listed == phase_result::ok ? RUN_OK : RUN_FAILED;
}

void wait_for_enter() {
  fflush(stdout);
  getc(stdin);
}

int run_unpacker(const char* argument, bool beside_theme_file) {
  // Opened first: a relative argument is resolved against the directory the
  // tool was started in, which stays the working directory throughout.
  theme_file theme;
  if (!open_or_report(argument, &theme)) return RUN_FAILED;

  // Writing into the start directory instead would scatter and overwrite the
  // user's files there.
  std::string directory = theme_directory_name(argument);
  std::string path =
      beside_theme_file ? theme_folder(argument) + directory : directory;
  output_tree tree;
  file_identity theme_identity;
  int error = 0;
  bool opened =
      theme_file_identity(theme, &theme_identity.device, &theme_identity.inode);
  if (!opened) error = theme.read_error;
  if (opened) {
    opened = open_output_tree(path.c_str(), PATCH_DIRECTORY, theme_identity,
                              &tree, &error);
  }
  if (opened) protect_every_spelling(&tree, argument);
  if (!opened) {
    print_about_because(CANNOT_CREATE_DIRECTORY, directory.c_str(),
                        system_reason(error));
    fclose(theme.stream);
    return RUN_FAILED;
  }
  // Every block is copied through this one buffer, made before any output;
  // its pages are touched only as far as the largest block needs.
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[COPY_BUFFER_SIZE]);
  phase_result outcome = run_phases(
      theme, &tree, copy_buffer{buffer.get(), COPY_BUFFER_SIZE}, argument);
  close_output_tree(&tree);
  if (outcome == phase_result::cannot_read) {
    print_text(fill_message(CANNOT_READ_THEME, {read_failure_reason(theme)}));
    return RUN_FAILED;
  }

  bool clean = outcome == phase_result::ok;
  print_text(clean ? FINISHED_OK : FINISHED_WITH_ERRORS);
  return clean ? RUN_OK : RUN_FAILED;
}
