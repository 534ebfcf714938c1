// Every line themepack prints on standard output, each printed with one call.
// Kept in one place so the documentation can be checked against them.
#ifndef THEMEUNPACK_PACK_PACK_MESSAGES_H
#define THEMEUNPACK_PACK_PACK_MESSAGES_H

constexpr const char* PACK_USAGE_TEXT =
    "Packs a theme folder, as themeunpack writes one, into a theme file.\n"
    "In Windows, you can just drag a folder to the .exe, and that'll work "
    "too.\n"
    "Usage: %s <theme folder> [<ctf file>]\n";
// %s: the version of the project.
constexpr const char* PACK_VERSION_TEXT = "themepack %s\n";

// %s: the folder as given, then why.
constexpr const char* CANNOT_OPEN_FOLDER = "Cannot open folder %s: %s.\n";
// %s: the folder as given.
constexpr const char* NO_PTF_IMAGE = "No .ptf file at the top of %s.\n";

// %s: a path below the folder, the folder's own path in front of it.
constexpr const char* REFUSE_SECOND_PTF =
    "Refusing %s: only one .ptf file may stand at the top of the folder.\n";
constexpr const char* REFUSE_NOT_PTF =
    "Refusing %s: it is not a PTF image (00 50 54 46 and at least 320 "
    "bytes).\n";
constexpr const char* REFUSE_LINK = "Refusing %s: it is a symbolic link.\n";
constexpr const char* REFUSE_SPECIAL =
    "Refusing %s: it is not a regular file or a folder.\n";
constexpr const char* REFUSE_TOO_LONG =
    "Refusing %s: its stored name would be longer than 63 bytes.\n";
constexpr const char* REFUSE_NOT_WRITTEN_BACK =
    "Refusing %s: themeunpack would not write it back to the same place.\n";
constexpr const char* REFUSE_PAST_LIMIT =
    "Refusing %s: its data would end past 4 GiB, beyond 32-bit offsets.\n";
constexpr const char* REFUSE_CHANGED =
    "Refusing %s: it changed while it was packed.\n";
// %s: a path below the folder, then why, in the system's words.
constexpr const char* CANNOT_READ_INPUT = "Cannot read %s: %s.\n";

// %s: the theme file as it was named or made.
constexpr const char* REFUSE_THEME_INSIDE =
    "Refusing %s: the theme file would lie inside the folder it packs.\n";
constexpr const char* REFUSE_THEME_NAME =
    "Refusing %s: the theme file cannot take that name here.\n";
// %s: the theme file, then how many files its table holds.
constexpr const char* PACKED_OK = "Packed %s with %s files.\n";
// %s: the theme file.
constexpr const char* NOT_PACKED = "Theme file %s not written.\n";

#endif
