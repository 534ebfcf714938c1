#include "unpack/output_tree.h"

namespace {

bool is_separator(char c) { return c == '/' || c == '\\'; }

}  // namespace

bool leads_outside(const char* path) {
  const char* component = path;
  for (const char* p = path;; ++p) {
    if (*p == '\0' || is_separator(*p)) {
      if (p - component == 2 && component[0] == '.' && component[1] == '.') {
        return true;
      }
      if (*p == '\0') return false;
      component = p + 1;
    }
  }
}
