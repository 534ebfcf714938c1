#include "app/run_packer.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/console.h"
#include "app/run_unpacker.h"
#include "pack/pack_folder.h"
#include "pack/pack_messages.h"
#include "unpack/block_output.h"
#include "unpack/messages.h"

namespace {

constexpr const char* DEFAULT_PACKER_NAME = "themepack";

void print_pack_usage(const char* program_name) {
  const char* shown = program_name ? program_name : DEFAULT_PACKER_NAME;
  print_text(fill_message(PACK_USAGE_TEXT, {shown}));
}

int pack_one(const char* folder, const char* theme) {
  // Every block is copied through this one buffer; its pages are touched only
  // as far as the largest piece needs.
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[COPY_BUFFER_SIZE]);
  std::string named = theme != nullptr ? theme : default_theme_path(folder);
  bool packed = pack_theme_folder(folder, named.c_str(),
                                  copy_buffer{buffer.get(), COPY_BUFFER_SIZE});
  return packed ? RUN_OK : RUN_FAILED;
}

// Dropped onto, each folder is packed beside itself, as a run of its own.
int pack_every_folder(int argc, char** argv) {
  int status = RUN_OK;
  for (int i = 1; i < argc; ++i) {
    if (pack_one(argv[i], nullptr) != RUN_OK) status = RUN_FAILED;
  }
  return status;
}

int run_pack_arguments(int argc, char** argv) {
  const char* program_name = argc > 0 ? argv[0] : nullptr;
  if (argc < 2) {
    print_pack_usage(program_name);
    if (started_outside_a_console(program_name)) wait_for_enter();
    return RUN_FAILED;
  }
  if (argc == 2 && strcmp(argv[1], HELP_OPTION) == 0) {
    print_pack_usage(program_name);
    return RUN_OK;
  }
  if (argc == 2 && strcmp(argv[1], VERSION_OPTION) == 0) {
    print_text(fill_message(PACK_VERSION_TEXT, {THEMEUNPACK_VERSION}));
    return RUN_OK;
  }
  if (owns_its_console()) {
    int status = pack_every_folder(argc, argv);
    print_text(PRESS_ENTER);
    wait_for_enter();
    return status;
  }
  if (argc > 3) {
    print_pack_usage(program_name);
    return RUN_FAILED;
  }
  return pack_one(argv[1], argc == 3 ? argv[2] : nullptr);
}

}  // namespace

int run_pack_command_line(int argc, char** argv) {
  int status = run_pack_arguments(argc, argv);
  // Standard output is the run's only report.
  if (fflush(stdout) != 0 || ferror(stdout)) return RUN_FAILED;
  return status;
}
