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

// --help and --version are options only as the only argument; anything else
// is a theme file.
TEST(Usage, HelpAndVersionAreTheOnlyOptions) {
  struct row {
    std::vector<std::string> arguments;
    std::string output;
    int status;
  };
  for (const row& r : {
           row{{"--help"}, usage_for(program_name_seen()), 0},
           row{{"--version"},
               std::string("themeunpack ") + THEMEUNPACK_VERSION + "\n",
               0},
           row{{"--help", "--version"},
               "Theme file --help:\nTheme file --help not found.\n"
               "Theme file --version:\nTheme file --version not found.\n",
               255},
           row{{"-h"}, "Theme file -h not found.\n", 255},
       }) {
    scratch_directory scratch;
    run_result run = run_tool(scratch.path(), r.arguments);
    EXPECT_EQ(run.output, r.output) << r.arguments[0];
    EXPECT_EQ(run.status, r.status) << r.arguments[0];
    EXPECT_TRUE(snapshot_tree(scratch.path()).empty());
  }
  // A theme file of that name is reached by its path.
  scratch_directory scratch;
  write_file(scratch / "--help", valid_theme());
  run_result run = run_tool(scratch.path(), {"./--help"});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(snapshot_tree(scratch / "--help_").count("--help.ptf"), 1u);
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

// A theme file that is there but cannot be used says why, in the system's
// words; the name, unlike in "not found", is escaped. Under Wine a folder
// cannot even be opened as a file.
TEST(RejectedThemeFile, FailuresNameTheirReason) {
  struct row {
    std::string name;
    bool directory;
    mode_t mode;
    std::string output;
    std::string windows_output;
  };
  const std::string escaped = "t\\x1b]0;x\\x07.ctf";
  for (const row& r : {
           row{"dir.ctf", true, 0755,
               "Cannot read the theme file: Is a directory.\n",
               "Cannot open theme file dir.ctf: Access denied.\n"},
           row{"t\x1b]0;x\x07.ctf", false, 0000,
               "Cannot open theme file " + escaped + ": " + reason_for(EACCES) +
                   ".\n",
               ""},
           row{"file/t.ctf", false, 0644, "Theme file file/t.ctf not found.\n",
               "Theme file file/t.ctf not found.\n"},
       }) {
    if (tool_launcher() != nullptr && r.windows_output.empty()) continue;
    scratch_directory scratch;
    ASSERT_EQ(chmod(scratch.path().c_str(), 0755), 0);
    std::string path = scratch / r.name;
    if (r.name == "file/t.ctf") path = scratch / "file";
    if (r.directory) {
      ASSERT_EQ(mkdir(path.c_str(), r.mode), 0);
    } else {
      write_file(path, valid_theme());
      ASSERT_EQ(chmod(path.c_str(), r.mode), 0);
    }
    tree before = snapshot_tree(scratch.path());
    run_options options;
    options.as_unprivileged_user = tool_launcher() == nullptr;
    run_result run = run_tool(scratch.path(), {r.name}, options);
    EXPECT_EQ(run.output,
              tool_launcher() != nullptr ? r.windows_output : r.output);
    EXPECT_EQ(run.status, 255);
    tree after = snapshot_tree(scratch.path());
    after.erase(".themeunpack-under-test");
    EXPECT_EQ(after, before);
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
  EXPECT_EQ(run.output,
            "Cannot read the theme file: " + reason_for(ESPIPE) + ".\n");
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(snapshot_tree(scratch.path()).size(), 1u);
}

TEST(ThemeDirectory, IsMadeWhereTheToolStartsAndTheArgumentIsOpenedFirst) {
  scratch_directory scratch;
  ASSERT_EQ(mkdir((scratch / "themes").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((scratch / "themes/sub").c_str(), 0755), 0);
  std::string bytes = valid_theme();
  write_file(scratch / "themes/sub/blue.ctf", bytes);
  run_result run = run_tool(scratch.path(), {"themes/sub/blue.ctf"});
  EXPECT_EQ(run.status, 0) << run.output;
  tree written = snapshot_tree(scratch.path());
  EXPECT_EQ(written.at("blue_ctf"), DIRECTORY_MARK);
  EXPECT_EQ(written.at("blue_ctf/patch-only"), DIRECTORY_MARK);
  EXPECT_EQ(written.at("blue_ctf/blue.ptf"), bytes.substr(0, 324));
  EXPECT_EQ(written.count("themes/sub/blue_ctf"), 0u);
}

// Every argument is a theme file, unpacked in turn as a run of its own would,
// each under its own heading; a relative one is still found after the themes
// before it were unpacked. One that fails does not stop the next, and the
// status says whether all went well.
TEST(ThemeDirectory, EveryThemeFileNamedIsUnpackedInTurn) {
  const std::string unpacked =
      "Metadata unpacked OK.\nFiles unpacked OK.\nPTF unpacked OK.\n"
      "Finished OK!\n";
  struct row {
    std::vector<std::string> arguments;
    std::string output;
    int status;
  };
  for (const row& r : {
           row{{"themes/a.ctf", "missing.ctf", "bad.ctf", "themes/b.ctf"},
               "Theme file themes/a.ctf:\n" + unpacked +
                   "Theme file missing.ctf:\n"
                   "Theme file missing.ctf not found.\n"
                   "Theme file bad.ctf:\nInvalid theme file.\n"
                   "Theme file themes/b.ctf:\n" +
                   unpacked,
               255},
           row{{"themes/a.ctf", "themes/b.ctf"},
               "Theme file themes/a.ctf:\n" + unpacked +
                   "Theme file themes/b.ctf:\n" + unpacked,
               0},
           // The heading escapes the name; "not found" shows it as given.
           row{{"themes/a.ctf", "no\x1b]0;t\x07"},
               "Theme file themes/a.ctf:\n" + unpacked +
                   "Theme file no\\x1b]0;t\\x07:\n"
                   "Theme file no\x1b]0;t\x07 not found.\n",
               255},
       }) {
    scratch_directory scratch;
    ASSERT_EQ(mkdir((scratch / "themes").c_str(), 0755), 0);
    std::string bytes = valid_theme();
    write_file(scratch / "themes/a.ctf", bytes);
    write_file(scratch / "themes/b.ctf", bytes);
    write_file(scratch / "bad.ctf", "not a theme");
    run_result run = run_tool(scratch.path(), r.arguments);
    EXPECT_EQ(run.output, r.output);
    EXPECT_EQ(run.status, r.status);
    tree expected = {{"themes", DIRECTORY_MARK},
                     {"themes/a.ctf", bytes},
                     {"themes/b.ctf", bytes},
                     {"bad.ctf", "not a theme"}};
    for (const std::string& argument : r.arguments) {
      if (argument.rfind("themes/", 0) != 0) continue;
      std::string name = argument.substr(7, 1);
      expected[name + "_ctf"] = DIRECTORY_MARK;
      expected[name + "_ctf/patch-only"] = DIRECTORY_MARK;
      expected[name + "_ctf/theme info.txt"] =
          "Short theme name: Sample\nInternal ID: SAMPLE01\n"
          "Required firmware: 6.60\nFiles in theme: 0\n";
      expected[name + "_ctf/" + name + ".ptf"] =
          bytes.substr(0, PTF_HEADER_SIZE + 4);
    }
    EXPECT_EQ(snapshot_tree(scratch.path()), expected);
  }
}

TEST(ThemeDirectory, NamesFollowTheBaseName) {
  struct naming {
    const char* argument;
    const char* directory;
    const char* ptf_name;
    // Windows strips dots and spaces at the end of a name.
    const char* windows_directory;
  };
  for (const naming& n :
       {naming{"a.b.ctf", "a_b.ctf", "a.b.ptf", nullptr},
        naming{"my_theme.ctf", "my_theme_ctf", "my_theme.ptf", nullptr},
        naming{"a.b_c.ctf", "a_b_c.ctf", "a.b_c.ptf", nullptr},
        naming{"cool.ctf", "cool_ctf", "cool.ptf", nullptr},
        naming{"theme", "theme_", "theme.ptf", nullptr},
        naming{"Theme.CTF", "Theme_CTF", "Theme.ptf", nullptr},
        naming{"t.ctf.", "t_ctf.", "t.ctf.ptf", "t_ctf"},
        naming{"t.ctf ", "t_ctf ", "t.ptf", "t_ctf"},
        naming{"t. .", "t_ .", "t. .ptf", "t_"}}) {
    scratch_directory scratch;
    write_file(scratch / n.argument, valid_theme());
    run_result run = run_tool(scratch.path(), {n.argument});
    EXPECT_EQ(run.status, 0) << n.argument << ": " << run.output;
    tree written = snapshot_tree(scratch.path());
    std::string directory = tool_launcher() != nullptr && n.windows_directory
                                ? n.windows_directory
                                : n.directory;
    EXPECT_EQ(written.count(directory + "/" + n.ptf_name), 1u) << n.argument;
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

// A file in the way, or a folder the user cannot write to: the run ends
// saying why, having written nothing. The name is escaped.
TEST(ThemeDirectory, ThatCannotBeMadeEndsTheRunWritingNothing) {
  struct row {
    std::string theme;
    bool in_the_way;  // else the folder cannot be written to
    std::string output;
  };
  // Windows says the name is taken, where POSIX systems say the file in the
  // way is not a directory.
  int in_the_way = tool_launcher() != nullptr ? EEXIST : ENOTDIR;
  for (const row& r : {
           row{"theme.ctf", true,
               "Cannot create theme directory theme_ctf: " +
                   reason_for(in_the_way) + ".\n"},
           row{"t\x1b]0;x\x07.ctf", true,
               "Cannot create theme directory t\\x1b]0;x\\x07_ctf: " +
                   reason_for(ENOTDIR) + ".\n"},
           row{"theme.ctf", false,
               "Cannot create theme directory theme_ctf: " +
                   reason_for(EACCES) + ".\n"},
       }) {
    // Wine, run by root, writes anywhere; and names hold no control bytes on
    // Windows.
    if (tool_launcher() != nullptr && r.theme != "theme.ctf") continue;
    if (tool_launcher() != nullptr && !r.in_the_way) continue;
    scratch_directory scratch;
    write_file(scratch / r.theme, valid_theme());
    std::string directory = r.theme.substr(0, r.theme.size() - 4) + "_ctf";
    tree expected = {{r.theme, valid_theme()}};
    if (r.in_the_way) {
      write_file(scratch / directory, "a file in the way");
      expected[directory] = "a file in the way";
    }
    ASSERT_EQ(chmod(scratch.path().c_str(), r.in_the_way ? 0755 : 0555), 0);
    run_options options;
    options.as_unprivileged_user = tool_launcher() == nullptr;
    run_result run = run_tool(scratch.path(), {r.theme}, options);
    EXPECT_EQ(run.output, r.output);
    EXPECT_EQ(run.status, 255);
    tree after = snapshot_tree(scratch.path());
    after.erase(".themeunpack-under-test");
    EXPECT_EQ(after, expected);
  }
}

}  // namespace
