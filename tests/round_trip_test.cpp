// The round trip, end to end: --list prints what a run would write and writes
// nothing; themepack packs a folder into exactly the bytes the layout asks
// for, themeunpack gives that folder back, and a theme laid out that way
// comes back byte for byte; every refusal leaves the theme file as it was.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <unistd.h>
#include <csignal>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "tests/unpack_oracle.h"
#include "tools/theme_builder.h"

namespace {

// A folder's regular files: paths below it and their contents.
using folder_files = std::map<std::string, std::string>;

const char* const PATCH_FILES[][2] = {
    {"patch-only/common_gui.prx.patch", "/vsh/module/common_gui.prx"},
    {"patch-only/paf.prx.patch", "/vsh/module/paf.prx"},
    {"patch-only/vshmain.prx.patch", "/vsh/module/vshmain.prx"}};

run_options packer() {
  run_options options;
  options.program = packer_under_test();
  return options;
}

void make_folders_for(const std::string& root, const std::string& path) {
  for (size_t slash = path.find('/'); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    mkdir((root + "/" + path.substr(0, slash)).c_str(), 0755);
  }
}

void lay_out(const std::string& root, const folder_files& files) {
  mkdir(root.c_str(), 0755);
  for (const auto& [path, contents] : files) {
    make_folders_for(root, path);
    write_file(root + "/" + path, contents);
  }
}

// A PTF image: the magic, header bytes of the seed's choosing, then `body`.
std::string ptf_image(const std::string& body, unsigned seed = 0) {
  std::string image(320, '\0');
  for (size_t i = 4; i < image.size(); ++i) {
    image[i] = static_cast<char>((i * 7 + seed * 13) % 256);
  }
  image.replace(0, 4, std::string("\0PTF", 4));
  return image + body;
}

// The name a file of the folder is stored under.
std::string stored_name(const std::string& path) {
  for (const auto& patch : PATCH_FILES) {
    if (path == patch[0]) return patch[1];
  }
  return "/" + path;
}

// The theme file the layout asks for, worked out here: the folder's .ptf with
// the count and the body's length set, the data in byte order of the stored
// names, then the table.
std::string expected_pack(const folder_files& files) {
  std::string ptf;
  std::map<std::string, std::string> stored;
  for (const auto& [path, contents] : files) {
    if (path == "theme info.txt") continue;
    bool top = path.find('/') == std::string::npos;
    if (top && path.size() > 4 && path.substr(path.size() - 4) == ".ptf") {
      ptf = contents;
    } else {
      stored[stored_name(path)] = contents;
    }
  }
  put_theme_u32(&ptf, 24, static_cast<uint32_t>(stored.size()));
  put_theme_u32(&ptf, 292, static_cast<uint32_t>(ptf.size() - 320));
  std::string bytes = ptf;
  std::string table;
  for (const auto& [name, contents] : stored) {
    table += encode_theme_record({name, static_cast<uint32_t>(bytes.size()),
                                  static_cast<uint32_t>(contents.size())});
    bytes += contents;
  }
  return bytes + table;
}

// Only the regular files of a snapshot.
folder_files files_of(const tree& snapshot) {
  folder_files files;
  for (const auto& [path, contents] : snapshot) {
    if (contents != DIRECTORY_MARK) files[path] = contents;
  }
  return files;
}

// Seeded folders and themes, as a theme modder might leave them: nested
// names of odd bytes, empty files, empty folders, some module patches and a
// module that is no patch beside them. Folders' names begin with "d" and
// files' with "f", so no file stands where a folder must, and none takes a
// name the folder's top keeps for itself.
class random_themes {
 public:
  explicit random_themes(unsigned seed) : random_(seed) {}

  folder_files folder(const std::string& ptf_name) {
    folder_files files;
    for (int i = below(24); i > 0; --i) {
      std::string path = "f" + random_piece();
      for (int level = below(4); level > 0; --level) {
        path = "d" + random_piece() + "/" + path;
      }
      if (path.size() < 63) files[path] = random_data();
    }
    for (const auto& patch : PATCH_FILES) {
      if (below(2) == 0) files[patch[0]] = random_data();
    }
    if (below(2) == 0) files["vsh/module/sysconf_plugin.prx"] = random_data();
    files[ptf_name] =
        ptf_image(random_data(), static_cast<unsigned>(random_()));
    files["theme info.txt"] = "edited, and packed by nobody\n";
    return files;
  }

