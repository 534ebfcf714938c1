// Runs in a hostile environment, end to end: things planted in the theme
// directory, a directory swapped for a link while the tool works, the theme
// file at an output path, writes that fail late, a run killed half-way, names
// meant to fool a terminal, a lost standard output, few descriptors and a theme
// of very many directories. Nothing outside the theme directory may change and
// no stored name may be left with contents other than its own.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "format/theme_file.h"
#include "tests/test_support.h"
#include "tests/unpack_oracle.h"
#include "tools/file_tree.h"
#include "tools/theme_builder.h"
#include "unpack/messages.h"

namespace {

const std::string REPORT_HEAD =
    "Short theme name: Sample\nInternal ID: SAMPLE01\n"
    "Required firmware: 6.60\n";
const std::string OUTSIDE_CONTENTS = "outside: must stay as it is";

// The four kinds of output, each with what a run says when it refuses it.
struct target_case {
  const char* path;     // in the theme directory
  const char* name;     // as "Skipping" names it
  const char* written;  // as "Cannot write" names it
};
const target_case TARGETS[] = {
    {"theme info.txt", "theme info.txt", "theme info.txt"},
    {"d/f", "/d/f", "./d/f"},
    {"patch-only/paf.prx.patch", "/vsh/module/paf.prx",
     "./patch-only/paf.prx.patch"},
    {"theme.ptf", "theme.ptf", "theme.ptf"},
};

enum class planted {
  hard_link,
  fifo,
  socket,
  other_users_file,
  link,
  directory
};

class HostileTree : public ::testing::Test {
 protected:
  void make_theme(const theme_blueprint& blueprint) {
    theme_ = build_theme(blueprint);
    write_file(scratch_ / "theme.ctf", theme_.bytes);
  }
  // A theme with one file of each kind of output.
  void make_standard_theme() {
    theme_blueprint blueprint;
    blueprint.ptf_body = "image body";
    blueprint.files = {{"/d/f", "packed file"},
                       {"/vsh/module/paf.prx", "patch data"}};
    make_theme(blueprint);
  }
  void make_theme_directories(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
      ASSERT_EQ(mkdir(in_theme(name).c_str(), 0755), 0) << name;
    }
  }
  std::string in_theme(const std::string& name) const {
    return scratch_ / ("theme_ctf/" + name);
  }
  run_result unpack(const run_options& options = {}) {
    return run_tool(scratch_.path(), {"theme.ctf"}, options);
  }
  std::string data_of(size_t record) const {
    const theme_record& r = theme_.records.at(record);
    return theme_.bytes.substr(r.offset, r.size);
  }
  // What a clean run of the standard theme leaves.
  tree standard_tree() const {
    return {{"theme info.txt", REPORT_HEAD + "Files in theme: 2\n"},
            {"d", DIRECTORY_MARK},
            {"d/f", data_of(0)},
            {"vsh", DIRECTORY_MARK},
            {"vsh/module", DIRECTORY_MARK},
            {"patch-only", DIRECTORY_MARK},
            {"patch-only/paf.prx.patch", data_of(1)},
            {"theme.ptf", theme_.bytes.substr(0, PTF_HEADER_SIZE + 10)}};
  }
  // The output of a run of the standard theme in which only `refused` failed,
  // with `line`.
  static std::string standard_output(const target_case* refused,
                                     const std::string& line) {
    auto is = [&](const char* path) {
      return refused != nullptr && std::string(refused->path) == path;
    };
    std::string output =
        is("theme info.txt") ? line : "Metadata unpacked OK.\n";
    if (is("d/f")) output += line;
    bool patch_refused = is("patch-only/paf.prx.patch");
    // A link is refused before the patch is announced; a failed write after.
    if (!patch_refused || line.find("Cannot write") == 0) {
      output += "Unpacking paf.prx patch...\n";
    }
    if (patch_refused) output += line;
    output += is("d/f") || patch_refused ? "Files unpacked with errors.\n"
                                         : "Files unpacked OK.\n";
    output += is("theme.ptf") ? line : "PTF unpacked OK.\n";
    output += refused == nullptr ? "Finished OK!\n" : "Finished with errors.\n";
    return output;
  }

  scratch_directory scratch_;
  scratch_directory outside_;
  built_theme theme_;
};

