// libFuzzer target: takes arbitrary bytes as a theme file, runs the whole
// unpacker on it in a fresh scratch tree, and aborts when an invariant breaks:
//   - nothing outside the theme directory changed, although hard links to
//     files outside, a FIFO and a link to a directory outside were planted in
//     it at names the inputs use;
//   - every file in the theme directory holds exactly what the last write meant
//     for it should hold (a packed file's data, the report, the PTF image), or
//     is one of the planted things, untouched;
//   - after a run with status 0, every file the run was meant to write is
//   there;
//   - the status is 0 exactly when no failure message was printed, and then the
//     last line is "Finished OK!";
//   - --list of the same bytes, run first, writes nothing, its status is 0
//     exactly when it printed no message in place of an output, and its last
//     line counts the output lines and adds up their sizes.
// A run that hangs (on a FIFO, say) is caught by libFuzzer's own timeout.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/run_unpacker.h"
#include "tests/unpack_oracle.h"
#include "tools/file_tree.h"

namespace {

constexpr const char* SENTINEL = "sentinel: must stay as it is\n";

[[noreturn]] void fail(const std::string& what) {
  fprintf(stderr, "invariant broken: %s\n", what.c_str());
  abort();
}

std::string read_whole(const std::string& path) {
  std::string contents;
  if (!read_whole_file(path, &contents)) fail("cannot read back " + path);
  return contents;
}

void write_whole(const std::string& path, const uint8_t* data, size_t size) {
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr || fwrite(data, 1, size, file) != size) {
    fail("cannot write " + path);
  }
  fclose(file);
}

std::vector<std::string> names_in(const std::string& path) {
  std::vector<std::string> names;
  if (!list_directory(path, &names)) fail("cannot list " + path);
  return names;
}

// What is planted in the theme directory before each run, at names the seeds
// use: hard links to the sentinels outside, a FIFO, a link to a directory
// outside.
constexpr const char* PLANTED_HARD_LINK = "same";      // to outer-sentinel
constexpr const char* PLANTED_PTF_LINK = "theme.ptf";  // to beside-sentinel
constexpr const char* PLANTED_FIFO = "empty";
constexpr const char* PLANTED_LINK =
    "x";  // to the directory beside the theme's

struct planted_things {
  ino_t outer_sentinel = 0;
  ino_t beside_sentinel = 0;
};

bool is_untouched_plant(const std::string& path, const struct stat& status,
                        const planted_things& planted) {
  if (path == PLANTED_LINK) return S_ISLNK(status.st_mode);
  if (path == PLANTED_FIFO) return S_ISFIFO(status.st_mode);
  if (path == PLANTED_HARD_LINK) return status.st_ino == planted.outer_sentinel;
  if (path == PLANTED_PTF_LINK) return status.st_ino == planted.beside_sentinel;
  return false;
}

// Checks every file below the theme directory against `expected`; the paths of
// the files that hold what they should are added to `written`.
void check_theme_tree(const std::string& root, const std::string& relative,
                      const std::map<std::string, std::string>& expected,
                      const planted_things& planted,
                      std::vector<std::string>* written) {
  std::string here = relative.empty() ? root : root + "/" + relative;
  for (const std::string& name : names_in(here)) {
    std::string path = relative.empty() ? name : relative + "/" + name;
    struct stat status;
    if (lstat((root + "/" + path).c_str(), &status) != 0) fail("lstat " + path);
    if (is_untouched_plant(path, status, planted)) continue;
    if (S_ISDIR(status.st_mode)) {
      check_theme_tree(root, path, expected, planted, written);
      continue;
    }
    if (!S_ISREG(status.st_mode)) fail("not a regular file: " + path);
    auto meant = expected.find(path);
    if (meant == expected.end()) fail("unexpected file: " + path);
    if (read_whole(root + "/" + path) != meant->second) {
      fail("wrong contents: " + path);
    }
    written->push_back(path);
  }
}

planted_things plant(const std::string& root) {
  std::string theme_directory = root + "/work/theme_ctf/";
  if (mkdir(theme_directory.c_str(), 0755) != 0 ||
      link((root + "/outer-sentinel").c_str(),
           (theme_directory + PLANTED_HARD_LINK).c_str()) != 0 ||
      link((root + "/work/beside-sentinel").c_str(),
           (theme_directory + PLANTED_PTF_LINK).c_str()) != 0 ||
      mkfifo((theme_directory + PLANTED_FIFO).c_str(), 0644) != 0 ||
      symlink((root + "/work").c_str(),
              (theme_directory + PLANTED_LINK).c_str()) != 0) {
    fail("plant in the theme directory");
  }
  struct stat outer, beside;
  if (stat((root + "/outer-sentinel").c_str(), &outer) != 0 ||
      stat((root + "/work/beside-sentinel").c_str(), &beside) != 0) {
    fail("stat the sentinels");
  }
  return {outer.st_ino, beside.st_ino};
}

void check_outside_untouched(const std::string& root) {
  for (const char* sentinel : {"/outer-sentinel", "/work/beside-sentinel"}) {
    if (read_whole(root + sentinel) != SENTINEL)
      fail("changed: " + std::string(sentinel));
  }
  if (names_in(root).size() != 2) fail("something appeared beside work/");
  for (const std::string& name : names_in(root + "/work")) {
    if (name != "theme.ctf" && name != "beside-sentinel" &&
        name != "theme_ctf") {
      fail("something appeared beside the theme directory: " + name);
    }
  }
}

