#include "keys/key_store.h"
#include "app/program_paths.h"
#include "keys/ini_file.h"
#include "tests/support/permission_cases.h"
#include "tests/support/temp_files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include <pwd.h>
#include <unistd.h>

using namespace vorsal;
namespace fs = std::filesystem;

namespace {

const std::string HexA = "00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF";
const std::string HexB = "FFEEDDCCBBAA99887766554433221100FFEEDDCCBBAA99887766554433221100";
const std::string CyrName = "\xCA\xEB\xFE\xF7 \xB9" "1";  // "Ключ №1" in Windows-1251

class KeyStoreFile : public ::testing::Test {
 protected:
  std::string Contents() const { return test::ReadAll(file_); }
  void SetContents(const std::string& bytes) const { test::WriteAll(file_, bytes); }

  test::TempDir temp_;
  const fs::path dir_ = temp_.path();
  const fs::path file_ = dir_ / KeyStoreFileName;
};

}  // namespace

TEST_F(KeyStoreFile, LocationIsAppDirOnlyWhereThisUserCanKeepTheFile) {
  const fs::path user = dir_ / "user";
  EXPECT_EQ(KeyStoreLocation(dir_, user), file_);
  EXPECT_EQ(KeyStoreLocation(dir_ / "missing", user), user / "Keys.ini");
  EXPECT_EQ(KeyStoreLocation(dir_ / "missing", ""), dir_ / "missing" / "Keys.ini");

  VORSAL_SKIP_AS_ROOT();
  // A read-only install: a writable Keys.ini there is used, none is not made.
  const fs::path installed = dir_ / "installed";
  fs::create_directory(installed);
  fs::permissions(installed, fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_EQ(KeyStoreLocation(installed, user), user / "Keys.ini");
  fs::permissions(installed, fs::perms::owner_all);
  test::WriteAll(installed / "Keys.ini", "[Keys]\n");
  fs::permissions(installed, fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_EQ(KeyStoreLocation(installed, user), installed / "Keys.ini");
  fs::permissions(installed, fs::perms::owner_all);

  // One left by another user's run (mode 0600, not this user's): this user
  // can neither read nor write it, so the user's own file serves.
  fs::permissions(installed / "Keys.ini", fs::perms::none);
  EXPECT_EQ(KeyStoreLocation(installed, user), user / "Keys.ini");
  fs::permissions(installed / "Keys.ini", fs::perms::owner_read);
  EXPECT_EQ(KeyStoreLocation(installed, user), user / "Keys.ini");
}

TEST_F(KeyStoreFile, LocationPassesOverALinkOfAnotherUser) {
  VORSAL_SKIP_UNLESS_ROOT();
  test::WriteAll(dir_ / "victim", "x\n");
  fs::create_symlink(dir_ / "victim", file_);
  ASSERT_EQ(::lchown(file_.c_str(), test::OtherUserId, test::OtherGroupId), 0);
  EXPECT_EQ(KeyStoreLocation(dir_, dir_ / "user"), dir_ / "user" / "Keys.ini");
}

TEST_F(KeyStoreFile, SaveCreatesDirectoryAndPrivateFile) {
  const fs::path file = dir_ / "data" / "Vorsal" / "Keys.ini";
  EXPECT_EQ(KeyStoreLookup(file, "a"), "");
  std::string error;
  ASSERT_TRUE(KeyStoreSave(file, CyrName, HexA, &error)) << error;
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::mask, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(KeyStoreLookup(file, "\xEA\xCB\xDE\xD7 \xB9" "1"), HexA);  // other letter case
  EXPECT_EQ(KeyStoreNames(file), std::vector<std::string>{CyrName});
}

TEST_F(KeyStoreFile, SaveAppendsToKeysAndLeavesEverythingElse) {
  SetContents("; keys of site 4\r\n[keys]\r\nOld=" + HexB + "\r\nblank=\r\n\r\n[Other]\r\nNew=x\r\n");
  std::string error;
  ASSERT_TRUE(KeyStoreSave(file_, "New", HexA, &error)) << error;
  ASSERT_TRUE(KeyStoreSave(file_, "BLANK", HexA, &error)) << error;
  ASSERT_TRUE(KeyStoreSave(file_, "OLD", HexA, &error)) << error;  // stored already: left alone
  EXPECT_EQ(Contents(), "; keys of site 4\r\n[keys]\r\nOld=" + HexB + "\r\nblank=" + HexA + "\r\nNew=" + HexA +
                            "\r\n\r\n[Other]\r\nNew=x\r\n");
  EXPECT_EQ(KeyStoreNames(file_), (std::vector<std::string>{"Old", "blank", "New"}));
  EXPECT_EQ(KeyStoreLookup(file_, "old"), HexB);
}

TEST_F(KeyStoreFile, NamesThatWouldNotReadBackAreNotStored) {
  for (const std::string name : {"a=b", "[a]", ";a", " a", "a\nb", ""}) {
    EXPECT_FALSE(KeyNameStorable(name)) << name;
    std::string error;
    EXPECT_FALSE(KeyStoreSave(file_, name, HexA, &error)) << name;
    EXPECT_FALSE(error.empty());
  }
  std::string error;
  EXPECT_FALSE(KeyStoreSave(file_, "a", HexA + "\n[x]", &error));
  EXPECT_EQ(error, "The key name cannot be stored in " + file_.string());
  EXPECT_FALSE(fs::exists(file_));
  EXPECT_TRUE(KeyNameStorable(CyrName));
}

TEST_F(KeyStoreFile, FailedSaveNamesFullPathAndKeepsFile) {
  // The parent is a regular file, so neither the directory nor the file can be made.
  SetContents("[Keys]\r\nA=" + HexA + "\r\n");
  const fs::path file = file_ / "Keys.ini";
  std::string error;
  EXPECT_FALSE(KeyStoreSave(file, "B", HexB, &error));
  EXPECT_EQ(error, "Unable to write to " + file.string() + ": " + std::strerror(ENOTDIR));
  EXPECT_EQ(KeyStoreLookup(file_, "A"), HexA);
}

TEST_F(KeyStoreFile, NamesListStopsBeforeTheByteLimit) {
  // 100 bytes per name with its zero byte: 163 whole names fit in 16384.
  std::string text = "[Keys]\n=empty name\n";
  for (int i = 0; i < 200; ++i) text += std::string(95, 'n') + std::to_string(1000 + i) + "=" + HexA + "\n";
  SetContents(text);
  const auto names = KeyStoreNames(file_);
  ASSERT_EQ(names.size(), 163u);
  EXPECT_EQ(names.back(), std::string(95, 'n') + "1162");

  // Exactly at the limit every name is listed.
  SetContents("[Keys]\n" + std::string(16383, 'x') + "=1\n");
  EXPECT_EQ(KeyStoreNames(file_).size(), 1u);
  SetContents("[Keys]\n" + std::string(16384, 'x') + "=1\n");
  EXPECT_TRUE(KeyStoreNames(file_).empty());
}

TEST_F(KeyStoreFile, TwoWritersNeverLoseEachOthersEntries) {
  // Two copies of the program save at the same time; each re-reads under the
  // lock, so the last rename carries every entry.
  constexpr int PerWriter = 40;
  auto writer = [&](char prefix) {
    for (int i = 0; i < PerWriter; ++i) {
      std::string error;
      EXPECT_TRUE(KeyStoreSave(file_, prefix + std::to_string(i), HexA, &error)) << error;
    }
  };
  std::thread first(writer, 'a');
  std::thread second(writer, 'b');
  first.join();
  second.join();
  EXPECT_EQ(KeyStoreNames(file_).size(), 2u * PerWriter);
  for (int i = 0; i < PerWriter; ++i) {
    EXPECT_EQ(KeyStoreLookup(file_, "A" + std::to_string(i)), HexA);
    EXPECT_EQ(KeyStoreLookup(file_, "B" + std::to_string(i)), HexA);
  }
}

TEST_F(KeyStoreFile, FileLargerThan8MiBIsRefusedAndNeverRewritten) {
  // Exactly at the limit, mostly line breaks: read, but not grown past it.
  const std::string entry = "[Keys]\nA=" + HexA + "\n";
  SetContents(std::string(IniFileMaxBytes - entry.size(), '\n') + entry);
  EXPECT_EQ(KeyStoreLookup(file_, "a"), HexA);
  std::string error;
  EXPECT_FALSE(KeyStoreSave(file_, "B", HexB, &error));
  EXPECT_EQ(fs::file_size(file_), IniFileMaxBytes);

  SetContents(std::string(IniFileMaxBytes + 1, '\n'));
  EXPECT_EQ(KeyStoreLookup(file_, "a"), "");
  EXPECT_TRUE(KeyStoreNames(file_).empty());
  EXPECT_FALSE(KeyStoreSave(file_, "B", HexB, &error));
  EXPECT_EQ(error, "Unable to write to " + file_.string() + ": the file is larger than 8 MiB");
  EXPECT_EQ(fs::file_size(file_), IniFileMaxBytes + 1);
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
  EXPECT_EQ(dir, fs::path(::getpwuid(::getuid())->pw_dir) / ".local" / "share" / "vorsal");
  EXPECT_EQ(KeyStorePath(true, "/usr/bin", {}), fs::path());
}
