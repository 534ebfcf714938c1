#include <windows.h>

#include "app/console.h"

// Started from Explorer, the tool has a console of its own: it is the only
// process attached to it. From cmd or a shell there are at least two, and with
// standard input not a console (a pipe, a file) nobody could press Enter.
bool owns_its_console() {
  DWORD mode = 0;
  if (!GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) return false;
  DWORD processes[2];
  return GetConsoleProcessList(processes, 2) == 1;
}

bool started_outside_a_console(const char*) { return owns_its_console(); }
