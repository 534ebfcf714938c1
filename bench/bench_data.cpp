#include "bench/bench_data.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "format/theme_file.h"
#include "tools/theme_builder.h"

namespace {

constexpr uint64_t KIB = 1024;
constexpr uint64_t MIB = 1024 * KIB;
constexpr size_t TAR_BLOCK = 512;
constexpr size_t CHUNK = 4 * MIB;
constexpr uint32_t PTF_BODY_SIZE = 4096;

uint64_t splitmix(uint64_t* state) {
  uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

void fill(uint64_t* state, char* bytes, size_t length) {
  for (size_t i = 0; i < length; i += 8) {
    uint64_t word = splitmix(state);
    memcpy(bytes + i, &word, std::min<size_t>(8, length - i));
  }
}

bool file_exists(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0;
}

// ustar header for a regular file or a directory.
std::string tar_header(const std::string& name, uint64_t size, char type) {
  std::string header(TAR_BLOCK, '\0');
  auto put = [&](size_t at, const std::string& text) {
    header.replace(at, text.size(), text);
  };
  auto octal = [](uint64_t value, int digits) {
    char text[24];
    snprintf(text, sizeof text, "%0*llo", digits,
             static_cast<unsigned long long>(value));
    return std::string(text);
  };
  put(0, name);
  put(100, octal(type == '5' ? 0755 : 0644, 7));
  put(108, octal(0, 7));
  put(116, octal(0, 7));
  put(124, octal(size, 11));
  put(136, octal(1700000000, 11));
  header.replace(148, 8, std::string(8, ' '));
  header[156] = type;
  put(257, std::string("ustar\0", 6));
  put(263, "00");
  put(265, "root");
  put(297, "root");
  unsigned sum = 0;
  for (char c : header) sum += static_cast<unsigned char>(c);
  put(148, octal(sum, 6) + std::string("\0 ", 2));
  return header;
}

bool write_all(FILE* file, const char* bytes, size_t length) {
  return fwrite(bytes, 1, length, file) == length;
}

bool write_tar_file(FILE* tar, const std::string& name,
                    const std::string& data) {
  std::string padding((TAR_BLOCK - data.size() % TAR_BLOCK) % TAR_BLOCK, '\0');
  return write_all(tar, tar_header(name, data.size(), '0').data(), TAR_BLOCK) &&
         write_all(tar, data.data(), data.size()) &&
         write_all(tar, padding.data(), padding.size());
}

std::string directory_path(const bench_profile& profile, uint64_t* state) {
  std::string path;
  for (uint32_t level = 1; level <= profile.levels; ++level) {
    char part[24];
    snprintf(part, sizeof part, "/l%u-%02u", level,
             static_cast<unsigned>(splitmix(state) % profile.fan_out));
    path += part;
  }
  return path;
}

// Streams every entry's data into both files, the same bytes to each.
bool write_entry_data(FILE* theme, FILE* tar,
                      const std::vector<bench_entry>& entries) {
  std::vector<char> chunk(CHUNK);
  for (size_t i = 0; i < entries.size(); ++i) {
    const bench_entry& entry = entries[i];
    if (!write_all(tar,
                   tar_header(entry.name.substr(1), entry.size, '0').data(),
                   TAR_BLOCK)) {
      return false;
    }
    uint64_t state = i * 7919 + 17;
    for (uint64_t done = 0; done < entry.size; done += CHUNK) {
      size_t length =
          static_cast<size_t>(std::min<uint64_t>(CHUNK, entry.size - done));
      fill(&state, chunk.data(), length);
      if (!write_all(theme, chunk.data(), length) ||
          !write_all(tar, chunk.data(), length)) {
        return false;
      }
    }
    std::string padding((TAR_BLOCK - entry.size % TAR_BLOCK) % TAR_BLOCK, '\0');
    if (!write_all(tar, padding.data(), padding.size())) return false;
  }
  return true;
}

bool write_pair(const std::string& theme_path, const std::string& tar_path,
                const bench_profile& profile) {
  std::vector<bench_entry> entries = bench_entries(profile);
  theme_blueprint blueprint;
  blueprint.short_name = "Bench";
  blueprint.internal_id = "BENCH001";
  blueprint.ptf_body.resize(PTF_BODY_SIZE);
  uint64_t state = 99;
  fill(&state, blueprint.ptf_body.data(), PTF_BODY_SIZE);
  uint64_t offset = PTF_HEADER_SIZE + PTF_BODY_SIZE;
  for (const bench_entry& entry : entries) {
    blueprint.files.push_back({entry.name, "", static_cast<uint32_t>(offset),
                               static_cast<uint32_t>(entry.size)});
    offset += entry.size;
  }
  // No data in the blueprint: the header, body and table come from the
  // builder, and the data are streamed in between.
  built_theme built = build_theme(blueprint);
  std::string head = built.bytes.substr(0, built.table_offset);
  std::string table = built.bytes.substr(built.table_offset);
  std::string report =
      "Short theme name: Bench\nInternal ID: BENCH001\n"
      "Required firmware: 6.60\nFiles in theme: " +
      std::to_string(entries.size()) + "\n";

  FILE* theme = fopen(theme_path.c_str(), "wb");
  FILE* tar = fopen(tar_path.c_str(), "wb");
  bool written =
      theme && tar && write_all(theme, head.data(), head.size()) &&
      write_tar_file(tar, "theme info.txt", report) &&
      write_all(tar, tar_header("patch-only/", 0, '5').data(), TAR_BLOCK) &&
      write_entry_data(theme, tar, entries) &&
      write_all(theme, table.data(), table.size()) &&
      write_tar_file(tar, profile.name + ".ptf", head) &&
      write_all(tar, std::string(2 * TAR_BLOCK, '\0').data(), 2 * TAR_BLOCK);
  if (theme && fclose(theme) != 0) written = false;
  if (tar && fclose(tar) != 0) written = false;
  return written;
}

}  // namespace

const std::vector<bench_profile>& bench_profiles() {
  static const std::vector<bench_profile> profiles = {
      {"small", 150, 100, 1 * MIB, 3.0, 3, 4},
      {"many", 20000, 100, 96 * KIB, 1.0, 5, 4},
      {"big", 8, 128 * MIB, 128 * MIB, 1.0, 1, 2},
      {"huge-entry", 1, 1536 * MIB, 1536 * MIB, 1.0, 0, 1},
  };
  return profiles;
}

const bench_profile* find_bench_profile(const std::string& name) {
  for (const bench_profile& profile : bench_profiles()) {
    if (profile.name == name) return &profile;
  }
  return nullptr;
}

std::vector<bench_entry> bench_entries(const bench_profile& profile) {
  std::vector<bench_entry> entries;
  uint64_t state = profile.entries * 31 + profile.levels;
  double low = std::log(static_cast<double>(profile.min_size));
  double high = std::log(static_cast<double>(profile.max_size));
  for (uint32_t i = 0; i < profile.entries; ++i) {
    double unit =
        static_cast<double>(splitmix(&state) >> 11) / 9007199254740992.0;
    double spread = std::pow(unit, profile.skew);
    auto size = static_cast<uint64_t>(
        std::llround(std::exp(low + spread * (high - low))));
    char file[24];
    snprintf(file, sizeof file, "/f%05u.dat", i);
    entries.push_back({directory_path(profile, &state) + file, size});
  }
  return entries;
}

bool make_bench_data(const std::string& directory,
                     const bench_profile& profile) {
  std::string base = directory + "/" + profile.name;
  std::string done = base + ".done";
  if (file_exists(done)) return true;
  fprintf(stderr, "making %s.ctf and %s.tar in %s\n", profile.name.c_str(),
          profile.name.c_str(), directory.c_str());
  if (!write_pair(base + ".ctf", base + ".tar", profile)) {
    fprintf(stderr, "cannot write the %s data in %s\n", profile.name.c_str(),
            directory.c_str());
    return false;
  }
  FILE* stamp = fopen(done.c_str(), "w");
  return stamp != nullptr && fclose(stamp) == 0;
}