  // A theme laid out as themepack lays one out.
  theme_blueprint theme() {
    theme_blueprint blueprint;
    blueprint.short_name = random_piece().substr(0, 8);
    blueprint.internal_id = random_piece().substr(0, 8);
    blueprint.required_firmware = random_piece().substr(0, 4);
    std::map<std::string, std::string> stored;
    for (const auto& [path, contents] : folder("x.ptf")) {
      if (path == "x.ptf") {
        blueprint.ptf_body = contents.substr(320);
      } else if (path != "theme info.txt") {
        stored[stored_name(path)] = contents;
      }
    }
    for (const auto& [name, contents] : stored) {
      blueprint.files.push_back({name, contents});
    }
    return blueprint;
  }

  // An empty folder somewhere below `root`.
  void empty_folder(const std::string& root) {
    mkdir((root + "/d" + random_piece()).c_str(), 0755);
  }

 private:
  int below(int bound) {
    return std::uniform_int_distribution<int>(0, bound - 1)(random_);
  }

  std::string random_piece() {
    static const char* const pieces[] = {
        "a",       "B",         "z9",   " ", "_",   "-",
        ".",       "\xc3\xa9",  "\xff", "~", "vsh", "theme info.txt",
        "paf.prx", "patch-only"};
    std::string piece;
    for (int i = 1 + below(3); i > 0; --i) piece += pieces[below(14)];
    return piece;
  }

  std::string random_data() {
    int size = below(4) == 0 ? 0 : below(3000);
    std::string data;
    for (int i = 0; i < size; ++i) data += static_cast<char>(random_());
    return data;
  }

  std::mt19937 random_;
};

// Packs `files` laid out as theme_ctf (named as `argument`) and checks both
// what themepack wrote and what themeunpack makes of it.
void check_folder_round_trip(const folder_files& files,
                             const std::string& ptf_name,
                             const std::vector<std::string>& route = {},
                             const std::string& argument = "theme_ctf") {
  scratch_directory scratch;
  lay_out(scratch / "theme_ctf", files);
  run_options options = packer();
  options.environment = route;
  run_result pack = run_tool(scratch.path(), {argument}, options);
  // Every folder here holds a .ptf and a report besides the files.
  ASSERT_EQ(pack.output, "Packed theme_ctf.ctf with " +
                             std::to_string(files.size() - 2) + " files.\n");
  ASSERT_EQ(pack.status, 0);
  std::string packed = read_file(scratch / "theme_ctf.ctf");
  ASSERT_EQ(packed, expected_pack(files));

  run_result unpack = run_tool(scratch.path(), {"theme_ctf.ctf"});
  ASSERT_EQ(unpack.status, 0) << unpack.output;
  folder_files back = files_of(snapshot_tree(scratch / "theme_ctf_ctf"));
  std::map<std::string, std::string> oracle = expected_contents(packed);
  // The image takes the theme file's name, as every run names it.
  oracle["theme_ctf.ptf"] = oracle["theme.ptf"];
  oracle.erase("theme.ptf");
  EXPECT_EQ(back, folder_files(oracle.begin(), oracle.end()));
  // Every file of the folder but the report and the image comes back.
  for (const auto& [path, contents] : files) {
    if (path != "theme info.txt" && path != ptf_name) {
      EXPECT_EQ(back[path], contents) << path;
    }
  }
}

// The folder `make demo` unpacks, named with a separator at its end, which
// does not move the pack into it.
TEST(RoundTrip, TheSampleThemeComesBackWhole) {
  scratch_directory scratch;
  ASSERT_EQ(system(("cd " + shell_word(scratch.path()) + " && " +
                    shell_word(THEMEUNPACK_SAMPLE_MAKER) + " sample.ctf")
                       .c_str()),
            0);
  ASSERT_EQ(run_tool(scratch.path(), {"sample.ctf"}).status, 0);
  check_folder_round_trip(files_of(snapshot_tree(scratch / "sample_ctf")),
                          "sample.ptf", {}, "theme_ctf/");
}

TEST(RoundTrip, SeededFoldersPackAndComeBack) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    random_themes themes(seed);
    check_folder_round_trip(themes.folder("theme.ptf"), "theme.ptf");
  }
}

