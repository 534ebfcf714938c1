// Moves one block of the theme file whole into an output file, and reports on
// standard output why it could not: the phases that write output, the report,
// the file extraction and the PTF image, say the same things the same way.
#ifndef THEMEUNPACK_UNPACK_BLOCK_OUTPUT_H
#define THEMEUNPACK_UNPACK_BLOCK_OUTPUT_H

#include <cstdint>

#include "format/theme_file.h"
#include "unpack/output_tree.h"

// Reads the `length` bytes at `offset` into `block`. When that fails, prints
// why the item `name` is skipped and returns false.
bool load_theme_block(const theme_file& theme, uint64_t offset, uint64_t length,
                      const char* name, theme_block* block);

// Prepares an output in `tree` whose directories must already exist (the
// report, the PTF image, a diverted patch), and looks at what stands at its name
// at once, so that a refusal comes before anything is read or announced for it.
tree_result prepare_checked_output(output_tree* tree, const char* path);

// True for the results that refuse an output outright: a link on the way or at
// its name, or the theme file at its name. They are reported before anything
// else is done for the output; a target that merely cannot be written is
// reported when the write is due.
bool output_refused(tree_result result);

// Prints why the output `path` of the item `name` was not written, when it was
// not, and returns whether it was.
bool report_output(tree_result result, const char* path, const char* name);

// Writes `block` as the output prepared in `tree`, whose preparation gave
// `prepared`, and reports as report_output does. The output is released.
bool save_theme_block(output_tree* tree, tree_result prepared,
                      const char* path, const char* name,
                      const theme_block& block);

#endif
