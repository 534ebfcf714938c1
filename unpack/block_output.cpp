#include "unpack/block_output.h"

#include <cstdio>

#include "unpack/messages.h"
#include "unpack/output_file.h"

bool load_theme_block(const theme_file& theme, uint64_t offset, uint64_t length,
                      const char* name, theme_block* block) {
  switch (read_theme_data(theme, offset, length, block)) {
    case data_result::read:
      return true;
    case data_result::outside_file:
      printf(SKIP_OUTSIDE_FILE, name);
      return false;
    case data_result::out_of_memory:
      printf(SKIP_NO_MEMORY, name);
      return false;
  }
  return false;
}

bool save_theme_block(const char* path, const char* name,
                      const theme_block& block) {
  // A block in memory is never longer than the address space.
  auto size = static_cast<size_t>(block.length);
  switch (write_output_file(path, block.bytes, size)) {
    case write_result::written:
      return true;
    case write_result::cannot_write:
      printf(CANNOT_WRITE, path);
      return false;
    case write_result::source_lost:
      // The theme file was cut short after its length was learnt.
      printf(SKIP_OUTSIDE_FILE, name);
      return false;
  }
  return false;
}
