// Times themeunpack against GNU tar and bsdtar extracting the same files, in
// one interleaved run (A B C A B C ...), each run into a fresh directory on the
// same filesystem as the data. First checks that every tool leaves the same
// tree, so a fast wrong answer cannot win. With --baseline, a second
// themeunpack binary (say, one built before a change) runs twice in every round
// beside the first: the change is measured against what it replaces, and the
// baseline against itself says how much of that ratio is noise.
//
//   themeunpack_bench <data directory> [--task unpack|pack|list]
//                     [--rounds N] [--baseline FILE] [--also FILE ...]
//                     [--outputs DIR] [profile ...]
// --task pack times themepack against tar -cf and bsdtar -cf of the same
// folder (the profile's theme, unpacked once); --task list times
// themeunpack --list against tar -tvf and bsdtar -tvf. The baseline and
// --also binaries are then other builds of the program timed.
// --also adds another themeunpack binary to the same rounds, as for a sweep of
// build settings; ratios are still taken to GNU tar and to the baseline.
// --outputs makes every run write into DIR instead, which may lie on another
// file system than the data (the data on tmpfs, the outputs on disk).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include "bench/bench_data.h"
#include "tools/file_tree.h"

namespace {

constexpr int DEFAULT_ROUNDS = 5;
// A pause after each clean-up, for the disk to finish what sync started.
constexpr useconds_t SETTLE_MICROSECONDS = 300000;
// Outputs are kept until their profile ends: on ext4, creating files where many
// were just removed is up to 20 times slower for a while, which would weigh on
// whichever tool runs next. Profiles whose outputs would fill more than this
// (a few large files, where that does not apply) remove each output after its
// run instead.
constexpr uint64_t KEPT_OUTPUTS_MAX_BYTES = 16ull << 30;

// One column of the tables: what runs, and under which label.
struct bench_tool {
  std::string label;
  std::string executable;  // a binary of the project's; empty for tar, bsdtar
};

// What is timed: unpacking the theme (extracting the archive), packing the
// unpacked folder (creating an archive of it), or listing the theme.
enum class bench_task { unpack, pack, list };

struct measurement {
  double wall = 0;    // seconds
  double user = 0;    // seconds
  double system = 0;  // seconds
  long max_rss_kib = 0;
};

struct bench_setup {
  bench_task task = bench_task::unpack;
  std::string data;     // where the .ctf and .tar files are
  std::string scratch;  // where each run writes: by default on the same
                        // file system
  std::vector<bench_tool> tools;
};

// Runs argv in `directory` with its output discarded; returns its status,
// and what the process used when `usage` is given.
int run_command(const std::vector<std::string>& arguments,
                const std::string& directory, struct rusage* usage = nullptr) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    if (chdir(directory.c_str()) != 0) _exit(126);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage used {};
  wait4(pid, &status, 0, &used);
  if (usage != nullptr) *usage = used;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Write-back of the last run's files must not land in the next run's time.
void settle() {
  sync();
  usleep(SETTLE_MICROSECONDS);
}

void remove_output(const std::string& path) {
  run_command({"rm", "-rf", path}, "/");
  settle();
}

std::string theme_directory_of(const std::string& profile) {
  return profile + "_ctf";
}

// The folder every tool packs: the profile's theme, unpacked once.
std::string folder_to_pack(const bench_setup& setup,
                           const std::string& profile) {
  return setup.data + "/" + profile + "-unpacked/" +
         theme_directory_of(profile);
}

std::vector<std::string> command_for(const bench_tool& tool,
                                     const bench_setup& setup,
                                     const std::string& profile,
                                     const std::string& output) {
  std::string base = setup.data + "/" + profile;
  bool own = !tool.executable.empty();
  switch (setup.task) {
    case bench_task::pack:
      if (own) {
        return {tool.executable, folder_to_pack(setup, profile),
                output + "/" + profile + ".ctf"};
      }
      return {tool.label,
              "-cf",
              output + "/" + profile + ".tar",
              "-C",
              folder_to_pack(setup, profile),
              "."};
    case bench_task::list:
      if (own) return {tool.executable, "--list", base + ".ctf"};
      return {tool.label, "-tvf", base + ".tar"};
    case bench_task::unpack:
      break;
  }
  if (own) return {tool.executable, base + ".ctf"};
  return {tool.label, "-xf", base + ".tar", "-C",
          output + "/" + theme_directory_of(profile)};
}

double seconds(const struct timeval& time) {
  return static_cast<double>(time.tv_sec) +
         static_cast<double>(time.tv_usec) / 1e6;
}

bool measure(const bench_tool& tool, const bench_setup& setup,
             const std::string& profile, const std::string& output,
             measurement* result) {
  mkdir(output.c_str(), 0755);
  if (tool.executable.empty() && setup.task == bench_task::unpack) {
    mkdir((output + "/" + theme_directory_of(profile)).c_str(), 0755);
  }
  // The tool is the timed process itself: a wrapper such as time(1) would add
  // its own start-up, about a tenth of a small profile's run, to every tool.
  std::vector<std::string> command = command_for(tool, setup, profile, output);
  struct rusage usage {};
  auto start = std::chrono::steady_clock::now();
  int status = run_command(command, output, &usage);
  auto end = std::chrono::steady_clock::now();
  if (status != 0) {
    fprintf(stderr, "%s failed on %s with status %d\n", tool.label.c_str(),
            profile.c_str(), status);
    return false;
  }
  result->wall = std::chrono::duration<double>(end - start).count();
  result->user = seconds(usage.ru_utime);
  result->system = seconds(usage.ru_stime);
  result->max_rss_kib = usage.ru_maxrss;
  return true;
}

std::vector<std::string> sorted_names(const std::string& path) {
  std::vector<std::string> names;
  list_directory(path, &names);
  return names;
}

bool same_contents(const std::string& a, const std::string& b) {
  std::ifstream first(a, std::ios::binary);
  std::ifstream second(b, std::ios::binary);
  std::vector<char> x(1 << 20);
  std::vector<char> y(1 << 20);
  while (first && second) {
    first.read(x.data(), static_cast<std::streamsize>(x.size()));
    second.read(y.data(), static_cast<std::streamsize>(y.size()));
    if (first.gcount() != second.gcount() ||
        memcmp(x.data(), y.data(), static_cast<size_t>(first.gcount())) != 0) {
      return false;
    }
  }
  return !first && !second;
}

// Same names, same kinds, same bytes, all the way down.
bool same_tree(const std::string& a, const std::string& b, std::string* where) {
  std::vector<std::string> names = sorted_names(a);
  if (names != sorted_names(b)) {
    *where = a;
    return false;
  }
  for (const std::string& name : names) {
    std::string x = a + "/" + name;
    std::string y = b + "/" + name;
    struct stat sx, sy;
    if (lstat(x.c_str(), &sx) != 0 || lstat(y.c_str(), &sy) != 0 ||
        (sx.st_mode & S_IFMT) != (sy.st_mode & S_IFMT)) {
      *where = x;
      return false;
    }
    if (S_ISDIR(sx.st_mode) ? !same_tree(x, y, where) : !same_contents(x, y)) {
      if (where->empty()) *where = x;
      return false;
    }
  }
  return true;
}

// Makes a profile's data in a child process. A process's peak memory counts
// what it inherited from its parent until it runs the tool, so whatever this
// process grew to while making data would show in every tool's peak.
bool make_data_apart(const std::string& data, const bench_profile& profile) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) _exit(make_bench_data(data, profile) ? 0 : 1);
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

