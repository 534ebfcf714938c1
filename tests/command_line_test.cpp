// The command line, end to end: usage text and its pause, rejected theme files,
// and where the theme directory is made.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "app/run_unpacker.h"
#include "format/theme_file.h"
#include "tests/test_support.h"
#include "tools/theme_builder.h"

namespace {

std::string usage_for(const std::string& program_name) {
  return "Note: You can run this from the command prompt.\n"
         "In Windows, you can just drag a .ctf file to the .exe, and that'll "
         "work too.\n"
         "Usage: " +
         program_name + " <ctf file>\n";
}

std::string valid_theme() {
  theme_blueprint blueprint;
  blueprint.ptf_body = "body";
  return build_theme(blueprint).bytes;
}

// The program name as the tool sees it: under Wine, the host's root is drive
// Z: and "\" separates.
std::string program_name_seen() {
  std::string name = tool_under_test();
  if (tool_launcher() == nullptr) return name;
  for (char& c : name) {
    if (c == '/') c = '\\';
  }
  return "Z:" + name;
}

TEST(Usage, PrintsTheProgramNameAndFails) {
  scratch_directory scratch;
  run_result run = run_tool(scratch.path(), {});
  EXPECT_EQ(run.output, usage_for(program_name_seen()));
  EXPECT_EQ(run.status, 255);
  EXPECT_TRUE(snapshot_tree(scratch.path()).empty());
}

TEST(Usage, WithoutAnyProgramNameUsesTheToolsName) {
  // The kernel no longer starts a program with an empty argument vector, so
  // this runs in-process with standard output sent to a file.
  scratch_directory scratch;
  std::string captured = scratch / "stdout";
  fflush(stdout);
  int saved = dup(STDOUT_FILENO);
  int file = open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(file, 0);
  dup2(file, STDOUT_FILENO);
  char* argv[] = {nullptr};
  int status = run_command_line(0, argv);
  fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  close(file);
  EXPECT_EQ(status, -1);
  EXPECT_EQ(read_file(captured), usage_for("themeunpack"));
}

TEST(Usage, PausesForAKeyOnlyWhenStartedFromACygwinDrive) {
  if (tool_launcher() != nullptr) {
    GTEST_SKIP() << "a native Windows build asks its console, not its path";
  }
  scratch_directory scratch;
  run_options from_drive;
  from_drive.program_name = "/cygdrive/c/tools/themeunpack.exe";
  running_tool paused = start_tool(scratch.path(), {}, from_drive);
  EXPECT_FALSE(tool_ended_within(paused, 300)) << "it must wait for Enter";
  ASSERT_EQ(write(paused.input, "k", 1), 1);
  EXPECT_TRUE(tool_ended_within(paused, 30000));
  run_result run = finish_tool(paused);
  EXPECT_EQ(run.output, usage_for(*from_drive.program_name));
  EXPECT_EQ(run.status, 255);

  // The test is case-sensitive and needs all nine characters.
  for (const char* name : {"/CYGDRIVE/c/t.exe", "/cygdriv", "cygdrive/c/t",
                           "/usr/bin/themeunpack"}) {
    run_options elsewhere;
    elsewhere.program_name = name;
    running_tool tool = start_tool(scratch.path(), {}, elsewhere);
    EXPECT_TRUE(tool_ended_within(tool, 30000)) << name << " must not pause";
    EXPECT_EQ(finish_tool(tool).output, usage_for(name));
  }
}

TEST(Usage, PauseReturnsAtOnceAtEndOfInput) {
  if (tool_launcher() != nullptr) {
    GTEST_SKIP() << "a native Windows build asks its console, not its path";
  }
  scratch_directory scratch;
  run_options from_drive;
  from_drive.program_name = "/cygdrive";
  run_result run = run_tool(scratch.path(), {}, from_drive);
  EXPECT_EQ(run.output, usage_for("/cygdrive"));
  EXPECT_EQ(run.status, 255);
}

// The argument is the user's own, shown exactly as given, control bytes and
// all.
TEST(RejectedThemeFile, MissingFileIsNamedAsPassed) {
  for (std::string argument :
       {"no/such theme.ctf", "no\x1b[1m\t\xc2\x9b.ctf"}) {
    scratch_directory scratch;
    run_result run = run_tool(scratch.path(), {argument});
    EXPECT_EQ(run.output, "Theme file " + argument + " not found.\n");
    EXPECT_EQ(run.status, 255);
    EXPECT_TRUE(snapshot_tree(scratch.path()).empty());
  }
}

TEST(RejectedThemeFile, WrongMagicOrShortHeaderCreatesNothing) {
  std::string valid = valid_theme();
  std::string reversed = valid;
  reversed.replace(0, 4, std::string("PTF\0", 4));
  for (const std::string& bytes :
       {reversed, std::string(), std::string("\0PT", 3), valid.substr(0, 4),
        valid.substr(0, PTF_HEADER_SIZE - 1)}) {
    scratch_directory scratch;
    write_file(scratch / "theme.ctf", bytes);
    run_result run = run_tool(scratch.path(), {"theme.ctf"});
    EXPECT_EQ(run.output, "Invalid theme file.\n") << bytes.size() << " bytes";
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(snapshot_tree(scratch.path()).size(), 1u);
  }
}

TEST(RejectedThemeFile, UnseekableInputCannotBeRead) {
  scratch_directory scratch;
  ASSERT_EQ(mkfifo((scratch / "theme.ctf").c_str(), 0600), 0);
  running_tool tool = start_tool(scratch.path(), {"theme.ctf"}, {});
  int fifo = open((scratch / "theme.ctf").c_str(), O_WRONLY);
  ASSERT_GE(fifo, 0);
  std::string bytes = valid_theme();
  // The tool may stop reading early; a broken pipe here is not a failure.
  signal(SIGPIPE, SIG_IGN);
  (void)!write(fifo, bytes.data(), bytes.size());
  close(fifo);
  run_result run = finish_tool(tool);
  EXPECT_EQ(run.output, "Cannot read the theme file.\n");
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(snapshot_tree(scratch.path()).size(), 1u);
}

TEST(ThemeDirectory, IsMadeWhereTheToolStartsAndTheArgumentIsOpenedFirst) {
  scratch_directory scratch;
  ASSERT_EQ(mkdir((scratch / "themes").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((scratch / "themes/sub").c_str(), 0755), 0);
  std::string bytes = valid_theme();
  write_file(scratch / "themes/sub/blue.ctf", bytes);
  // A relative argument must still resolve once the tool is inside blue_ctf;
  // arguments after the first are ignored.
  run_result run =
      run_tool(scratch.path(), {"themes/sub/blue.ctf", "extra", "more"});
  EXPECT_EQ(run.status, 0) << run.output;
  tree written = snapshot_tree(scratch.path());
  EXPECT_EQ(written.at("blue_ctf"), DIRECTORY_MARK);
  EXPECT_EQ(written.at("blue_ctf/patch-only"), DIRECTORY_MARK);
  EXPECT_EQ(written.at("blue_ctf/blue.ptf"), bytes.substr(0, 324));
  EXPECT_EQ(written.count("themes/sub/blue_ctf"), 0u);
}

TEST(ThemeDirectory, NamesFollowTheBaseName) {
  struct naming {
    const char* argument;
    const char* directory;
    const char* ptf_name;
  };
  for (const naming& n :
       {naming{"a.b.ctf", "a_b.ctf", "a.b.ptf"},
        naming{"my_theme.ctf", "my_theme_ctf", "my_theme.ptf"},
        naming{"a.b_c.ctf", "a_b_c.ctf", "a.b_c.ptf"},
        naming{"cool.ctf", "cool_ctf", "cool.ptf"},
        naming{"theme", "theme_", "theme.ptf"},
        naming{"Theme.CTF", "Theme_CTF", "Theme.ptf"}}) {
    scratch_directory scratch;
    write_file(scratch / n.argument, valid_theme());
    run_result run = run_tool(scratch.path(), {n.argument});
    EXPECT_EQ(run.status, 0) << n.argument << ": " << run.output;
    tree written = snapshot_tree(scratch.path());
    EXPECT_EQ(written.count(std::string(n.directory) + "/" + n.ptf_name), 1u)
        << n.argument;
    EXPECT_EQ(written.size(), 5u) << n.argument;
  }
}

// A theme directory that is a link before the run is the user's choice of
// where the theme goes, and is used.
TEST(ThemeDirectory, ALinkStandingThereBeforeTheRunIsUsed) {
  if (tool_launcher() != nullptr) {
    GTEST_SKIP() << "a Linux link looks like its target to Wine";
  }
  scratch_directory scratch;
  scratch_directory elsewhere;
  write_file(scratch / "theme.ctf", valid_theme());
  ASSERT_EQ(symlink(elsewhere.path().c_str(), (scratch / "theme_ctf").c_str()),
            0);
  run_result run = run_tool(scratch.path(), {"theme.ctf"});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(snapshot_tree(elsewhere.path()).count("theme.ptf"), 1u);
}

TEST(ThemeDirectory, ThatCannotBeEnteredEndsTheRunWritingNothing) {
  scratch_directory scratch;
  write_file(scratch / "theme.ctf", valid_theme());
  write_file(scratch / "theme_ctf", "a file in the way");
  run_result run = run_tool(scratch.path(), {"theme.ctf"});
  EXPECT_EQ(run.output, "Cannot create theme directory theme_ctf.\n");
  EXPECT_EQ(run.status, 255);
  tree expected = {{"theme.ctf", valid_theme()},
                   {"theme_ctf", "a file in the way"}};
  EXPECT_EQ(snapshot_tree(scratch.path()), expected);
}

}  // namespace
