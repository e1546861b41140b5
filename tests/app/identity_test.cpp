#include "app/identity.h"
#include "app/qs_version_info.h"
#include "tests/support/temp_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace vorsal;
namespace fs = std::filesystem;

namespace {

// The set of names in a directory.
std::vector<std::string> Names(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

ino_t Inode(const fs::path& file) {
  struct stat info {};
  EXPECT_EQ(::lstat(file.c_str(), &info), 0) << file;
  return info.st_ino;
}

// A directory holding a copy of this test program, which carries the
// version block (product Vorsal, file version 3.2.0.0), as `exeName`.
class IdentityTest : public ::testing::Test {
 protected:
  void PlaceExecutable(const std::string& exeName) {
    exe_ = dir_ / exeName;
    ASSERT_TRUE(fs::copy_file(RunningExecutablePath(), exe_));
    exeBytes_ = test::ReadAll(exe_);
  }

  test::TempDir dir_;
  fs::path exe_;
  std::string exeBytes_;
};

}  // namespace

TEST_F(IdentityTest, SetsTheGlobalsAndLeavesAVersionedCopy) {
  PlaceExecutable("vorsal");
  InitIdentity(exe_.string());

  EXPECT_EQ(ExePath, exe_.string());
  EXPECT_EQ(AppDir, dir_.path().string() + "/");
  EXPECT_EQ(AppTitle, "Vorsal v.3.2");
  EXPECT_EQ(VersionedCopyPath, dir_.path().string() + "/Vorsal.3.2");

  EXPECT_EQ(Names(dir_.path()), (std::vector<std::string>{"Vorsal.3.2", "vorsal"}));
  EXPECT_EQ(test::ReadAll(VersionedCopyPath), exeBytes_);
  EXPECT_NE(fs::status(VersionedCopyPath).permissions() & fs::perms::owner_exec, fs::perms::none);
  // The copy is itself a versioned executable.
  EXPECT_EQ(TQSVersionInfo(VersionedCopyPath).FileShortVersion(), "3.2");
}

TEST_F(IdentityTest, CopyKeepsTheExecutablesExtension) {
  PlaceExecutable("vorsal.exe");
  InitIdentity(exe_.string());

  EXPECT_EQ(VersionedCopyPath, dir_.path().string() + "/Vorsal.3.2.exe");
  EXPECT_EQ(Names(dir_.path()), (std::vector<std::string>{"Vorsal.3.2.exe", "vorsal.exe"}));
}

TEST_F(IdentityTest, ReplacesAnOldCopyAlsoWhenReadOnly) {
  PlaceExecutable("vorsal");
  const fs::path copy = dir_ / "Vorsal.3.2";
  test::WriteAll(copy, "an older build");
  fs::permissions(copy, fs::perms::owner_read | fs::perms::group_read);

  InitIdentity(exe_.string());
  EXPECT_EQ(test::ReadAll(copy), exeBytes_);

  // A second start refreshes the one copy and leaves nothing else behind.
  test::WriteAll(copy, "stale");
  InitIdentity(exe_.string());
  EXPECT_EQ(test::ReadAll(copy), exeBytes_);
  EXPECT_EQ(Names(dir_.path()), (std::vector<std::string>{"Vorsal.3.2", "vorsal"}));
}

TEST_F(IdentityTest, NeverTouchesTheExecutableItself) {
  // Started under the copy's own name.
  PlaceExecutable("Vorsal.3.2");
  const ino_t inode = Inode(exe_);
  InitIdentity(exe_.string());
  EXPECT_EQ(VersionedCopyPath, exe_.string());
  EXPECT_EQ(Inode(exe_), inode);
  EXPECT_EQ(test::ReadAll(exe_), exeBytes_);
  EXPECT_EQ(Names(dir_.path()), std::vector<std::string>{"Vorsal.3.2"});

  // Started through another name for the same file.
  const fs::path link = dir_ / "vorsal";
  fs::create_hard_link(exe_, link);
  InitIdentity(link.string());
  EXPECT_EQ(Inode(exe_), inode);
  EXPECT_EQ(fs::hard_link_count(exe_), 2u);
}

// Neither a link at the copy's name nor one planted at a temporary name is
// written through; an old copy with a second name keeps its mode there.
TEST_F(IdentityTest, LeavesWhatLinksAndOtherNamesReach) {
  PlaceExecutable("vorsal");
  const fs::path elsewhere = dir_ / "elsewhere";
  test::WriteAll(elsewhere, "someone else's file");
  fs::permissions(elsewhere, fs::perms::owner_read);
  fs::create_symlink(elsewhere, dir_ / "Vorsal.3.2");
  fs::create_symlink(elsewhere, dir_ / (".Vorsal.3.2." + std::to_string(::getpid()) + ".part"));

  InitIdentity(exe_.string());
  EXPECT_EQ(fs::status(elsewhere).permissions(), fs::perms::owner_read);
  EXPECT_EQ(test::ReadAll(elsewhere), "someone else's file");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir_ / "Vorsal.3.2")));
  EXPECT_EQ(test::ReadAll(dir_ / "Vorsal.3.2"), exeBytes_);

  const fs::path other = dir_ / "other-name";
  fs::create_hard_link(dir_ / "Vorsal.3.2", other);
  fs::permissions(other, fs::perms::owner_read);
  InitIdentity(exe_.string());
  EXPECT_EQ(fs::status(other).permissions(), fs::perms::owner_read);
  EXPECT_EQ(test::ReadAll(dir_ / "Vorsal.3.2"), exeBytes_);
}

TEST_F(IdentityTest, LeavesADirectoryAtTheCopysPath) {
  PlaceExecutable("vorsal");
  fs::create_directory(dir_ / "Vorsal.3.2");
  InitIdentity(exe_.string());
  EXPECT_EQ(AppTitle, "Vorsal v.3.2");
  EXPECT_TRUE(fs::is_directory(dir_ / "Vorsal.3.2"));
  EXPECT_EQ(Names(dir_.path()), (std::vector<std::string>{"Vorsal.3.2", "vorsal"}));
}

TEST_F(IdentityTest, ExecutableWithoutVersionInformation) {
  exe_ = dir_ / "vorsal";
  test::WriteAll(exe_, "#!/bin/sh\n");
  InitIdentity(exe_.string());

  EXPECT_EQ(AppTitle, "<info not available> v.");
  EXPECT_EQ(AppDir, dir_.path().string() + "/");
  EXPECT_EQ(VersionedCopyPath, dir_.path().string() + "/<info not available>.");
  // No copy under a name made of placeholders.
  EXPECT_EQ(Names(dir_.path()), std::vector<std::string>{"vorsal"});
}

TEST(Identity, AppDirEndsInOneSlash) {
  // Paths without version information: only the globals are set.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/opt/vorsal/vorsal", "/opt/vorsal/"},
      {"/vorsal", "/"},
      {"vorsal", ""},
      {"bin/vorsal", "bin/"},
  };
  for (const auto& [exe, dir] : cases) {
    InitIdentity(exe);
    EXPECT_EQ(ExePath, exe);
    EXPECT_EQ(AppDir, dir) << exe;
    EXPECT_EQ(VersionedCopyPath, dir + "<info not available>.") << exe;
  }
}