// The theme file is made as every output is: on each write route it is
// complete under its name.
TEST(RoundTrip, EveryWriteRoutePacksTheSameBytes) {
  for (const write_route& route : WRITE_ROUTES) {
    SCOPED_TRACE(route.name);
    random_themes themes(7);
    check_folder_round_trip(themes.folder("theme.ptf"), "theme.ptf",
                            route_environment(route, {"SHIM_COPY_MOST=1000"}));
  }
}

TEST(RoundTrip, SeededThemesComeBackByteForByte) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    random_themes themes(seed + 1000);
    std::string bytes = build_theme(themes.theme()).bytes;
    scratch_directory scratch;
    write_file(scratch / "x.ctf", bytes);
    run_result unpack = run_tool(scratch.path(), {"x.ctf"});
    ASSERT_EQ(unpack.status, 0) << unpack.output;
    themes.empty_folder(scratch / "x_ctf");
    run_result pack =
        run_tool(scratch.path(), {"x_ctf", "again.ctf"}, packer());
    ASSERT_EQ(pack.status, 0) << pack.output;
    EXPECT_EQ(read_file(scratch / "again.ctf"), bytes);
  }
}

// One listing that shows every kind of line: outputs, a diverted patch, each
// skip a run makes for what the theme shows, escaped names, the totals; then
// a theme whose table does not fit, and one that is not there.
TEST(List, PrintsWhatARunWouldWriteAndWritesNothing) {
  theme_blueprint blueprint;
  blueprint.ptf_body = "body";
  blueprint.files = {{"/x/y.bin", "hello"},
                     {"/VSH/MODULE/PAF.PRX", "patch"},
                     {"/../evil", "e"},
                     {"/far", "f", 0xFFFFFF00},
                     {"/", ""},
                     {"/a\x1b[1m.txt", "esc"}};
  std::string bytes = build_theme(blueprint).bytes;
  theme_blueprint unfit;
  unfit.file_count = 1000;
  scratch_directory scratch;
  write_file(scratch / "theme.ctf", bytes);
  write_file(scratch / "unfit.ctf", build_theme(unfit).bytes);
  tree before = snapshot_tree(scratch.path());
  std::string report_size =
      std::to_string(expected_contents(bytes)["theme info.txt"].size());
  std::string unfit_report_size = std::to_string(
      expected_contents(build_theme(unfit).bytes)["theme info.txt"].size());

  run_result run = run_tool(
      scratch.path(), {"--list", "theme.ctf", "unfit.ctf", "missing.ctf"});
  EXPECT_EQ(
      run.output,
      "Theme file theme.ctf:\n"
      "        " +
          report_size +
          "  theme_ctf/theme info.txt\n"
          "         5  theme_ctf/x/y.bin\n"
          "         5  theme_ctf/patch-only/paf.prx.patch\n"
          "Skipping /../evil: its path leads outside the theme directory.\n"
          "Skipping /far: its data lie outside the theme file.\n"
          "Cannot write ./: Is a directory.\n"
          "         3  theme_ctf/a\\x1b[1m.txt\n"
          "       324  theme_ctf/theme.ptf\n"
          "5 files, " +
          std::to_string(std::stoul(report_size) + 337) +
          " bytes\n"
          "Theme file unfit.ctf:\n"
          "        " +
          unfit_report_size +
          "  unfit_ctf/theme info.txt\n"
          "File table does not fit in the theme file.\n"
          "       320  unfit_ctf/unfit.ptf\n"
          "2 files, " +
          std::to_string(std::stoul(unfit_report_size) + 320) +
          " bytes\n"
          "Theme file missing.ctf:\n"
          "Theme file missing.ctf not found.\n");
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(snapshot_tree(scratch.path()), before);

  run_result clean = run_tool(scratch.path(), {"--list", "unfit.ctf"});
  EXPECT_EQ(clean.status, 255);
  theme_blueprint sound;
  sound.files = {{"/a", "a"}};
  write_file(scratch / "sound.ctf", build_theme(sound).bytes);
  EXPECT_EQ(run_tool(scratch.path(), {"--list", "sound.ctf"}).status, 0);
}

