// What the Windows build does differently, end to end: run only when the tests
// start the Windows executable (THEMEUNPACK_TEST_LAUNCHER=wine, `make
// test-windows`), skipped otherwise. Names are checked as Windows must hold
// them, "\" is a separator, links planted from the host are refused, data are
// copied byte for byte, and the argument may be a Windows path in any script.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "format/theme_file.h"
#include "tests/test_support.h"
#include "tools/theme_builder.h"
#include "tree/output_names.h"

namespace {

const std::string REPORT_HEAD =
    "Short theme name: Sample\nInternal ID: SAMPLE01\n"
    "Required firmware: 6.60\n";

// The rules on their own, on every platform.
TEST(WindowsNames, RefusesWhatWindowsCannotHold) {
  for (const char* path : {"./nul.txt",
                           "./AUX.dat",
                           "./sub/COM1",
                           "./CON",
                           "./con .txt",
                           "./LpT9.x",
                           "./COM0",
                           "./lpt0.txt",
                           "./CONIN$",
                           "./conout$.log",
                           "./trail.",
                           "./trail ",
                           "./dir./x",
                           "./a:b",
                           "./q?",
                           "./s*",
                           "./l<",
                           "./g>",
                           "./p|",
                           "./d\"q",
                           "./tab\there",
                           "./x\\nul",
                           "./bad\xff",
                           "./over\xc0\xaf",
                           "./sur\xed\xa0\x80",
                           "./over3\xe0\x80\xaf",
                           "./COM\xc2\xb9",
                           "./lpt\xc2\xb3.txt",
                           "./Com\xc2\xb2 .x"}) {
    EXPECT_TRUE(windows_cannot_hold(path)) << path;
  }
  for (const char* path :
       {"./trail", "./nul2.txt", "./COM10", "./CONSOLE", "./auxiliary",
        "./a/./b", "./a//b", "./.hidden", "./\xc3\xa9t\xc3\xa9",
        "./\xe6\x97\xa5", "./COM", "./x.y.z", "./a b", "./ lead",
        "./COM\xc2\xb9"
        "x",
        "./COM\xc2\xb4",
        "./LPT\xc2\xb9"
        "0"}) {
    EXPECT_FALSE(windows_cannot_hold(path)) << path;
  }
}

TEST(WindowsNames, BaseNameFollowsEitherSeparatorOrADrive) {
  EXPECT_STREQ(windows_base_name("C:\\Users\\first.last\\theme.ctf"),
               "theme.ctf");
  EXPECT_STREQ(windows_base_name("C:theme.ctf"), "theme.ctf");
  EXPECT_STREQ(windows_base_name("dir/sub\\theme.ctf"), "theme.ctf");
  EXPECT_STREQ(windows_base_name("theme.ctf"), "theme.ctf");
  char path[] = "./vsh\\module\\paf.prx";
  turn_backslashes_into_slashes(path);
  EXPECT_STREQ(path, "./vsh/module/paf.prx");
}

class Windows : public ::testing::Test {
 protected:
  void SetUp() override {
    if (tool_launcher() == nullptr) {
      GTEST_SKIP() << "for the Windows build, run by make test-windows";
    }
  }
  void make_theme(const theme_blueprint& blueprint) {
    theme_ = build_theme(blueprint);
    write_file(scratch_ / "theme.ctf", theme_.bytes);
  }
  run_result unpack() { return run_tool(scratch_.path(), {"theme.ctf"}); }
  tree written() const { return snapshot_tree(scratch_ / "theme_ctf"); }
  std::string data_of(size_t record) const {
    const theme_record& r = theme_.records.at(record);
    return theme_.bytes.substr(r.offset, r.size);
  }

