#include "app/program_paths.h"
#include "tests/support/temp_files.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <pwd.h>
#include <unistd.h>

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

// Started without HOME and XDG_DATA_HOME (a service, env -i), the program
// keeps its data in the home the password database gives; an installed
// program never falls back to its own folder (/usr/bin).
TEST(UserDataDir, WithoutEnvironmentComesFromThePasswordDatabase) {
  const char* home = std::getenv("HOME");
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  const std::string savedHome = home ? home : "", savedDataHome = dataHome ? dataHome : "";
  ::unsetenv("HOME");
  ::unsetenv("XDG_DATA_HOME");
  const fs::path dir = UserDataDir();
  if (home) ::setenv("HOME", savedHome.c_str(), 1);
  if (dataHome) ::setenv("XDG_DATA_HOME", savedDataHome.c_str(), 1);
  const passwd* entry = ::getpwuid(::getuid());
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(dir, fs::path(entry->pw_dir) / ".local" / "share" / "vorsal");

  EXPECT_EQ(KeyStorePath(true, "/usr/bin", dir), dir / "Keys.ini");
  EXPECT_EQ(KeyStorePath(true, "/usr/bin", {}), fs::path());
}
