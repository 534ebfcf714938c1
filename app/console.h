// What the tool's console tells about how it was started. Started by a double
// click or a drop, its window closes the moment it ends, and Explorer chose
// its working folder. console-posix.cpp and console-win32.cpp each tell in
// their own way.
#ifndef THEMEUNPACK_APP_CONSOLE_H
#define THEMEUNPACK_APP_CONSOLE_H

// Whether the tool should wait for a key after its usage text. `program_name`
// is argv[0], or null when the platform passed none.
bool started_outside_a_console(const char* program_name);

// Whether the tool has a console window of its own that closes when it ends:
// the Windows build dropped onto or double-clicked in Explorer. Never from a
// command prompt, a script or a pipe, and never on other platforms.
bool owns_its_console();

#endif
