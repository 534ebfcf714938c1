// The command line and the run sequence: decides between the usage text and an
// unpacking run, recognises the theme file, runs the phases in their fixed
// order and gives the exit status. Holds the run state; the phases do the work.
#ifndef THEMEUNPACK_APP_RUN_UNPACKER_H
#define THEMEUNPACK_APP_RUN_UNPACKER_H

// Returned for the usage text, a rejected theme file and a run with errors; a
// POSIX shell shows it as 255.
constexpr int RUN_FAILED = -1;
constexpr int RUN_OK = 0;

// Used in the usage text when the platform passes no program name at all.
constexpr const char* DEFAULT_PROGRAM_NAME = "themeunpack";

constexpr const char* USAGE_TEXT =
    "Note: You can run this from the command prompt.\n"
    "In Windows, you can just drag a .ctf file to the .exe, and that'll work "
    "too.\n"
    "Usage: %s <ctf file>\n";
constexpr const char* THEME_NOT_FOUND = "Theme file %s not found.\n";
constexpr const char* INVALID_THEME = "Invalid theme file.\n";
constexpr const char* CANNOT_CREATE_DIRECTORY =
    "Cannot create theme directory %s.\n";
constexpr const char* FINISHED_OK = "Finished OK!\n";
constexpr const char* FINISHED_WITH_ERRORS = "Finished with errors.\n";

// Everything `main` does, given its arguments; returns its exit status.
int run_command_line(int argc, char** argv);

// Unpacks the theme file `argument` into its theme directory.
int run_unpacker(const char* argument);

#endif
