// Writes the PTF image, the leading part of the theme file, as the ".ptf" file
// in the theme directory, then closes the theme file. The last phase of a run.
#ifndef THEMEUNPACK_UNPACK_EXTRACT_PTF_H
#define THEMEUNPACK_UNPACK_EXTRACT_PTF_H

#include "format/theme_file.h"
#include "tree/output_tree.h"
#include "unpack/block_output.h"
#include "unpack/phase_result.h"

// Writes the PTF file named after `argument` and prints "PTF unpacked OK." when
// it was written. Closes the theme file whatever happens.
phase_result extract_ptf(const theme_file& theme, output_tree* tree,
                         const copy_buffer& buffer, const char* argument);

#endif