  scratch_directory scratch_;
  built_theme theme_;
};

// The sample theme of `make demo`: the same messages, byte for byte, and the
// same tree as the Linux build's.
TEST_F(Windows, SampleThemeAsOnLinux) {
  ASSERT_EQ(mkdir((scratch_ / "linux").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((scratch_ / "windows").c_str(), 0755), 0);
  std::string make = shell_word(THEMEUNPACK_SAMPLE_MAKER) + " " +
                     shell_word(scratch_.path() + "/sample.ctf");
  ASSERT_EQ(system(make.c_str()), 0);
  std::string linux_run = "cd " + shell_word(scratch_.path() + "/linux") +
                          " && " + shell_word(THEMEUNPACK_EXECUTABLE) +
                          " ../sample.ctf > ../linux.out";
  ASSERT_EQ(system(linux_run.c_str()), 0);
  run_result run = run_tool(scratch_ / "windows", {"../sample.ctf"});
  EXPECT_EQ(run.output, read_file(scratch_ / "linux.out"));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(snapshot_tree(scratch_ / "windows"),
            snapshot_tree(scratch_ / "linux"));
}

// Files are binary: CR LF stays CR LF, a lone LF stays LF, and 0x1A ends
// nothing; the messages are the same bytes as on Linux, with LF alone.
TEST_F(Windows, DataAndMessagesAreCopiedByteForByte) {
  theme_blueprint blueprint;
  blueprint.ptf_body = std::string("body\r\n\x1a tail\n", 13);
  blueprint.files = {
      {"/text.txt", std::string("one\r\ntwo\nthree\x1a four", 20)},
      {"/vsh/module/paf.prx", "patch\n"}};
  make_theme(blueprint);
  run_result run = unpack();
  EXPECT_EQ(run.output,
            "Metadata unpacked OK.\n"
            "Unpacking paf.prx patch...\n"
            "Files unpacked OK.\n"
            "PTF unpacked OK.\n"
            "Finished OK!\n");
  EXPECT_EQ(run.status, 0);
  tree expected = {{"patch-only", DIRECTORY_MARK},
                   {"patch-only/paf.prx.patch", "patch\n"},
                   {"theme info.txt", REPORT_HEAD + "Files in theme: 2\n"},
                   {"text.txt", data_of(0)},
                   {"vsh", DIRECTORY_MARK},
                   {"vsh/module", DIRECTORY_MARK},
                   {"theme.ptf", theme_.bytes.substr(0, PTF_HEADER_SIZE + 13)}};
  EXPECT_EQ(written(), expected);
}

// "\" separates like "/": directories are made for it, ".." behind it is
// refused and a patch stored with it is still diverted. Messages show the
// stored name.
TEST_F(Windows, BackslashSeparatesComponents) {
  theme_blueprint blueprint;
  blueprint.files = {{"/sub\\inner.txt", "inner"},
                     {"/vsh\\module\\paf.prx", "patch"},
                     {"/a\\..\\..\\escape", "x"}};
  make_theme(blueprint);
  run_result run = unpack();
  EXPECT_EQ(run.output,
            "Metadata unpacked OK.\n"
            "Unpacking paf.prx patch...\n"
            "Skipping /a\\..\\..\\escape: its path leads outside the theme "
            "directory.\n"
            "Files unpacked with errors.\n"
            "PTF unpacked OK.\n"
            "Finished with errors.\n");
  tree files = written();
  EXPECT_EQ(files.at("sub/inner.txt"), "inner");
  EXPECT_EQ(files.at("patch-only/paf.prx.patch"), "patch");
  EXPECT_EQ(files.at("vsh/module"), DIRECTORY_MARK);
  EXPECT_EQ(snapshot_tree(scratch_.path()).count("escape"), 0u);
}

// Device names, forbidden characters, trailing dots and spaces and names that
// are not UTF-8 are refused before anything is made for them; a good name
// beside them is written.
TEST_F(Windows, NamesWindowsCannotHoldAreSkipped) {
  theme_blueprint blueprint;
  const char* refused[] = {
      "/nul.txt", "/AUX.dat", "/sub/COM1", "/CON",         "/trail.",
      "/trail ",  "/a:b",     "/bad\xff",  "/COM\xc2\xb9", "/LPT\xc2\xb3.txt"};
  for (const char* name : refused) blueprint.files.push_back({name, "x"});
  blueprint.files.push_back({"/trail", "kept"});
  make_theme(blueprint);
  run_result run = unpack();
  std::string expected = "Metadata unpacked OK.\n";
  for (const char* name : refused) {
    expected += std::string("Skipping ") + name +
                ": its name cannot be used on Windows.\n";
  }
  expected +=
      "Files unpacked with errors.\nPTF unpacked OK.\nFinished with errors.\n";
  EXPECT_EQ(run.output, expected);
  EXPECT_EQ(run.status, 255);
  tree files = written();
  EXPECT_EQ(files.at("trail"), "kept");
  EXPECT_EQ(files.count("sub"), 0u);
  EXPECT_EQ(files.size(), 4u);  // patch-only, the report, the .ptf, trail
}

// A theme file whose name begins with a device name is an ordinary file, not
// the device; only the .ptf file, whose name would be one, is skipped.
TEST_F(Windows, ThemeFilesNamedLikeDevicesAreOrdinaryFiles) {
  std::string bytes = build_theme({}).bytes;
  for (const char* name : {"aux.x.ctf", "com1.y.ctf", "nul.z.ctf"}) {
    scratch_directory scratch;
    write_file(scratch / name, bytes);
    run_result run = run_tool(scratch.path(), {name});
    std::string ptf = std::string(name).substr(0, std::string(name).rfind('.'));
    EXPECT_EQ(run.output,
              "Metadata unpacked OK.\nFiles unpacked OK.\nSkipping " + ptf +
                  ".ptf: its name cannot be used on Windows.\n"
                  "Finished with errors.\n")
        << name;
    std::string directory = name;
    directory[directory.find('.')] = '_';
    EXPECT_EQ(snapshot_tree(scratch / directory).count("theme info.txt"), 1u)
        << name;
  }
}

// Paths far longer than the 260 characters Windows once allowed: a working
// folder just short of that (deeper, and Windows starts no program there), a
// theme file and outputs well past it.
TEST_F(Windows, LongPathsWork) {
  std::string deep = scratch_.path();
  for (char letter : {'a', 'b'}) {
    deep += "/" + std::string(100, letter);
    ASSERT_EQ(mkdir(deep.c_str(), 0755), 0);
  }
  std::string far = std::string(120, 'c');
  ASSERT_EQ(mkdir((deep + "/" + far).c_str(), 0755), 0);
  std::string long_name = std::string(60, 'n');
  // A stored name holds at most 63 bytes; this one makes a folder whose
  // path passes 260 characters.
  std::string deep_folder = std::string(40, 'd');
  std::string short_name = std::string(20, 's');
  theme_blueprint blueprint;
  blueprint.files = {{"/" + long_name, "deep"},
                     {"/" + deep_folder + "/" + short_name, "deeper"}};
  write_file(deep + "/" + far + "/theme.ctf", build_theme(blueprint).bytes);
  run_result run = run_tool(deep, {far + "/theme.ctf"});
  EXPECT_EQ(run.output,
            "Metadata unpacked OK.\nFiles unpacked OK.\nPTF unpacked OK.\n"
            "Finished OK!\n");
  EXPECT_EQ(read_file(deep + "/theme_ctf/" + long_name), "deep");
  std::string deep_output = deep + "/theme_ctf/" + deep_folder;
  ASSERT_GT(deep_output.size(), 260u);
  EXPECT_EQ(read_file(deep_output + "/" + short_name), "deeper");
}

// The resource section of the built executable, as Windows reads it: the
// resource of the given type (its first name and language), or "".
std::string pe_resource(const std::string& exe, uint32_t type) {
  auto byte = [&](size_t at) -> uint32_t {
    return at < exe.size() ? static_cast<unsigned char>(exe[at]) : 0u;
  };
  auto u16 = [&](size_t at) { return byte(at) | byte(at + 1) << 8; };
  auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  const size_t pe = u32(0x3C);
  if (exe.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return "";
  const size_t sections = pe + 24 + u16(pe + 20);
  for (uint32_t i = 0; i < u16(pe + 6); ++i) {
    const size_t section = sections + 40 * i;
    if (exe.compare(section, 6, std::string(".rsrc\0", 6)) != 0) continue;
    const size_t base = u32(section + 20);
    const uint32_t base_rva = u32(section + 12);
    // Type, then name, then language: each a directory of 8-byte entries
    // after a 16-byte head; a set top bit leads to the next directory.
    size_t directory = base;
    uint32_t wanted = type;
    for (int level = 0; level < 3; ++level) {
      const uint32_t entries = u16(directory + 12) + u16(directory + 14);
      size_t found = 0;
      for (uint32_t e = 0; e < entries && found == 0; ++e) {
        const size_t entry = directory + 16 + 8 * e;
        if (level == 0 && u32(entry) != wanted) continue;
        found = entry;
      }
      if (found == 0) return "";
      const uint32_t next = u32(found + 4);
      if (level < 2 && (next & 0x80000000u) == 0) return "";
      directory = base + (next & 0x7FFFFFFFu);
    }
    const size_t data = directory;
    return exe.substr(base + (u32(data) - base_rva), u32(data + 4));
  }
  return "";
}

std::string utf16le(const std::string& ascii) {
  std::string wide;
  for (char c : ascii) wide += std::string{c, '\0'};
  return wide;
}

// What Explorer shows in the file's Properties and what Windows reads from
// the manifest, read back from the executable itself.
TEST_F(Windows, ExecutableCarriesItsVersionAndManifest) {
  const std::string exe = read_file(tool_under_test());
  const std::string version = pe_resource(exe, 16);
  const size_t fixed = version.find("\xBD\x04\xEF\xFE");
  ASSERT_NE(fixed, std::string::npos) << "no version resource";
  unsigned major = 0, minor = 0, patch = 0;
  ASSERT_EQ(sscanf(THEMEUNPACK_VERSION, "%u.%u.%u", &major, &minor, &patch), 3);
  auto word = [&](size_t at) {
    uint32_t value = 0;
    for (size_t i = 4; i-- > 0;) {
      value = value << 8 | static_cast<unsigned char>(version.at(at + i));
    }
    return value;
  };
  EXPECT_EQ(word(fixed + 8), major << 16 | minor);  // file version, high half
  EXPECT_EQ(word(fixed + 12), patch << 16);
  EXPECT_NE(version.find(utf16le("ProductVersion")), std::string::npos);
  EXPECT_NE(version.find(utf16le(std::string(THEMEUNPACK_VERSION) + '\0')),
            std::string::npos);
  const std::string manifest = pe_resource(exe, 24);
  EXPECT_NE(manifest.find(">UTF-8</activeCodePage>"), std::string::npos)
      << manifest;
  EXPECT_NE(manifest.find(">true</longPathAware>"), std::string::npos)
      << manifest;
}

// Names that differ only in case are one file: the later entry wins.
TEST_F(Windows, NamesDifferingInCaseAreOneFile) {
  theme_blueprint blueprint;
  blueprint.files = {{"/Dir/Name.txt", "first"}, {"/dir/name.TXT", "second"}};
  make_theme(blueprint);
  EXPECT_EQ(unpack().status, 0);
  tree files = written();
  std::string contents;
  int found = 0;
  for (const auto& [path, bytes] : files) {
    if (bytes != DIRECTORY_MARK && path.size() > 4 &&
        (path.rfind("Dir/", 0) == 0 || path.rfind("dir/", 0) == 0)) {
      contents = bytes;
      ++found;
    }
  }
  EXPECT_EQ(found, 1);
  EXPECT_EQ(contents, "second");
}

// A link planted from the host looks to Windows programs like what it points
// to; the final path of what the tool opens gives it away. A link to nothing
// looks like nothing at all, so a file takes its place: the link is replaced,
// never followed.
TEST_F(Windows, LinksPlantedFromTheHostAreRefused) {
  scratch_directory outside;
  write_file(outside / "file", "outside");
  theme_blueprint blueprint;
  blueprint.files = {{"/sub/x", "through a link"},
                     {"/linked", "onto a link"},
                     {"/dangling", "replaces a link to nothing"},
                     {"/ok", "kept"}};
  make_theme(blueprint);
  ASSERT_EQ(mkdir((scratch_ / "theme_ctf").c_str(), 0755), 0);
  ASSERT_EQ(
      symlink(outside.path().c_str(), (scratch_ / "theme_ctf/sub").c_str()), 0);
  ASSERT_EQ(symlink((outside / "file").c_str(),
                    (scratch_ / "theme_ctf/linked").c_str()),
            0);
  ASSERT_EQ(symlink((outside / "absent").c_str(),
                    (scratch_ / "theme_ctf/dangling").c_str()),
            0);
  run_result run = unpack();
  std::string through = ": its path goes through a symbolic link.\n";
  EXPECT_EQ(run.output,
            "Metadata unpacked OK.\n"
            "Skipping /sub/x" +
                through + "Skipping /linked" + through +
                "Files unpacked with errors.\n"
                "PTF unpacked OK.\n"
                "Finished with errors.\n");
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(snapshot_tree(outside.path()), (tree{{"file", "outside"}}));
  EXPECT_EQ(written().at("ok"), "kept");
  EXPECT_EQ(written().at("dangling"), "replaces a link to nothing");
}

// A dropped file arrives as a full Windows path, here with a "." in a folder's
// name; the theme directory is made in the working directory, the .ptf in it.
TEST_F(Windows, BackslashedAbsoluteArgumentAndAUnicodeName) {
  theme_blueprint blueprint;
  blueprint.files = {{"/f", "data"}};
  std::string bytes = build_theme(blueprint).bytes;
  ASSERT_EQ(mkdir((scratch_ / "first.last").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((scratch_ / "work").c_str(), 0755), 0);
  const std::string name = "th\xc3\xa8me-\xe6\x97\xa5\xe6\x9c\xac.ctf";
  write_file(scratch_ / ("first.last/" + name), bytes);
  // Wine shows the host's root as drive Z:.
  std::string windows_path = "Z:" + scratch_.path() + "/first.last/" + name;
  for (char& c : windows_path) {
    if (c == '/') c = '\\';
  }
  run_result run = run_tool(scratch_ / "work", {windows_path});
  EXPECT_EQ(run.status, 0) << run.output;
  std::string directory = "th\xc3\xa8me-\xe6\x97\xa5\xe6\x9c\xac_ctf";
  tree files = snapshot_tree(scratch_ / "work");
  EXPECT_EQ(files.at(directory + "/f"), "data");
  EXPECT_EQ(files.at(directory + "/th\xc3\xa8me-\xe6\x97\xa5\xe6\x9c\xac.ptf"),
            bytes.substr(0, PTF_HEADER_SIZE));
  EXPECT_EQ(snapshot_tree(scratch_ / "first.last").size(), 1u);
}

// What a terminal showed, as text: without the control sequences Wine's
// console sends to it (ESC [ ... letter, ESC ] ... BEL) and without carriage
// returns.
std::string shown_text(const std::string& screen) {
  std::string text;
  for (size_t i = 0; i < screen.size(); ++i) {
    char c = screen[i];
    if (c == '\x1b' && i + 1 < screen.size() && screen[i + 1] == '[') {
      i += 2;
      while (i < screen.size() &&
             !isalpha(static_cast<unsigned char>(screen[i])))
        ++i;
    } else if (c == '\x1b' && i + 1 < screen.size() && screen[i + 1] == ']') {
      while (i < screen.size() && screen[i] != '\a') ++i;
    } else if (c != '\r') {
      text += c;
    }
  }
  return text;
}

std::string windows_path_of(const std::string& path) {
  std::string windows = "Z:" + path;
  for (char& c : windows) {
    if (c == '/') c = '\\';
  }
  return windows;
}

// Dropped onto in Explorer, the tool has a console window that only it is
// attached to; Wine gives it one on a terminal of its own. Each theme folder
// is made beside its theme file, wherever the tool was started, here in
// folders deeper than 260 characters; every theme gets its heading, a name
// outside ASCII reaches the console as stored, and the window waits for
// Enter after the last theme.
TEST_F(Windows, ADropUnpacksEachThemeBesideItsFileAndWaitsForEnter) {
  std::string deep = scratch_.path();
  for (char letter : {'a', 'b', 'c'}) {
    deep += "/" + std::string(100, letter);
    ASSERT_EQ(mkdir(deep.c_str(), 0755), 0);
  }
  ASSERT_EQ(mkdir((scratch_ / "other").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((scratch_ / "work").c_str(), 0755), 0);
  theme_blueprint blueprint;
  blueprint.files = {{"/f", "data"}};
  std::string bytes = build_theme(blueprint).bytes;
  const std::string unicode = "th\xc3\xa8me-\xe6\x97\xa5";
  write_file(deep + "/a.ctf", bytes);
  write_file(scratch_ / ("other/" + unicode + ".ctf"), bytes);
  std::vector<std::string> dropped = {
      windows_path_of(deep + "/a.ctf"),
      windows_path_of(scratch_ / ("other/" + unicode + ".ctf")),
      windows_path_of(scratch_ / "other/missing.ctf")};
  run_options options;
  options.on_a_terminal = true;
  options.environment = {"LC_ALL=C.UTF-8"};
  running_tool tool = start_tool(scratch_ / "work", dropped, options);
  EXPECT_FALSE(tool_ended_within(tool, 3000)) << "it must wait for Enter";
  ASSERT_EQ(write(tool.input, "\r", 1), 1);
  EXPECT_TRUE(tool_ended_within(tool, 60000));
  run_result run = finish_tool(tool);

  const std::string unpacked =
      ":\nMetadata unpacked OK.\nFiles unpacked OK.\nPTF unpacked OK.\n"
      "Finished OK!\n";
  std::string expected = "Theme file " + dropped[0] + unpacked + "Theme file " +
                         dropped[1] + unpacked + "Theme file " + dropped[2] +
                         ":\nTheme file " + dropped[2] +
                         " not found.\n"
                         "Press Enter to close this window.\n";
  std::string shown = shown_text(run.output);
  EXPECT_EQ(shown.substr(0, expected.size()), expected) << shown;
  EXPECT_EQ(run.status, 255);
  tree theme = {{"f", "data"},
                {"patch-only", DIRECTORY_MARK},
                {"theme info.txt", REPORT_HEAD + "Files in theme: 1\n"}};
  tree first = theme;
  first["a.ptf"] = bytes.substr(0, PTF_HEADER_SIZE);
  EXPECT_EQ(snapshot_tree(deep + "/a_ctf"), first);
  tree second = theme;
  second[unicode + ".ptf"] = bytes.substr(0, PTF_HEADER_SIZE);
  EXPECT_EQ(snapshot_tree(scratch_ / ("other/" + unicode + "_ctf")), second);
  EXPECT_TRUE(snapshot_tree(scratch_ / "work").empty());
}

// themepack.exe packs the same bytes as the Linux build from the same folder,
// and refuses a link planted from the host, which Wine shows as the folder it
// points to, never reading through it.
TEST_F(Windows, PacksAsOnLinuxAndRefusesHostLinks) {
  std::string make = shell_word(THEMEUNPACK_SAMPLE_MAKER) + " " +
                     shell_word(scratch_.path() + "/sample.ctf");
  ASSERT_EQ(system(make.c_str()), 0);
  std::string linux_run =
      "cd " + shell_word(scratch_.path()) + " && " +
      shell_word(THEMEUNPACK_EXECUTABLE) + " sample.ctf > /dev/null && " +
      shell_word(THEMEPACK_EXECUTABLE) + " sample_ctf linux.ctf";
  ASSERT_EQ(system((linux_run + " > /dev/null").c_str()), 0);
  run_options packer;
  packer.program = packer_under_test();
  run_result run =
      run_tool(scratch_.path(), {"sample_ctf", "windows.ctf"}, packer);
  EXPECT_EQ(run.output, "Packed windows.ctf with 6 files.\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(read_file(scratch_ / "windows.ctf"),
            read_file(scratch_ / "linux.ctf"));

  scratch_directory outside;
  write_file(outside / "secret", "SECRET");
  ASSERT_EQ(
      symlink(outside.path().c_str(), (scratch_ / "sample_ctf/linked").c_str()),
      0);
  run = run_tool(scratch_.path(), {"sample_ctf", "linked.ctf"}, packer);
  EXPECT_EQ(run.output,
            "Refusing sample_ctf/linked: it is a symbolic link.\n"
            "Theme file linked.ctf not written.\n");
  EXPECT_EQ(run.status, 255);
}

// Folders dropped onto themepack.exe are each packed beside themselves, and
// the window waits for Enter.
TEST_F(Windows, ADroppedFolderIsPackedBesideItself) {
  std::string make =
      shell_word(THEMEUNPACK_SAMPLE_MAKER) + " " +
      shell_word(scratch_.path() + "/sample.ctf") + " && cd " +
      shell_word(scratch_.path()) + " && " +
      shell_word(THEMEUNPACK_EXECUTABLE) + " sample.ctf > /dev/null && " +
      shell_word(THEMEPACK_EXECUTABLE) + " sample_ctf expected.ctf > /dev/null";
  ASSERT_EQ(system(make.c_str()), 0);
  ASSERT_EQ(mkdir((scratch_ / "work").c_str(), 0755), 0);
  run_options options;
  options.program = packer_under_test();
  options.on_a_terminal = true;
  std::vector<std::string> dropped = {windows_path_of(scratch_ / "sample_ctf")};
  running_tool tool = start_tool(scratch_ / "work", dropped, options);
  EXPECT_FALSE(tool_ended_within(tool, 3000)) << "it must wait for Enter";
  ASSERT_EQ(write(tool.input, "\r", 1), 1);
  EXPECT_TRUE(tool_ended_within(tool, 60000));
  run_result run = finish_tool(tool);
  std::string expected = "Packed " + dropped[0] +
                         ".ctf with 6 files.\nPress Enter to close this "
                         "window.\n";
  EXPECT_EQ(shown_text(run.output).substr(0, expected.size()), expected);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(read_file(scratch_ / "sample_ctf.ctf"),
            read_file(scratch_ / "expected.ctf"));
  EXPECT_TRUE(snapshot_tree(scratch_ / "work").empty());
}

// Standard input is a pipe here, as from a script: no pause after the usage
// text, and the status is -1, which the host sees as 255.
TEST_F(Windows, NoPauseWithoutAConsole) {
  running_tool tool = start_tool(scratch_.path(), {}, {});
  EXPECT_TRUE(tool_ended_within(tool, 60000)) << "it must not wait for Enter";
  run_result run = finish_tool(tool);
  EXPECT_NE(run.output.find("Usage: "), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find('\r'), std::string::npos);
  EXPECT_EQ(run.status, 255);
}

}  // namespace