bool make_socket(const std::string& path) {
  int listening = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  path.copy(address.sun_path, path.size());
  bool made = bind(listening, reinterpret_cast<sockaddr*>(&address),
                   sizeof address) == 0;
  close(listening);
  return made;
}

// Every refusal names the path and why, writes nothing and leaves an earlier
// pack as it was.
TEST(Pack, RefusalsWriteNothing) {
  struct row {
    const char* what;
    std::vector<std::string> arguments;
    std::string output;
    void (*plant)(const std::string& folder);
    // Too large to read whole: only the earlier pack is compared.
    bool huge = false;
  };
  const std::string not_written = "Theme file t_ctf.ctf not written.\n";
  const std::vector<row> rows = {
      {"no .ptf",
       {"t_ctf"},
       "No .ptf file at the top of t_ctf.\n",
       [](const std::string& f) { unlink((f + "/t.ptf").c_str()); }},
      {"two .ptf",
       {"t_ctf"},
       "Refusing t_ctf/u.ptf: only one .ptf file may stand at the top of the "
       "folder.\n",
       [](const std::string& f) { write_file(f + "/u.ptf", ptf_image("")); }},
      {"no magic",
       {"t_ctf"},
       "Refusing t_ctf/t.ptf: it is not a PTF image (00 50 54 46 and at least "
       "320 bytes).\n",
       [](const std::string& f) {
         write_file(f + "/t.ptf", std::string(400, 'P'));
       }},
      {"short .ptf",
       {"t_ctf"},
       "Refusing t_ctf/t.ptf: it is not a PTF image (00 50 54 46 and at least "
       "320 bytes).\n",
       [](const std::string& f) {
         write_file(f + "/t.ptf", ptf_image("").substr(0, 319));
       }},
      {"a link to a file",
       {"t_ctf"},
       "Refusing t_ctf/d/link: it is a symbolic link.\n",
       [](const std::string& f) {
         ASSERT_EQ(symlink("/etc/passwd", (f + "/d/link").c_str()), 0);
       }},
      {"a link to a folder",
       {"t_ctf"},
       "Refusing t_ctf/etc: it is a symbolic link.\n",
       [](const std::string& f) {
         ASSERT_EQ(symlink("/etc", (f + "/etc").c_str()), 0);
       }},
      {"a FIFO",
       {"t_ctf"},
       "Refusing t_ctf/d/fifo: it is not a regular file or a folder.\n",
       [](const std::string& f) { mkfifo((f + "/d/fifo").c_str(), 0644); }},
      {"a socket",
       {"t_ctf"},
       "Refusing t_ctf/s: it is not a regular file or a folder.\n",
       [](const std::string& f) { make_socket(f + "/s"); }},
      {"a name too long",
       {"t_ctf"},
       "Refusing t_ctf/" + std::string(60, 'n') +
           "/ab: its stored name would be longer than 63 bytes.\n",
       [](const std::string& f) {
         lay_out(f, {{std::string(60, 'n') + "/ab", "x"}});
       }},
      {"a folder too deep",
       {"t_ctf"},
       "Refusing t_ctf/" + std::string(61, 'n') +
           "/a: its stored name would be longer than 63 bytes.\n",
       [](const std::string& f) {
         lay_out(f, {{std::string(61, 'n') + "/a/b/c", "x"}});
       }},
      {"a diverted module",
       {"t_ctf"},
       "Refusing t_ctf/VSH/Module/PAF.prx: themeunpack would not write it back "
       "to the same place.\n",
       [](const std::string& f) {
         lay_out(f, {{"VSH/Module/PAF.prx", "x"}});
       }},
      {"a newline",
       {"t_ctf"},
       "Refusing t_ctf/a\\x0ab: themeunpack would not write it back to the "
       "same place.\n",
       [](const std::string& f) { write_file(f + "/a\nb", "x"); }},
      {"a backslashed way out",
       {"t_ctf"},
       "Refusing t_ctf/a\\..\\b: themeunpack would not write it back to the "
       "same place.\n",
       [](const std::string& f) { write_file(f + "/a\\..\\b", "x"); }},
      {"patch-only as a file",
       {"t_ctf"},
       "Refusing t_ctf/patch-only: themeunpack would not write it back to the "
       "same place.\n",
       [](const std::string& f) { write_file(f + "/patch-only", "x"); }},
      {"data past 4 GiB",
       {"t_ctf"},
       "Refusing t_ctf/d/huge: its data would end past 4 GiB, beyond 32-bit "
       "offsets.\n",
       [](const std::string& f) {
         write_file(f + "/d/huge", "");
         ASSERT_EQ(truncate((f + "/d/huge").c_str(), 0xFFFFFFFF - 300), 0);
       },
       true},
      {"the report's name as a folder",
       {"t_ctf"},
       "Refusing t_ctf/theme info.txt/a: themeunpack would not write it back "
       "to the same place.\n",
       [](const std::string& f) {
         lay_out(f, {{"theme info.txt/a", "x"}});
       }},
      {"the image's name as a folder",
       {"t_ctf"},
       "Refusing t_ctf/t_ctf.ptf/a: themeunpack would not write it back to "
       "the same place.\n",
       [](const std::string& f) {
         lay_out(f, {{"t_ctf.ptf/a", "x"}});
       }},
      {"the theme file inside",
       {"t_ctf", "t_ctf/d/in.ctf"},
       "Refusing t_ctf/d/in.ctf: the theme file would lie inside the folder "
       "it packs.\nTheme file t_ctf/d/in.ctf not written.\n",
       nullptr},
      {"the theme file a link",
       {"t_ctf", "linked.ctf"},
       "Refusing linked.ctf: it is a symbolic link.\nTheme file linked.ctf "
       "not written.\n",
       [](const std::string& f) {
         ASSERT_EQ(symlink("elsewhere.ctf", (f + "/../linked.ctf").c_str()), 0);
       }},
      {"the theme file a folder",
       {"t_ctf", "d"},
       "Cannot write d: Is a directory.\nTheme file d not written.\n",
       nullptr},
      {"no folder",
       {"none"},
       "Cannot open folder none: No such file or directory.\nTheme file "
       "none.ctf not written.\n",
       nullptr},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    scratch_directory scratch;
    std::string folder = scratch / "t_ctf";
    lay_out(folder, {{"t.ptf", ptf_image("body")}, {"d/a", "a"}});
    mkdir((scratch / "d").c_str(), 0755);
    write_file(scratch / "t_ctf.ctf", "an earlier pack");
    if (r.plant != nullptr) r.plant(folder);
    tree before = r.huge ? tree{} : snapshot_tree(scratch.path());
    run_result run = run_tool(scratch.path(), r.arguments, packer());
    std::string expected = r.output;
    if (expected.find(" not written.\n") == std::string::npos) {
      expected += not_written;
    }
    EXPECT_EQ(run.output, expected);
    EXPECT_EQ(run.status, 255);
    if (r.huge) {
      EXPECT_EQ(read_file(scratch / "t_ctf.ctf"), "an earlier pack");
    } else {
      EXPECT_EQ(snapshot_tree(scratch.path()), before);
    }
  }
}

