#include <cstring>

#include "app/console.h"

namespace {

// Cygwin's prefix for paths on Windows drives: a tool started from one was most
// likely dropped a file onto, or double-clicked, from Explorer.
constexpr const char* CYGWIN_DRIVE_PREFIX = "/cygdrive";

}  // namespace

bool started_outside_a_console(const char* program_name) {
  return program_name != nullptr && strncmp(program_name, CYGWIN_DRIVE_PREFIX,
                                            strlen(CYGWIN_DRIVE_PREFIX)) == 0;
}

// A terminal outlives the tool, and the working directory is the user's.
bool owns_its_console() { return false; }
