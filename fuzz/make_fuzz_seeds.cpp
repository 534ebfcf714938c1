// Writes the fuzz target's seed corpus: valid themes made with the project's
// own theme builder, each showing the fuzzer a different shape to mutate.
#include <cstdio>
#include <string>
#include <vector>

#include "format/theme_file.h"
#include "tools/theme_builder.h"

namespace {

std::vector<theme_blueprint> seed_themes() {
  std::vector<theme_blueprint> seeds;

  theme_blueprint typical;
  typical.ptf_body = "body";
  typical.files = {{"/vsh/module/paf.prx", "patch"}, {"/x/y.bin", "data"}};
  seeds.push_back(typical);

  theme_blueprint patches;
  patches.files = {{"/VSH/Module/COMMON_GUI.prx", "gui"},
                   {"/vsh/module/vshmain.prx", "main"},
                   {"/vsh/module/paf.prx", "paf"},
                   {"/vsh/module/paf.prx", "paf again"}};
  seeds.push_back(patches);

  theme_blueprint nested;
  nested.files = {{"/a/b/c/d/e/f.txt", "deep"},
                  {"/a/b/g", "g"},
                  {"rel/x", "no slash"},
                  {"/theme info.txt", "report"},
                  {"/theme.ptf", "image"}};
  seeds.push_back(nested);

  theme_blueprint overlaps;
  overlaps.ptf_body = "0123456789abcdef";
  overlaps.files = {{"/in-header", "", 0, 16},
                    {"/in-body", "", PTF_HEADER_SIZE + 4, 8},
                    {"/empty", ""},
                    {"/same", "one"},
                    {"/same", "two"}};
  overlaps.junk_after_table = "junk";
  seeds.push_back(overlaps);

  theme_blueprint texts;
  texts.short_name = "FULLNAME";
  texts.internal_id = "ID\nX";
  texts.required_firmware = "";
  texts.files = {{std::string(64, 'n'), "no NUL in the name"}};
  seeds.push_back(texts);

  return seeds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
    return 2;
  }
  std::vector<theme_blueprint> seeds = seed_themes();
  for (size_t i = 0; i < seeds.size(); ++i) {
    std::string path =
        std::string(argv[1]) + "/seed-" + std::to_string(i) + ".ctf";
    if (!write_theme_file(path, build_theme(seeds[i]).bytes)) {
      fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
