// Theme files past 2 GiB and 4 GiB, made sparse so that they cost no disk: data
// at offsets that need 64-bit file positions, a table at the end of a 5 GiB
// file, the largest PTF image a header can describe, and images too large for
// the memory the tool may use.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "format/theme_file.h"
#include "tests/test_support.h"
#include "tools/file_tree.h"
#include "tools/theme_builder.h"

namespace {

constexpr uint64_t GIB = 1ull << 30;

// Writes a sparse file of `length` bytes holding `pieces` at their offsets.
void write_sparse(const std::string& path, uint64_t length,
                  const std::vector<std::pair<uint64_t, std::string>>& pieces) {
  int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(file, 0);
  ASSERT_EQ(ftruncate(file, static_cast<off_t>(length)), 0);
  for (const auto& [offset, bytes] : pieces) {
    ASSERT_EQ(
        pwrite(file, bytes.data(), bytes.size(), static_cast<off_t>(offset)),
        static_cast<ssize_t>(bytes.size()));
  }
  ASSERT_EQ(close(file), 0);
}

// Why this filesystem cannot take the test, or "" when it can.
std::string cannot_hold(const std::string& directory, uint64_t free_needed) {
  std::string probe = directory + "/sparse-probe";
  int file = open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  struct stat status {};
  bool sparse = file >= 0 && ftruncate(file, 8 * GIB) == 0 &&
                fstat(file, &status) == 0 &&
                static_cast<uint64_t>(status.st_blocks) * 512 < GIB;
  if (file >= 0) close(file);
  unlink(probe.c_str());
  if (!sparse)
    return "the filesystem of " + directory + " cannot hold sparse files";
  struct statvfs space {};
  if (statvfs(directory.c_str(), &space) != 0 ||
      static_cast<uint64_t>(space.f_bavail) * space.f_frsize < free_needed) {
    return "less than " + std::to_string(free_needed / GIB) + " GiB free in " +
           directory;
  }
  return "";
}

std::string header_with(uint32_t file_count, uint32_t body_length) {
  theme_blueprint blueprint;
  blueprint.file_count = file_count;
  blueprint.ptf_body_length = body_length;
  return build_theme(blueprint).bytes;
}

std::string bytes_at(const std::string& path, uint64_t offset, size_t length) {
  std::string bytes(length, '\0');
  int file = open(path.c_str(), O_RDONLY);
  ssize_t got = pread(file, bytes.data(), length, static_cast<off_t>(offset));
  close(file);
  return got == static_cast<ssize_t>(length) ? bytes : "<unreadable>";
}

// Also a block that crosses 4 GiB, copied in several pieces on every copy
// route (the kernel's, capped at 32 KiB a call; sendfile; the buffer): a read
// position kept in 32 bits would copy the file's first bytes into it.
TEST(LargeThemeFile, DataPastTwoAndFourGiBAndATableAtTheEndOfFiveGiB) {
  scratch_directory scratch;
  std::string why = cannot_hold(scratch.path(), 1 * GIB);
  if (!why.empty()) GTEST_SKIP() << "skipped: " << why;

  const uint64_t length = 5 * GIB;
  const std::string at_2g(64, 'g');
  const std::string near_4g = "sixteen bytes!!!";
  const uint32_t across = 0xFFFFFF00u;
  std::string across_4g(0x20000, '\0');
  across_4g.replace(0, 5, "start");
  across_4g.replace(0xF0, near_4g.size(), near_4g);
  across_4g.replace(0x100, 8, "past 4gb");
  across_4g.replace(across_4g.size() - 3, 3, "end");
  const std::vector<theme_record> records = {
      {"/small", PTF_HEADER_SIZE, 5},
      {"/at-2g", 0x80000000u, 64},
      {"/near-4g", 0xFFFFFFF0u, 16},
      {"/across-4g", across, static_cast<uint32_t>(across_4g.size())}};
  std::string table;
  for (const theme_record& record : records)
    table += encode_theme_record(record);
  std::string header = header_with(4, 0);
  write_sparse(scratch / "theme.ctf", length,
               {{0, header},
                {PTF_HEADER_SIZE, "small"},
                {0x80000000u, at_2g},
                {across, across_4g},
                {length - table.size(), table}});

  for (const std::vector<std::string>& route :
       std::vector<std::vector<std::string>>{
           {preload(), "SHIM_COPY_MOST=32768"},
           {preload(), "SHIM_NO_COPY_FILE_RANGE=1", "SHIM_COPY_MOST=32768"},
           {preload(), "SHIM_NO_COPY_FILE_RANGE=1", "SHIM_NO_SENDFILE=1"}}) {
    SCOPED_TRACE(route.back());
    remove_tree(scratch / "theme_ctf");
    run_options options;
    options.environment = route;
    run_result run = run_tool(scratch.path(), {"theme.ctf"}, options);
    EXPECT_EQ(run.output,
              "Metadata unpacked OK.\nFiles unpacked OK.\n"
              "PTF unpacked OK.\nFinished OK!\n");
    EXPECT_EQ(run.status, 0);
    tree written = snapshot_tree(scratch / "theme_ctf");
    EXPECT_EQ(written.at("small"), "small");
    EXPECT_EQ(written.at("at-2g"), at_2g);
    EXPECT_EQ(written.at("near-4g"), near_4g);
    EXPECT_TRUE(written.at("across-4g") == across_4g);
    EXPECT_EQ(written.at("theme.ptf"), header);
  }
}

TEST(LargeThemeFile, LargestPtfImageIsCopiedWhole) {
  scratch_directory scratch;
  // The 4 GiB image is written for real.
  std::string why = cannot_hold(scratch.path(), 9 * GIB);
  if (!why.empty()) GTEST_SKIP() << "skipped: " << why;

  const uint32_t body_length = 0xFFFFFFFFu;
  const uint64_t image_length = uint64_t{body_length} + PTF_HEADER_SIZE;
  std::string header = header_with(0, body_length);
  write_sparse(
      scratch / "theme.ctf", image_length,
      {{0, header}, {0x80000000u, "middle"}, {image_length - 4, "last"}});

  run_result run = run_tool(scratch.path(), {"theme.ctf"});
  EXPECT_EQ(run.output,
            "Metadata unpacked OK.\nFiles unpacked OK.\n"
            "PTF unpacked OK.\nFinished OK!\n");
  EXPECT_EQ(run.status, 0);
  std::string image = scratch / "theme_ctf/theme.ptf";
  struct stat status {};
  ASSERT_EQ(stat(image.c_str(), &status), 0);
  EXPECT_EQ(static_cast<uint64_t>(status.st_size), image_length);
  EXPECT_EQ(bytes_at(image, 0, PTF_HEADER_SIZE), header);
  EXPECT_EQ(bytes_at(image, 0x80000000u, 6), "middle");
  EXPECT_EQ(bytes_at(image, image_length - 4, 4), "last");
}

#ifndef THEMEUNPACK_SANITIZED
// The image is copied through one small buffer, so an image larger than the
// address space the tool may use is written whole all the same.
TEST(LargeThemeFile, ImageLargerThanTheAddressSpaceLimitIsWrittenWhole) {
  scratch_directory scratch;
  std::string why = cannot_hold(scratch.path(), 0);
  if (!why.empty()) GTEST_SKIP() << "skipped: " << why;

  const uint32_t body_length = 768u << 20;
  write_sparse(scratch / "theme.ctf", uint64_t{body_length} + PTF_HEADER_SIZE,
               {{0, header_with(0, body_length)}});
  run_options limited;
  limited.address_space_limit = 256u << 20;
  run_result run = run_tool(scratch.path(), {"theme.ctf"}, limited);
  EXPECT_EQ(run.output,
            "Metadata unpacked OK.\nFiles unpacked OK.\n"
            "PTF unpacked OK.\nFinished OK!\n");
  EXPECT_EQ(run.status, 0);
  struct stat status {};
  ASSERT_EQ(stat((scratch / "theme_ctf/theme.ptf").c_str(), &status), 0);
  EXPECT_EQ(static_cast<uint64_t>(status.st_size),
            uint64_t{body_length} + PTF_HEADER_SIZE);
}
#endif

}  // namespace