void plant(planted kind, const std::string& path, const std::string& outside) {
  switch (kind) {
    case planted::hard_link:
      ASSERT_EQ(link(outside.c_str(), path.c_str()), 0);
      break;
    case planted::fifo:
      ASSERT_EQ(mkfifo(path.c_str(), 0666), 0);
      break;
    case planted::socket: {
      int server = socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      ASSERT_LT(path.size(), sizeof address.sun_path);
      strcpy(address.sun_path, path.c_str());
      ASSERT_EQ(
          bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address),
          0);
      close(server);
      break;
    }
    case planted::other_users_file:
      write_file(path, "another user's file");
      ASSERT_EQ(chown(path.c_str(), UNPRIVILEGED_ID, UNPRIVILEGED_ID), 0);
      ASSERT_EQ(chmod(path.c_str(), 0666), 0);
      break;
    case planted::link:
      ASSERT_EQ(symlink(outside.c_str(), path.c_str()), 0);
      break;
    case planted::directory:
      ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
      break;
  }
}

// The environments of runs on every write route the shim can force; under a
// launcher (Wine), the plain run alone.
std::vector<std::vector<std::string>> every_route() {
  if (tool_launcher() != nullptr) return {{}};
  std::vector<std::vector<std::string>> routes;
  for (const write_route& route : WRITE_ROUTES) {
    routes.push_back(route_environment(route));
  }
  return routes;
}

// Whatever stands at an output path, the tool never writes through it: a file,
// a FIFO or a socket is replaced by a new file of the running user (a FIFO
// never opened, so the run cannot hang), a link is refused and a directory
// reported; on every write route.
TEST_F(HostileTree, PlantedThingsAreReplacedOrRefusedNeverWrittenThrough) {
  const planted kinds[] = {planted::hard_link, planted::fifo,
                           planted::socket,    planted::other_users_file,
                           planted::link,      planted::directory};
  make_standard_theme();
  for (const std::vector<std::string>& route : every_route())
    for (planted kind : kinds) {
      if (kind == planted::other_users_file && getuid() != 0) continue;
      for (const target_case& target : TARGETS) {
        SCOPED_TRACE(std::string(target.path) + ", planted kind " +
                     std::to_string(static_cast<int>(kind)) + ", " +
                     (route.size() > 1 ? route.back() : "default route"));
        scratch_directory scratch;
        std::string outside_file = outside_ / "file";
        write_file(outside_file, OUTSIDE_CONTENTS);
        write_file(scratch / "theme.ctf", theme_.bytes);
        for (const char* directory :
             {"theme_ctf", "theme_ctf/d", "theme_ctf/patch-only"}) {
          ASSERT_EQ(mkdir((scratch / directory).c_str(), 0755), 0);
        }
        std::string at = scratch / (std::string("theme_ctf/") + target.path);
        plant(kind, at, outside_file);

        run_options options;
        options.umask = 022;
        options.environment = route;
        running_tool tool = start_tool(scratch.path(), {"theme.ctf"}, options);
        bool ended = tool_ended_within(tool, 20000);
        if (!ended) kill(tool.pid, SIGKILL);
        run_result run = finish_tool(tool);
        ASSERT_TRUE(ended) << "the run hung";

        EXPECT_EQ(read_file(outside_file), OUTSIDE_CONTENTS);
        tree expected = standard_tree();
        std::string line;
        if (kind == planted::link) {
          line = std::string("Skipping ") + target.name +
                 ": its path goes through a symbolic link.\n";
          expected[target.path] = "<symlink>";
          // A refused entry leaves no trace: not even its own directories.
          if (std::string(target.path) == "patch-only/paf.prx.patch") {
            expected.erase("vsh");
            expected.erase("vsh/module");
          }
        } else if (kind == planted::directory) {
          line = std::string("Cannot write ") + target.written + ": " +
                 reason_for(EISDIR) + ".\n";
          expected[target.path] = DIRECTORY_MARK;
        }
        bool refused = !line.empty();
        EXPECT_EQ(run.output,
                  standard_output(refused ? &target : nullptr, line));
        EXPECT_EQ(run.status, refused ? 255 : 0);
        EXPECT_EQ(snapshot_tree(scratch / "theme_ctf"), expected);
        struct stat status;
        ASSERT_EQ(lstat(at.c_str(), &status), 0);
        if (!refused) {
          EXPECT_EQ(status.st_uid, getuid());
          EXPECT_EQ(status.st_mode & 07777, 0644u);
          EXPECT_EQ(status.st_nlink, 1u);
        }
      }
    }
}

