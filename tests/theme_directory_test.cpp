#include "unpack/theme_directory.h"

#include <gtest/gtest.h>

namespace {

struct naming_case {
  const char* argument;
  const char* base_name;
  const char* directory;
  const char* ptf_name;
};

// Only "/" separates; only the first "." makes the directory name, only the
// last one the PTF file name.
const naming_case NAMING_CASES[] = {
    {"theme.ctf", "theme.ctf", "theme_ctf", "theme.ptf"},
    {"dir/sub/theme.ctf", "theme.ctf", "theme_ctf", "theme.ptf"},
    {"/abs/dir/theme.ctf", "theme.ctf", "theme_ctf", "theme.ptf"},
    {"a.b.ctf", "a.b.ctf", "a_b.ctf", "a.b.ptf"},
    {"my_theme.ctf", "my_theme.ctf", "my_theme_ctf", "my_theme.ptf"},
    {"a.b_c.ctf", "a.b_c.ctf", "a_b_c.ctf", "a.b_c.ptf"},
    {"cool.ctf", "cool.ctf", "cool_ctf", "cool.ptf"},
    {"theme.CTF", "theme.CTF", "theme_CTF", "theme.ptf"},
    {"a.b.bin", "a.b.bin", "a_b.bin", "a.b.ptf"},
    {"theme.", "theme.", "theme_", "theme.ptf"},
    {"theme", "theme", "theme_", "theme.ptf"},
    {"dir\\theme.ctf", "dir\\theme.ctf", "dir\\theme_ctf", "dir\\theme.ptf"},
    {".ctf", ".ctf", "_ctf", ".ptf"},
};

TEST(ThemeNames, FollowTheArgumentsBaseName) {
  for (const naming_case& c : NAMING_CASES) {
    EXPECT_STREQ(theme_base_name(c.argument), c.base_name) << c.argument;
    EXPECT_EQ(theme_directory_name(c.argument), c.directory) << c.argument;
    EXPECT_EQ(ptf_file_name(c.argument), c.ptf_name) << c.argument;
  }
}

}  // namespace
