// Failures injected from outside: a per-file write limit at sampled byte
// counts across a theme's output, and directories blocked by files. Each must
// be reported, end the run with status 255, and leave no file with wrong
// contents.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "format/theme_file.h"
#include "tests/test_support.h"
#include "tools/theme_builder.h"

namespace {

struct output_file {
  std::string path;       // in the theme directory
  std::string opened_as;  // as the tool names it in "Cannot write"
  std::string contents;
  std::string notice;  // printed before the write, if any
};

TEST(InjectedFailure, WriteLimitAtSampledByteCounts) {
  theme_blueprint blueprint;
  blueprint.ptf_body = std::string(150, 'p');
  blueprint.files = {{"/empty", ""},
                     {"/small", std::string(10, 's')},
                     {"/vsh/module/paf.prx", std::string(120, 'b')},
                     {"/d/large", std::string(300, 'l')}};
  built_theme built = build_theme(blueprint);
  const std::string report =
      "Short theme name: Sample\nInternal ID: SAMPLE01\n"
      "Required firmware: 6.60\nFiles in theme: 4\n";
  const std::vector<output_file> files = {
      {"empty", "./empty", "", ""},
      {"small", "./small", std::string(10, 's'), ""},
      {"patch-only/paf.prx.patch", "./patch-only/paf.prx.patch",
       std::string(120, 'b'), "Unpacking paf.prx patch...\n"},
      {"d/large", "./d/large", std::string(300, 'l'), ""}};
  const std::string image = built.bytes.substr(0, PTF_HEADER_SIZE + 150);

  // From no byte at all to past the largest file (the PTF image, written last),
  // at each output's size and its neighbours, the powers of two and a seeded
  // handful: into a fresh theme directory and over the files of an earlier
  // run, which a failed rewrite must leave byte for byte.
  std::vector<uint64_t> edges = {report.size(), image.size()};
  for (const output_file& file : files) edges.push_back(file.contents.size());
  std::vector<rlim_t> limits;
  for (uint64_t limit : sampled_points(image.size() + 1, edges)) {
    limits.push_back(static_cast<rlim_t>(limit));
  }
  for (size_t pass = 0; pass < 2 * limits.size(); ++pass) {
    rlim_t limit = limits[pass / 2];
    bool over_earlier_run = pass % 2 == 1;
    scratch_directory scratch;
    write_file(scratch / "theme.ctf", built.bytes);
    std::vector<std::string> outputs = {"theme info.txt", "theme.ptf"};
    for (const output_file& file : files) outputs.push_back(file.path);
    if (over_earlier_run) {
      for (const char* directory :
           {"theme_ctf", "theme_ctf/patch-only", "theme_ctf/d"}) {
        ASSERT_EQ(mkdir((scratch / directory).c_str(), 0755), 0);
      }
      for (const std::string& path : outputs) {
        write_file(scratch / ("theme_ctf/" + path), "earlier " + path);
      }
    }
    run_options options;
    options.file_size_limit = limit;
    run_result run = run_tool(scratch.path(), {"theme.ctf"}, options);

    bool clean = true;
    std::string expected_output;
    tree expected_tree = {{"patch-only", DIRECTORY_MARK},
                          {"vsh", DIRECTORY_MARK},
                          {"vsh/module", DIRECTORY_MARK},
                          {"d", DIRECTORY_MARK}};
    auto expect_write = [&](const std::string& path, const std::string& name,
                            const std::string& contents) {
      if (contents.size() <= limit) {
        expected_tree[path] = contents;
        return true;
      }
      if (over_earlier_run) expected_tree[path] = "earlier " + path;
      expected_output +=
          "Cannot write " + name + ": " + reason_for(EFBIG) + ".\n";
      clean = false;
      return false;
    };
    if (expect_write("theme info.txt", "theme info.txt", report)) {
      expected_output += "Metadata unpacked OK.\n";
    }
    bool files_clean = true;
    for (const output_file& file : files) {
      expected_output += file.notice;
      files_clean &= expect_write(file.path, file.opened_as, file.contents);
    }
    expected_output +=
        files_clean ? "Files unpacked OK.\n" : "Files unpacked with errors.\n";
    if (expect_write("theme.ptf", "theme.ptf", image)) {
      expected_output += "PTF unpacked OK.\n";
    }
    expected_output += clean ? "Finished OK!\n" : "Finished with errors.\n";

    SCOPED_TRACE("limit " + std::to_string(limit) +
                 (over_earlier_run ? ", over an earlier run" : ""));
    EXPECT_EQ(run.output, expected_output);
    EXPECT_EQ(run.status, clean ? 0 : 255);
    EXPECT_EQ(snapshot_tree(scratch / "theme_ctf"), expected_tree);
  }
}

TEST(InjectedFailure, PatchDirectoryBlockedByAFile) {
  scratch_directory scratch;
  theme_blueprint blueprint;
  blueprint.files = {{"/vsh/module/common_gui.prx", "gui"}, {"/f", "kept"}};
  write_file(scratch / "theme.ctf", build_theme(blueprint).bytes);
  ASSERT_EQ(mkdir((scratch / "theme_ctf").c_str(), 0755), 0);
  write_file(scratch / "theme_ctf/patch-only", "in the way");
  run_result run = run_tool(scratch.path(), {"theme.ctf"});
  EXPECT_EQ(run.output,
            "Metadata unpacked OK.\n"
            "Unpacking common_gui.prx patch...\n"
            "Cannot write ./patch-only/common_gui.prx.patch: " +
                reason_for(ENOTDIR) +
                ".\n"
                "Files unpacked with errors.\n"
                "PTF unpacked OK.\n"
                "Finished with errors.\n");
  EXPECT_EQ(run.status, 255);
  tree written = snapshot_tree(scratch / "theme_ctf");
  EXPECT_EQ(written.at("patch-only"), "in the way");
  EXPECT_EQ(written.at("f"), "kept");
}

}  // namespace