// The theme file itself at an output path, found there through the theme
// directory, small or copied in many pieces: never overwritten or removed, on
// any write route.
TEST_F(HostileTree, TheThemeFileIsNeverAnOutput) {
  for (const std::vector<std::string>& route : every_route())
    for (uint64_t size : {uint64_t{40}, uint64_t{(1u << 20) + 7}}) {
      SCOPED_TRACE(route.size() > 1 ? route.back() : "default route");
      run_options options;
      options.environment = route;
      scratch_directory scratch;
      ASSERT_EQ(mkdir((scratch / "a_ctf").c_str(), 0755), 0);
      ASSERT_EQ(mkdir((scratch / "a_ptf").c_str(), 0755), 0);
      theme_blueprint blueprint;
      blueprint.ptf_body = std::string(size, 'p');
      blueprint.files = {{"/a.ctf", std::string(size, 'e')}, {"/other", "o"}};
      std::string bytes = build_theme(blueprint).bytes;
      write_file(scratch / "a_ctf/a.ctf", bytes);
      write_file(scratch / "a_ptf/a.ptf", bytes);

      run_result run = run_tool(scratch.path(), {"a_ctf/a.ctf"}, options);
      EXPECT_EQ(run.output,
                "Metadata unpacked OK.\n"
                "Skipping /a.ctf: it would overwrite the theme file.\n"
                "Files unpacked with errors.\n"
                "PTF unpacked OK.\n"
                "Finished with errors.\n");
      EXPECT_EQ(run.status, 255);
      EXPECT_TRUE(read_file(scratch / "a_ctf/a.ctf") == bytes);

      run = run_tool(scratch.path(), {"a_ptf/a.ptf"}, options);
      EXPECT_EQ(run.output,
                "Metadata unpacked OK.\n"
                "Files unpacked OK.\n"
                "Skipping a.ptf: it would overwrite the theme file.\n"
                "Finished with errors.\n");
      EXPECT_EQ(run.status, 255);
      EXPECT_TRUE(read_file(scratch / "a_ptf/a.ptf") == bytes);
    }
}

// The theme file is known by its device and inode number together: a file of
// the same inode number on another file system is an ordinary output, and is
// replaced. Two ext2 images, whose inode numbers are handed out in order, line
// the numbers up; needs root and loop devices, skipped otherwise.
TEST_F(HostileTree, AFileWithTheThemeFilesInodeOnAnotherDeviceIsReplaced) {
  if (tool_launcher() != nullptr) GTEST_SKIP() << "for the Linux build";
  if (getuid() != 0) GTEST_SKIP() << "mounting an image needs root";
  std::string themes = scratch_ / "themes";
  std::string outputs = scratch_ / "outputs";
  // Unmounted whatever happens, before the scratch directory goes.
  struct mounts {
    std::vector<std::string> points;
    ~mounts() {
      for (const std::string& point : points) {
        EXPECT_EQ(system(("umount " + point).c_str()), 0);
      }
    }
  } mounted_here;
  for (const std::string& mounted : {themes, outputs}) {
    ASSERT_EQ(mkdir(mounted.c_str(), 0755), 0);
    std::string command = "truncate -s 8M " + mounted +
                          ".img && mkfs.ext2 -q " + mounted +
                          ".img > /dev/null 2>&1 && mount -o loop " + mounted +
                          ".img " + mounted + " > /dev/null 2>&1";
    if (system(command.c_str()) != 0) {
      GTEST_SKIP() << "cannot make and mount an ext2 image";
    }
    mounted_here.points.push_back(mounted);
  }
  theme_blueprint blueprint;
  blueprint.files = {{"/x", "the entry's bytes"}};
  std::string bytes = build_theme(blueprint).bytes;
  // One directory, then one file on each: the same numbers on both.
  ASSERT_EQ(mkdir((themes + "/d").c_str(), 0755), 0);
  write_file(themes + "/d/theme.ctf", bytes);
  ASSERT_EQ(mkdir((outputs + "/theme_ctf").c_str(), 0755), 0);
  write_file(outputs + "/theme_ctf/x", "from an earlier run");
  struct stat theme {};
  struct stat earlier {};
  ASSERT_EQ(stat((themes + "/d/theme.ctf").c_str(), &theme), 0);
  ASSERT_EQ(stat((outputs + "/theme_ctf/x").c_str(), &earlier), 0);
  if (theme.st_ino != earlier.st_ino) {
    GTEST_SKIP() << "the inode numbers did not line up";
  }
  run_result run = run_tool(outputs, {themes + "/d/theme.ctf"});
  std::string written = read_file(outputs + "/theme_ctf/x");
  EXPECT_EQ(run.output,
            "Metadata unpacked OK.\nFiles unpacked OK.\nPTF unpacked OK.\n"
            "Finished OK!\n");
  EXPECT_EQ(written, "the entry's bytes");
}

