#include "tools/theme_builder.h"

#include <algorithm>
#include <cstdio>

#include "format/theme_file.h"

namespace {

void put_text(std::string* bytes, uint32_t offset, uint32_t room,
              const std::string& value) {
  bytes->replace(offset, std::min<size_t>(value.size(), room), value, 0, room);
}

std::string build_header(const theme_blueprint& blueprint,
                         uint32_t file_count) {
  std::string header(PTF_HEADER_SIZE, '\0');
  put_theme_u32(&header, THEME_MAGIC_OFFSET, THEME_MAGIC);
  put_text(&header, THEME_SHORT_NAME_OFFSET,
           THEME_FILE_COUNT_OFFSET - THEME_SHORT_NAME_OFFSET,
           blueprint.short_name);
  put_theme_u32(&header, THEME_FILE_COUNT_OFFSET, file_count);
  put_text(&header, THEME_INTERNAL_ID_OFFSET,
           THEME_FIRMWARE_OFFSET - THEME_INTERNAL_ID_OFFSET,
           blueprint.internal_id);
  put_text(&header, THEME_FIRMWARE_OFFSET,
           PTF_BODY_LENGTH_OFFSET - THEME_FIRMWARE_OFFSET,
           blueprint.required_firmware);
  uint32_t body_length = blueprint.ptf_body_length.value_or(
      static_cast<uint32_t>(blueprint.ptf_body.size()));
  put_theme_u32(&header, PTF_BODY_LENGTH_OFFSET, body_length);
  return header;
}

}  // namespace

void put_theme_u32(std::string* bytes, uint64_t offset, uint32_t value) {
  for (uint32_t i = 0; i < 4; ++i) {
    (*bytes)[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  }
}

std::string encode_theme_record(const theme_record& record) {
  std::string bytes(THEME_ENTRY_SIZE, '\0');
  bytes.replace(
      THEME_ENTRY_NAME_OFFSET,
      std::min<size_t>(record.name.size(), THEME_ENTRY_NAME_FIELD_SIZE),
      record.name, 0, THEME_ENTRY_NAME_FIELD_SIZE);
  put_theme_u32(&bytes, THEME_ENTRY_OFFSET_OFFSET, record.offset);
  put_theme_u32(&bytes, THEME_ENTRY_SIZE_OFFSET, record.size);
  return bytes;
}

built_theme build_theme(const theme_blueprint& blueprint) {
  built_theme theme;
  uint32_t file_count = blueprint.file_count.value_or(
      static_cast<uint32_t>(blueprint.files.size()));
  theme.bytes = build_header(blueprint, file_count) + blueprint.ptf_body;
  for (const packed_file& file : blueprint.files) {
    auto placed_at = static_cast<uint32_t>(theme.bytes.size());
    theme.bytes += file.data;
    theme.records.push_back(
        {file.name, file.offset.value_or(placed_at),
         file.size.value_or(static_cast<uint32_t>(file.data.size()))});
  }
  theme.table_offset = theme.bytes.size();
  for (const theme_record& record : theme.records) {
    theme.bytes += encode_theme_record(record);
  }
  theme.bytes += blueprint.junk_after_table;
  return theme;
}

bool write_theme_file(const std::string& path, const std::string& bytes) {
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return fclose(file) == 0 && written;
}
