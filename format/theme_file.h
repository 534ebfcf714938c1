// Reads the theme file: recognises it, and reads its header fields, its
// file-table records and blocks of its data, each at an absolute position; and
// encodes the fields and records a packer writes, so that one place knows the
// layout both ways. It never writes to disk and never prints; callers decide
// what a failure means and what to say.
//
// Layout of a theme file (all integers unsigned 32-bit little-endian, all
// offsets absolute from the start of the file):
//
//   offset  size  field               meaning
//   0x000   4     magic               00 50 54 46: a zero byte, then "PTF"
//   0x008   8     short_name          text, the theme's short name
//   0x018   4     file_count          number of records in the file table
//   0x088   8     internal_id         text, the theme's internal ID
//   0x0C0   4     required_firmware   text, the firmware the theme requires
//   0x124   4     ptf_body_length     length of the PTF image minus its header
//   0x140         end of the PTF header; the PTF image is the first
//                 ptf_body_length + 0x140 bytes of the file
//
// The file table is file_count records of 72 bytes that end exactly at the end
// of the file; no header field points at it. One record:
//
//   0   64  name    text, the packed file's path ("/vsh/module/paf.prx")
//   64  4   offset  absolute offset of the packed file's data
//   68  4   size    length of the packed file's data
//
// Text rule: a text value is read from the start of its field and ends before
// the first NUL byte, or with a newline byte (which belongs to it), or at the
// field's limit, whichever comes first.
#ifndef THEMEUNPACK_FORMAT_THEME_FILE_H
#define THEMEUNPACK_FORMAT_THEME_FILE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

constexpr uint32_t THEME_MAGIC = 0x46545000;  // 00 50 54 46 read little-endian
constexpr uint32_t THEME_MAGIC_OFFSET = 0x0;
constexpr uint32_t THEME_SHORT_NAME_OFFSET = 0x8;
constexpr uint32_t THEME_SHORT_NAME_LIMIT = 8;
constexpr uint32_t THEME_FILE_COUNT_OFFSET = 0x18;
constexpr uint32_t THEME_INTERNAL_ID_OFFSET = 0x88;
constexpr uint32_t THEME_INTERNAL_ID_LIMIT = 8;
constexpr uint32_t THEME_FIRMWARE_OFFSET = 0xC0;
constexpr uint32_t THEME_FIRMWARE_LIMIT = 4;
constexpr uint32_t PTF_BODY_LENGTH_OFFSET = 0x124;
constexpr uint32_t PTF_HEADER_SIZE = 0x140;
constexpr uint32_t THEME_U32_SIZE = 4;

constexpr uint32_t THEME_ENTRY_SIZE = 72;
constexpr uint32_t THEME_ENTRY_NAME_OFFSET = 0;
constexpr uint32_t THEME_ENTRY_NAME_FIELD_SIZE = 64;
// The last byte of the name field never belongs to the name.
constexpr uint32_t THEME_ENTRY_NAME_LIMIT = THEME_ENTRY_NAME_FIELD_SIZE - 1;
constexpr uint32_t THEME_ENTRY_OFFSET_OFFSET = 64;
constexpr uint32_t THEME_ENTRY_SIZE_OFFSET = 68;

// Offsets and sizes in a record are 32-bit: no packed file's data may end past
// this byte.
constexpr uint64_t THEME_OFFSET_LIMIT = 0xFFFFFFFF;

static_assert(THEME_ENTRY_NAME_OFFSET + THEME_ENTRY_NAME_FIELD_SIZE ==
                  THEME_ENTRY_OFFSET_OFFSET,
              "offset follows the name field");
static_assert(THEME_ENTRY_SIZE_OFFSET + THEME_U32_SIZE == THEME_ENTRY_SIZE,
              "size closes the record");
static_assert(PTF_BODY_LENGTH_OFFSET + THEME_U32_SIZE <= PTF_HEADER_SIZE,
              "every header field lies inside the PTF header");
static_assert(THEME_FIRMWARE_OFFSET + THEME_FIRMWARE_LIMIT <= PTF_HEADER_SIZE,
              "every header field lies inside the PTF header");

