// Every line the unpacking phases print on standard output, each printed with
// one call. Kept in one place so the documentation can be checked against them.
#ifndef THEMEUNPACK_UNPACK_MESSAGES_H
#define THEMEUNPACK_UNPACK_MESSAGES_H

#include <initializer_list>
#include <string>

constexpr const char* METADATA_OK = "Metadata unpacked OK.\n";
constexpr const char* FILES_OK = "Files unpacked OK.\n";
constexpr const char* FILES_WITH_ERRORS = "Files unpacked with errors.\n";
constexpr const char* TABLE_DOES_NOT_FIT =
    "File table does not fit in the theme file.\n";
constexpr const char* PTF_OK = "PTF unpacked OK.\n";
// %s: why, in the system's words.
constexpr const char* CANNOT_READ_THEME = "Cannot read the theme file: %s.\n";
// Why, where a read found the end of the theme file before the bytes it
// wanted: the file was cut short after it was recognised.
constexpr const char* THEME_ENDED_EARLY_REASON = "unexpected end of file";

// %s: the stored entry name, or the name of the file the tool writes.
constexpr const char* SKIP_OUTSIDE_DIRECTORY =
    "Skipping %s: its path leads outside the theme directory.\n";
constexpr const char* SKIP_SYMLINK =
    "Skipping %s: its path goes through a symbolic link.\n";
constexpr const char* SKIP_OUTSIDE_FILE =
    "Skipping %s: its data lie outside the theme file.\n";
// %s: the stored entry name or the .ptf name, then why, in the system's
// words.
constexpr const char* SKIP_CANNOT_READ =
    "Skipping %s: its data cannot be read: %s.\n";
constexpr const char* SKIP_THEME_FILE =
    "Skipping %s: it would overwrite the theme file.\n";
// Printed by Windows builds only.
constexpr const char* SKIP_NOT_ON_WINDOWS =
    "Skipping %s: its name cannot be used on Windows.\n";
// %s: the path as opened, then why, in the system's words.
constexpr const char* CANNOT_WRITE = "Cannot write %s: %s.\n";

// What --list prints: a line per output, its size in bytes right-aligned in
// ten columns, then the path it would take; and the totals, files then bytes.
constexpr const char* LIST_LINE = "%s  %s\n";
constexpr int LIST_SIZE_WIDTH = 10;
constexpr const char* LIST_TOTAL = "%s files, %s bytes\n";

// Prints `text` on standard output as it stands, in one call. Every line the
// tool prints goes through here: on a Windows console it is shown as UTF-16,
// so a name shows as stored whatever the console's code page; anywhere else
// the bytes are written as they are.
void print_text(const std::string& text);

// Prints `format` with `name` in place of its %s, with every control shown as
// "\x" and two hex digits per byte: the bytes below 0x20 and 0x7F, the bytes
// 0x80-0x9F outside a valid UTF-8 sequence, and the UTF-8 forms of
// U+0080-U+009F and of the direction controls U+202A-U+202E and U+2066-U+2069.
// A name from the theme file must not be able to move the cursor, rewrite what
// a terminal shows or turn a line around.
void print_about(const char* format, const char* name);

// Prints `format` with `name` shown as print_about shows it in place of its
// first %s and `reason` in place of its second.
void print_about_because(const char* format, const char* name,
                         const std::string& reason);

// `name` as print_about shows it.
std::string shown_name(const char* name);

// `format` with each %s in turn replaced by the next of `values`.
std::string fill_message(const char* format,
                         std::initializer_list<std::string> values);

// The system's own words for the error code `error` (errno, or a Windows
// error code), without a closing full stop or line break.
std::string system_reason(int error);

#endif
