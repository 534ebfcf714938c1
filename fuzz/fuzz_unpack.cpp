// libFuzzer target: takes arbitrary bytes as a theme file, runs the whole
// unpacker on it in a fresh scratch tree, and aborts when an invariant breaks:
//   - nothing outside the theme directory changed;
//   - every file in the theme directory holds exactly what the last write meant
//     for it should hold (a packed file's data, the report, the PTF image);
//   - the status is 0 exactly when no failure message was printed, and then the
//     last line is "Finished OK!".
// The expected contents come from a reading of the theme file written here on
// its own, not from the tool's readers, so the two check each other.
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
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

namespace {

constexpr uint64_t HEADER_SIZE = 320;
constexpr uint64_t RECORD_SIZE = 72;
constexpr const char* SENTINEL = "sentinel: must stay as it is\n";

[[noreturn]] void fail(const std::string& what) {
  fprintf(stderr, "invariant broken: %s\n", what.c_str());
  abort();
}

uint32_t u32_at(const std::string& bytes, uint64_t offset) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) {
    value = value << 8 | static_cast<unsigned char>(bytes[offset + i]);
  }
  return value;
}

// A text field up to its first NUL, through a newline, or to its limit.
std::string text_at(const std::string& bytes, uint64_t offset, size_t limit) {
  std::string value;
  for (size_t i = 0; i < limit; ++i) {
    char c = bytes[offset + i];
    if (c == '\0') break;
    value += c;
    if (c == '\n') break;
  }
  return value;
}

std::string report_of(const std::string& bytes) {
  char count[16];
  snprintf(count, sizeof count, "%d",
           static_cast<int32_t>(u32_at(bytes, 0x18)));
  return "Short theme name: " + text_at(bytes, 0x8, 8) +
         "\nInternal ID: " + text_at(bytes, 0x88, 8) +
         "\nRequired firmware: " + text_at(bytes, 0xC0, 4) +
         "\nFiles in theme: " + count + "\n";
}

// Collapses "./a//b/./c" to "a/b/c"; empty for a path naming the directory.
std::string normalise(const std::string& path) {
  std::string result;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string component = path.substr(start, end - start);
    if (!component.empty() && component != ".") {
      if (!result.empty()) result += '/';
      result += component;
    }
    start = end + 1;
  }
  return result;
}

bool has_dot_dot(const std::string& path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of("/\\", start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") == 0 && end - start == 2) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

std::string target_of(const std::string& output_path) {
  static const char* const redirects[][2] = {
      {"./vsh/module/common_gui.prx", "patch-only/common_gui.prx.patch"},
      {"./vsh/module/paf.prx", "patch-only/paf.prx.patch"},
      {"./vsh/module/vshmain.prx", "patch-only/vshmain.prx.patch"}};
  for (const auto& redirect : redirects) {
    if (strcasecmp(output_path.c_str(), redirect[0]) == 0) return redirect[1];
  }
  return normalise(output_path);
}

// What each file of the theme directory holds if the last write meant for it
// succeeded: the report, then the packed files in table order, then the image.
std::map<std::string, std::string> expected_contents(const std::string& bytes) {
  std::map<std::string, std::string> expected;
  expected["theme info.txt"] = report_of(bytes);
  uint64_t length = bytes.size();
  uint64_t count = u32_at(bytes, 0x18);
  if (count * RECORD_SIZE <= length) {
    for (uint64_t i = 0; i < count; ++i) {
      uint64_t record = length - (count - i) * RECORD_SIZE;
      std::string output_path = "." + text_at(bytes, record, 63);
      uint64_t offset = u32_at(bytes, record + 64);
      uint64_t size = u32_at(bytes, record + 68);
      if (has_dot_dot(output_path) || offset + size > length) continue;
      expected[target_of(output_path)] = bytes.substr(offset, size);
    }
  }
  uint64_t image = u32_at(bytes, 0x124) + HEADER_SIZE;
  if (image <= length) expected["theme.ptf"] = bytes.substr(0, image);
  return expected;
}

std::string read_whole(const std::string& path) {
  std::string contents;
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) fail("cannot read back " + path);
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) {
    contents.append(buffer, got);
  }
  fclose(file);
  return contents;
}

