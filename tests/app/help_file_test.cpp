#include "app/program_paths.h"
#include "tests/support/temp_files.h"

#include <gtest/gtest.h>

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
