#include "format/theme_file.h"

#include <cstring>

#include "format/theme_source.h"

uint32_t theme_u32_at(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) |
         static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 |
         static_cast<uint32_t>(bytes[3]) << 24;
}

void put_theme_u32_at(unsigned char* bytes, uint32_t value) {
  for (uint32_t i = 0; i < THEME_U32_SIZE; ++i) {
    bytes[i] = static_cast<unsigned char>(value >> (8 * i));
  }
}

void encode_theme_entry(const theme_entry& entry, unsigned char* record) {
  unsigned char* name = record + THEME_ENTRY_NAME_OFFSET;
  size_t length = strnlen(entry.name, THEME_ENTRY_NAME_LIMIT);
  memcpy(name, entry.name, length);
  memset(name + length, 0, THEME_ENTRY_NAME_FIELD_SIZE - length);
  put_theme_u32_at(record + THEME_ENTRY_OFFSET_OFFSET, entry.offset);
  put_theme_u32_at(record + THEME_ENTRY_SIZE_OFFSET, entry.size);
}

size_t take_theme_text(const unsigned char* field, size_t limit, char* out) {
  size_t length = 0;
  while (length < limit && field[length] != '\0') {
    out[length] = static_cast<char>(field[length]);
    ++length;
    if (field[length - 1] == '\n') break;
  }
  out[length] = '\0';
  return length;
}

namespace {

// Recognises the theme file open as `opened` and learns its length.
open_result recognise_theme(theme_file* opened, int* error) {
  unsigned char magic[THEME_U32_SIZE];
  if (!read_theme_bytes(*opened, THEME_MAGIC_OFFSET, magic, sizeof magic)) {
    // A directory opens on some systems but cannot be read; that is not "too
    // short".
    *error = opened->read_error;
    return *error == THEME_ENDED_EARLY ? open_result::not_theme_file
                                       : open_result::cannot_read;
  }
  if (theme_u32_at(magic) != THEME_MAGIC) return open_result::not_theme_file;
  if (!measure_theme_stream(opened->stream, &opened->length, error)) {
    return open_result::cannot_read;
  }
  // Every header field lies inside the PTF header; a shorter file has none.
  if (opened->length < PTF_HEADER_SIZE) return open_result::not_theme_file;
  return open_result::opened;
}

}  // namespace

open_result open_theme_file(const char* path, theme_file* theme, int* error) {
  FILE* stream = open_theme_stream(path, error);
  if (stream == nullptr) {
    return means_not_found(*error) ? open_result::not_found
                                   : open_result::cannot_open;
  }
  theme_file opened;
  opened.stream = stream;
  open_result result = recognise_theme(&opened, error);
  if (result != open_result::opened) {
    fclose(stream);
    return result;
  }
  *theme = opened;
  return open_result::opened;
}

bool read_theme_text(const theme_file& theme, uint32_t offset, uint32_t limit,
                     std::string* value) {
  unsigned char field[THEME_ENTRY_NAME_FIELD_SIZE];
  char text[THEME_ENTRY_NAME_FIELD_SIZE + 1];
  if (limit > sizeof field) return false;
  if (!read_theme_bytes(theme, offset, field, limit)) return false;
  size_t length = take_theme_text(field, limit, text);
  value->assign(text, length);
  return true;
}

bool read_theme_u32(const theme_file& theme, uint32_t offset, uint32_t* value) {
  unsigned char bytes[THEME_U32_SIZE];
  if (!read_theme_bytes(theme, offset, bytes, sizeof bytes)) return false;
  *value = theme_u32_at(bytes);
  return true;
}

bool theme_table_fits(const theme_file& theme, uint32_t file_count) {
  return static_cast<uint64_t>(file_count) * THEME_ENTRY_SIZE <= theme.length;
}

bool read_theme_entry(const theme_file& theme, uint32_t file_count,
                      uint32_t index, theme_entry* entry) {
  return read_theme_entries(theme, file_count, index, 1, entry);
}

bool read_theme_entries(const theme_file& theme, uint32_t file_count,
                        uint32_t first, uint32_t count, theme_entry* entries) {
  // The table is found from the end of the file and file_count alone, so bytes
  // appended after it shift every record.
  uint64_t back = static_cast<uint64_t>(file_count - first) * THEME_ENTRY_SIZE;
  if (count == 0 || count > THEME_ENTRIES_PER_READ || first >= file_count ||
      count > file_count - first || back > theme.length) {
    return false;
  }
  unsigned char records[THEME_ENTRIES_PER_READ * THEME_ENTRY_SIZE];
  if (!read_theme_bytes(theme, theme.length - back, records,
                        count * THEME_ENTRY_SIZE)) {
    return false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    const unsigned char* record = records + i * THEME_ENTRY_SIZE;
    theme_entry* entry = &entries[i];
    take_theme_text(record + THEME_ENTRY_NAME_OFFSET, THEME_ENTRY_NAME_LIMIT,
                    entry->name);
    entry->offset = theme_u32_at(record + THEME_ENTRY_OFFSET_OFFSET);
    entry->size = theme_u32_at(record + THEME_ENTRY_SIZE_OFFSET);
  }
  return true;
}

bool theme_range_fits(const theme_file& theme, uint64_t offset,
                      uint64_t length) {
  return offset <= theme.length && length <= theme.length - offset;
}
