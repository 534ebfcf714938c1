// Whether the tool should wait for a key after its usage text: started by a
// double click or a drop, its window would close before the text could be
// read. console-posix.cpp and console-win32.cpp each tell in their own way.
#ifndef THEMEUNPACK_APP_CONSOLE_H
#define THEMEUNPACK_APP_CONSOLE_H

// `program_name` is argv[0], or null when the platform passed none.
bool started_outside_a_console(const char* program_name);

#endif
