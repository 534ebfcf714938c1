// Writes "theme info.txt", the four-line summary of the theme's header fields,
// into the theme directory, and reads file_count for file extraction.
#ifndef THEMEUNPACK_UNPACK_THEME_INFO_H
#define THEMEUNPACK_UNPACK_THEME_INFO_H

#include <cstdint>
#include <string>

#include "format/theme_file.h"
#include "tree/output_tree.h"
#include "unpack/phase_result.h"

constexpr const char* THEME_INFO_FILE = "theme info.txt";

// Makes the report's text from the header, and reads file_count. False when
// the header cannot be read.
bool make_theme_report(const theme_file& theme, std::string* report,
                       uint32_t* file_count);

// Writes the report and prints its closing line. `*file_count` is set whenever
// the header could be read, even when the report could not be written.
phase_result write_theme_info(const theme_file& theme, output_tree* tree,
                              uint32_t* file_count);

#endif
