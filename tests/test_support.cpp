#include "tests/test_support.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>

#include "tests/unpack_oracle.h"
#include "tools/file_tree.h"
#include "tools/theme_builder.h"

namespace {

// A run that takes longer than this is hung; it is killed and the test fails.
constexpr int RUN_TIMEOUT_MS = 120000;

void snapshot_into(const std::string& root, const std::string& relative,
                   tree* result) {
  std::string here = relative.empty() ? root : root + "/" + relative;
  std::vector<std::string> names;
  if (!list_directory(here, &names))
    throw std::runtime_error("cannot list " + here);
  for (const std::string& name : names) {
    std::string path = relative.empty() ? name : relative + "/" + name;
    std::string full = root + "/" + path;
    struct stat status;
    if (lstat(full.c_str(), &status) != 0) continue;
    if (S_ISLNK(status.st_mode)) {
      (*result)[path] = "<symlink>";
    } else if (S_ISDIR(status.st_mode)) {
      (*result)[path] = DIRECTORY_MARK;
      snapshot_into(root, path, result);
    } else if (S_ISREG(status.st_mode)) {
      (*result)[path] = read_file(full);
    } else {
      (*result)[path] = "<special>";
    }
  }
}

// The arguments the tool is started with; under a launcher ("wine"), the
// launcher's own come first, the tool's path among them, and a program name
// cannot be chosen.
const char* program_of(const run_options& options) {
  return options.program != nullptr ? options.program : tool_under_test();
}

std::vector<char*> make_argv(const std::vector<std::string>& arguments,
                             const run_options& options,
                             std::string* program_name) {
  *program_name = options.program_name.value_or(program_of(options));
  std::vector<char*> argv{program_name->data()};
  if (tool_launcher() != nullptr) {
    argv = {const_cast<char*>(tool_launcher()),
            const_cast<char*>(program_of(options))};
  }
  for (const std::string& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  return argv;
}

std::vector<char*> make_environment(const run_options& options) {
  std::vector<char*> environment;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    environment.push_back(*variable);
  }
  for (const std::string& variable : options.environment) {
    environment.push_back(const_cast<char*>(variable.c_str()));
  }
  environment.push_back(nullptr);
  return environment;
}

// In the child, between fork and exec: only async-signal-safe calls.
[[noreturn]] void exec_tool(const char* executable,
                            const std::string& directory, char** argv,
                            char** environment, const run_options& options,
                            int input, int output) {
  if (options.on_a_terminal) {
    // The terminal becomes the run's own, as a console window is.
    setsid();
    ioctl(input, TIOCSCTTY, 0);
  }
  dup2(input, STDIN_FILENO);
  if (options.output_file) {
    output = open(options.output_file->c_str(), O_WRONLY);
    if (output < 0) _exit(125);
  }
  if (options.output_closed) {
    int unread[2];
    if (pipe(unread) != 0) _exit(125);
    close(unread[0]);
    output = unread[1];
  }
  dup2(output, STDOUT_FILENO);
  // Whatever the test process ignores, the tool must see the signals as a
  // shell leaves them.
  signal(SIGPIPE, SIG_DFL);
  signal(SIGXFSZ, SIG_DFL);
  if (chdir(directory.c_str()) != 0) _exit(126);
  umask(options.umask);
  if (options.as_unprivileged_user && getuid() == 0 &&
      (setgroups(0, nullptr) != 0 || setgid(UNPRIVILEGED_ID) != 0 ||
       setuid(UNPRIVILEGED_ID) != 0)) {
    _exit(124);
  }
  if (options.open_file_limit) {
    rlimit limit{*options.open_file_limit, *options.open_file_limit};
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  if (options.file_size_limit) {
    rlimit limit{*options.file_size_limit, *options.file_size_limit};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  if (options.address_space_limit) {
    rlimit limit{*options.address_space_limit, *options.address_space_limit};
    setrlimit(RLIMIT_AS, &limit);
  }
  if (tool_launcher() != nullptr) {
    execvpe(tool_launcher(), argv, environment);
  } else {
    execve(executable, argv, environment);
  }
  _exit(127);
}

// The executable a run starts: the one under test, or a copy of it in
// `directory` that an unprivileged user can reach.
std::string executable_for(const std::string& directory,
                           const run_options& options) {
  if (!options.as_unprivileged_user || getuid() != 0) {
    return program_of(options);
  }
  std::string copy = directory + "/.themeunpack-under-test";
  write_file(copy, read_file(program_of(options)));
  if (chmod(copy.c_str(), 0755) != 0) throw std::runtime_error("chmod " + copy);
  return copy;
}

void wait_for(pid_t pid, run_result* result) {
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  result->status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result->peak_memory_kib = usage.ru_maxrss;
}

std::string drain(int fd, pid_t pid) {
  std::string output;
  char buffer[4096];
  for (;;) {
    pollfd ready{fd, POLLIN, 0};
    int polled = poll(&ready, 1, RUN_TIMEOUT_MS);
    if (polled == 0) {
      kill(pid, SIGKILL);
      break;
    }
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    output.append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  return output;
}

}  // namespace

const char* tool_under_test() {
  const char* chosen = getenv("THEMEUNPACK_TEST_EXECUTABLE");
  return chosen != nullptr && *chosen != '\0' ? chosen : THEMEUNPACK_EXECUTABLE;
}

const char* packer_under_test() {
  const char* chosen = getenv("THEMEPACK_TEST_EXECUTABLE");
  return chosen != nullptr && *chosen != '\0' ? chosen : THEMEPACK_EXECUTABLE;
}

const char* tool_launcher() {
  const char* launcher = getenv("THEMEUNPACK_TEST_LAUNCHER");
  return launcher != nullptr && *launcher != '\0' ? launcher : nullptr;
}

scratch_directory::scratch_directory() {
  const char* base = getenv("TMPDIR");
  std::string pattern =
      std::string(base && *base ? base : "/tmp") + "/themeunpack-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a scratch directory");
  }
  path_ = pattern;
}

scratch_directory::~scratch_directory() { remove_tree(path_); }

running_tool start_tool(const std::string& directory,
                        const std::vector<std::string>& arguments,
                        const run_options& options) {
  int input[2];
  int output[2];
  if (options.on_a_terminal) {
    // input[0] and output[1] are the tool's side, the others the test's.
    int controller = -1;
    int terminal = -1;
    // Wide enough that no line is wrapped.
    winsize size{};
    size.ws_row = 50;
    size.ws_col = 2000;
    if (openpty(&controller, &terminal, nullptr, nullptr, &size) != 0) {
      throw std::runtime_error("cannot open a pseudo-terminal");
    }
    input[0] = terminal;
    output[1] = dup(terminal);
    input[1] = controller;
    output[0] = dup(controller);
  } else if (pipe(input) != 0 || pipe(output) != 0) {
    throw std::runtime_error("cannot make pipes");
  }
  std::string program_name;
  std::vector<char*> argv = make_argv(arguments, options, &program_name);
  std::vector<char*> environment = make_environment(options);
  std::string executable = executable_for(directory, options);
  pid_t pid = fork();
  if (pid == 0) {
    close(input[1]);
    close(output[0]);
    exec_tool(executable.c_str(), directory, argv.data(), environment.data(),
              options, input[0], output[1]);
  }
  close(input[0]);
  close(output[1]);
  return {pid, input[1], output[0]};
}

bool tool_ended_within(const running_tool& tool, int milliseconds) {
  // Its standard output closes when it ends, whatever it printed before.
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::milliseconds(milliseconds);
  do {
    pollfd ended{tool.output, 0, 0};
    if (poll(&ended, 1, 0) > 0 && (ended.revents & POLLHUP)) return true;
    usleep(10000);
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

run_result finish_tool(const running_tool& tool) {
  close(tool.input);
  run_result result;
  result.output = drain(tool.output, tool.pid);
  wait_for(tool.pid, &result);
  return result;
}

run_result run_tool(const std::string& directory,
                    const std::vector<std::string>& arguments,
                    const run_options& options) {
  running_tool tool = start_tool(directory, arguments, options);
  return finish_tool(tool);
}

tree snapshot_tree(const std::string& root) {
  tree result;
  snapshot_into(root, "", &result);
  return result;
}

std::string read_file(const std::string& path) {
  std::string contents;
  read_whole_file(path, &contents);
  return contents;
}

// The loader splits LD_PRELOAD at spaces and colons: a shim in a build folder
// whose path holds either is reached through a link in a folder of its own.
std::string preloadable_shim() {
  std::string shim = THEMEUNPACK_FS_SHIM;
  if (shim.find_first_of(" :") == std::string::npos) return shim;
  std::string folder = "/tmp/themeunpack-shim-XXXXXX";
  if (mkdtemp(folder.data()) == nullptr ||
      symlink(shim.c_str(), (folder + "/fs_shim.so").c_str()) != 0) {
    throw std::runtime_error("cannot link the shim from " + folder);
  }
  return folder + "/fs_shim.so";
}

std::string preload() {
  static const std::string shim = preloadable_shim();
  return "LD_PRELOAD=" + shim;
}

std::string shell_word(const std::string& text) {
  std::string word = "'";
  for (char c : text)
    word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return word + "'";
}

const std::vector<write_route> WRITE_ROUTES = {
    {"unnamed files linked by descriptor", {}, false},
    {"unnamed files linked through /proc", {"SHIM_NO_EMPTY_PATH=1"}, false},
    {"unnamed files linked by descriptor, no /proc", {"SHIM_NO_PROC=1"}, false},
    {"unnamed files that cannot be linked",
     {"SHIM_NO_EMPTY_PATH=1", "SHIM_NO_PROC=1"},
     true},
    {"no unnamed files", {"SHIM_NO_UNNAMED=1"}, true},
    // A filter refusing O_TMPFILE answers as a directory nobody may write to.
    {"unnamed files refused with EPERM",
     {"SHIM_NO_UNNAMED=1", "SHIM_UNNAMED_ERROR=1"},
     true},
    {"unnamed files refused with EACCES",
     {"SHIM_NO_UNNAMED=1", "SHIM_UNNAMED_ERROR=13"},
     true},
    {"no hard links", {"SHIM_NO_LINK=1"}, true},
    {"no unnamed files, no hard links (FAT)",
     {"SHIM_NO_UNNAMED=1", "SHIM_NO_LINK=1"},
     true},
    {"no unnamed files, no hard links, no refusing rename",
     {"SHIM_NO_UNNAMED=1", "SHIM_NO_LINK=1", "SHIM_NO_NOREPLACE=1"},
     true},
    {"no unnamed files, no hard links, refusing rename refused with EPERM "
     "(FUSE FAT16)",
     {"SHIM_NO_UNNAMED=1", "SHIM_NO_LINK=1", "SHIM_NO_NOREPLACE=1",
      "SHIM_NOREPLACE_ERROR=1"},
     true},
    // The ways the bytes get there: by copy_file_range on every route above;
    // by sendfile where that is refused, as across file systems; through the
    // tool's own buffer where both are.
    {"copied by sendfile", {"SHIM_NO_COPY_FILE_RANGE=1"}, false},
    {"copied through the buffer",
     {"SHIM_NO_COPY_FILE_RANGE=1", "SHIM_NO_SENDFILE=1"},
     false},
    // A kernel copy may copy less than it was asked: each block then takes
    // many calls, each continuing where the last stopped.
    {"kernel copies of at most 32 KiB a call", {"SHIM_COPY_MOST=32768"}, false},
};

std::vector<std::string> route_environment(const write_route& route,
                                           std::vector<std::string> more) {
  more.push_back(preload());
  more.insert(more.end(), route.refused.begin(), route.refused.end());
  return more;
}

std::vector<uint64_t> sampled_points(uint64_t end,
                                     const std::vector<uint64_t>& edges) {
  constexpr int DRAWN = 8;
  constexpr uint64_t SEED = 20261209;
  std::set<uint64_t> points = {0, end};
  for (uint64_t edge : edges) {
    for (uint64_t point : {edge - 1, edge, edge + 1}) {
      if (point <= end) points.insert(point);
    }
  }
  for (uint64_t power = 1; power <= end; power *= 2) points.insert(power);
  std::mt19937_64 draw(SEED);
  for (int i = 0; i < DRAWN; ++i) points.insert(draw() % (end + 1));
  return {points.begin(), points.end()};
}

std::string reason_for(int error) {
  if (tool_launcher() == nullptr) return strerror(error);
  switch (error) {
    case ENOENT:
      return "File not found";
    case ENOTDIR:
      return "Directory name invalid";
    case EISDIR:
    case EEXIST:
      return "File already exists";
    case EACCES:
      return "Access denied";
    case ESPIPE:
      return "Seek error";
    default:
      return "no Windows error stands for " + std::to_string(error);
  }
}

tree expected_tree(const theme_blueprint& blueprint) {
  tree expected;
  for (const auto& [path, contents] :
       expected_contents(build_theme(blueprint).bytes)) {
    expected[path] = contents;
  }
  expected["patch-only"] = DIRECTORY_MARK;
  for (const packed_file& file : blueprint.files) {
    for (size_t slash = file.name.find('/', 1); slash != std::string::npos;
         slash = file.name.find('/', slash + 1)) {
      expected[file.name.substr(1, slash - 1)] = DIRECTORY_MARK;
    }
  }
  return expected;
}

void write_file(const std::string& path, const std::string& contents) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << contents;
  if (!file) throw std::runtime_error("cannot write " + path);
}
