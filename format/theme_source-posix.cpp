#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "format/theme_source.h"

namespace {

constexpr uint64_t MAX_FILE_POSITION = std::numeric_limits<off_t>::max();

}  // namespace

FILE* open_theme_stream(const char* path) { return fopen(path, "r"); }

bool measure_theme_stream(FILE* stream, uint64_t* length) {
  if (fseeko(stream, 0, SEEK_END) != 0) return false;
  off_t end = ftello(stream);
  if (end < 0) return false;
  *length = static_cast<uint64_t>(end);
  return true;
}

// Each read carries its own absolute position, so no seek is needed and one
// bad range cannot shift the next.
bool read_theme_bytes(const theme_file& theme, uint64_t offset, void* bytes,
                      size_t length) {
  if (offset > MAX_FILE_POSITION) return false;
  int file = fileno(theme.stream);
  auto* into = static_cast<char*>(bytes);
  // The kernel may hand over a very large block in parts.
  while (length > 0) {
    ssize_t got = pread(file, into, length, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    into += got;
    offset += static_cast<uint64_t>(got);
    length -= static_cast<size_t>(got);
  }
  return true;
}

map_result map_theme_bytes(const theme_file& theme, uint64_t offset,
                           uint64_t length, theme_block* block) {
  // A mapping starts on a page boundary; the block begins `lead` bytes in.
  auto page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  uint64_t start = offset - offset % page;
  uint64_t lead = offset - start;
  if (length > std::numeric_limits<size_t>::max() - lead) {
    return map_result::no_memory;
  }
  auto mapping_length = static_cast<size_t>(lead + length);
  void* mapping = mmap(nullptr, mapping_length, PROT_READ, MAP_PRIVATE,
                       fileno(theme.stream), static_cast<off_t>(start));
  if (mapping == MAP_FAILED) {
    return errno == ENOMEM ? map_result::no_memory : map_result::not_mappable;
  }
#ifdef MADV_POPULATE_READ
  // Mapping every page now, in one pass, costs far less than the faults the
  // write would otherwise take page by page. Where the kernel cannot, those
  // faults simply happen; nothing depends on the result.
  madvise(mapping, mapping_length, MADV_POPULATE_READ);
#endif
  block->bytes = static_cast<const unsigned char*>(mapping) + lead;
  block->offset = offset;
  block->length = length;
  block->storage = mapping;
  block->mapping_length = mapping_length;
  return map_result::mapped;
}

void unmap_theme_bytes(const theme_block& block) {
  munmap(block.storage, block.mapping_length);
}
