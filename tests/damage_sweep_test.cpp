// Damage swept over a valid theme: every run must end with a status that agrees
// with its messages, write nothing outside the theme directory, and leave every
// file it writes exact or absent.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format/theme_file.h"
#include "tests/test_support.h"
#include "tests/unpack_oracle.h"
#include "tools/theme_builder.h"

namespace {

theme_blueprint valid_blueprint() {
  theme_blueprint blueprint;
  blueprint.ptf_body = std::string(40, 'p');
  blueprint.files = {{"/vsh/module/paf.prx", "patch bytes"},
                     {"/a/b/file.bin", std::string(30, 'f')},
                     {"/empty", ""},
                     {"/top", "top level"}};
  return blueprint;
}

// Runs the tool on `bytes` in a fresh directory and returns what is wrong with
// the run, or "" when nothing is.
std::string problems_with_run(const std::string& bytes) {
  scratch_directory scratch;
  write_file(scratch / "theme.ctf", bytes);
  run_result run = run_tool(scratch.path(), {"theme.ctf"});
  std::string problem = status_problem(run.status, run.output);
  if (!problem.empty()) return problem + "; output:\n" + run.output;

  tree all = snapshot_tree(scratch.path());
  bool recognised = bytes.size() >= PTF_HEADER_SIZE &&
                    bytes.compare(0, 4, std::string("\0PTF", 4)) == 0;
  if (!recognised) {
    if (run.output != "Invalid theme file.\n")
      return "wrong rejection: " + run.output;
    return all.size() == 1 ? "" : "a rejected file created something";
  }
  std::map<std::string, std::string> expected = expected_contents(bytes);
  for (const auto& [path, contents] : all) {
    if (path == "theme.ctf" || path == "theme_ctf") continue;
    if (path.rfind("theme_ctf/", 0) != 0) return "written outside: " + path;
    if (contents == DIRECTORY_MARK) continue;
    auto meant = expected.find(path.substr(10));
    if (meant == expected.end()) return "unexpected file " + path;
    if (meant->second != contents) return "wrong contents in " + path;
  }
  // A run that reports success must have left every file it was meant to.
  for (const auto& [path, contents] : expected) {
    if (run.status == 0 && all.count("theme_ctf/" + path) == 0) {
      return "missing after a clean run: " + path;
    }
  }
  return "";
}

// Cut at the edges of every part of the file (the magic, the header, each
// block, the table and each record), at the powers of two and at a seeded
// handful of lengths: the full sweep of every length never caught a fault
// these miss.
TEST(DamageSweep, TruncatedAtSampledLengths) {
  built_theme built = build_theme(valid_blueprint());
  const std::string& bytes = built.bytes;
  std::vector<uint64_t> edges = {4, PTF_HEADER_SIZE, PTF_HEADER_SIZE + 40};
  for (const theme_record& record : built.records) {
    edges.push_back(record.offset);
    edges.push_back(uint64_t{record.offset} + record.size);
  }
  for (uint64_t at = built.table_offset; at <= bytes.size();
       at += THEME_ENTRY_SIZE) {
    edges.push_back(at);
  }
  for (uint64_t length : sampled_points(bytes.size(), edges)) {
    EXPECT_EQ(problems_with_run(bytes.substr(0, length)), "")
        << "cut at " << length << " of " << bytes.size();
  }
}

TEST(DamageSweep, EdgeValuesOfCountsOffsetsAndSizes) {
  built_theme built = build_theme(valid_blueprint());
  const auto length = static_cast<uint32_t>(built.bytes.size());
  const uint32_t values[] = {0,          1,           length - 1,  length,
                             length + 1, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu};
  // Where each field lies: file_count, offset and size of record 1, and the
  // PTF body length.
  const uint64_t record = built.table_offset + THEME_ENTRY_SIZE;
  const uint64_t fields[] = {
      THEME_FILE_COUNT_OFFSET, record + THEME_ENTRY_OFFSET_OFFSET,
      record + THEME_ENTRY_SIZE_OFFSET, PTF_BODY_LENGTH_OFFSET};
  for (uint64_t field : fields) {
    for (uint32_t value : values) {
      std::string damaged = built.bytes;
      put_theme_u32(&damaged, field, value);
      EXPECT_EQ(problems_with_run(damaged), "")
          << "field at " << field << " = " << value;
    }
  }
  for (size_t first = 0; first < 4; ++first) {
    for (size_t second = first + 1; second < 4; ++second) {
      for (uint32_t a : values) {
        for (uint32_t b : values) {
          std::string damaged = built.bytes;
          put_theme_u32(&damaged, fields[first], a);
          put_theme_u32(&damaged, fields[second], b);
          EXPECT_EQ(problems_with_run(damaged), "")
              << "fields at " << fields[first] << ", " << fields[second]
              << " = " << a << ", " << b;
        }
      }
    }
  }
}

TEST(DamageSweep, JunkAfterTheTable) {
  std::string bytes = build_theme(valid_blueprint()).bytes;
  for (size_t junk = 1; junk <= 2 * THEME_ENTRY_SIZE; ++junk) {
    std::string damaged = bytes + std::string(junk, static_cast<char>(junk));
    EXPECT_EQ(problems_with_run(damaged), "") << junk << " bytes of junk";
  }
}

TEST(DamageSweep, EveryByteOfOneRecordFlipped) {
  built_theme built = build_theme(valid_blueprint());
  // The record of /a/b/file.bin.
  uint64_t record = built.table_offset + THEME_ENTRY_SIZE;
  for (uint64_t i = 0; i < THEME_ENTRY_SIZE; ++i) {
    for (int flip : {0xFF, 0x01, 0x80}) {
      std::string damaged = built.bytes;
      damaged[record + i] = static_cast<char>(damaged[record + i] ^ flip);
      EXPECT_EQ(problems_with_run(damaged), "")
          << "byte " << i << " of the record xor " << int(flip);
    }
  }
}

TEST(DamageSweep, NameFieldsWithoutNul) {
  theme_blueprint blueprint;
  std::string long_name = "/" + std::string(70, 'n');
  std::string nested = "/d/" + std::string(61, 'm');
  blueprint.files = {{long_name, "long"}, {nested, "nested"}};
  std::string bytes = build_theme(blueprint).bytes;
  EXPECT_EQ(problems_with_run(bytes), "");

  scratch_directory scratch;
  write_file(scratch / "theme.ctf", bytes);
  run_result run = run_tool(scratch.path(), {"theme.ctf"});
  EXPECT_EQ(run.status, 0) << run.output;
  // 63 bytes of the name: "/" and 62 letters; the last field byte is dropped.
  tree written = snapshot_tree(scratch / "theme_ctf");
  EXPECT_EQ(written.at(std::string(62, 'n')), "long");
  EXPECT_EQ(written.at("d/" + std::string(60, 'm')), "nested");
}

}  // namespace
