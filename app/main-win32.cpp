// Windows: the arguments arrive as UTF-16, as Explorer passes a dropped file's
// path, and are handed on as the UTF-8 the tool works in throughout; standard
// output is binary, so the messages are the same bytes as on every platform.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/run_packer.h"
#include "app/run_unpacker.h"
#include "text/utf16-win32.h"

// Each program built from this file names its own command line.
#ifndef PROGRAM_COMMAND_LINE
#define PROGRAM_COMMAND_LINE run_command_line
#endif

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(utf8_from_utf16(argv[i]));
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  return PROGRAM_COMMAND_LINE(argc, pointers.data());
}