struct fuzz_setup {
  std::string start_directory;
  std::string root;    // scratch tree of one run
  std::string output;  // where standard output goes
};

fuzz_setup make_setup() {
  fuzz_setup setup;
  char cwd[4096];
  if (getcwd(cwd, sizeof cwd) == nullptr) fail("getcwd");
  setup.start_directory = cwd;
  const char* tmp = getenv("TMPDIR");
  std::string pattern =
      std::string(tmp && *tmp ? tmp : "/tmp") + "/themeunpack-fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) fail("mkdtemp");
  setup.root = pattern + "/run";
  setup.output = pattern + "/stdout";
  if (mkdir(setup.root.c_str(), 0755) != 0 ||
      mkdir((setup.root + "/work").c_str(), 0755) != 0) {
    fail("make the scratch tree");
  }
  const auto* sentinel = reinterpret_cast<const uint8_t*>(SENTINEL);
  write_whole(setup.root + "/outer-sentinel", sentinel, strlen(SENTINEL));
  write_whole(setup.root + "/work/beside-sentinel", sentinel, strlen(SENTINEL));
  int file = open(setup.output.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  if (file < 0 || dup2(file, STDOUT_FILENO) < 0) fail("redirect stdout");
  close(file);
  umask(022);
  return setup;
}

std::string take_output() {
  fflush(stdout);
  off_t end = lseek(STDOUT_FILENO, 0, SEEK_END);
  std::string output(static_cast<size_t>(end), '\0');
  if (pread(STDOUT_FILENO, output.data(), output.size(), 0) != end) {
    fail("read stdout back");
  }
  if (ftruncate(STDOUT_FILENO, 0) != 0) fail("truncate stdout");
  lseek(STDOUT_FILENO, 0, SEEK_SET);
  return output;
}

// Spaces, then at least one digit and nothing else: a size in ten columns.
bool is_right_aligned_number(const std::string& field) {
  size_t digits = field.find_first_not_of(' ');
  return digits != std::string::npos &&
         field.find_first_not_of("0123456789", digits) == std::string::npos;
}

// What is wrong with a listing and its status, or "" when nothing is.
std::string listing_problem(int status, const std::string& listing) {
  size_t lines = 0;
  unsigned long long bytes = 0;
  bool skipped = false;
  size_t start = 0;
  std::string last;
  while (start < listing.size()) {
    size_t end = listing.find('\n', start);
    if (end == std::string::npos) return "a listing line without its newline";
    std::string line = listing.substr(start, end - start);
    start = end + 1;
    if (start == listing.size()) {
      last = line;
      break;
    }
    // An output: its size right-aligned in ten columns, two spaces, a path.
    bool output = line.size() > 12 && line.compare(10, 2, "  ") == 0 &&
                  is_right_aligned_number(line.substr(0, 10));
    if (output) {
      ++lines;
      bytes += strtoull(line.c_str(), nullptr, 10);
    } else {
      skipped = true;
    }
  }
  // A theme that is rejected or cannot be read ends on its message, not on
  // the totals.
  if (last.find(" files, ") == std::string::npos) return "";
  if (status == 0 && skipped) return "a listing with a skip ended with 0";
  if (status != 0 && !skipped) return "a clean listing ended with a failure";
  if (last !=
      std::to_string(lines) + " files, " + std::to_string(bytes) + " bytes") {
    return "the totals disagree with the lines: " + last;
  }
  return "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fuzz_setup setup = make_setup();
  const std::string& root = setup.root;
  // The sentinels are made once and checked after every run; what a run may
  // write, the theme directory, is removed before the next one.
  std::string theme_directory = root + "/work/theme_ctf";
  remove_tree(theme_directory);
  planted_things planted = plant(root);
  write_whole(root + "/work/theme.ctf", data, size);

  if (chdir((root + "/work").c_str()) != 0) fail("chdir into work");
  std::vector<std::string> before_listing = names_in(theme_directory);
  std::vector<std::string> work_before = names_in(root + "/work");
  int listed = run_lister("theme.ctf");
  std::string listing = take_output();
  if (names_in(theme_directory) != before_listing ||
      names_in(root + "/work") != work_before) {
    fail("--list wrote");
  }
  std::string listing_wrong = listing_problem(listed, listing);
  if (!listing_wrong.empty()) fail(listing_wrong + "\n" + listing);
  int status = run_unpacker("theme.ctf", false);
  if (chdir(setup.start_directory.c_str()) != 0) fail("chdir back");
  std::string output = take_output();

  std::string problem = status_problem(status, output);
  if (!problem.empty()) fail(problem);
  check_outside_untouched(root);
  // A rejected theme file leaves the theme directory as it was planted.
  std::string bytes(reinterpret_cast<const char*>(data), size);
  bool recognised =
      size >= 320 && bytes.compare(0, 4, std::string("\0PTF", 4)) == 0;
  if (!recognised) return 0;
  std::map<std::string, std::string> expected = expected_contents(bytes);
  std::vector<std::string> written;
  check_theme_tree(theme_directory, "", expected, planted, &written);
  if (status == 0 && written.size() != expected.size()) {
    fail("a clean run left out a file it was meant to write");
  }
  return 0;
}
