#include "tree/output_tree.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/test_support.h"
#include "tools/theme_builder.h"

namespace {

TEST(LeadsOutside, RefusesDotDotComponentsOnEitherSeparator) {
  for (const char* path : {"..", "../x", "./../x", "./a/../../x", "./a/..",
                           ".\\..\\x", "./a\\..", "..\\x", "./a/..\\b"}) {
    EXPECT_TRUE(leads_outside(path)) << path;
  }
  for (const char* path : {".", "./a", "./..a", "./a..", "./a/...", "./.a/b",
                           "./a..b/c", "./a/./b", "", "./a//b"}) {
    EXPECT_FALSE(leads_outside(path)) << path;
  }
}

// A tree opened in a scratch directory, protecting a small theme file in it.
class OutputTree : public ::testing::Test {
 protected:
  void SetUp() override {
    write_file(scratch_ / "t.ctf", build_theme({}).bytes);
    struct stat status {};
    ASSERT_EQ(stat((scratch_ / "t.ctf").c_str(), &status), 0);
    file_identity theme{static_cast<uint64_t>(status.st_dev),
                        static_cast<uint64_t>(status.st_ino)};
    ASSERT_EQ(chdir(scratch_.path().c_str()), 0);
    int error = 0;
    ASSERT_TRUE(open_output_tree("out", "patch-only", theme, &tree_, &error));
  }
  void TearDown() override {
    close_output_tree(&tree_);
    ASSERT_EQ(chdir("/"), 0);
  }
  // Staged, appended in two pieces and published; the first failure is the
  // result.
  tree_result write(const char* path, const std::string& data,
                    stage_mode mode = stage_mode::make_directories) {
    staged_output output;
    tree_result result = stage_output(&tree_, path, mode, &output);
    size_t half = data.size() / 2;
    if (result == tree_result::done) {
      result = append_output(&output, data.data(), half);
    }
    if (result == tree_result::done) {
      result = append_output(&output, data.data() + half, data.size() - half);
    }
    return result == tree_result::done ? publish_output(&output) : result;
  }
  std::string at(const std::string& name) const {
    return scratch_ / ("out/" + name);
  }

  scratch_directory scratch_;
  output_tree tree_;
};

TEST_F(OutputTree, WritesNewAndReplacesOldFilesExactly) {
  ASSERT_EQ(write("./a/b/new", "new"), tree_result::done);
  write_file(at("old"), "old and longer contents");
  ASSERT_EQ(write("old", "short"), tree_result::done);
  ASSERT_EQ(write("./a//./b/empty", ""), tree_result::done);
  tree expected = {{"patch-only", DIRECTORY_MARK},
                   {"a", DIRECTORY_MARK},
                   {"a/b", DIRECTORY_MARK},
                   {"a/b/new", "new"},
                   {"a/b/empty", ""},
                   {"old", "short"}};
  EXPECT_EQ(snapshot_tree(scratch_ / "out"), expected);
}

// The tree keeps its promises whoever calls it: every refusal is its own,
// not the caller's, and leaves nothing behind, outside or in.
TEST_F(OutputTree, RefusesWhatWouldLeaveItOrReplaceWhatItMustNot) {
  scratch_directory outside;
  ASSERT_EQ(mkdir((scratch_ / "escaped").c_str(), 0755), 0);
  ASSERT_EQ(symlink(outside.path().c_str(), at("link").c_str()), 0);
  ASSERT_EQ(symlink("patch-only", at("inner").c_str()), 0);
  ASSERT_EQ(link((scratch_ / "t.ctf").c_str(), at("input").c_str()), 0);
  write_file(at("file"), "kept");
  const struct {
    const char* path;
    tree_result expected;
  } refusals[] = {
      {"..", tree_result::leads_outside},
      {"../escaped", tree_result::leads_outside},
      {"./../escaped", tree_result::leads_outside},
      {"./a/../../escaped", tree_result::leads_outside},
      {"./a/..", tree_result::leads_outside},
      {"..\\escaped", tree_result::leads_outside},
      {"./escaped/..\\x", tree_result::leads_outside},
      {"./link/x", tree_result::through_link},
      {"./link", tree_result::through_link},
      {"./inner/x", tree_result::through_link},  // a link that stays inside
      {"./inner", tree_result::through_link},
      {"./input", tree_result::protected_file},
      {"./file/x", tree_result::cannot_write},
      {"./patch-only", tree_result::cannot_write},
      {"./t/", tree_result::cannot_write},
      {"./t/.", tree_result::cannot_write},
  };
  for (const auto& refusal : refusals) {
    for (stage_mode mode :
         {stage_mode::make_directories, stage_mode::check_name}) {
      EXPECT_EQ(write(refusal.path, "x", mode), refusal.expected)
          << refusal.path;
    }
  }
  EXPECT_TRUE(snapshot_tree(outside.path()).empty());
  EXPECT_TRUE(snapshot_tree(scratch_ / "escaped").empty());
  tree written = snapshot_tree(scratch_ / "out");
  EXPECT_EQ(written.size(), 6u);  // what was there, and "t" made on the way
  EXPECT_EQ(written.at("file"), "kept");
  EXPECT_EQ(written.at("t"), DIRECTORY_MARK);
  EXPECT_EQ(read_file(scratch_ / "t.ctf"), build_theme({}).bytes);
}

// An output that is not published, after any number of pieces, leaves every
// name as it was and no file under any other name.
TEST_F(OutputTree, UnpublishedOutputsLeaveNothing) {
  write_file(at("old"), "old");
  for (int pieces : {0, 1, 3}) {
    for (const char* path : {"old", "./new", "./d/new"}) {
      staged_output output;
      ASSERT_EQ(
          stage_output(&tree_, path, stage_mode::make_directories, &output),
          tree_result::done);
      for (int i = 0; i < pieces; ++i) {
        ASSERT_EQ(append_output(&output, "piece", 5), tree_result::done);
      }
    }
  }
  tree expected = {
      {"patch-only", DIRECTORY_MARK}, {"d", DIRECTORY_MARK}, {"old", "old"}};
  EXPECT_EQ(snapshot_tree(scratch_ / "out"), expected);
}

}  // namespace
