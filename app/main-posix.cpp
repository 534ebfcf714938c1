#include <malloc.h>

#include <climits>

#include "app/run_unpacker.h"

namespace {

// Entries under a megabyte get a heap buffer of exactly their size, freed
// before the next entry (larger ones are mapped from the theme file). Served
// from the heap and kept there once freed, the next buffer reuses pages already
// in place, where the allocator would otherwise map every buffer over 128 KiB
// afresh and fault its pages in again. Peak memory stays that of the largest
// entry.
void reuse_freed_memory() {
#if defined(M_MMAP_MAX) && defined(M_TRIM_THRESHOLD)
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, INT_MAX);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  reuse_freed_memory();
  return run_command_line(argc, argv);
}
