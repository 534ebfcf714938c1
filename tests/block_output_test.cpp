#include "unpack/block_output.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/test_support.h"
#include "tools/theme_builder.h"

namespace {

// A large block is held as a mapping of the theme file; when the file is cut
// short while the block is held, its bytes can no longer be read, or read as
// zeros where the cut falls inside the block's last page. Either way that must
// be reported as lost data, not as a write failure and never as success, and
// nothing may be left at the name.
TEST(SaveThemeBlock, ThemeCutShortWhileHeldIsReportedAsDataOutside) {
  const uint64_t length = MAPPED_BLOCK_MIN_LENGTH + 5000;
  for (uint64_t kept : {uint64_t{100}, length - 100}) {
    scratch_directory scratch;
    theme_blueprint blueprint;
    blueprint.files = {{"/large", std::string(length, 'L')}};
    built_theme built = build_theme(blueprint);
    std::string theme_path = scratch / "t.ctf";
    write_file(theme_path, built.bytes);
    theme_file theme;
    ASSERT_EQ(open_theme_file(theme_path.c_str(), &theme), open_result::opened);
    ASSERT_EQ(chdir(scratch.path().c_str()), 0);
    output_tree tree;
    ASSERT_TRUE(open_output_tree("out", "patch-only", theme, &tree));

    const theme_record& record = built.records[0];
    theme_block block;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(load_theme_block(theme, record.offset, record.size, "/large",
                                 &block));
    ASSERT_EQ(truncate(theme_path.c_str(), record.offset + kept), 0);
    tree_result prepared = prepare_output(&tree, "./large", true);
    EXPECT_FALSE(save_theme_block(&tree, prepared, "./large", "/large", block));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Skipping /large: its data lie outside the theme file.\n")
        << "kept " << kept;
    EXPECT_EQ(snapshot_tree(scratch / "out").count("large"), 0u);
    release_theme_data(&block);
    close_output_tree(&tree);
    fclose(theme.stream);
    ASSERT_EQ(chdir("/"), 0);
  }
}

}  // namespace
