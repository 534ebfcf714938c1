// What a run over given theme bytes may leave and print, worked out from a
// reading of the bytes written here on its own, not with the tool's readers, so
// the two check each other. Shared by the damage sweeps and the fuzz target.
#ifndef THEMEUNPACK_TESTS_UNPACK_ORACLE_H
#define THEMEUNPACK_TESTS_UNPACK_ORACLE_H

#include <map>
#include <string>

// For every file a run in a fresh directory may leave in the theme directory
// (paths relative to it, "/"-separated), the bytes it must then hold: the last
// write meant for that path, in run order (report, packed files, PTF image).
// `bytes` must be a recognised theme file (magic, at least 320 bytes).
std::map<std::string, std::string> expected_contents(const std::string& bytes);

// The problem with a run's status and standard output, or "" when they agree:
// status 0 exactly when no failure message was printed, and a clean run's last
// line is "Finished OK!".
std::string status_problem(int status, const std::string& output);

#endif
