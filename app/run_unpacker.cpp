#include "app/run_unpacker.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "app/console.h"
#include "format/theme_file.h"
#include "tree/output_tree.h"
#include "unpack/block_output.h"
#include "unpack/extract_entries.h"
#include "unpack/extract_ptf.h"
#include "unpack/messages.h"
#include "unpack/theme_directory.h"
#include "unpack/theme_info.h"

namespace {

int print_usage(const char* program_name) {
  const char* shown = program_name ? program_name : DEFAULT_PROGRAM_NAME;
  printf(USAGE_TEXT, shown);
  // Its window would otherwise close before the text could be read.
  if (started_outside_a_console(program_name)) getc(stdin);
  return RUN_FAILED;
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

bool open_or_report(const char* argument, theme_file* theme) {
  switch (open_theme_file(argument, theme)) {
    case open_result::opened:
      return true;
    case open_result::cannot_open:
      printf(THEME_NOT_FOUND, argument);
      return false;
    case open_result::not_theme_file:
      fputs(INVALID_THEME, stdout);
      return false;
    case open_result::cannot_read:
      fputs(CANNOT_READ_THEME, stdout);
      return false;
  }
  return false;
}

}  // namespace

int run_command_line(int argc, char** argv) {
  int status = argc < 2 ? print_usage(argc > 0 ? argv[0] : nullptr)
                        : run_unpacker(argv[1]);
  // Standard output is the run's only report: a run whose report was lost
  // (a full disk, a closed pipe) has not succeeded.
  if (fflush(stdout) != 0 || ferror(stdout)) return RUN_FAILED;
  return status;
}

int run_unpacker(const char* argument) {
  // Opened before the directory change, so a relative argument is resolved
  // against the directory the tool was started in.
  theme_file theme;
  if (!open_or_report(argument, &theme)) return RUN_FAILED;

  // Writing into the start directory instead would scatter and overwrite the
  // user's files there.
  std::string directory = theme_directory_name(argument);
  output_tree tree;
  file_identity theme_identity;
  if (!theme_file_identity(theme, &theme_identity.device,
                           &theme_identity.inode) ||
      !open_output_tree(directory.c_str(), PATCH_DIRECTORY, theme_identity,
                        &tree)) {
    printf(CANNOT_CREATE_DIRECTORY, directory.c_str());
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
    fputs(CANNOT_READ_THEME, stdout);
    return RUN_FAILED;
  }

  bool clean = outcome == phase_result::ok;
  fputs(clean ? FINISHED_OK : FINISHED_WITH_ERRORS, stdout);
  return clean ? RUN_OK : RUN_FAILED;
}