// Unpacks the profile's theme once into the folder every tool packs.
bool unpack_folder_to_pack(const bench_setup& setup,
                           const std::string& profile) {
  std::string folder = folder_to_pack(setup, profile);
  std::string done = folder + ".complete";
  struct stat status;
  if (stat(done.c_str(), &status) == 0) return true;
  std::string parent = folder.substr(0, folder.rfind('/'));
  run_command({"rm", "-rf", parent}, "/");
  mkdir(parent.c_str(), 0755);
  if (run_command({THEMEUNPACK_EXECUTABLE, setup.data + "/" + profile + ".ctf"},
                  parent) != 0) {
    fprintf(stderr, "cannot unpack %s to pack it\n", profile.c_str());
    return false;
  }
  return run_command({"touch", done}, "/") == 0;
}

// One untimed run of each tool: warms the page cache and, for unpacking,
// checks the trees; packing and listing are checked by the tests.
bool check_trees(const bench_setup& setup, const std::string& profile) {
  std::map<std::string, std::string> outputs;
  measurement ignored;
  if (setup.task == bench_task::pack &&
      !unpack_folder_to_pack(setup, profile)) {
    return false;
  }
  for (const bench_tool& tool : setup.tools) {
    std::string& output = outputs[tool.label];
    output = setup.scratch + "/check-" + tool.label;
    if (!measure(tool, setup, profile, output, &ignored)) return false;
  }
  if (setup.task != bench_task::unpack) return true;
  bool same = true;
  const std::string& first = setup.tools.front().label;
  for (const auto& [tool, output] : outputs) {
    std::string where;
    if (tool != first && !same_tree(outputs[first], output, &where)) {
      fprintf(stderr, "%s: %s and %s differ at %s\n", profile.c_str(),
              first.c_str(), tool.c_str(), where.c_str());
      same = false;
    }
  }
  // Removed with the timed runs' outputs, once the profile ends.
  return same;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The median over rounds of one tool's time divided by another's in the same
// round, or "-" when there is no such other tool.
std::string median_ratio(
    const std::map<std::string, std::vector<measurement>>& runs,
    const std::string& tool, const std::string& reference) {
  auto other = runs.find(reference);
  if (other == runs.end()) return "-";
  const std::vector<measurement>& own = runs.at(tool);
  std::vector<double> ratio;
  for (size_t i = 0; i < own.size(); ++i) {
    ratio.push_back(own[i].wall / other->second[i].wall);
  }
  char text[16];
  snprintf(text, sizeof text, "%.2f", median(ratio));
  return text;
}

void print_table(const bench_setup& setup, const std::string& profile,
                 const std::map<std::string, std::vector<measurement>>& runs) {
  printf("\n### %s (%zu rounds)\n\n", profile.c_str(), runs.at("tar").size());
  printf(
      "| tool | median wall ms (min-max) | median ratio to GNU tar | "
      "median ratio to bsdtar | median ratio to baseline | user ms | sys ms | "
      "peak RSS MiB |\n"
      "|---|---|---|---|---|---|---|---|\n");
  for (const bench_tool& tool : setup.tools) {
    const std::vector<measurement>& own = runs.at(tool.label);
    std::vector<double> wall, user, system;
    long rss = 0;
    for (const measurement& run : own) {
      wall.push_back(run.wall * 1000);
      user.push_back(run.user * 1000);
      system.push_back(run.system * 1000);
      rss = std::max(rss, run.max_rss_kib);
    }
    printf("| %s | %.1f (%.1f-%.1f) | %s | %s | %s | %.1f | %.1f | %.1f |\n",
           tool.label.c_str(), median(wall),
           *std::min_element(wall.begin(), wall.end()),
           *std::max_element(wall.begin(), wall.end()),
           median_ratio(runs, tool.label, "tar").c_str(),
           median_ratio(runs, tool.label, "bsdtar").c_str(),
           median_ratio(runs, tool.label, "baseline").c_str(), median(user),
           median(system), static_cast<double>(rss) / 1024.0);
  }
  fflush(stdout);
}

uint64_t file_size(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0
             ? static_cast<uint64_t>(status.st_size)
             : 0;
}

bool bench_profile_runs(const bench_setup& setup, const std::string& profile,
                        int rounds) {
  if (!check_trees(setup, profile)) return false;
  uint64_t all_outputs = file_size(setup.data + "/" + profile + ".tar") *
                         setup.tools.size() * static_cast<uint64_t>(rounds);
  bool keep_outputs = all_outputs <= KEPT_OUTPUTS_MAX_BYTES;
  std::map<std::string, std::vector<measurement>> runs;
  bool ok = true;
  // Each round starts with the next tool and steps through the tools with
  // another stride, so that over the rounds every tool follows every other
  // one: what a run leaves the next (freed memory of the sizes it wrote in, a
  // disk busy with its removal) weighs on every tool alike. With a fixed order
  // one tool always followed the same other, and a build that writes in larger
  // calls than its predecessor ran up to five times as long.
  size_t tools = setup.tools.size();
  for (int round = 0; ok && round < rounds; ++round) {
    size_t stride =
        tools > 2 ? 1 + static_cast<size_t>(round) % (tools - 1) : 1;
    if (std::gcd(stride, tools) != 1) stride = 1;
    for (size_t turn = 0; turn < tools; ++turn) {
      const bench_tool& tool =
          setup.tools[(static_cast<size_t>(round) + turn * stride) % tools];
      std::string output =
          setup.scratch + "/run-" + std::to_string(round) + "-" + tool.label;
      measurement result;
      ok = ok && measure(tool, setup, profile, output, &result);
      if (!keep_outputs) remove_output(output);
      runs[tool.label].push_back(result);
    }
  }
  // Everything the profile wrote, the untimed checks' outputs too.
  for (const std::string& name : sorted_names(setup.scratch)) {
    run_command({"rm", "-rf", setup.scratch + "/" + name}, "/");
  }
  settle();
  if (ok) print_table(setup, profile, runs);
  return ok;
}

// Prints the usage: on standard output with status 0 when it was asked for
// (`why` empty), else on standard error after `why`, with status 2.
[[noreturn]] void exit_with_usage(const char* program, const std::string& why) {
  if (!why.empty()) fprintf(stderr, "%s: %s\n", program, why.c_str());
  fprintf(why.empty() ? stdout : stderr,
          "usage: %s <data directory> [--task unpack|pack|list] [--rounds N] "
          "[--baseline FILE] [--also FILE] [--outputs DIR] [profile ...]\n",
          program);
  exit(why.empty() ? 0 : 2);
}

// A whole number of rounds, at least one.
int parse_rounds(const char* program, const char* text) {
  char* end = nullptr;
  long rounds = strtol(text, &end, 10);
  if (end == text || *end != '\0' || rounds < 1 || rounds > 10000) {
    exit_with_usage(program, std::string("--rounds needs a number from 1 to "
                                         "10000, not \"") +
                                 text + "\"");
  }
  return static_cast<int>(rounds);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) exit_with_usage(argv[0], "no data directory given");
  if (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0) {
    exit_with_usage(argv[0], "");
  }
  // A missing data directory is made and filled with gigabytes, so an option
  // in its place must not become one.
  if (argv[1][0] == '-') {
    exit_with_usage(argv[0], std::string("the data directory comes first, "
                                         "not ") +
                                 argv[1]);
  }
  bench_setup setup;
  setup.data = argv[1];
  int rounds = DEFAULT_ROUNDS;
  std::vector<std::string> profiles;
  std::string outputs;
  // The task comes first: it decides which program the others are measured
  // against.
  for (int i = 2; i + 1 < argc; ++i) {
    if (strcmp(argv[i], "--task") != 0) continue;
    std::string task = argv[i + 1];
    if (task == "pack") {
      setup.task = bench_task::pack;
    } else if (task == "list") {
      setup.task = bench_task::list;
    } else if (task != "unpack") {
      exit_with_usage(argv[0], "--task is unpack, pack or list, not " + task);
    }
  }
  if (setup.task == bench_task::pack) {
    setup.tools.push_back({"themepack", THEMEPACK_EXECUTABLE});
  } else {
    setup.tools.push_back({"themeunpack", THEMEUNPACK_EXECUTABLE});
  }
  for (int i = 2; i < argc; ++i) {
    bool has_value = i + 1 < argc;
    if (strcmp(argv[i], "--task") == 0 && has_value) {
      ++i;
    } else if (strcmp(argv[i], "--rounds") == 0 && has_value) {
      rounds = parse_rounds(argv[0], argv[++i]);
    } else if (strcmp(argv[i], "--baseline") == 0 && has_value) {
      setup.tools.push_back({"baseline", argv[++i]});
      setup.tools.push_back({"baseline-again", argv[i]});
    } else if (strcmp(argv[i], "--also") == 0 && has_value) {
      // Another build in the same interleaved rounds, labelled by its path
      // (which also names its output directories, so without a "/").
      std::string label = argv[++i];
      std::replace(label.begin(), label.end(), '/', '_');
      setup.tools.push_back({label, argv[i]});
    } else if (strcmp(argv[i], "--outputs") == 0 && has_value) {
      outputs = argv[++i];
    } else if (find_bench_profile(argv[i]) != nullptr) {
      profiles.push_back(argv[i]);
    } else {
      exit_with_usage(argv[0], std::string("unknown argument ") + argv[i]);
    }
  }
  setup.tools.push_back({"tar", ""});
  setup.tools.push_back({"bsdtar", ""});
  if (profiles.empty()) {
    for (const bench_profile& profile : bench_profiles()) {
      profiles.push_back(profile.name);
    }
  }
  mkdir(setup.data.c_str(), 0755);
  char resolved[PATH_MAX];
  if (realpath(setup.data.c_str(), resolved) == nullptr) {
    fprintf(stderr, "cannot use %s\n", setup.data.c_str());
    return 1;
  }
  setup.data = resolved;
  setup.scratch = outputs.empty() ? setup.data + "/scratch" : outputs;
  mkdir(setup.scratch.c_str(), 0755);

  for (const std::string& profile : profiles) {
    if (!make_data_apart(setup.data, *find_bench_profile(profile)) ||
        !bench_profile_runs(setup, profile, rounds)) {
      return 1;
    }
  }
  return 0;
}
