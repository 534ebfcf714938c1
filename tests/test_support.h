// Shared by the tests: scratch directories, running the real executable, and
// snapshots of the whole tree a run leaves.
#ifndef THEMEUNPACK_TESTS_TEST_SUPPORT_H
#define THEMEUNPACK_TESTS_TEST_SUPPORT_H

#include <sys/resource.h>
#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it when
// the object goes.
class scratch_directory {
 public:
  scratch_directory();
  ~scratch_directory();
  scratch_directory(const scratch_directory&) = delete;
  scratch_directory& operator=(const scratch_directory&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const {
    return path_ + "/" + name;
  }

 private:
  std::string path_;
};

struct run_options {
  // The executable to run instead of the tool under test (packer_under_test()
  // for themepack).
  const char* program = nullptr;
  std::optional<std::string>
      program_name;  // argv[0]; the executable's path by default
  std::optional<rlim_t> file_size_limit;      // RLIMIT_FSIZE
  std::optional<rlim_t> address_space_limit;  // RLIMIT_AS
  std::optional<rlim_t> open_file_limit;      // RLIMIT_NOFILE
  mode_t umask = 022;
  // Standard output goes to this file instead of the pipe ("/dev/full").
  std::optional<std::string> output_file;
  // Standard output is a pipe nobody reads: its reading end is closed.
  bool output_closed = false;
  // Standard input and output are a terminal of the run's own (a
  // pseudo-terminal): under Wine the tool then has a console window of its
  // own, as when it is dropped onto in Explorer.
  bool on_a_terminal = false;
  // Added to the environment, "NAME=value" each (LD_PRELOAD for the shim).
  std::vector<std::string> environment;
  // Run as the user and group 65534 ("nobody") when the tests run as root, who
  // passes every permission check. That user may not reach the build tree, so
  // the executable is copied into the run's directory and run from there.
  bool as_unprivileged_user = false;
};

struct run_result {
  std::string output;  // all of standard output
  int status = -1;     // the exit status, 0-255; -1 when killed by a signal
  long peak_memory_kib = 0;  // the run's peak resident set
};

// The executable under test: THEMEUNPACK_TEST_EXECUTABLE from the environment
// when set (to show a test failing on an older build), else the one just built.
const char* tool_under_test();

// themepack as tool_under_test() is themeunpack: THEMEPACK_TEST_EXECUTABLE
// from the environment when set, else the one just built.
const char* packer_under_test();

// The program that starts the executable under test, THEMEUNPACK_TEST_LAUNCHER
// from the environment ("wine" for the Windows build), or null.
const char* tool_launcher();

// The uid and gid that as_unprivileged_user runs as.
constexpr uid_t UNPRIVILEGED_ID = 65534;

// Runs the built themeunpack with `arguments` in `directory`, standard input at
// end of file, umask 022 unless asked otherwise.
run_result run_tool(const std::string& directory,
                    const std::vector<std::string>& arguments,
                    const run_options& options = {});

// A started run whose standard input is a pipe the test writes to (or the
// terminal's other end, when it runs on one).
struct running_tool {
  pid_t pid;
  int input;   // write end of its standard input
  int output;  // read end of its standard output
};
running_tool start_tool(const std::string& directory,
                        const std::vector<std::string>& arguments,
                        const run_options& options);
// True when the run has ended within `milliseconds`.
bool tool_ended_within(const running_tool& tool, int milliseconds);
// Closes its input, collects its output and waits for it to end.
run_result finish_tool(const running_tool& tool);

// Every path under `root` (relative, "/"-separated), mapped to "<dir>" for a
// directory, "<symlink>" for a symbolic link, the contents for a regular file
// and "<special>" for anything else.
using tree = std::map<std::string, std::string>;
tree snapshot_tree(const std::string& root);
constexpr const char* DIRECTORY_MARK = "<dir>";

struct theme_blueprint;

// The theme directory a clean run over `blueprint` leaves, worked out without
// the tool: every file as the oracle reads the bytes (tests/unpack_oracle.h),
// "patch-only", and every directory on the way to a stored name.
tree expected_tree(const theme_blueprint& blueprint);

// "LD_PRELOAD=" and the file-system shim (tests/fs_shim.cpp).
std::string preload();

// `text` as one word of a shell command, whatever it holds (spaces, quotes,
// brackets).
std::string shell_word(const std::string& text);

// The ways the tool can give a complete file its name, and get its bytes
// there, each forced by what the shim refuses, and whether a run killed
// mid-write may leave a file under a temporary name on it.
struct write_route {
  const char* name;
  std::vector<std::string> refused;
  bool temporary_may_remain;
};
extern const std::vector<write_route> WRITE_ROUTES;

// The environment of a run on `route`: `more`, the shim and its refusals.
std::vector<std::string> route_environment(const write_route& route,
                                           std::vector<std::string> more = {});

// Points to sample a sweep over 0 .. `end` at, in order: 0 and `end`, each
// of `edges` and its neighbours, the powers of two, and a handful drawn from
// a fixed seed, so every run samples the same points.
std::vector<uint64_t> sampled_points(uint64_t end,
                                     const std::vector<uint64_t>& edges);

// The reason the tool under test gives for the POSIX error `error`: the C
// library's words, or under Wine the words of Wine's messages for the error
// Windows reports in its place.
std::string reason_for(int error);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& contents);

#endif
