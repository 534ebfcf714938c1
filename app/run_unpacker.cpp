#include "app/run_unpacker.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "format/theme_file.h"
#include "unpack/extract_entries.h"
#include "unpack/extract_ptf.h"
#include "unpack/messages.h"
#include "unpack/theme_directory.h"
#include "unpack/theme_info.h"

namespace {

int print_usage(const char* program_name) {
  const char* shown = program_name ? program_name : DEFAULT_PROGRAM_NAME;
  printf(USAGE_TEXT, shown);
  if (program_name != nullptr &&
      strncmp(program_name, CYGWIN_DRIVE_PREFIX, strlen(CYGWIN_DRIVE_PREFIX)) ==
          0) {
    getc(stdin);
  }
  return RUN_FAILED;
}

// The theme file could not be read even where it must be readable: nothing that
// follows can be trusted.
int abandon_run(const theme_file& theme) {
  fclose(theme.stream);
  fputs(CANNOT_READ_THEME, stdout);
  return RUN_FAILED;
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
  if (argc < 2) return print_usage(argc > 0 ? argv[0] : nullptr);
  return run_unpacker(argv[1]);
}

int run_unpacker(const char* argument) {
  // Opened before the directory change, so a relative argument is resolved
  // against the directory the tool was started in.
  theme_file theme;
  if (!open_or_report(argument, &theme)) return RUN_FAILED;

  // Writing into the start directory instead would scatter and overwrite the
  // user's files there.
  if (!make_theme_directory(argument)) {
    printf(CANNOT_CREATE_DIRECTORY, theme_directory_name(argument).c_str());
    fclose(theme.stream);
    return RUN_FAILED;
  }

  uint32_t file_count = 0;
  phase_result report = write_theme_info(theme, &file_count);
  if (report == phase_result::cannot_read) return abandon_run(theme);
  phase_result files = extract_entries(theme, file_count);
  if (files == phase_result::cannot_read) return abandon_run(theme);
  // The PTF phase closes the theme file itself, whatever happens.
  phase_result image = extract_ptf(theme, argument);
  if (image == phase_result::cannot_read) {
    fputs(CANNOT_READ_THEME, stdout);
    return RUN_FAILED;
  }

  bool clean = report == phase_result::ok && files == phase_result::ok &&
               image == phase_result::ok;
  fputs(clean ? FINISHED_OK : FINISHED_WITH_ERRORS, stdout);
  return clean ? RUN_OK : RUN_FAILED;
}
