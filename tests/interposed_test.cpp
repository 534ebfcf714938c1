// Runs whose file-system calls are acted on from inside (tests/fs_shim.cpp,
// preloaded): a directory swapped for a link between any two calls, a close
// that fails, a run killed half-way through a large file; and, for good
// measure, a second process swapping directories for links in a loop.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "tests/unpack_oracle.h"
#include "tools/theme_builder.h"

namespace {

bool exists(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0;
}

// Every regular file below the theme directory must hold what the oracle says
// its path may hold; a directory that was moved aside ("d.moved") stands for
// the one it was.
std::string wrong_contents(const std::string& theme_bytes,
                           const tree& written) {
  std::map<std::string, std::string> expected = expected_contents(theme_bytes);
  for (const auto& [path, contents] : written) {
    if (contents == DIRECTORY_MARK || contents == "<symlink>") continue;
    std::string meant_path = path;
    for (size_t at; (at = meant_path.find(".moved")) != std::string::npos;) {
      meant_path.erase(at, 6);
    }
    auto meant = expected.find(meant_path);
    if (meant == expected.end() || meant->second != contents) return path;
  }
  return "";
}

bool is_temporary(const std::string& path) {
  size_t base = path.rfind('/');
  return path.compare(base == std::string::npos ? 0 : base + 1, 13,
                      ".themeunpack-") == 0;
}

// The tree without the hard links the shim planted at temporary names.
tree without_plants(tree written) {
  for (auto it = written.begin(); it != written.end();) {
    it = is_temporary(it->first) && it->second == "outside" ? written.erase(it)
                                                            : std::next(it);
  }
  return written;
}

theme_blueprint swap_theme() {
  theme_blueprint blueprint;
  blueprint.ptf_body = "image";
  blueprint.files = {{"/d/a", "a"},
                     {"/d/sub/b", "b"},
                     {"/d/c", "c"},
                     {"/d/sub/e", "e"},
                     {"/vsh/module/paf.prx", "patch"},
                     {"/top", "top"}};
  return blueprint;
}

// Between any two file-system calls the tool makes, a directory on the way to
// its entries, or the theme directory itself, is swapped for a link to a
// directory outside that holds the same subdirectories: before it is made,
// right after, after it took its first file, between making a file and naming
// it. Whatever the point, nothing may land outside, and the run must say what
// it did.
TEST(Interposed, DirectorySwappedForALinkBetweenAnyTwoCalls) {
  std::string bytes = build_theme(swap_theme()).bytes;
  for (const char* swapped : {"", "d", "d/sub", "vsh/module", "patch-only"}) {
    int call = 1;
    for (;; ++call) {
      scratch_directory scratch;
      scratch_directory outside;
      for (const char* inside :
           {"d", "d/sub", "sub", "vsh", "vsh/module", "module", "patch-only"}) {
        ASSERT_EQ(mkdir((outside / inside).c_str(), 0755), 0);
      }
      const tree outside_before = snapshot_tree(outside.path());
      write_file(scratch / "theme.ctf", bytes);
      std::string theme_directory = scratch / "theme_ctf";
      std::string swapped_path =
          *swapped == '\0' ? theme_directory : theme_directory + "/" + swapped;
      run_options options;
      options.environment = {preload(), "SHIM_SWAP_AT=" + std::to_string(call),
                             "SHIM_SWAP_DIR=" + swapped_path,
                             "SHIM_SWAP_TO=" + outside.path(),
                             "SHIM_REPORT=" + scratch / "swapped"};
      run_result run = run_tool(scratch.path(), {"theme.ctf"}, options);
      // A run that made fewer calls has been tried at every point.
      if (!exists(scratch / "swapped")) break;
      // A link that stood before the theme directory was made is a theme
      // directory of the user's choosing, and is used.
      if (*swapped == '\0' && !exists(theme_directory + ".moved")) continue;
      SCOPED_TRACE(std::string(swapped) + " swapped at call " +
                   std::to_string(call) + "; output:\n" + run.output);
      ASSERT_EQ(snapshot_tree(outside.path()), outside_before);
      EXPECT_EQ(status_problem(run.status, run.output), "");
      // The theme directory moved aside holds what the run wrote.
      std::string written =
          *swapped == '\0' ? theme_directory + ".moved" : theme_directory;
      if (exists(written)) {
        EXPECT_EQ(wrong_contents(bytes, snapshot_tree(written)), "");
      }
    }
    EXPECT_GT(call, 40) << swapped << ": the shim saw too few calls";
  }
}

// A second process swaps directories for links and back as fast as it can
// while a theme of a thousand entries unpacks: nothing may land outside, not
// even an empty directory. A bounded number of trials; the test above is the
// exhaustive one.
TEST(Interposed, SecondProcessSwappingDirectoriesInALoop) {
  theme_blueprint blueprint;
  for (int i = 0; i < 1000; ++i) {
    blueprint.files.push_back({"/d" + std::to_string(i % 10) + "/s" +
                                   std::to_string(i % 7) + "/f" +
                                   std::to_string(i),
                               std::string(100, 'x')});
  }
  std::string bytes = build_theme(blueprint).bytes;
  for (int trial = 0; trial < 4; ++trial) {
    scratch_directory scratch;
    scratch_directory outside;
    write_file(scratch / "theme.ctf", bytes);
    std::string theme_directory = scratch / "theme_ctf";
    pid_t swapper = fork();
    if (swapper == 0) {
      for (unsigned round = 0;; ++round) {
        std::string directory =
            theme_directory + "/d" + std::to_string(round % 10);
        std::string aside = directory + ".aside";
        if (rename(directory.c_str(), aside.c_str()) != 0) continue;
        if (symlink(outside.path().c_str(), directory.c_str()) == 0) {
          unlink(directory.c_str());
        }
        rename(aside.c_str(), directory.c_str());
      }
    }
    run_result run = run_tool(scratch.path(), {"theme.ctf"});
    kill(swapper, SIGKILL);
    waitpid(swapper, nullptr, 0);
    tree landed = snapshot_tree(outside.path());
    EXPECT_TRUE(landed.empty())
        << "trial " << trial << ": "
        << (landed.empty() ? "" : landed.begin()->first);
    EXPECT_EQ(status_problem(run.status, run.output), "") << run.output;
  }
}

// Closing a new file can fail late (a full disk on a network file system).
// Then the file must not keep its name, and what stood there stays.
TEST(Interposed, CloseThatFailsLeavesEveryNameAsItWas) {
  theme_blueprint blueprint = swap_theme();
  std::string bytes = build_theme(blueprint).bytes;
  for (const write_route& route : WRITE_ROUTES)
    for (bool earlier_run : {false, true}) {
      SCOPED_TRACE(route.name);
      scratch_directory scratch;
      write_file(scratch / "theme.ctf", bytes);
      if (earlier_run) {
        ASSERT_EQ(run_tool(scratch.path(), {"theme.ctf"}).status, 0);
      }
      tree before;
      if (earlier_run) before = snapshot_tree(scratch / "theme_ctf");
      run_options options;
      options.environment = route_environment(route, {"SHIM_FAIL_CLOSE=1"});
      run_result run = run_tool(scratch.path(), {"theme.ctf"}, options);
      // The shim's close fails with EIO.
      std::string eio = ": " + reason_for(EIO) + ".\n";
      EXPECT_EQ(run.output, "Cannot write theme info.txt" + eio +
                                "Cannot write ./d/a" + eio +
                                "Cannot write ./d/sub/b" + eio +
                                "Cannot write ./d/c" + eio +
                                "Cannot write ./d/sub/e" + eio +
                                "Unpacking paf.prx patch...\n"
                                "Cannot write ./patch-only/paf.prx.patch" +
                                eio + "Cannot write ./top" + eio +
                                "Files unpacked with errors.\n"
                                "Cannot write theme.ptf" +
                                eio + "Finished with errors.\n");
      EXPECT_EQ(run.status, 255);
      tree after = snapshot_tree(scratch / "theme_ctf");
      if (earlier_run) {
        EXPECT_EQ(after, before);
      } else {
        for (const auto& [path, contents] : after) {
          EXPECT_EQ(contents, DIRECTORY_MARK) << path;
        }
      }
    }
}

// Killed in the middle of writing a large file, a run leaves each stored name
// as it was or complete: never a part of a file. The tool is killed at its
// K-th write to a file for K growing by half each time, until a run finishes.
TEST(Interposed, RunKilledMidWriteLeavesNoPartialFile) {
  const size_t large = 2 * 1024 * 1024 + 1;
  theme_blueprint blueprint;
  blueprint.files = {{"/old", std::string(large, 'o')},
                     {"/new", std::string(large, 'n')}};
  std::string bytes = build_theme(blueprint).bytes;
  for (const write_route& route : WRITE_ROUTES) {
    SCOPED_TRACE(route.name);
    int killed = 0;
    for (long kill_at = 2;; kill_at += std::max(1L, kill_at / 2)) {
      scratch_directory scratch;
      write_file(scratch / "theme.ctf", bytes);
      ASSERT_EQ(mkdir((scratch / "theme_ctf").c_str(), 0755), 0);
      write_file(scratch / "theme_ctf/old", "from an earlier run");
      run_options options;
      // Kernel copies of at most 32 KiB, so that a file takes many writes
      // on every route.
      options.environment = route_environment(
          route, {"SHIM_KILL_AT_WRITE=" + std::to_string(kill_at),
                  "SHIM_COPY_MOST=32768"});
      run_result run = run_tool(scratch.path(), {"theme.ctf"}, options);
      for (const auto& [path, contents] :
           snapshot_tree(scratch / "theme_ctf")) {
        SCOPED_TRACE(path + " after a kill at write " +
                     std::to_string(kill_at));
        if (is_temporary(path)) {
          EXPECT_TRUE(route.temporary_may_remain && run.status == -1);
        } else if (path == "old") {
          EXPECT_TRUE(contents == "from an earlier run" ||
                      contents == std::string(large, 'o'));
        } else if (path == "new") {
          EXPECT_TRUE(contents == std::string(large, 'n'));
        } else {
          EXPECT_TRUE(path == "patch-only" || path == "theme info.txt" ||
                      (path == "theme.ptf" && run.status == 0));
        }
      }
      if (run.status != -1) {
        EXPECT_EQ(run.status, 0);
        break;
      }
      ++killed;
    }
    // Both files take many writes, so many runs were cut short in each.
    EXPECT_GT(killed, 4);
  }
}

// Every route writes the same trees, replaces the same names, leaves no
// temporary name behind after a clean run or a failed one, and never writes
// through a hard link planted at a temporary name.
TEST(Interposed, EveryWriteRouteWritesTheSameTrees) {
  theme_blueprint blueprint = swap_theme();
  std::string bytes = build_theme(blueprint).bytes;
  const tree clean = expected_tree(blueprint);

  for (const write_route& route : WRITE_ROUTES) {
    SCOPED_TRACE(route.name);
    scratch_directory scratch;
    write_file(scratch / "theme.ctf", bytes);
    write_file(scratch / "outside", "outside");
    run_options options;
    options.environment = route_environment(
        route, {"SHIM_PLANT_AT_TEMPORARY=" + scratch / "outside"});
    ASSERT_EQ(run_tool(scratch.path(), {"theme.ctf"}, options).status, 0);
    EXPECT_EQ(without_plants(snapshot_tree(scratch / "theme_ctf")), clean);
    EXPECT_EQ(read_file(scratch / "outside"), "outside");
    // Again over the first run's files: every name is replaced.
    ASSERT_EQ(run_tool(scratch.path(), {"theme.ctf"}, options).status, 0);
    EXPECT_EQ(without_plants(snapshot_tree(scratch / "theme_ctf")), clean);

    // With a FIFO at one name and the writes limited so that the report
    // alone fails: it keeps the first run's bytes.
    tree expected = clean;
    ASSERT_EQ(unlink((scratch / "theme_ctf/top").c_str()), 0);
    ASSERT_EQ(mkfifo((scratch / "theme_ctf/top").c_str(), 0644), 0);
    write_file(scratch / "theme_ctf/theme info.txt", "old report");
    expected["theme info.txt"] = "old report";
    options.file_size_limit = 50;
    run_result run = run_tool(scratch.path(), {"theme.ctf"}, options);
    EXPECT_EQ(run.output.substr(0, run.output.find('\n') + 1),
              "Cannot write theme info.txt: " + reason_for(EFBIG) + ".\n");
    EXPECT_EQ(without_plants(snapshot_tree(scratch / "theme_ctf")), expected);
    EXPECT_EQ(read_file(scratch / "outside"), "outside");
  }
}

// The theme file cut short while a block is copied, before its first piece,
// in its middle or before its last byte, or failing to be read in its middle
// (an I/O error, as on a failing card): the entry is skipped, as data outside
// the file or as data that cannot be read with the system's reason, and what
// stood at its name stays, on every route. A read error in the image skips
// the .ptf the same way.
TEST(Interposed, ThemeFileCutShortOrUnreadableDuringACopy) {
  const size_t large = 3 * 1024 * 1024 + 5;
  theme_blueprint blueprint;
  blueprint.ptf_body = std::string(100, 'p');
  blueprint.files = {{"/big", std::string(large, 'b')}};
  built_theme built = build_theme(blueprint);
  uint64_t start = built.records[0].offset;
  const std::string outside =
      "Skipping /big: its data lie outside the theme file.\n";
  const std::string unreadable =
      "its data cannot be read: " + reason_for(EIO) + ".\n";
  struct fault {
    std::string variable;
    uint64_t at;
    std::string skipped;
    const char* ptf_line;
  };
  const std::vector<fault> faults = {
      {"SHIM_CUT_AT=", start, outside, "PTF unpacked OK.\n"},
      {"SHIM_CUT_AT=", start + large / 2, outside, "PTF unpacked OK.\n"},
      {"SHIM_CUT_AT=", start + large - 1, outside, "PTF unpacked OK.\n"},
      {"SHIM_READ_ERROR_AT=", start + large / 2, "Skipping /big: " + unreadable,
       "PTF unpacked OK.\n"},
      {"SHIM_READ_ERROR_AT=", 350, "", ""}};
  for (const write_route& route : WRITE_ROUTES)
    for (const fault& f : faults) {
      SCOPED_TRACE(std::string(route.name) + ", " + f.variable +
                   std::to_string(f.at));
      scratch_directory scratch;
      write_file(scratch / "theme.ctf", built.bytes);
      ASSERT_EQ(mkdir((scratch / "theme_ctf").c_str(), 0755), 0);
      write_file(scratch / "theme_ctf/big", "from an earlier run");
      run_options options;
      std::vector<std::string> more = {f.variable + std::to_string(f.at)};
      if (f.variable == "SHIM_CUT_AT=") {
        more.push_back("SHIM_CUT_FILE=" + scratch / "theme.ctf");
      }
      options.environment = route_environment(route, more);
      run_result run = run_tool(scratch.path(), {"theme.ctf"}, options);
      bool in_image = f.skipped.empty();
      EXPECT_EQ(
          run.output,
          "Metadata unpacked OK.\n" +
              (in_image
                   ? "Files unpacked OK.\nSkipping theme.ptf: " + unreadable
                   : f.skipped + "Files unpacked with errors.\n" + f.ptf_line) +
              "Finished with errors.\n");
      tree written = snapshot_tree(scratch / "theme_ctf");
      EXPECT_EQ(written.size(), in_image ? 3u : 4u);
      EXPECT_EQ(written["big"],
                in_image ? std::string(large, 'b') : "from an earlier run");
    }
}

// How many lines of the shim's log say `event`.
int events(const std::string& log, const std::string& event) {
  int count = 0;
  for (size_t at = 0; (at = log.find(event + "\n", at)) != std::string::npos;
       at += event.size()) {
    if (at == 0 || log[at - 1] == '\n') ++count;
  }
  return count;
}

// The route each output takes, as the shim logs it, not only the bytes: what
// one output meets is not learnt for the others unless it says the call is
// not offered, and what is learnt is kept. Each row counts events of the log
// (-1: not counted).
TEST(Interposed, TheRouteTakenIsLearntOnlyFromRefusals) {
  struct row {
    const char* what;
    std::vector<std::string> environment;
    std::optional<rlim_t> file_size_limit;
    bool theme_directory_first;
    std::string output;
    int unnamed, temporary, probes, copy_file_range, sendfile;
  };
  const std::string clean =
      "Metadata unpacked OK.\nFiles unpacked OK.\nPTF unpacked OK.\n"
      "Finished OK!\n";
  const std::vector<row> rows = {
      {"the first answer is kept", {}, {}, false, clean, 6, 0, 1, -1, 0},
      {"a full disk at the first link teaches nothing",
       {"SHIM_FAIL_LINK_AT=1"},
       {},
       false,
       "Cannot write theme info.txt: " + reason_for(ENOSPC) +
           ".\nFiles unpacked OK.\nPTF unpacked OK.\nFinished with errors.\n",
       -1,
       0,
       1,
       -1,
       0},
      {"a directory nobody may write to teaches nothing",
       {"SHIM_UNWRITABLE=theme_ctf"},
       {},
       true,
       "Cannot write theme info.txt: " + reason_for(EACCES) +
           ".\nFiles unpacked OK.\nCannot write theme.ptf: " +
           reason_for(EACCES) + ".\nFinished with errors.\n",
       -1,
       0,
       1,
       -1,
       0},
      {"copy_file_range refused once, sendfile from then on",
       {"SHIM_NO_COPY_FILE_RANGE=1"},
       {},
       false,
       clean,
       -1,
       0,
       1,
       1,
       4},
      {"a file over the write limit turns no copy off",
       {},
       60000,
       false,
       "Metadata unpacked OK.\nCannot write ./w/big: " + reason_for(EFBIG) +
           ".\nFiles unpacked with errors.\nPTF unpacked OK.\n"
           "Finished with errors.\n",
       -1,
       0,
       1,
       -1,
       0},
  };
  theme_blueprint blueprint;
  blueprint.ptf_body = "image";
  blueprint.files = {
      {"/w/big", std::string(100000, 'b')}, {"/w/a", "a"}, {"/w/b", "b"}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    scratch_directory scratch;
    write_file(scratch / "theme.ctf", build_theme(blueprint).bytes);
    if (r.theme_directory_first) {
      ASSERT_EQ(mkdir((scratch / "theme_ctf").c_str(), 0755), 0);
    }
    run_options options;
    options.file_size_limit = r.file_size_limit;
    options.environment = r.environment;
    options.environment.push_back(preload());
    options.environment.push_back("SHIM_LOG=" + scratch / "log");
    run_result run = run_tool(scratch.path(), {"theme.ctf"}, options);
    EXPECT_EQ(run.output, r.output);
    std::string log = read_file(scratch / "log");
    SCOPED_TRACE("log:\n" + log);
    const std::pair<const char*, int> counted[] = {
        {"unnamed", r.unnamed},
        {"temporary", r.temporary},
        {"probe", r.probes},
        {"copy_file_range", r.copy_file_range},
        {"sendfile", r.sendfile}};
    for (const auto& [event, count] : counted) {
      if (count >= 0) {
        EXPECT_EQ(events(log, event), count) << event;
      }
    }
    // However the first file went, the kernel copies the later ones.
    if (r.copy_file_range < 0) {
      EXPECT_GE(events(log, "copy_file_range"), 3);
    }
  }
}

// Temporary names carry 64 random bits: two runs never make a file at the
// same one, and their hex digits are spread, so nobody can plant a thing at
// the next one beforehand.
TEST(Interposed, TemporaryNamesCannotBePredicted) {
  theme_blueprint blueprint;
  for (int i = 0; i < 6; ++i) {
    blueprint.files.push_back({"/f" + std::to_string(i), "x"});
  }
  std::vector<std::string> names;
  for (int run = 0; run < 2; ++run) {
    scratch_directory scratch;
    write_file(scratch / "theme.ctf", build_theme(blueprint).bytes);
    run_options options;
    options.environment = {preload(), "SHIM_NO_UNNAMED=1",
                           "SHIM_TEMPORARY_NAMES=" + scratch / "names"};
    ASSERT_EQ(run_tool(scratch.path(), {"theme.ctf"}, options).status, 0);
    std::string listed = read_file(scratch / "names");
    for (size_t at = 0, end; (end = listed.find('\n', at)) != std::string::npos;
         at = end + 1) {
      names.push_back(listed.substr(at, end - at));
    }
  }
  ASSERT_EQ(names.size(), 16u);  // the report, six files and the image, twice
  std::set<std::string> distinct(names.begin(), names.end());
  EXPECT_EQ(distinct.size(), names.size());
  std::set<char> digits;
  for (const std::string& name : names) {
    ASSERT_EQ(name.size(), 13u + 16u) << name;
    EXPECT_EQ(name.compare(0, 13, ".themeunpack-"), 0) << name;
    for (char c : name.substr(13)) {
      EXPECT_NE(std::string("0123456789abcdef").find(c), std::string::npos)
          << name;
      digits.insert(c);
    }
  }
  EXPECT_GE(digits.size(), 14u);
}

// A directory removed by another process just before a file is linked into
// it: that file fails, and the run learns nothing from it. Before, the failed
// link taught the run that descriptors cannot be linked, and without /proc
// every later file failed.
TEST(Interposed, ADirectoryRemovedMeanwhileTeachesTheRunNothing) {
  theme_blueprint blueprint;
  blueprint.files = {{"/a", "a"}, {"/gone/x", "x"}, {"/b/c", "c"}, {"/d", "d"}};
  scratch_directory scratch;
  write_file(scratch / "theme.ctf", build_theme(blueprint).bytes);
  run_options options;
  options.environment = {preload(), "SHIM_NO_PROC=1",
                         "SHIM_RMDIR=" + scratch / "theme_ctf/gone",
                         "SHIM_RMDIR_BEFORE_LINKING=x"};
  run_result run = run_tool(scratch.path(), {"theme.ctf"}, options);
  EXPECT_EQ(run.output, "Metadata unpacked OK.\nCannot write ./gone/x: " +
                            reason_for(ENOENT) +
                            ".\nFiles unpacked with errors.\n"
                            "PTF unpacked OK.\nFinished with errors.\n");
  tree expected = expected_tree(blueprint);
  expected.erase("gone");
  expected.erase("gone/x");
  EXPECT_EQ(snapshot_tree(scratch / "theme_ctf"), expected);
}

// A file table cut short during the run, inside the second batch of records:
// every entry before the first record that cannot be read is still unpacked.
TEST(Interposed, FileTableCutShortDuringTheRun) {
  theme_blueprint blueprint;
  for (int i = 0; i < 199; ++i) {
    blueprint.files.push_back({"/f" + std::to_string(i), std::to_string(i)});
  }
  built_theme built = build_theme(blueprint);
  const uint64_t record = 72;
  scratch_directory scratch;
  write_file(scratch / "theme.ctf", built.bytes);
  run_options options;
  options.environment = {
      preload(), "SHIM_CUT_FILE=" + scratch / "theme.ctf",
      "SHIM_CUT_AT=" + std::to_string(built.table_offset + 150 * record + 10)};
  run_result run = run_tool(scratch.path(), {"theme.ctf"}, options);
  EXPECT_EQ(run.output,
            "Metadata unpacked OK.\n"
            "Cannot read the theme file: unexpected end of file.\n");
  EXPECT_EQ(run.status, 255);
  tree written = snapshot_tree(scratch / "theme_ctf");
  for (int i = 0; i < 199; ++i) {
    EXPECT_EQ(written.count("f" + std::to_string(i)), i < 150 ? 1u : 0u) << i;
  }
}

}  // namespace
