#include "unpack/output_tree.h"

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

// A tree opened in a scratch directory over a small theme file in it.
class OutputTree : public ::testing::Test {
 protected:
  void SetUp() override {
    write_file(scratch_ / "t.ctf", build_theme({}).bytes);
    ASSERT_EQ(open_theme_file((scratch_ / "t.ctf").c_str(), &theme_),
              open_result::opened);
    ASSERT_EQ(chdir(scratch_.path().c_str()), 0);
    ASSERT_TRUE(open_output_tree("out", "patch-only", theme_, &tree_));
  }
  void TearDown() override {
    close_output_tree(&tree_);
    fclose(theme_.stream);
    ASSERT_EQ(chdir("/"), 0);
  }
  // Without the early look at the name, so that the write's own checks are
  // what refuses.
  tree_result write(const char* path, const std::string& data) {
    tree_result prepared = prepare_output(&tree_, path, true);
    if (prepared != tree_result::done) {
      release_prepared_output(&tree_);
      return prepared;
    }
    return write_prepared_output(&tree_, data.data(), data.size(), 0);
  }
  std::string at(const std::string& name) const {
    return scratch_ / ("out/" + name);
  }

  scratch_directory scratch_;
  theme_file theme_;
  output_tree tree_;
};

TEST_F(OutputTree, WritesNewAndReplacesOldFilesExactly) {
  ASSERT_EQ(write("./a/b/new", "new"), tree_result::done);
  write_file(at("old"), "old and longer contents");
  ASSERT_EQ(write("old", "short"), tree_result::done);
  ASSERT_EQ(write("./a//./b/empty", ""), tree_result::done);
  tree expected = {{"patch-only", DIRECTORY_MARK}, {"a", DIRECTORY_MARK},
                   {"a/b", DIRECTORY_MARK},        {"a/b/new", "new"},
                   {"a/b/empty", ""},              {"old", "short"}};
  EXPECT_EQ(snapshot_tree(scratch_ / "out"), expected);
}

TEST_F(OutputTree, RefusesLinksAndTheThemeFileAndLeavesNothingOnFailure) {
  scratch_directory outside;
  ASSERT_EQ(symlink(outside.path().c_str(), at("link").c_str()), 0);
  ASSERT_EQ(link((scratch_ / "t.ctf").c_str(), at("input").c_str()), 0);
  write_file(at("file"), "kept");
  EXPECT_EQ(write("./link/x", "x"), tree_result::through_link);
  EXPECT_EQ(write("./link", "x"), tree_result::through_link);
  EXPECT_EQ(write("./input", "x"), tree_result::theme_file);
  EXPECT_EQ(write("./file/x", "x"), tree_result::cannot_write);
  EXPECT_EQ(write("./patch-only", "x"), tree_result::cannot_write);
  EXPECT_EQ(write("./t/", "x"), tree_result::cannot_write);
  EXPECT_TRUE(snapshot_tree(outside.path()).empty());
  tree written = snapshot_tree(scratch_ / "out");
  EXPECT_EQ(written.size(), 5u);  // what was there, and "t" made on the way
  EXPECT_EQ(written.at("file"), "kept");
  EXPECT_EQ(written.at("t"), DIRECTORY_MARK);
  EXPECT_EQ(read_file(scratch_ / "t.ctf"), build_theme({}).bytes);
}

}  // namespace
