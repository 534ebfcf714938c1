// Complete runs, end to end: stdout, status and the whole tree written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "format/theme_file.h"
#include "tests/test_support.h"
#include "tests/unpack_oracle.h"
#include "tools/file_tree.h"
#include "tools/theme_builder.h"

namespace {

const char* const FINISHED_OK_LINES = "PTF unpacked OK.\nFinished OK!\n";

class UnpackRun : public ::testing::Test {
 protected:
  // Writes the theme as theme.ctf and returns it as built.
  const built_theme& make_theme(const theme_blueprint& blueprint) {
    theme_ = build_theme(blueprint);
    write_file(scratch_ / "theme.ctf", theme_.bytes);
    return theme_;
  }
  run_result unpack(const run_options& options = {}) {
    return run_tool(scratch_.path(), {"theme.ctf"}, options);
  }
  tree written() const { return snapshot_tree(scratch_ / "theme_ctf"); }
  std::string in_theme_directory(const std::string& name) const {
    return scratch_ / ("theme_ctf/" + name);
  }
  void make_theme_directory() {
    ASSERT_EQ(mkdir(in_theme_directory("").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(in_theme_directory("patch-only").c_str(), 0755), 0);
  }
  std::string data_of(size_t record) const {
    const theme_record& r = theme_.records.at(record);
    return theme_.bytes.substr(r.offset, r.size);
  }
  std::string ptf_image(size_t body_length) const {
    return theme_.bytes.substr(0, PTF_HEADER_SIZE + body_length);
  }
  // What every complete run writes besides the packed files.
  tree base_tree(const std::string& report, size_t body_length) const {
    return {{"patch-only", DIRECTORY_MARK},
            {"theme info.txt", report},
            {"theme.ptf", ptf_image(body_length)}};
  }

  scratch_directory scratch_;
  built_theme theme_;
};

const std::string SAMPLE_REPORT_HEAD =
    "Short theme name: Sample\n"
    "Internal ID: SAMPLE01\n"
    "Required firmware: 6.60\n";

TEST_F(UnpackRun, TypicalThemeUnpacksWhole) {
  theme_blueprint blueprint;
  blueprint.ptf_body = "ptf body bytes";
  blueprint.files = {{"/vsh/module/paf.prx", "patch data"},
                     {"/x/y.bin", std::string("\0\1\2\r\n\xff", 6)}};
  make_theme(blueprint);
  run_result run = unpack();
  EXPECT_EQ(run.output,
            "Metadata unpacked OK.\n"
            "Unpacking paf.prx patch...\n"
            "Files unpacked OK.\n"
            "PTF unpacked OK.\n"
            "Finished OK!\n");
  EXPECT_EQ(run.status, 0);
  tree expected = base_tree(SAMPLE_REPORT_HEAD + "Files in theme: 2\n", 14);
  expected.insert({{"patch-only/paf.prx.patch", "patch data"},
                   {"vsh", DIRECTORY_MARK},
                   {"vsh/module", DIRECTORY_MARK},
                   {"x", DIRECTORY_MARK},
                   {"x/y.bin", data_of(1)}});
  EXPECT_EQ(written(), expected);
  // Nothing is written beside the theme directory.
  EXPECT_EQ(snapshot_tree(scratch_.path()).size(), expected.size() + 2);
}

TEST_F(UnpackRun, ReportFollowsTheTextRule) {
  theme_blueprint blueprint;
  blueprint.short_name = "";
  blueprint.internal_id = "ID\nrest";
  blueprint.required_firmware = "9.99X";  // full width: cut at four bytes
  blueprint.file_count = 0;
  make_theme(blueprint);
  write_file(scratch_ / "stale", "");
  make_theme_directory();
  write_file(in_theme_directory("theme info.txt"), std::string(500, 'o'));
  run_result run = unpack();
  EXPECT_EQ(run.output, "Metadata unpacked OK.\nFiles unpacked OK.\n" +
                            std::string(FINISHED_OK_LINES));
  EXPECT_EQ(read_file(in_theme_directory("theme info.txt")),
            "Short theme name: \nInternal ID: ID\n\nRequired firmware: 9.99\n"
            "Files in theme: 0\n");
}

TEST_F(UnpackRun, CountsOfTwoToTheThirtyFirstOrMorePrintNegative) {
  for (uint32_t count : {0x80000000u, 0xFFFFFFFFu}) {
    theme_blueprint blueprint;
    blueprint.file_count = count;
    make_theme(blueprint);
    run_result run = unpack();
    EXPECT_EQ(run.output,
              "Metadata unpacked OK.\n"
              "File table does not fit in the theme file.\n"
              "Files unpacked with errors.\n"
              "PTF unpacked OK.\n"
              "Finished with errors.\n");
    EXPECT_EQ(run.status, 255);
    std::string shown = count == 0xFFFFFFFFu ? "-1" : "-2147483648";
    EXPECT_EQ(
        written(),
        base_tree(SAMPLE_REPORT_HEAD + "Files in theme: " + shown + "\n", 0));
  }
}

TEST_F(UnpackRun, RedirectsOnlyWholeModulePathsInAnyCase) {
  theme_blueprint blueprint;
  blueprint.files = {{"/VSH/MODULE/PAF.PRX", "first paf"},
                     {"/vsh/module/paf.prx.bak", "bak"},
                     {"/module/paf.prx", "not a module"},
                     {"/vsh/module/Common_Gui.prx", "gui"},
                     {"/vsh/module/vshmain.prx", "main"},
                     {"/vsh/module/paf.prx", "second paf"}};
  make_theme(blueprint);
  run_result run = unpack();
  EXPECT_EQ(run.output,
            "Metadata unpacked OK.\n"
            "Unpacking paf.prx patch...\n"
            "Unpacking common_gui.prx patch...\n"
            "Unpacking vshmain.prx patch...\n"
            "Unpacking paf.prx patch...\n"
            "Files unpacked OK.\n" +
                std::string(FINISHED_OK_LINES));
  tree expected = base_tree(SAMPLE_REPORT_HEAD + "Files in theme: 6\n", 0);
  // Names that differ only in case are one on Windows: the directories made
  // first take every later entry.
  std::string vsh = tool_launcher() != nullptr ? "VSH" : "vsh";
  std::string module = tool_launcher() != nullptr ? "VSH/MODULE" : "vsh/module";
  expected.insert({{"VSH", DIRECTORY_MARK},
                   {"VSH/MODULE", DIRECTORY_MARK},
                   {vsh, DIRECTORY_MARK},
                   {module, DIRECTORY_MARK},
                   {module + "/paf.prx.bak", "bak"},
                   {"module", DIRECTORY_MARK},
                   {"module/paf.prx", "not a module"},
                   {"patch-only/paf.prx.patch", "second paf"},
                   {"patch-only/common_gui.prx.patch", "gui"},
                   {"patch-only/vshmain.prx.patch", "main"}});
  EXPECT_EQ(written(), expected);
}

TEST_F(UnpackRun, StoredNamesAreTakenAsTheyStand) {
  theme_blueprint blueprint;
  blueprint.ptf_body = "BODY";
  blueprint.files = {{"x/y", "no leading slash"},
                     {"/dup", "first"},
                     {"/dup", "second"},
                     {"/empty", ""},
                     {"/theme info.txt", "replaces the report"},
                     {"/theme.ptf", "replaced by the image"},
                     {"/a/b/c/d/e.txt", "deep"}};
  make_theme(blueprint);
  make_theme_directory();
  write_file(in_theme_directory("empty"), "emptied by the run");
  run_result run = unpack();
  EXPECT_EQ(run.output, "Metadata unpacked OK.\nFiles unpacked OK.\n" +
                            std::string(FINISHED_OK_LINES));
  tree expected = base_tree("replaces the report", 4);
  expected.insert({{".x", DIRECTORY_MARK},
                   {".x/y", "no leading slash"},
                   {"dup", "second"},
                   {"empty", ""},
                   {"a", DIRECTORY_MARK},
                   {"a/b", DIRECTORY_MARK},
                   {"a/b/c", DIRECTORY_MARK},
                   {"a/b/c/d", DIRECTORY_MARK},
                   {"a/b/c/d/e.txt", "deep"}});
  EXPECT_EQ(written(), expected);
}

TEST_F(UnpackRun, PtfImageIsCopiedWholeWhateverItOverlaps) {
  theme_blueprint blueprint;
  blueprint.ptf_body = "0123456789";
  // The first file's data lie inside the PTF image, the second's inside the
  // header itself.
  blueprint.files = {{"/in-body", "", PTF_HEADER_SIZE + 2, 5},
                     {"/header", "", 0, 8}};
  make_theme(blueprint);
  EXPECT_EQ(unpack().status, 0);
  EXPECT_EQ(read_file(in_theme_directory("in-body")), "23456");
  EXPECT_EQ(read_file(in_theme_directory("header")),
            std::string("\0PTF", 4) + theme_.bytes.substr(4, 4));
  EXPECT_EQ(read_file(in_theme_directory("theme.ptf")), ptf_image(10));

  theme_blueprint bare;
  make_theme(bare);
  EXPECT_EQ(unpack().status, 0);
  std::string image = read_file(in_theme_directory("theme.ptf"));
  EXPECT_EQ(image.size(), PTF_HEADER_SIZE);
  EXPECT_EQ(image.substr(0, 4), std::string("\0PTF", 4));
}

TEST_F(UnpackRun, LargeBlocksAreCopiedExactly) {
  // Blocks are copied in pieces: lengths on and either side of every power of
  // two a piece might have, none of them on a page boundary in the file.
  auto pattern = [](size_t length, size_t step) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>(i * step);
    return bytes;
  };
  size_t large = (1u << 20) + 1;
  theme_blueprint blueprint;
  blueprint.ptf_body = pattern(large + 6, 3);
  blueprint.files = {{"/small", "s"},
                     {"/d/large.bin", pattern(large + 2, 5)},
                     {"/vsh/module/vshmain.prx", pattern(large, 11)}};
  for (size_t power = 4096; power <= (1u << 20); power *= 2) {
    for (size_t length : {power - 1, power, power + 1}) {
      blueprint.files.push_back(
          {"/p/" + std::to_string(length), pattern(length, 7)});
    }
  }
  make_theme(blueprint);
  run_result run = unpack();
  EXPECT_EQ(run.output, std::string("Metadata unpacked OK.\n"
                                    "Unpacking vshmain.prx patch...\n"
                                    "Files unpacked OK.\n") +
                            FINISHED_OK_LINES);
  EXPECT_EQ(run.status, 0);
  tree expected = base_tree(SAMPLE_REPORT_HEAD + "Files in theme: " +
                                std::to_string(blueprint.files.size()) + "\n",
                            large + 6);
  expected.insert({{"small", "s"},
                   {"d", DIRECTORY_MARK},
                   {"d/large.bin", data_of(1)},
                   {"vsh", DIRECTORY_MARK},
                   {"vsh/module", DIRECTORY_MARK},
                   {"patch-only/vshmain.prx.patch", data_of(2)},
                   {"p", DIRECTORY_MARK}});
  for (size_t i = 3; i < blueprint.files.size(); ++i) {
    expected.insert({blueprint.files[i].name.substr(1), data_of(i)});
  }
  EXPECT_TRUE(written() == expected);
}

TEST_F(UnpackRun, SecondRunReplacesWhatTheFirstWrote) {
  theme_blueprint blueprint;
  blueprint.files = {{"/vsh/module/paf.prx", "patch"}, {"/d/f", "file"}};
  make_theme(blueprint);
  ASSERT_EQ(unpack().status, 0);
  tree first = written();
  write_file(in_theme_directory("d/f"), "edited by the user, and longer");
  write_file(in_theme_directory("patch-only/paf.prx.patch"), "edited");
  run_result second = unpack();
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(written(), first);
}

// A damaged or hostile theme: each bad entry is refused with its message and
// nothing of it reaches the disk, while every good entry is still written.
TEST_F(UnpackRun, RefusesPathsLeadingOutside) {
  theme_blueprint blueprint;
  blueprint.files = {{"/../escape", "x"},
                     {"/a/../../escape", "x"},
                     {"/a\\..\\..\\e", "x"},
                     {"./escape", "x"},
                     {".", "x"},
                     {"/good", "kept"}};
  make_theme(blueprint);
  run_result run = unpack();
  std::string refused = ": its path leads outside the theme directory.\n";
  EXPECT_EQ(run.output,
            "Metadata unpacked OK.\n"
            "Skipping /../escape" +
                refused + "Skipping /a/../../escape" + refused +
                "Skipping /a\\..\\..\\e" + refused + "Skipping ./escape" +
                refused + "Skipping ." + refused +
                "Files unpacked with errors.\n"
                "PTF unpacked OK.\n"
                "Finished with errors.\n");
  EXPECT_EQ(run.status, 255);
  tree expected = base_tree(SAMPLE_REPORT_HEAD + "Files in theme: 6\n", 0);
  expected.insert({"good", "kept"});
  EXPECT_EQ(written(), expected);
  EXPECT_EQ(snapshot_tree(scratch_.path()).size(), expected.size() + 2);
}

TEST_F(UnpackRun, SkipsDataOutsideTheFileButMakesItsDirectories) {
  theme_blueprint blueprint;
  // A diverted patch whose end wraps in 32 bits: refused before it is
  // announced, so a check made in 32 bits, which the read would catch later
  // with the same message, shows in the announcement.
  blueprint.files = {{"/d/past-end", "", 0, 0xFFFFFFFFu},
                     {"/wraps", "", 0xFFFFFFF0u, 0x20},
                     {"/vsh/module/paf.prx", "", 0xFFFFFF00u, 0x200},
                     {"/ok", "fine"}};
  make_theme(blueprint);
  make_theme_directory();
  write_file(in_theme_directory("wraps"), "left alone");
  run_result run = unpack();
  EXPECT_EQ(run.output,
            "Metadata unpacked OK.\n"
            "Skipping /d/past-end: its data lie outside the theme file.\n"
            "Skipping /wraps: its data lie outside the theme file.\n"
            "Skipping /vsh/module/paf.prx: its data lie outside the theme "
            "file.\n"
            "Files unpacked with errors.\n"
            "PTF unpacked OK.\n"
            "Finished with errors.\n");
  EXPECT_EQ(run.status, 255);
  tree expected = base_tree(SAMPLE_REPORT_HEAD + "Files in theme: 4\n", 0);
  expected.insert({{"d", DIRECTORY_MARK},
                   {"vsh", DIRECTORY_MARK},
                   {"vsh/module", DIRECTORY_MARK},
                   {"wraps", "left alone"},
                   {"ok", "fine"}});
  EXPECT_EQ(written(), expected);
}

// Directories are made with mode 0777 and files with 0666, less the umask:
// with none, every bit stays.
TEST_F(UnpackRun, ModesAreThoseOfNewFilesLessTheUmask) {
  if (tool_launcher() != nullptr) GTEST_SKIP() << "Windows files have no modes";
  theme_blueprint blueprint;
  blueprint.files = {{"/d/sub/f", "file"}, {"/vsh/module/paf.prx", "patch"}};
  make_theme(blueprint);
  for (mode_t umask_value : {mode_t{0}, mode_t{022}, mode_t{077}}) {
    SCOPED_TRACE("umask " + std::to_string(umask_value));
    remove_tree(in_theme_directory(""));
    run_options options;
    options.umask = umask_value;
    ASSERT_EQ(unpack(options).status, 0);
    for (const char* directory :
         {"", "patch-only", "d", "d/sub", "vsh/module"}) {
      struct stat status {};
      ASSERT_EQ(stat(in_theme_directory(directory).c_str(), &status), 0);
      EXPECT_EQ(status.st_mode & 07777, 0777 & ~umask_value) << directory;
    }
    for (const char* file : {"d/sub/f", "patch-only/paf.prx.patch",
                             "theme info.txt", "theme.ptf"}) {
      struct stat status {};
      ASSERT_EQ(stat(in_theme_directory(file).c_str(), &status), 0);
      EXPECT_EQ(status.st_mode & 07777, 0666 & ~umask_value) << file;
    }
  }
}

TEST_F(UnpackRun, TargetsThatCannotBeCreatedAreReported) {
  theme_blueprint blueprint;
  blueprint.files = {{"/a", "file a"},
                     {"/a/b", "under a file"},
                     {"", "empty name"},
                     {"/t/", "names a directory"},
                     {"/after", "still written"}};
  make_theme(blueprint);
  run_result run = unpack();
  EXPECT_EQ(run.output,
            "Metadata unpacked OK.\n"
            "Cannot write ./a/b: " +
                reason_for(ENOTDIR) +
                ".\n"
                "Cannot write .: " +
                reason_for(EISDIR) +
                ".\n"
                "Cannot write ./t/: " +
                reason_for(EISDIR) +
                ".\n"
                "Files unpacked with errors.\n"
                "PTF unpacked OK.\n"
                "Finished with errors.\n");
  EXPECT_EQ(run.status, 255);
  tree expected = base_tree(SAMPLE_REPORT_HEAD + "Files in theme: 5\n", 0);
  expected.insert(
      {{"a", "file a"}, {"t", DIRECTORY_MARK}, {"after", "still written"}});
  EXPECT_EQ(written(), expected);
}

TEST_F(UnpackRun, FailedWritesLeaveNoPartialFiles) {
  if (tool_launcher() != nullptr) {
    GTEST_SKIP() << "the write limit would hold for the launcher itself";
  }
  // With writes limited to 1000 bytes per file, the 4000-byte entry and the
  // 2320-byte PTF image fail; what fits is written.
  theme_blueprint blueprint;
  blueprint.ptf_body = std::string(2000, 'p');
  blueprint.files = {{"/small", "small"},
                     {"/vsh/module/paf.prx", std::string(4000, 'b')},
                     {"/last", "last"}};
  make_theme(blueprint);
  run_options limited;
  limited.file_size_limit = 1000;
  run_result run = unpack(limited);
  EXPECT_EQ(run.output,
            "Metadata unpacked OK.\n"
            "Unpacking paf.prx patch...\n"
            "Cannot write ./patch-only/paf.prx.patch: " +
                reason_for(EFBIG) +
                ".\n"
                "Files unpacked with errors.\n"
                "Cannot write theme.ptf: " +
                reason_for(EFBIG) +
                ".\n"
                "Finished with errors.\n");
  EXPECT_EQ(run.status, 255);
  tree expected = {
      {"patch-only", DIRECTORY_MARK},
      {"theme info.txt", SAMPLE_REPORT_HEAD + "Files in theme: 3\n"},
      {"small", "small"},
      {"vsh", DIRECTORY_MARK},
      {"vsh/module", DIRECTORY_MARK},
      {"last", "last"}};
  EXPECT_EQ(written(), expected);
}

TEST_F(UnpackRun, ReportThatCannotBeWrittenDoesNotStopTheRun) {
  theme_blueprint blueprint;
  blueprint.files = {{"/f", "data"}};
  make_theme(blueprint);
  make_theme_directory();
  ASSERT_EQ(mkdir(in_theme_directory("theme info.txt").c_str(), 0755), 0);
  run_result run = unpack();
  EXPECT_EQ(run.output, "Cannot write theme info.txt: " + reason_for(EISDIR) +
                            ".\n"
                            "Files unpacked OK.\n"
                            "PTF unpacked OK.\n"
                            "Finished with errors.\n");
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(written().at("f"), "data");
}

TEST_F(UnpackRun, PtfImageOutsideTheFileIsSkipped) {
  for (uint32_t body_length : {5u, 0xFFFFFFFFu, 0xFFFFFEC0u}) {
    theme_blueprint blueprint;
    blueprint.ptf_body_length = body_length;
    make_theme(blueprint);
    run_result run = unpack();
    EXPECT_EQ(run.output,
              "Metadata unpacked OK.\n"
              "Files unpacked OK.\n"
              "Skipping theme.ptf: its data lie outside the theme file.\n"
              "Finished with errors.\n")
        << body_length;
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(written().count("theme.ptf"), 0u);
  }
}

TEST_F(UnpackRun, DoesNotFollowSymbolicLinksBelowTheThemeDirectory) {
  if (tool_launcher() != nullptr) {
    GTEST_SKIP()
        << "links planted from the host: Windows.LinksPlantedFromTheHost"
           "AreRefused";
  }
  scratch_directory outside;
  theme_blueprint blueprint;
  blueprint.files = {{"/vsh/x", "through a link"},
                     {"/vsh/module/paf.prx", "through a link"},
                     {"/linked-file", "onto a link"},
                     {"/a/b/f", "through a link that stays inside"},
                     {"/ok", "kept"}};
  // The image lies outside the file too: the link is what is reported.
  blueprint.ptf_body_length = 0xFFFFFFFFu;
  make_theme(blueprint);
  make_theme_directory();
  ASSERT_EQ(mkdir(in_theme_directory("c").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(in_theme_directory("c/b").c_str(), 0755), 0);
  ASSERT_EQ(symlink("c", in_theme_directory("a").c_str()), 0);
  ASSERT_EQ(symlink(outside.path().c_str(), in_theme_directory("vsh").c_str()),
            0);
  ASSERT_EQ(symlink((outside / "target").c_str(),
                    in_theme_directory("linked-file").c_str()),
            0);
  ASSERT_EQ(symlink((outside / "info").c_str(),
                    in_theme_directory("theme info.txt").c_str()),
            0);
  ASSERT_EQ(symlink((outside / "ptf").c_str(),
                    in_theme_directory("theme.ptf").c_str()),
            0);
  run_result run = unpack();
  std::string through = ": its path goes through a symbolic link.\n";
  EXPECT_EQ(run.output, "Skipping theme info.txt" + through +
                            "Skipping /vsh/x" + through +
                            "Skipping /vsh/module/paf.prx" + through +
                            "Skipping /linked-file" + through +
                            "Skipping /a/b/f" + through +
                            "Files unpacked with errors.\n"
                            "Skipping theme.ptf" +
                            through + "Finished with errors.\n");
  EXPECT_EQ(run.status, 255);
  EXPECT_TRUE(snapshot_tree(outside.path()).empty());
  tree expected = {{"patch-only", DIRECTORY_MARK},
                   {"vsh", "<symlink>"},
                   {"linked-file", "<symlink>"},
                   {"theme info.txt", "<symlink>"},
                   {"theme.ptf", "<symlink>"},
                   {"ok", "kept"},
                   {"a", "<symlink>"},
                   {"c", DIRECTORY_MARK},
                   {"c/b", DIRECTORY_MARK}};
  EXPECT_EQ(written(), expected);
}

TEST_F(UnpackRun, DoesNotFollowALinkedPatchDirectory) {
  scratch_directory outside;
  theme_blueprint blueprint;
  blueprint.files = {{"/vsh/module/vshmain.prx", "patch"}};
  make_theme(blueprint);
  ASSERT_EQ(mkdir(in_theme_directory("").c_str(), 0755), 0);
  ASSERT_EQ(
      symlink(outside.path().c_str(), in_theme_directory("patch-only").c_str()),
      0);
  run_result run = unpack();
  EXPECT_EQ(run.output,
            "Metadata unpacked OK.\n"
            "Skipping /vsh/module/vshmain.prx: its path goes through a "
            "symbolic link.\n"
            "Files unpacked with errors.\n"
            "PTF unpacked OK.\n"
            "Finished with errors.\n");
  EXPECT_TRUE(snapshot_tree(outside.path()).empty());
}

#ifndef THEMEUNPACK_SANITIZED
// Every block is copied through one small buffer, so an entry larger than the
// address space the tool may use is unpacked whole all the same.
TEST_F(UnpackRun, EntryLargerThanTheAddressSpaceLimitIsUnpackedWhole) {
  if (tool_launcher() != nullptr) {
    GTEST_SKIP() << "the memory limit would hold for the launcher itself";
  }
  // A sparse 768 MiB entry under a 256 MiB address-space limit.
  constexpr uint32_t big = 768u << 20;
  theme_blueprint blueprint;
  blueprint.files = {{"/big", "", PTF_HEADER_SIZE, big}, {"/small", "fits"}};
  built_theme built = build_theme(blueprint);
  std::string head = built.bytes.substr(0, built.table_offset);
  std::string table = built.bytes.substr(built.table_offset);
  // Move the table past the big entry's data, leaving a hole between.
  uint64_t table_at = PTF_HEADER_SIZE + static_cast<uint64_t>(big) + 4;
  write_file(scratch_ / "theme.ctf", head);
  ASSERT_EQ(
      truncate((scratch_ / "theme.ctf").c_str(), static_cast<off_t>(table_at)),
      0);
  FILE* file = fopen((scratch_ / "theme.ctf").c_str(), "ab");
  fwrite(table.data(), 1, table.size(), file);
  fclose(file);
  run_options limited;
  limited.address_space_limit = 256u << 20;
  run_result run = unpack(limited);
  EXPECT_EQ(run.output,
            "Metadata unpacked OK.\n"
            "Files unpacked OK.\n"
            "PTF unpacked OK.\n"
            "Finished OK!\n");
  EXPECT_EQ(run.status, 0);
  struct stat status {};
  ASSERT_EQ(stat((scratch_ / "theme_ctf/big").c_str(), &status), 0);
  EXPECT_EQ(static_cast<uint64_t>(status.st_size), big);
  EXPECT_EQ(read_file(scratch_ / "theme_ctf/small"), "fits");
}
#endif

// A theme file on another file system than its outputs (tmpfs, the outputs on
// the test folder's): the kernel will not copy_file_range across them, and
// every file still arrives exact, as the oracle reads the bytes.
TEST(FileSystemsWithoutHardLinks, ThemeFileOnAnotherFileSystemIsCopiedExactly) {
  if (tool_launcher() != nullptr) GTEST_SKIP() << "for the Linux build";
  scratch_directory outputs;
  struct stat shm {};
  struct stat here {};
  if (stat("/dev/shm", &shm) != 0 || !S_ISDIR(shm.st_mode) ||
      access("/dev/shm", W_OK) != 0 ||
      stat(outputs.path().c_str(), &here) != 0 || shm.st_dev == here.st_dev) {
    GTEST_SKIP() << "no writable tmpfs at /dev/shm apart from the test folder";
  }
  theme_blueprint blueprint;
  blueprint.ptf_body = std::string(70000, 'p');
  blueprint.files = {{"/big", std::string(3 * 1024 * 1024 + 7, 'b')},
                     {"/vsh/module/paf.prx", "patch"},
                     {"/empty", ""}};
  std::string bytes = build_theme(blueprint).bytes;
  char pattern[] = "/dev/shm/themeunpack-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string theme = std::string(pattern) + "/theme.ctf";
  write_file(theme, bytes);
  run_result run = run_tool(outputs.path(), {theme});
  remove_tree(pattern);
  EXPECT_EQ(run.output,
            "Metadata unpacked OK.\nUnpacking paf.prx patch...\n"
            "Files unpacked OK.\nPTF unpacked OK.\nFinished OK!\n");
  std::map<std::string, std::string> files;
  for (const auto& [path, contents] : snapshot_tree(outputs / "theme_ctf")) {
    if (contents != DIRECTORY_MARK) files[path] = contents;
  }
  EXPECT_TRUE(files == expected_contents(bytes));
}

// On file systems that have no hard links (FAT and exFAT, here through FUSE on
// an image file) every file is written all the same, first and over an
// earlier run, and no temporary name is left. Needs root, /dev/fuse and
// Debian's fusefat, exfat-fuse, dosfstools and exfatprogs; skipped otherwise.
TEST(FileSystemsWithoutHardLinks, GetEveryFile) {
  if (tool_launcher() != nullptr) GTEST_SKIP() << "for the Linux build";
  if (getuid() != 0 || access("/dev/fuse", R_OK | W_OK) != 0) {
    GTEST_SKIP() << "mounting an image needs root and /dev/fuse";
  }
  const struct {
    const char* name;
    const char* make;    // %s: the image
    const char* mount;   // %s: the image, then the mount point
    bool unicode_names;  // fusefat makes ASCII names alone
  } file_systems[] = {
      {"FAT16", "mkfs.vfat %s", "fusefat -o rw+ %s %s", false},
      {"exFAT", "mkfs.exfat %s",
       "device=$(losetup -f --show %s) && mount.exfat-fuse \"$device\" %s",
       true},
  };
  theme_blueprint blueprint;
  blueprint.ptf_body = "image";
  blueprint.files = {{"/d/sub/a", "a"},
                     {"/d/b", std::string(300001, 'b')},
                     {"/vsh/module/paf.prx", "patch"},
                     {"/empty", ""}};
  std::string bytes = build_theme(blueprint).bytes;
  const tree expected = expected_tree(blueprint);

  for (const auto& file_system : file_systems) {
    SCOPED_TRACE(file_system.name);
    scratch_directory scratch;
    std::string image = scratch / "image";
    std::string mounted = scratch / "mounted";
    ASSERT_EQ(mkdir(mounted.c_str(), 0755), 0);
    char command[1024];
    snprintf(command, sizeof command,
             "truncate -s 32M %s && %s > /dev/null 2>&1", image.c_str(),
             file_system.make);
    std::string make = command;
    snprintf(command, sizeof command, make.c_str(), image.c_str());
    if (system(command) != 0) {
      GTEST_SKIP() << "cannot make a " << file_system.name << " image";
    }
    snprintf(command, sizeof command, file_system.mount, image.c_str(),
             mounted.c_str());
    if (system((std::string(command) + " > /dev/null 2>&1").c_str()) != 0) {
      GTEST_SKIP() << "cannot mount a " << file_system.name << " image";
    }
    write_file(mounted + "/theme.ctf", bytes);
    run_result first = run_tool(mounted, {"theme.ctf"});
    tree after_first = snapshot_tree(mounted + "/theme_ctf");
    run_result second = run_tool(mounted, {"theme.ctf"});
    tree after_second = snapshot_tree(mounted + "/theme_ctf");
    // The theme file inside its own theme directory and an entry naming it in
    // another case: on these file systems that is the theme file, whatever
    // identity FUSE gives each spelling, in capitals too and beyond ASCII
    // (the folder folds case by Unicode). The same name in a folder below is
    // another file, and is replaced.
    struct alias {
      std::string theme;  // the theme file, in its own theme directory
      std::string entry;  // a stored name
      bool refused;
    };
    const std::vector<alias> aliases = {
        {"t_ctf/t.ctf", "/T.CTF", true},
        {"U_CTF/U.CTF", "/u.ctf", true},
        {"V_CTF/V.CTF", "/sub/v.ctf", false},
        // Beyond ASCII last: FAT16 through fusefat takes none of them.
        {"\xc3\xbc_ctf/\xc3\xbc.ctf", "/\xc3\x9c.CTF", true},
        {"th\xc3\xa8me_ctf/th\xc3\xa8me.ctf", "/TH\xc3\x88ME.CTF", true}};
    std::vector<run_result> aliased;
    std::vector<std::string> theme_after;
    std::vector<std::string> entry_after;
    std::vector<std::string> other_after;
    for (const alias& a : aliases) {
      bool ascii = a.theme.find('\xc3') == std::string::npos;
      if (!ascii && !file_system.unicode_names) continue;
      std::string folder = mounted + "/" + a.theme.substr(0, a.theme.find('/'));
      // Failing here, the image must still be unmounted below.
      if (mkdir(folder.c_str(), 0755) != 0 ||
          mkdir((folder + "/sub").c_str(), 0755) != 0) {
        ADD_FAILURE() << "cannot make " << folder << ": the daemon is gone?";
        break;
      }
      write_file(folder + "/sub/v.ctf", "from before");
      theme_blueprint aliasing;
      aliasing.files = {{a.entry, "the entry's bytes"}, {"/other", "o"}};
      write_file(mounted + "/" + a.theme, build_theme(aliasing).bytes);
      aliased.push_back(run_tool(mounted, {a.theme}));
      theme_after.push_back(read_file(mounted + "/" + a.theme));
      entry_after.push_back(read_file(folder + "/sub/v.ctf"));
      // The file system's daemon is still there to answer.
      other_after.push_back(read_file(folder + "/other"));
    }
    EXPECT_EQ(
        system(("fusermount -u " + mounted + " > /dev/null 2>&1").c_str()), 0)
        << "cannot unmount " << mounted;
    EXPECT_EQ(
        system(("losetup -j " + image + " -O NAME -n | xargs -r -n1 losetup -d")
                   .c_str()),
        0)
        << "cannot detach the loop device of " << image;
    EXPECT_EQ(first.output,
              "Metadata unpacked OK.\nUnpacking paf.prx patch...\n"
              "Files unpacked OK.\nPTF unpacked OK.\nFinished OK!\n");
    EXPECT_TRUE(after_first == expected);
    EXPECT_EQ(second.output, first.output);
    EXPECT_TRUE(after_second == expected);
    for (size_t i = 0; i < aliased.size(); ++i) {
      const alias& a = aliases[i];
      SCOPED_TRACE(a.theme + " and " + a.entry);
      theme_blueprint aliasing;
      aliasing.files = {{a.entry, "the entry's bytes"}, {"/other", "o"}};
      EXPECT_EQ(aliased[i].output,
                a.refused ? "Metadata unpacked OK.\nSkipping " + a.entry +
                                ": it would overwrite the theme file.\n"
                                "Files unpacked with errors.\nPTF unpacked "
                                "OK.\nFinished with errors.\n"
                          : first.output.substr(0, 22) +
                                "Files unpacked OK.\nPTF unpacked OK.\n"
                                "Finished OK!\n");
      EXPECT_TRUE(theme_after[i] == build_theme(aliasing).bytes);
      EXPECT_EQ(entry_after[i],
                a.refused ? "from before" : "the entry's bytes");
      EXPECT_EQ(other_after[i], "o");
    }
  }
}

// A FAT card mounted inside the theme directory: what it does not offer
// (files without a name, linking, a rename that refuses to replace) is learnt
// for the card alone. Every file is written, on the card by temporary names
// and around it, before and after, without them. Needs what the test above
// needs.
TEST(FileSystemsWithoutHardLinks, ACardMountedInsideTheThemeDirectory) {
  if (tool_launcher() != nullptr) GTEST_SKIP() << "for the Linux build";
  if (getuid() != 0 || access("/dev/fuse", R_OK | W_OK) != 0) {
    GTEST_SKIP() << "mounting an image needs root and /dev/fuse";
  }
  scratch_directory scratch;
  std::string card = scratch / "theme_ctf/card";
  ASSERT_EQ(mkdir((scratch / "theme_ctf").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(card.c_str(), 0755), 0);
  std::string image = scratch / "image";
  if (system(("truncate -s 32M " + image + " && mkfs.vfat " + image +
              " > /dev/null 2>&1")
                 .c_str()) != 0 ||
      system(("fusefat -o rw+ " + image + " " + card + " > /dev/null 2>&1")
                 .c_str()) != 0) {
    GTEST_SKIP() << "cannot make and mount a FAT16 image";
  }
  theme_blueprint blueprint;
  blueprint.ptf_body = "image";
  blueprint.files = {{"/a", "a"},
                     {"/card/c0.bin", "c0"},
                     {"/card/sub/c1.bin", std::string(300001, 'c')},
                     {"/z", "z"}};
  write_file(scratch / "theme.ctf", build_theme(blueprint).bytes);
  run_options options;
  options.environment = {preload(), "SHIM_LOG=" + scratch / "log"};
  run_result run = run_tool(scratch.path(), {"theme.ctf"}, options);
  tree written = snapshot_tree(scratch / "theme_ctf");
  EXPECT_EQ(system(("fusermount -u " + card + " > /dev/null 2>&1").c_str()), 0);
  EXPECT_EQ(run.output,
            "Metadata unpacked OK.\nFiles unpacked OK.\nPTF unpacked OK.\n"
            "Finished OK!\n");
  tree expected = expected_tree(blueprint);
  expected["card"] = DIRECTORY_MARK;
  EXPECT_TRUE(written == expected);
  // The two files on the card by temporary names; the report, /a, /z and
  // the image without.
  std::string log = read_file(scratch / "log");
  size_t temporary = 0;
  for (size_t at = 0; (at = log.find("temporary\n", at)) != std::string::npos;
       ++at) {
    ++temporary;
  }
  EXPECT_EQ(temporary, 2u) << log;
}

}  // namespace