// A file cut short while it is packed: refused, and the earlier pack stays.
TEST(Pack, AFileCutShortWhileItIsPacked) {
  scratch_directory scratch;
  lay_out(scratch / "t_ctf",
          {{"t.ptf", ptf_image("body")}, {"a", std::string(5000, 'a')}});
  write_file(scratch / "t_ctf.ctf", "an earlier pack");
  run_options options = packer();
  options.environment = {preload(), "SHIM_CUT_FILE=" + scratch / "t_ctf/a",
                         "SHIM_CUT_AT=100", "SHIM_NO_COPY_FILE_RANGE=1",
                         "SHIM_NO_SENDFILE=1"};
  run_result cut = run_tool(scratch.path(), {"t_ctf"}, options);
  EXPECT_EQ(cut.output,
            "Refusing t_ctf/a: it changed while it was packed.\n"
            "Theme file t_ctf.ctf not written.\n");
  EXPECT_EQ(cut.status, 255);
  EXPECT_EQ(read_file(scratch / "t_ctf.ctf"), "an earlier pack");
}

// Between any two file-system calls, a folder being packed is swapped for a
// link to one outside holding a secret at the same names and lengths: the pack
// is refused or holds none of the secret, never anything read through the link.
TEST(Pack, FolderSwappedForALinkBetweenAnyTwoCalls) {
  for (const char* swapped : {"d", "d/sub"}) {
    int call = 1;
    for (;; ++call) {
      scratch_directory scratch;
      scratch_directory outside;
      const folder_files inside = {{"t.ptf", ptf_image("body")},
                                   {"d/a", "a"},
                                   {"d/sub/b", "b"},
                                   {"e", "e"}};
      lay_out(scratch / "t_ctf", inside);
      // The secret is as long as what it stands in for: a length that
      // differs would be refused as a change, hiding a read through the link.
      lay_out(outside.path(), {{"a", "#"},
                               {"b", "#"},
                               {"sub/b", "#"},
                               {"d/a", "#"},
                               {"d/sub/b", "#"}});
      run_options options = packer();
      options.environment = {
          preload(), "SHIM_SWAP_AT=" + std::to_string(call),
          "SHIM_SWAP_DIR=" + scratch / "t_ctf" + "/" + swapped,
          "SHIM_SWAP_TO=" + outside.path(),
          "SHIM_REPORT=" + scratch / "swapped"};
      run_result run = run_tool(scratch.path(), {"t_ctf", "t.ctf"}, options);
      if (access((scratch / "swapped").c_str(), F_OK) != 0) break;
      SCOPED_TRACE(std::string(swapped) + " swapped at call " +
                   std::to_string(call) + "; output:\n" + run.output);
      const std::string refused = "Theme file t.ctf not written.\n";
      if (access((scratch / "t.ctf").c_str(), F_OK) == 0) {
        // A pack that was made is exactly the folder's own.
        EXPECT_EQ(read_file(scratch / "t.ctf"), expected_pack(inside));
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.output.rfind("Packed t.ctf with ", 0), 0u);
      } else {
        EXPECT_EQ(run.status, 255);
        EXPECT_TRUE(run.output.size() >= refused.size() &&
                    run.output.substr(run.output.size() - refused.size()) ==
                        refused);
      }
    }
    EXPECT_GT(call, 20) << swapped << ": the shim saw too few calls";
  }
}