// The open theme file: the read stream, and its length in bytes, learnt once
// when the file is recognised so that every later range can be checked against
// it.
struct theme_file {
  FILE* stream = nullptr;
  uint64_t length = 0;
  // Why the last read that failed did: the system's error code (errno, or a
  // Windows error code), or THEME_ENDED_EARLY. Reads leave the file as it is
  // otherwise, so they may record this on a file they are handed as const.
  mutable int read_error = 0;
};

// The read_error of a read that found the end of the file before the bytes it
// wanted: the file was cut short after it was recognised.
constexpr int THEME_ENDED_EARLY = 0;

// One file-table record. `name` holds at most 63 bytes and is NUL-terminated.
struct theme_entry {
  char name[THEME_ENTRY_NAME_LIMIT + 1];
  uint32_t offset;
  uint32_t size;
};

enum class open_result {
  opened,
  not_found,       // nothing by that path
  cannot_open,     // something is there, but cannot be opened for reading
  not_theme_file,  // wrong magic, or shorter than a PTF header
  cannot_read,     // an I/O error while reading or measuring it
};

// Opens `path` for reading and recognises it. Only on `opened` is `theme`
// filled; the caller then owns the stream. For cannot_open and cannot_read,
// `error` is the system's error code.
open_result open_theme_file(const char* path, theme_file* theme, int* error);

// Reads a text field at `offset` by the text rule, at most `limit` bytes.
// Returns false when the field cannot be read.
bool read_theme_text(const theme_file& theme, uint32_t offset, uint32_t limit,
                     std::string* value);

// Reads the little-endian 32-bit value at `offset`. Returns false when it
// cannot be read.
bool read_theme_u32(const theme_file& theme, uint32_t offset, uint32_t* value);

// True when `file_count` records fit inside the theme file.
bool theme_table_fits(const theme_file& theme, uint32_t file_count);

// Reads record `index` of a table of `file_count` records, located from the end
// of the file. The table must fit (theme_table_fits). Returns false when the
// record cannot be read.
bool read_theme_entry(const theme_file& theme, uint32_t file_count,
                      uint32_t index, theme_entry* entry);

// At most this many records are read at once: a table of many small entries
// then costs one read per batch instead of one per record.
constexpr uint32_t THEME_ENTRIES_PER_READ = 128;

// Reads records `first` .. `first + count - 1` (`count` at most
// THEME_ENTRIES_PER_READ) in one read. Returns false when any of them cannot be
// read.
bool read_theme_entries(const theme_file& theme, uint32_t file_count,
                        uint32_t first, uint32_t count, theme_entry* entries);

// True when the `length` bytes at `offset` lie inside the theme file.
bool theme_range_fits(const theme_file& theme, uint64_t offset,
                      uint64_t length);

// Reads exactly `length` bytes at `offset` into `bytes`; false when they cannot
// all be read (past the end of the file, or an I/O error).
bool read_theme_bytes(const theme_file& theme, uint64_t offset, void* bytes,
                      size_t length);

// The platform's handle of the open theme file (a file descriptor, or a
// Windows HANDLE), for a copy the system makes from it.
intptr_t theme_file_handle(const theme_file& theme);

// Where the theme file lies on its volume, so that nothing is ever written
// over it. Returns false when that cannot be learnt.
bool theme_file_identity(const theme_file& theme, uint64_t* device,
                         uint64_t* inode);

// Little-endian 32-bit value of four bytes.
uint32_t theme_u32_at(const unsigned char* bytes);

// Writes `value` little-endian into four bytes.
void put_theme_u32_at(unsigned char* bytes, uint32_t value);

// Writes the THEME_ENTRY_SIZE bytes of `entry` as a file-table record: its
// name padded with zero bytes to the whole name field, then offset and size.
void encode_theme_entry(const theme_entry& entry, unsigned char* record);

// Copies a text value from a raw field by the text rule into `out`, which has
// room for `limit` bytes and a NUL. Returns the value's length.
size_t take_theme_text(const unsigned char* field, size_t limit, char* out);

#endif
