// Every message the tool can print is documented in its man page, word for
// word, and the page and NEWS.md name the version the build was made as, so
// none of them can drift apart.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/run_unpacker.h"
#include "pack/pack_messages.h"
#include "tests/test_support.h"
#include "unpack/extract_entries.h"
#include "unpack/messages.h"

namespace {

// Drops font changes and the escapes the page uses.
std::string plain(std::string text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char next = text[++i];
    if (next == 'f' && i + 1 < text.size()) {
      ++i;  // \fB, \fI, \fR
    } else if (next == '-' || next == 'e') {
      out += next == '-' ? '-' : '\\';
    } else if (next != '&') {
      out += '\\';
      out += next;
    }
  }
  return out;
}

// The arguments of a font macro line (".BI "Skipping " name"), joined the way
// they are rendered: without spaces between them.
std::string joined_arguments(const std::string& arguments) {
  std::string out;
  bool quoted = false;
  for (char c : arguments) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c != ' ' || quoted) {
      out += c;
    }
  }
  return out;
}

// The page's text as a reader sees it, one source line per line.
std::string rendered_man_page(const char* page = THEMEUNPACK_MAN_PAGE) {
  std::istringstream source(read_file(page));
  std::string text;
  std::string line;
  while (std::getline(source, line)) {
    if (line.rfind(".B ", 0) == 0 || line.rfind(".I ", 0) == 0) {
      text += plain(line.substr(3));
    } else if (line.size() > 4 && line[0] == '.' && line[3] == ' ' &&
               std::string("BIR").find(line[1]) != std::string::npos) {
      text += plain(joined_arguments(line.substr(4)));
    } else if (!line.empty() && line[0] != '.') {
      text += plain(line);
    }
    text += '\n';
  }
  return text;
}

// The fixed parts of a message: split where a name or number goes in, without
// the final newline.
std::vector<std::string> fixed_parts(const std::string& message) {
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 0; i < message.size(); ++i) {
    if (message[i] == '%' || message[i] == '\n') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
      if (message[i] == '%') ++i;
    } else {
      part += message[i];
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

std::vector<std::string> every_message() {
  std::vector<std::string> messages = {USAGE_TEXT,
                                       THEME_NOT_FOUND,
                                       CANNOT_OPEN_THEME,
                                       THEME_HEADING,
                                       PRESS_ENTER,
                                       VERSION_TEXT,
                                       THEME_ENDED_EARLY_REASON,
                                       INVALID_THEME,
                                       CANNOT_CREATE_DIRECTORY,
                                       FINISHED_OK,
                                       FINISHED_WITH_ERRORS,
                                       METADATA_OK,
                                       FILES_OK,
                                       FILES_WITH_ERRORS,
                                       TABLE_DOES_NOT_FIT,
                                       PTF_OK,
                                       CANNOT_READ_THEME,
                                       SKIP_OUTSIDE_DIRECTORY,
                                       SKIP_SYMLINK,
                                       SKIP_OUTSIDE_FILE,
                                       SKIP_CANNOT_READ,
                                       SKIP_THEME_FILE,
                                       SKIP_NOT_ON_WINDOWS,
                                       CANNOT_WRITE,
                                       LIST_LINE,
                                       LIST_TOTAL};
  for (const char* module :
       {"./vsh/module/common_gui.prx", "./vsh/module/paf.prx",
        "./vsh/module/vshmain.prx"}) {
    messages.push_back(find_patch_redirect(module)->notice);
  }
  return messages;
}

std::vector<std::string> every_pack_message() {
  return {PACK_USAGE_TEXT,    PACK_VERSION_TEXT,
          CANNOT_OPEN_FOLDER, NO_PTF_IMAGE,
          REFUSE_SECOND_PTF,  REFUSE_NOT_PTF,
          REFUSE_LINK,        REFUSE_SPECIAL,
          REFUSE_TOO_LONG,    REFUSE_NOT_WRITTEN_BACK,
          REFUSE_PAST_LIMIT,  REFUSE_CHANGED,
          CANNOT_READ_INPUT,  REFUSE_THEME_INSIDE,
          REFUSE_THEME_NAME,  PACKED_OK,
          NOT_PACKED,         CANNOT_WRITE,
          PRESS_ENTER};
}

// Each page, and the Windows README, documents every message of its program.
TEST(ManPage, ThemepackDocumentsEveryMessage) {
  const std::string page = rendered_man_page(THEMEPACK_MAN_PAGE);
  const std::string readme = read_file(THEMEUNPACK_WINDOWS_README);
  for (const std::string& message : every_pack_message()) {
    for (const std::string& part : fixed_parts(message)) {
      EXPECT_NE(page.find(part), std::string::npos)
          << "themepack(1) lacks \"" << part << "\" of " << message;
      EXPECT_NE(readme.find(part), std::string::npos)
          << "the Windows README lacks \"" << part << "\" of " << message;
    }
  }
}

TEST(ManPage, DocumentsEveryMessage) {
  const std::string page = rendered_man_page();
  for (const std::string& message : every_message()) {
    for (const std::string& part : fixed_parts(message)) {
      EXPECT_NE(page.find(part), std::string::npos)
          << "the man page lacks \"" << part << "\" of " << message;
    }
  }
}

TEST(WindowsReadme, DocumentsEveryMessage) {
  const std::string readme = read_file(THEMEUNPACK_WINDOWS_README);
  for (const std::string& message : every_message()) {
    for (const std::string& part : fixed_parts(message)) {
      EXPECT_NE(readme.find(part), std::string::npos)
          << "the Windows README lacks \"" << part << "\" of " << message;
    }
  }
}

TEST(Version, ManPageAndNewsFollowTheProjectVersion) {
  std::string page = read_file(THEMEUNPACK_MAN_PAGE);
  std::string title = page.substr(0, page.find('\n'));
  EXPECT_NE(
      title.find(std::string("\"themeunpack ") + THEMEUNPACK_VERSION + "\""),
      std::string::npos)
      << title;
  // Both pages carry the same date and version.
  std::string pack_page = read_file(THEMEPACK_MAN_PAGE);
  std::string pack_title = pack_page.substr(0, pack_page.find('\n'));
  EXPECT_EQ(pack_title.substr(pack_title.find('"')),
            title.substr(title.find('"')));
  std::string news = read_file(THEMEUNPACK_NEWS);
  size_t newest = news.find("\n## ");
  ASSERT_NE(newest, std::string::npos);
  EXPECT_EQ(
      news.compare(newest + 4, std::string(THEMEUNPACK_VERSION).size() + 1,
                   std::string(THEMEUNPACK_VERSION) + " "),
      0)
      << news.substr(newest + 1, news.find('\n', newest + 1) - newest - 1);
#ifndef THEMEUNPACK_DATED_BY_EPOCH
  // Dated as the newest entry of NEWS.md: "## 1.3.0 (2026-12-09 17:45)".
  size_t date = news.find('(', newest) + 1;
  EXPECT_NE(title.find("\"" + news.substr(date, 10) + "\""), std::string::npos)
      << title;
#endif
}

}  // namespace
