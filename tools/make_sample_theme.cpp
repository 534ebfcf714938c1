// Writes a small sample theme, made with the project's own theme builder, that
// shows every kind of output: nested directories, module patches diverted into
// "patch-only" (one stored in odd case) and a PTF image with a body.
#include <cstdio>
#include <string>

#include "tools/theme_builder.h"

namespace {

theme_blueprint sample_theme() {
  theme_blueprint blueprint;
  blueprint.short_name = "Aurora";
  blueprint.internal_id = "AUR00042";
  blueprint.required_firmware = "6.61";
  blueprint.ptf_body = "PTF image body: wallpaper, icons and colours.\n";
  blueprint.files = {
      {"/vsh/module/Paf.PRX", "patch for paf.prx\n"},
      {"/vsh/module/vshmain.prx", "patch for vshmain.prx\n"},
      {"/vsh/resource/topmenu_plugin.rco", "top menu resources\n"},
      {"/font/ltn0.pgf", "a font\n"},
      {"/sounds/system/boot.at3", std::string(64, '\x7f')},
      {"/readme.txt", "Aurora theme, made by the theme builder.\n"},
  };
  return blueprint;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s <output .ctf file>\n", argv[0]);
    return 2;
  }
  if (!write_theme_file(argv[1], build_theme(sample_theme()).bytes)) {
    fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
