// Benchmark data: per profile, a theme file and a tar archive that hold exactly
// the same files at the same paths, so that unpacking the one and extracting
// the other must leave the same tree. Deterministic: the same profile always
// gives the same bytes.
#ifndef THEMEUNPACK_BENCH_BENCH_DATA_H
#define THEMEUNPACK_BENCH_BENCH_DATA_H

#include <cstdint>
#include <string>
#include <vector>

struct bench_profile {
  std::string name;
  uint32_t entries;
  uint64_t min_size;  // entry sizes are spread log-uniformly between these
  uint64_t max_size;
  double skew;       // above 1, sizes crowd towards the small end
  uint32_t levels;   // directory levels above each file
  uint32_t fan_out;  // directories per level
};

struct bench_entry {
  std::string name;  // stored name, "/"-rooted
  uint64_t size;
};

// The profiles by name: small, many, big, huge-entry.
const std::vector<bench_profile>& bench_profiles();
const bench_profile* find_bench_profile(const std::string& name);

std::vector<bench_entry> bench_entries(const bench_profile& profile);

// Writes <dir>/<name>.ctf and <dir>/<name>.tar unless an earlier run finished
// them. Returns false, after saying why on stderr, when it cannot.
bool make_bench_data(const std::string& directory,
                     const bench_profile& profile);

#endif
