#include <csignal>

#include "app/run_unpacker.h"

int main(int argc, char** argv) {
  // A closed standard output and a file over the size limit are failures the
  // run reports and goes on from, not its end: every other file is still
  // unpacked.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  return run_command_line(argc, argv);
}
