// The command line and the run sequence: decides between the usage text, the
// version and unpacking, unpacks every theme file named in turn, recognises
// each, runs the phases in their fixed order and gives the exit status. Holds
// the run state; the phases do the work.
#ifndef THEMEUNPACK_APP_RUN_UNPACKER_H
#define THEMEUNPACK_APP_RUN_UNPACKER_H

// Returned for the usage text, a rejected theme file and a run with errors; a
// POSIX shell shows it as 255.
constexpr int RUN_FAILED = -1;
constexpr int RUN_OK = 0;

// Used in the usage text when the platform passes no program name at all.
constexpr const char* DEFAULT_PROGRAM_NAME = "themeunpack";

// The only options, each only as the only argument; a theme file of such a
// name is reached as "./--help".
constexpr const char* HELP_OPTION = "--help";
constexpr const char* VERSION_OPTION = "--version";
// As the first argument, before one or more theme files: list what a run
// would write, writing nothing.
constexpr const char* LIST_OPTION = "--list";

constexpr const char* USAGE_TEXT =
    "Note: You can run this from the command prompt.\n"
    "In Windows, you can just drag a .ctf file to the .exe, and that'll work "
    "too.\n"
    "Usage: %s <ctf file>\n";
// %s: the version of the project.
constexpr const char* VERSION_TEXT = "themeunpack %s\n";
// %s: the argument, exactly as given.
constexpr const char* THEME_NOT_FOUND = "Theme file %s not found.\n";
// %s: the argument, then why.
constexpr const char* CANNOT_OPEN_THEME = "Cannot open theme file %s: %s.\n";
constexpr const char* INVALID_THEME = "Invalid theme file.\n";
// %s: the theme directory's name, then why.
constexpr const char* CANNOT_CREATE_DIRECTORY =
    "Cannot create theme directory %s: %s.\n";
constexpr const char* FINISHED_OK = "Finished OK!\n";
constexpr const char* FINISHED_WITH_ERRORS = "Finished with errors.\n";
// Heads each theme's messages when several theme files are named; %s: the
// argument.
constexpr const char* THEME_HEADING = "Theme file %s:\n";
// The last line when the tool has a window of its own, which would close at
// once.
constexpr const char* PRESS_ENTER = "Press Enter to close this window.\n";

// Everything `main` does, given its arguments; returns its exit status.
int run_command_line(int argc, char** argv);

// Lists what a run over the theme file `argument` would write.
int run_lister(const char* argument);

// Waits until the user presses Enter (or standard input ends), so that a
// window of the tool's own stays until it has been read.
void wait_for_enter();

// Unpacks the theme file `argument` into its theme directory, made in the
// working directory or, with `beside_theme_file`, in the theme file's folder.
int run_unpacker(const char* argument, bool beside_theme_file);

#endif