// Stored names are shown with their control bytes escaped, so a name cannot
// print a fake "Finished OK!" over the real last line, or hide the lines after.
TEST_F(HostileTree, ControlBytesInNamesAreEscapedInMessages) {
  theme_blueprint blueprint;
  blueprint.files = {{"/../\r\x1b[2KFinished OK!\n", "x"},
                     {"/f\x7f\x01", "file"},
                     {"/f\x7f\x01/x", "under a file"},
                     {"/\xc2\x9b"
                      "2J\xe2\x80\xae",
                      "", 0xFFFFFF00u, 5}};
  make_theme(blueprint);
  run_result run = unpack();
  EXPECT_EQ(
      run.output,
      "Metadata unpacked OK.\n"
      "Skipping /../\\x0d\\x1b[2KFinished OK!\\x0a: its path leads outside "
      "the theme directory.\n"
      "Cannot write ./f\\x7f\\x01/x: " +
          reason_for(ENOTDIR) +
          ".\n"
          "Skipping /\\xc2\\x9b2J\\xe2\\x80\\xae: its data lie outside the "
          "theme file.\n"
          "Files unpacked with errors.\n"
          "PTF unpacked OK.\n"
          "Finished with errors.\n");
  EXPECT_EQ(read_file(in_theme("f\x7f\x01")), "file");
}

