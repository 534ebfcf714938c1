#include "format/theme_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "tests/test_support.h"
#include "tools/theme_builder.h"

namespace {

// Opens `bytes` as a theme file; the test owns the stream.
class opened_theme {
 public:
  explicit opened_theme(const std::string& bytes) {
    write_file(scratch_ / "t.ctf", bytes);
    int error = 0;
    result_ = open_theme_file((scratch_ / "t.ctf").c_str(), &theme_, &error);
  }
  ~opened_theme() {
    if (result_ == open_result::opened) fclose(theme_.stream);
  }
  open_result result() const { return result_; }
  // A test that reads needs the file open; without it, it fails here rather
  // than crash on a null stream.
  const theme_file& theme() const {
    if (result_ != open_result::opened) {
      throw std::runtime_error("the theme file did not open");
    }
    return theme_;
  }

 private:
  scratch_directory scratch_;
  theme_file theme_;
  open_result result_;
};

open_result open_bytes(const std::string& bytes) {
  return opened_theme(bytes).result();
}

TEST(OpenThemeFile, RecognisesOnlyTheMagicFirstAndAWholeHeader) {
  std::string valid = build_theme({}).bytes;
  EXPECT_EQ(open_bytes(valid), open_result::opened);
  EXPECT_EQ(open_bytes(valid.substr(0, PTF_HEADER_SIZE)), open_result::opened);

  // The zero byte belongs at the start: "PTF" then zero is not a theme file.
  std::string reversed = valid;
  reversed.replace(0, 4, std::string("PTF\0", 4));
  EXPECT_EQ(open_bytes(reversed), open_result::not_theme_file);
  EXPECT_EQ(open_bytes(""), open_result::not_theme_file);
  EXPECT_EQ(open_bytes(std::string("\0PT", 3)), open_result::not_theme_file);
  // The magic alone, or a header cut short, holds no fields to read.
  EXPECT_EQ(open_bytes(valid.substr(0, 4)), open_result::not_theme_file);
  EXPECT_EQ(open_bytes(valid.substr(0, PTF_HEADER_SIZE - 1)),
            open_result::not_theme_file);
}

TEST(OpenThemeFile, TellsMissingFromUnreadableAndSaysWhy) {
  scratch_directory scratch;
  write_file(scratch / "file", "not a folder");
  struct case_row {
    std::string path;
    open_result result;
    int error;
  };
  // A directory opens for reading on POSIX but yields no bytes.
  for (const case_row& row :
       {case_row{scratch / "absent.ctf", open_result::not_found, ENOENT},
        case_row{scratch / "file/t.ctf", open_result::not_found, ENOTDIR},
        case_row{scratch.path(), open_result::cannot_read, EISDIR}}) {
    theme_file theme;
    int error = 0;
    EXPECT_EQ(open_theme_file(row.path.c_str(), &theme, &error), row.result)
        << row.path;
    EXPECT_EQ(error, row.error) << row.path;
  }
}

TEST(OpenThemeFile, LearnsTheLength) {
  theme_blueprint blueprint;
  blueprint.files = {{"/a", "abc"}};
  blueprint.junk_after_table = "junk";
  std::string bytes = build_theme(blueprint).bytes;
  opened_theme opened(bytes);
  ASSERT_EQ(opened.result(), open_result::opened);
  EXPECT_EQ(opened.theme().length, bytes.size());
}

TEST(ReadThemeText, EndsAtNulNewlineOrLimit) {
  struct text_case {
    std::string stored;
    std::string expected;
  };
  const text_case cases[] = {
      {"", ""},
      {std::string("ab\0cd", 5), "ab"},
      {"ab\ncd", "ab\n"},  // the newline belongs to the value
      {"\nabc", "\n"},
      {"ABCDEFGHIJKL", "ABCDEFGH"},  // no NUL in the field: cut at the limit
      {"ABCDEFG\n", "ABCDEFG\n"},
  };
  for (const text_case& c : cases) {
    theme_blueprint blueprint;
    blueprint.short_name = c.stored;
    opened_theme opened(build_theme(blueprint).bytes);
    ASSERT_EQ(opened.result(), open_result::opened);
    std::string value;
    ASSERT_TRUE(read_theme_text(opened.theme(), THEME_SHORT_NAME_OFFSET,
                                THEME_SHORT_NAME_LIMIT, &value));
    EXPECT_EQ(value, c.expected) << "stored: " << c.stored;
  }
}

TEST(ReadThemeText, FirmwareStopsAtFourBytes) {
  theme_blueprint blueprint;
  blueprint.required_firmware = "6.60.1";
  opened_theme opened(build_theme(blueprint).bytes);
  std::string value;
  ASSERT_TRUE(read_theme_text(opened.theme(), THEME_FIRMWARE_OFFSET,
                              THEME_FIRMWARE_LIMIT, &value));
  EXPECT_EQ(value, "6.60");
}

TEST(ReadThemeEntry, LocatesRecordsFromTheEndOfTheFile) {
  theme_blueprint blueprint;
  blueprint.files = {{"/first", "11"}, {"/second", "2222"}};
  built_theme built = build_theme(blueprint);
  opened_theme opened(built.bytes);
  for (uint32_t i = 0; i < 2; ++i) {
    theme_entry entry;
    ASSERT_TRUE(read_theme_entry(opened.theme(), 2, i, &entry));
    EXPECT_EQ(std::string(entry.name), built.records[i].name);
    EXPECT_EQ(entry.offset, built.records[i].offset);
    EXPECT_EQ(entry.size, built.records[i].size);
  }
  // A smaller count reads the table's tail: record 0 of 1 is the last record.
  theme_entry last;
  ASSERT_TRUE(read_theme_entry(opened.theme(), 1, 0, &last));
  EXPECT_STREQ(last.name, "/second");
}

TEST(ReadThemeEntry, JunkAfterTheTableShiftsEveryRecord) {
  theme_blueprint blueprint;
  blueprint.files = {{"/a", "x"}};
  // 72 bytes of junk shaped like a record are read as the only record.
  blueprint.junk_after_table = encode_theme_record({"/junk", 7, 9});
  opened_theme opened(build_theme(blueprint).bytes);
  theme_entry entry;
  ASSERT_TRUE(read_theme_entry(opened.theme(), 1, 0, &entry));
  EXPECT_STREQ(entry.name, "/junk");
  EXPECT_EQ(entry.offset, 7u);
  EXPECT_EQ(entry.size, 9u);
}

TEST(ReadThemeEntry, NameWithoutNulKeepsSixtyThreeBytes) {
  std::string name(THEME_ENTRY_NAME_FIELD_SIZE, 'n');
  theme_blueprint blueprint;
  blueprint.files = {{name, "x"}};
  opened_theme opened(build_theme(blueprint).bytes);
  theme_entry entry;
  ASSERT_TRUE(read_theme_entry(opened.theme(), 1, 0, &entry));
  EXPECT_EQ(std::string(entry.name), name.substr(0, THEME_ENTRY_NAME_LIMIT));
}

TEST(ThemeTable, FitsOnlyWithinTheFile) {
  theme_blueprint blueprint;
  blueprint.files = {{"/a", "x"}};
  std::string bytes = build_theme(blueprint).bytes;
  opened_theme opened(bytes);
  uint32_t whole = static_cast<uint32_t>(bytes.size() / THEME_ENTRY_SIZE);
  EXPECT_TRUE(theme_table_fits(opened.theme(), 0));
  EXPECT_TRUE(theme_table_fits(opened.theme(), whole));
  EXPECT_FALSE(theme_table_fits(opened.theme(), whole + 1));
  // 0xFFFFFFFF * 72 wraps to a small number in 32 bits.
  EXPECT_FALSE(theme_table_fits(opened.theme(), 0xFFFFFFFFu));
  theme_entry entry;
  EXPECT_FALSE(read_theme_entry(opened.theme(), whole + 1, 0, &entry));
}

TEST(ThemeTable, MayFillTheWholeFile) {
  // 360 bytes: a header and 40 bytes of body, read as a table of 5 records,
  // the first of which starts at byte 0.
  theme_blueprint blueprint;
  blueprint.ptf_body = std::string(40, 'b');
  blueprint.file_count = 0;
  std::string bytes = build_theme(blueprint).bytes;
  ASSERT_EQ(bytes.size(), 5 * THEME_ENTRY_SIZE);
  put_theme_u32(&bytes, THEME_ENTRY_OFFSET_OFFSET, 0x11223344u);
  opened_theme opened(bytes);
  EXPECT_TRUE(theme_table_fits(opened.theme(), 5));
  EXPECT_FALSE(theme_table_fits(opened.theme(), 6));
  theme_entry first;
  ASSERT_TRUE(read_theme_entry(opened.theme(), 5, 0, &first));
  EXPECT_STREQ(first.name, "");  // the magic's zero byte ends the name
  EXPECT_EQ(first.offset, 0x11223344u);
  // The last record's offset and size are the body's last eight bytes.
  theme_entry last;
  ASSERT_TRUE(read_theme_entry(opened.theme(), 5, 4, &last));
  EXPECT_EQ(last.offset, 0x62626262u);
  EXPECT_EQ(last.size, 0x62626262u);
}

TEST(ThemeRangeFits, ChecksTheWholeRangeIn64Bits) {
  theme_blueprint blueprint;
  blueprint.files = {{"/a", "payload"}};
  built_theme built = build_theme(blueprint);
  opened_theme opened(built.bytes);
  const theme_file& theme = opened.theme();
  EXPECT_TRUE(theme_range_fits(theme, built.records[0].offset, 7));
  // An empty range is an ordinary one, even at the very end.
  EXPECT_TRUE(theme_range_fits(theme, theme.length, 0));
  EXPECT_FALSE(theme_range_fits(theme, theme.length - 1, 2));
  EXPECT_FALSE(theme_range_fits(theme, theme.length + 1, 0));
  // offset + size would wrap to a small number in 32 bits.
  EXPECT_FALSE(theme_range_fits(theme, 0xFFFFFFF0u, 0x20));
  EXPECT_FALSE(theme_range_fits(theme, 1, UINT64_MAX));
}

TEST(ReadThemeBytes, ReadsExactlyOrFails) {
  theme_blueprint blueprint;
  blueprint.files = {{"/a", "payload"}};
  built_theme built = build_theme(blueprint);
  opened_theme opened(built.bytes);
  char bytes[8] = {};
  ASSERT_TRUE(
      read_theme_bytes(opened.theme(), built.records[0].offset, bytes, 7));
  EXPECT_STREQ(bytes, "payload");
  // A read that would come up short is a failure, not a partial result.
  EXPECT_FALSE(
      read_theme_bytes(opened.theme(), opened.theme().length - 3, bytes, 4));
}

TEST(ReadThemeU32, IsLittleEndian) {
  theme_blueprint blueprint;
  blueprint.file_count = 0x80000001u;
  opened_theme opened(build_theme(blueprint).bytes);
  uint32_t value = 0;
  ASSERT_TRUE(read_theme_u32(opened.theme(), THEME_FILE_COUNT_OFFSET, &value));
  EXPECT_EQ(value, 0x80000001u);
}

}  // namespace
