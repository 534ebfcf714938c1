// How stored names and the theme file argument become names on this platform.
// Windows also takes "\" for a separator and cannot hold some names at all.
// Its rules are defined here for every platform, so they can be tested on any;
// output_names-posix.cpp and output_names-win32.cpp say which rules apply.
#ifndef THEMEUNPACK_TREE_OUTPUT_NAMES_H
#define THEMEUNPACK_TREE_OUTPUT_NAMES_H

#include <string>

// Windows' rules, on every platform.

// True when Windows cannot hold `path` as written: a component that is a
// reserved device name (CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9, CONIN$,
// CONOUT$; in any case, with or without an extension, trailing spaces
// ignored), that holds : < > " | ? * or a byte below 0x20, or that ends in "."
// or a space; or a path that is not valid UTF-8. "." components and empty ones
// (from "//") are not names.
bool windows_cannot_hold(const char* path);

// `name` without the dots and spaces at its end, which Windows strips from a
// name it is given; a name made with them through a long path is one that
// Explorer and other programs cannot open.
std::string without_trailing_dots_and_spaces(std::string name);

// Turns every "\" of `path` into "/".
void turn_backslashes_into_slashes(char* path);

// The part of `argument` after its last "/" or "\", or after a leading drive
// ("C:theme.ctf").
const char* windows_base_name(const char* argument);

// This platform's rules.

// Makes every separator this platform knows in `output_path` a "/".
void use_platform_separators(char* output_path);

// True when this platform cannot hold `output_path` as written.
bool platform_cannot_hold(const char* output_path);

// The base name of the theme file argument.
const char* platform_base_name(const char* argument);

// `name`, a name made from the theme file argument, as this platform would
// store it.
std::string platform_made_name(std::string name);

#endif