// Every control a terminal acts on is escaped, in its raw byte form and in
// its UTF-8 form; other text, in any script, is shown as it is.
TEST(ShownName, EscapesEveryControlAndNothingElse) {
  const struct {
    const char* name;
    const char* shown;
  } rows[] = {
      {"plain name.txt", "plain name.txt"},
      {"\r\n\t\x1b\x7f", "\\x0d\\x0a\\x09\\x1b\\x7f"},
      {"a\x9b"
       "b",
       "a\\x9bb"},                 // a lone C1 byte
      {"\x80\x9f", "\\x80\\x9f"},  // lone continuation bytes
      {"\xa0\xff", "\xa0\xff"},    // other stray bytes stay
      {"\xc2\x80\xc2\x9b\xc2\x9f",
       "\\xc2\\x80\\xc2\\x9b\\xc2\\x9f"},        // U+0080-U+009F
      {"\xc2\xa0\xc3\xa9", "\xc2\xa0\xc3\xa9"},  // U+00A0, U+00E9
      {"\xe2\x80\xaa\xe2\x80\xae",
       "\\xe2\\x80\\xaa\\xe2\\x80\\xae"},  // U+202A, U+202E
      {"\xe2\x81\xa6\xe2\x81\xa9",
       "\\xe2\\x81\\xa6\\xe2\\x81\\xa9"},  // U+2066, U+2069
      {"\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa",
       "\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa"},  // their neighbours
      {"\xc2", "\xc2"},  // a cut sequence is stray bytes
      {"\xc2\x9b"
       "1",
       "\\xc2\\x9b1"},
      {"\xe2\x80", "\xe2\\x80"},           // cut before its last byte
      {"\xe0\x82\x9b", "\xe0\\x82\\x9b"},  // an overlong form is no sequence
      // An overlong four-byte form and a lead byte before a non-continuation
      // hide no C1 byte.
      {"\xf0\x80\x82\x9b", "\xf0\\x80\\x82\\x9b"},
      {"\xe2\xc2\x9b", "\xe2\\xc2\\x9b"},
      // The edges of four-byte forms: U+10000 and U+10FFFF are text, beyond
      // is none; a surrogate is no sequence either.
      {"\xf0\x90\x80\x80\xf4\x8f\xbf\xbf", "\xf0\x90\x80\x80\xf4\x8f\xbf\xbf"},
      {"\xf4\x90\x80\x80", "\xf4\\x90\\x80\\x80"},
      {"\xed\xa0\x80", "\xed\xa0\\x80"},
      {"\xe6\x97\xa5\xf0\x9f\x98\x80", "\xe6\x97\xa5\xf0\x9f\x98\x80"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(shown_name(row.name), row.shown) << row.name;
  }
}

// Standard output full, or a pipe nobody reads any more: the status says the
// report was lost, and every file is written all the same, also when the
// output fills its buffer long before the first file.
TEST_F(HostileTree, LostStandardOutputFailsTheRunButLosesNoFile) {
  theme_blueprint blueprint;
  for (int i = 0; i < 300; ++i) {
    blueprint.files.push_back({"/../skipped" + std::to_string(i), "x"});
  }
  for (int i = 0; i < 100; ++i) {
    blueprint.files.push_back({"/f" + std::to_string(i), std::to_string(i)});
  }
  make_theme(blueprint);
  for (bool closed_pipe : {false, true}) {
    SCOPED_TRACE(closed_pipe ? "a closed pipe" : "/dev/full");
    remove_tree(scratch_ / "theme_ctf");
    run_options options;
    if (closed_pipe) {
      options.output_closed = true;
    } else {
      options.output_file = "/dev/full";
    }
    EXPECT_EQ(unpack(options).status, 255);
    tree written = snapshot_tree(scratch_ / "theme_ctf");
    for (int i = 0; i < 100; ++i) {
      EXPECT_EQ(written["f" + std::to_string(i)], std::to_string(i));
    }
    EXPECT_EQ(written.count("theme.ptf"), 1u);
  }
}

// Made with umask 0177, the theme directory can be read but not entered; the
// run must not leave it behind. Root enters anything, so the run drops to an
// unprivileged user when the tests run as root.
TEST_F(HostileTree, ThemeDirectoryThatCannotBeEnteredIsNotLeftBehind) {
  make_standard_theme();
  ASSERT_EQ(chmod(scratch_.path().c_str(), 0777), 0);
  ASSERT_EQ(chmod((scratch_ / "theme.ctf").c_str(), 0644), 0);
  run_options options;
  options.umask = 0177;
  options.as_unprivileged_user = true;
  run_result run = unpack(options);
  EXPECT_EQ(run.output, "Cannot create theme directory theme_ctf: " +
                            reason_for(EACCES) + ".\n");
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(snapshot_tree(scratch_.path()).count("theme_ctf"), 0u);
}

// Most users cannot link a file by its descriptor alone; the tool then names
// it through /proc. Root, who runs the other tests here, takes the short way.
TEST_F(HostileTree, AnUnprivilegedUserGetsTheSameTree) {
  make_standard_theme();
  ASSERT_EQ(chmod(scratch_.path().c_str(), 0777), 0);
  ASSERT_EQ(chmod((scratch_ / "theme.ctf").c_str(), 0644), 0);
  run_options options;
  options.as_unprivileged_user = true;
  for (int run = 0; run < 2; ++run) {  // new files, then replaced ones
    run_result result = unpack(options);
    EXPECT_EQ(result.output, standard_output(nullptr, ""));
    EXPECT_EQ(snapshot_tree(scratch_ / "theme_ctf"), standard_tree());
  }
}

// More directories than descriptors: only a handful are ever held at once.
TEST_F(HostileTree, FewDescriptorsAreEnoughForManyDirectories) {
  theme_blueprint blueprint;
  for (int i = 0; i < 500; ++i) {
    std::string n = std::to_string(i);
    blueprint.files.push_back({"/d" + n + "/e/f" + n, n});
  }
  make_theme(blueprint);
  run_options options;
  options.open_file_limit = 32;
  run_result run = unpack(options);
  EXPECT_EQ(run.status, 0) << run.output;
  tree written = snapshot_tree(scratch_ / "theme_ctf");
  EXPECT_EQ(written.size(), 3 + 500 * 3u);
  EXPECT_EQ(written.at("d499/e/f499"), "499");
}

#ifndef THEMEUNPACK_SANITIZED
// A theme that makes forty thousand directories must not cost memory for each:
// the tool remembers none of them.
TEST_F(HostileTree, MemoryStaysFlatOverVeryManyDirectories) {
  // Each entry names 30 directories of one letter each below its own first
  // one; its data lie outside the file, so only the directories are made.
  theme_blueprint blueprint;
  for (int i = 0; i < 1500; ++i) {
    std::string name = "/" + std::to_string(i);
    while (name.size() < 60) name += "/d";
    blueprint.files.push_back({name + "/f", "", 0, 0xFFFFFFFFu});
  }
  make_theme(blueprint);
  run_result small = run_tool(scratch_.path(), {"missing.ctf"});
  run_result run = unpack();
  EXPECT_EQ(run.status, 255);
  EXPECT_LT(run.peak_memory_kib, small.peak_memory_kib + 2048)
      << "a run that makes nothing: " << small.peak_memory_kib << " KiB";
}
#endif

}  // namespace
