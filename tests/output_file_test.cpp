#include "unpack/output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/test_support.h"

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

class SymlinkCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(symlink("/", (scratch_ / "link").c_str()), 0);
    write_file(scratch_ / "file", "x");
    ASSERT_EQ(symlink("file", (scratch_ / "file-link").c_str()), 0);
  }
  std::string at(const std::string& name) const { return scratch_ / name; }
  scratch_directory scratch_;
};

TEST_F(SymlinkCheck, FindsLinksAmongTheDirectories) {
  EXPECT_TRUE(directories_hold_symlink(at("link/etc/x").c_str(), nullptr));
  EXPECT_TRUE(directories_hold_symlink(at("link/x").c_str(), nullptr));
  EXPECT_FALSE(directories_hold_symlink(at("link").c_str(), nullptr));
  EXPECT_FALSE(directories_hold_symlink(at("plain/x").c_str(), nullptr));
}

TEST_F(SymlinkCheck, FindsTheTargetItselfBeingALink) {
  EXPECT_TRUE(path_holds_symlink(at("file-link").c_str(), nullptr));
  EXPECT_TRUE(path_holds_symlink(at("link").c_str(), nullptr));
  EXPECT_FALSE(path_holds_symlink(at("file").c_str(), nullptr));
  EXPECT_FALSE(path_holds_symlink(at("absent").c_str(), nullptr));
}

TEST(WriteOutputFile, WritesExactlyAndLeavesNothingOnFailure) {
  scratch_directory scratch;
  std::string path = scratch / "out.bin";
  write_file(path, "old and longer contents");
  ASSERT_EQ(write_output_file(path.c_str(), "new", 3), write_result::written);
  EXPECT_EQ(read_file(path), "new");
  ASSERT_EQ(write_output_file(path.c_str(), nullptr, 0), write_result::written);
  EXPECT_EQ(read_file(path), "");

  std::string below_file = scratch / "out.bin/x";
  EXPECT_EQ(write_output_file(below_file.c_str(), "x", 1),
            write_result::cannot_write);
  EXPECT_EQ(snapshot_tree(scratch.path()).size(), 1u);
}

}  // namespace

namespace {

TEST(MakeParentDirectories, RemembersOnlyRealDirectoriesAndWhichItMade) {
  scratch_directory scratch;
  ASSERT_EQ(mkdir((scratch / "old").c_str(), 0755), 0);
  write_file(scratch / "file", "x");
  directory_cache cache;
  for (std::string path : {scratch / "old/new/deep/f", scratch / "file/x"}) {
    ASSERT_FALSE(directories_hold_symlink(path.c_str(), &cache));
    make_parent_directories(path.data(), &cache);
  }
  EXPECT_FALSE(cache.made_by_run.at(scratch / "old"));
  EXPECT_TRUE(cache.made_by_run.at(scratch / "old/new"));
  EXPECT_TRUE(cache.made_by_run.at(scratch / "old/new/deep"));
  // A file in the way may be removed later; it is never taken for a directory.
  EXPECT_EQ(cache.made_by_run.count(scratch / "file"), 0u);
  EXPECT_EQ(snapshot_tree(scratch.path()).at("old/new/deep"), DIRECTORY_MARK);
}

}  // namespace
