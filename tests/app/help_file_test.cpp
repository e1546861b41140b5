#include "app/program_paths.h"
#include "tests/support/temp_files.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>


using namespace vorsal;
namespace fs = std::filesystem;

// F1's document: beside the program first (build tree, portable copy), then
// the installed documentation that the install rules put at
// ../share/doc/vorsal from bin; nothing when neither is there.
TEST(HelpFilePath, ProgramDirectoryFirstThenInstalledDocumentation) {
  test::TempDir root;
  const fs::path bin = root / "bin";
  const fs::path doc = root.path() / "share" / "doc" / "vorsal";
  fs::create_directories(bin);
  fs::create_directories(doc);
  EXPECT_EQ(HelpFilePath(bin), fs::path());

  fs::create_directory(bin / HelpFileName);  // not a document
  EXPECT_EQ(HelpFilePath(bin), fs::path());

  test::WriteAll(doc / HelpFileName, "installed");
  EXPECT_EQ(HelpFilePath(bin), doc / HelpFileName);
  EXPECT_EQ(HelpFilePath(bin.string() + "/"), doc / HelpFileName);  // AppDir ends in "/"

  fs::remove(bin / HelpFileName);
  test::WriteAll(bin / HelpFileName, "beside the program");
  EXPECT_EQ(HelpFilePath(bin), bin / HelpFileName);
}

// The Windows rule for an installed copy: under a Program Files folder by
// whole components in either case (not a folder that merely starts with its
// name), or anywhere beside the installer's uninstaller; never without the
// system's folders (Linux).
TEST(InstalledCopy, UnderProgramFilesOrBesideTheUninstaller) {
  test::TempDir root;
  const fs::path programFiles = root.path() / "Program Files";
  const std::vector<fs::path> folders{root.path() / "Program Files (x86)", programFiles / ""};
  EXPECT_TRUE(InstalledCopy(programFiles / "Vorsal", folders));
  EXPECT_TRUE(InstalledCopy(root.path() / "PROGRAM FILES" / "vorsal" / "", folders));
  EXPECT_TRUE(InstalledCopy(root.path() / "program files (x86)" / "Vorsal", folders));
  EXPECT_FALSE(InstalledCopy(root.path() / "Program Files Portable" / "Vorsal", folders));

  const fs::path portable = root / "Vorsal";
  fs::create_directory(portable);
  EXPECT_FALSE(InstalledCopy(portable, folders));
  test::WriteAll(portable / UninstallerName, "MZ");
  EXPECT_TRUE(InstalledCopy(portable, folders));
  EXPECT_FALSE(InstalledCopy(portable, {}));
  EXPECT_FALSE(InstalledCopy(programFiles / "Vorsal", {}));
}

// The guide against the program: what the window shows (captions, status
// texts, messages) the guide puts in «», and each such quote must be among
// the string literals of the window's sources. A value the program fills in
// (%1, or appended) is <i>written thus</i> in the guide; a quote may end in
// "…" where it leaves the rest of a message out.
TEST(HelpGuide, EveryQuotedTextIsOneTheProgramShows) {
#ifdef VORSAL_SOURCE_DIR
  // __FILE__ may be relative to a build directory inside the checkout.
  const fs::path repository = VORSAL_SOURCE_DIR;
#else
  const auto repository = fs::path(__FILE__).parent_path().parent_path().parent_path();
#endif
  std::string program;  // the literals, adjacent ones joined, one a line
  const std::regex literal(R"re("((?:[^"\\\n]|\\.)*)")re");
  for (const char* folder : {"ui", "window", "protocol", "production"}) {
    for (const auto& entry : fs::directory_iterator(repository / folder)) {
      const std::string source = std::regex_replace(test::ReadAll(entry.path()), std::regex(R"re("\s*\n\s*")re"), "");
      for (std::sregex_iterator it(source.begin(), source.end(), literal), end; it != end; ++it) {
        program += std::regex_replace((*it)[1].str(), std::regex(R"(%\d|\\(.))"), "$1") + "\n";
      }
    }
  }
  const std::string html = test::ReadAll(repository / "dist" / "help" / "Vorsal.html");
  const std::regex quote(R"(«([\s\S]*?)»)");
  int quotes = 0;
  for (std::sregex_iterator it(html.begin(), html.end(), quote), end; it != end; ++it) {
    std::string text = std::regex_replace((*it)[1].str(), std::regex(R"(\s+)"), " ");
    text = std::regex_replace(std::regex_replace(text, std::regex("<i>.*?</i>|…$"), "\n"), std::regex("<[^>]*>"), "");
    std::istringstream pieces(text);  // the parts between the values
    for (std::string piece; std::getline(pieces, piece); ++quotes) {
      EXPECT_TRUE(piece.empty() || program.find(piece) != std::string::npos) << "the guide quotes «" << piece << "»";
    }
  }
  EXPECT_GT(quotes, 30);
}
