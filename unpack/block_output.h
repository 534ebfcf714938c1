// Copies one block of the theme file into a staged output of the tree, and
// reports on standard output why an output was not written: the phases that
// write output, the report, the file extraction and the PTF image, say the
// same things the same way.
#ifndef THEMEUNPACK_UNPACK_BLOCK_OUTPUT_H
#define THEMEUNPACK_UNPACK_BLOCK_OUTPUT_H

#include <cstddef>
#include <cstdint>

#include "format/theme_file.h"
#include "tree/output_tree.h"

// Every block is copied through one buffer of this size, whatever its length,
// so memory does not grow with the theme's largest file. Larger writes get the
// new file larger pages, which a machine short of free large pages makes far
// slower; 32 KiB was the steady size (BENCHMARKS.md). A build may set another
// to measure it.
#ifndef THEMEUNPACK_COPY_BUFFER_KIB
#define THEMEUNPACK_COPY_BUFFER_KIB 32
#endif
constexpr size_t COPY_BUFFER_SIZE = size_t{THEMEUNPACK_COPY_BUFFER_KIB} * 1024;

// The run's copy buffer, made once at its start and lent to each phase.
struct copy_buffer {
  unsigned char* bytes;
  size_t size;
};

// True for the results that refuse an output outright: a path that leads
// outside or that the platform cannot hold, a link on the way or at its name,
// or the theme file at its name. They are reported before anything else is
// done for the output; a target that merely cannot be written is reported
// when the write is due.
bool output_refused(tree_result result);

// Prints why `output`, at `path`, of the item `name` was not written, when
// `result` says it was not, and returns whether it was.
bool report_output(tree_result result, const staged_output& output,
                   const char* path, const char* name);

// Copies the `length` bytes at `offset` of the theme file into `output`, in
// the kernel where the system can and through `buffer` where it cannot,
// publishes it, and reports as report_output does. A read that comes up short
// (the theme file cut short meanwhile) is reported as data outside the theme
// file, one that fails (an I/O error) as data that cannot be read, with the
// system's reason; either way the output is not published.
bool save_theme_block(const theme_file& theme, uint64_t offset, uint64_t length,
                      const copy_buffer& buffer, staged_output* output,
                      const char* path, const char* name);

#endif
