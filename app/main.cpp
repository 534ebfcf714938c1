#include <malloc.h>

#include <climits>

#include "app/run_unpacker.h"

namespace {

// Each entry's data get a buffer of exactly their size, freed before the next
// entry. Served from the heap and kept there once freed, the next buffer reuses
// pages already in place instead of faulting in fresh ones for every entry,
// which for entries of a hundred megabytes is most of the cost of reading them.
// Peak memory stays that of the largest entry.
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
