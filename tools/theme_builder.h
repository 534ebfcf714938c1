// Builds theme files in memory, field by field: a PTF header and body, packed
// files' data, the file table at the very end and anything after it. Used by
// the tests, the sample theme, the benchmark and the fuzz seeds; valid themes
// by default, hostile ones by overriding what a valid one would hold.
#ifndef THEMEUNPACK_TOOLS_THEME_BUILDER_H
#define THEMEUNPACK_TOOLS_THEME_BUILDER_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct packed_file {
  std::string name;  // raw bytes of the name field, NUL-padded to 64
  std::string data;  // placed after the PTF image, in table order
  std::optional<uint32_t> offset = {};  // stored instead of where the data went
  std::optional<uint32_t> size = {};    // stored instead of the data's length
};

struct theme_blueprint {
  // Raw bytes written at the field's offset, up to the room before the next
  // field, so a value may fill its field or run past the limit the tool reads.
  std::string short_name = "Sample";
  std::string internal_id = "SAMPLE01";
  std::string required_firmware = "6.60";
  std::string ptf_body;  // the bytes after the 320-byte PTF header
  std::vector<packed_file> files;
  std::string junk_after_table;
  std::optional<uint32_t> file_count;       // stored instead of files.size()
  std::optional<uint32_t> ptf_body_length;  // stored instead of the body's size
};

// One file-table record as it was stored.
struct theme_record {
  std::string name;
  uint32_t offset;
  uint32_t size;
};

struct built_theme {
  std::string bytes;
  std::vector<theme_record> records;  // in table order
  uint64_t table_offset;              // where record 0 begins
};

built_theme build_theme(const theme_blueprint& blueprint);

// The 72 bytes of one record; `name` is NUL-padded, or cut, to 64 bytes.
std::string encode_theme_record(const theme_record& record);

void put_theme_u32(std::string* bytes, uint64_t offset, uint32_t value);

// Writes `bytes` to `path`; returns false on any failure.
bool write_theme_file(const std::string& path, const std::string& bytes);

#endif