void write_whole(const std::string& path, const uint8_t* data, size_t size) {
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr || fwrite(data, 1, size, file) != size) {
    fail("cannot write " + path);
  }
  fclose(file);
}

std::vector<std::string> list_directory(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) fail("cannot list " + path);
  while (dirent* item = readdir(dir)) {
    std::string name = item->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  return names;
}

void remove_tree(const std::string& path) {
  struct stat status;
  if (lstat(path.c_str(), &status) != 0) return;
  if (S_ISDIR(status.st_mode)) {
    for (const std::string& name : list_directory(path)) {
      remove_tree(path + "/" + name);
    }
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

// Checks every file below the theme directory against `expected`.
void check_theme_tree(const std::string& root, const std::string& relative,
                      const std::map<std::string, std::string>& expected) {
  std::string here = relative.empty() ? root : root + "/" + relative;
  for (const std::string& name : list_directory(here)) {
    std::string path = relative.empty() ? name : relative + "/" + name;
    struct stat status;
    if (lstat((root + "/" + path).c_str(), &status) != 0) fail("lstat " + path);
    if (S_ISDIR(status.st_mode)) {
      check_theme_tree(root, path, expected);
      continue;
    }
    if (!S_ISREG(status.st_mode)) fail("not a regular file: " + path);
    auto meant = expected.find(path);
    if (meant == expected.end()) fail("unexpected file: " + path);
    if (read_whole(root + "/" + path) != meant->second) {
      fail("wrong contents: " + path);
    }
  }
}

void check_outside_untouched(const std::string& root) {
  for (const char* sentinel : {"/outer-sentinel", "/work/beside-sentinel"}) {
    if (read_whole(root + sentinel) != SENTINEL) fail("changed: " + std::string(sentinel));
  }
  if (list_directory(root).size() != 2) fail("something appeared beside work/");
  for (const std::string& name : list_directory(root + "/work")) {
    if (name != "theme.ctf" && name != "beside-sentinel" && name != "theme_ctf") {
      fail("something appeared beside the theme directory: " + name);
    }
  }
}

bool reports_failure(const std::string& output) {
  for (const char* failure :
       {"Skipping ", "Cannot ", "File table does not fit", "with errors",
        "Invalid theme file."}) {
    if (output.find(failure) != std::string::npos) return true;
  }
  return false;
}

void check_status(int status, const std::string& output) {
  bool failed = reports_failure(output);
  if ((status == 0) == failed) fail("status does not match the messages");
  const std::string finished = "Finished OK!\n";
  if (status == 0 &&
      (output.size() < finished.size() ||
       output.compare(output.size() - finished.size(), finished.size(),
                      finished) != 0)) {
    fail("a clean run must end with Finished OK!");
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fuzz_setup setup = make_setup();
  const std::string& root = setup.root;
  remove_tree(root);
  if (mkdir(root.c_str(), 0755) != 0 ||
      mkdir((root + "/work").c_str(), 0755) != 0) {
    fail("make the scratch tree");
  }
  const auto* sentinel = reinterpret_cast<const uint8_t*>(SENTINEL);
  write_whole(root + "/outer-sentinel", sentinel, strlen(SENTINEL));
  write_whole(root + "/work/beside-sentinel", sentinel, strlen(SENTINEL));
  write_whole(root + "/work/theme.ctf", data, size);

  if (chdir((root + "/work").c_str()) != 0) fail("chdir into work");
  int status = run_unpacker("theme.ctf");
  if (chdir(setup.start_directory.c_str()) != 0) fail("chdir back");
  std::string output = take_output();

  check_status(status, output);
  check_outside_untouched(root);
  std::string theme_directory = root + "/work/theme_ctf";
  struct stat status_of_directory;
  if (stat(theme_directory.c_str(), &status_of_directory) == 0) {
    check_theme_tree(theme_directory, "",
                     expected_contents(std::string(
                         reinterpret_cast<const char*>(data), size)));
  }
  return 0;
}
