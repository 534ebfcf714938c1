#include <csignal>

#include "app/run_packer.h"
#include "app/run_unpacker.h"

// Each program built from this file names its own command line.
#ifndef PROGRAM_COMMAND_LINE
#define PROGRAM_COMMAND_LINE run_command_line
#endif

int main(int argc, char** argv) {
  // A closed standard output and a file over the size limit are failures the
  // run reports and goes on from, not its end: every other file is still
  // unpacked.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  return PROGRAM_COMMAND_LINE(argc, argv);
}