// Between any two file-system calls, a file being packed is replaced by a
// FIFO, or rewritten in place with other bytes of another length: the FIFO is
// never opened (a read would wait forever for a writer), and a pack that is
// made is the folder's own before or after, never one with the file's new
// bytes cut to its old length.
TEST(Pack, FileReplacedOrRewrittenBetweenAnyTwoCalls) {
  for (const char* with : {"fifo", "rewritten"}) {
    int call = 1;
    for (;; ++call) {
      scratch_directory scratch;
      const folder_files inside = {
          {"t.ptf", ptf_image("body")}, {"a", "12345"}, {"e", "e"}};
      lay_out(scratch / "t_ctf", inside);
      run_options options = packer();
      options.environment = {preload(), "SHIM_SWAP_AT=" + std::to_string(call),
                             "SHIM_SWAP_DIR=" + scratch / "t_ctf/a",
                             std::string("SHIM_SWAP_WITH=") + with,
                             "SHIM_REPORT=" + scratch / "swapped"};
      running_tool tool =
          start_tool(scratch.path(), {"t_ctf", "t.ctf"}, options);
      bool ended = tool_ended_within(tool, 20000);
      if (!ended) kill(tool.pid, SIGKILL);
      run_result run = finish_tool(tool);
      if (access((scratch / "swapped").c_str(), F_OK) != 0) break;
      SCOPED_TRACE(std::string(with) + " at call " + std::to_string(call) +
                   "; output:\n" + run.output);
      ASSERT_TRUE(ended) << "the pack waits on the FIFO";
      if (access((scratch / "t.ctf").c_str(), F_OK) == 0) {
        EXPECT_EQ(run.status, 0);
        // The folder as it was, or as it is once rewritten: never a mix.
        folder_files rewritten = inside;
        rewritten["a"] = "REWRITTEN";
        std::string packed = read_file(scratch / "t.ctf");
        EXPECT_TRUE(packed == expected_pack(inside) ||
                    packed == expected_pack(rewritten));
      } else {
        EXPECT_EQ(run.status, 255);
      }
    }
    EXPECT_GT(call, 20) << with << ": the shim saw too few calls";
  }
}

}  // namespace
