#include "unpack/block_output.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/test_support.h"
#include "tools/theme_builder.h"

namespace {

// A large block is held as a mapping of the theme file; when the file is cut
// short while the block is held, its bytes can no longer be read. That must be
// reported as lost data, not as a write failure and never as success, and the
// part already written must not stay behind.
TEST(SaveThemeBlock, ThemeCutShortWhileHeldIsReportedAsDataOutside) {
  scratch_directory scratch;
  theme_blueprint blueprint;
  blueprint.files = {{"/large", std::string(MAPPED_BLOCK_MIN_LENGTH + 5000, 'L')}};
  built_theme built = build_theme(blueprint);
  std::string theme_path = scratch / "t.ctf";
  write_file(theme_path, built.bytes);
  theme_file theme;
  ASSERT_EQ(open_theme_file(theme_path.c_str(), &theme), open_result::opened);

  const theme_record& record = built.records[0];
  theme_block block;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(load_theme_block(theme, record.offset, record.size, "/large",
                               &block));
  ASSERT_EQ(truncate(theme_path.c_str(), record.offset + 100), 0);
  std::string output_path = scratch / "large";
  EXPECT_FALSE(save_theme_block(output_path.c_str(), "/large", block));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Skipping /large: its data lie outside the theme file.\n");
  EXPECT_EQ(snapshot_tree(scratch.path()).count("large"), 0u);
  release_theme_data(&block);
  fclose(theme.stream);
}

}  // namespace
