#include "keys/ini_file.h"
#include "tests/support/permission_cases.h"
#include "tests/support/temp_files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vorsal;
namespace fs = std::filesystem;

namespace {

// Windows-1251 spellings of Cyrillic names.
const std::string KeyLower = "\xEA\xEB\xFE\xF7";  // ключ
const std::string KeyUpper = "\xCA\xCB\xDE\xD7";  // КЛЮЧ
const std::string YoLower = "\xB8\xBF";           // ёї
const std::string YoUpper = "\xA8\xAF";           // ЁЇ

class IniDisk : public ::testing::Test {
 protected:
  static std::string Read(const fs::path& path) { return test::ReadAll(path); }
  static void Write(const fs::path& path, const std::string& bytes) { test::WriteAll(path, bytes); }
  std::size_t FilesInDir() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), {})); }

  test::TempDir temp_;
  const fs::path dir_ = temp_.path();
};

}  // namespace

TEST(IniParse, KeepsEveryByteOfAnyFile) {
  const std::string text =
      "; comment\r\n[Keys]\r\nA = 1 \nB=2\r\n\r\njunk line\n[Other\nC=3\r\r\n  =4\nlast=5";
  EXPECT_EQ(IniFile::Parse(text).Text(), text);
  EXPECT_EQ(IniFile::Parse("").Text(), "");
}

TEST(IniParse, LookupsMatchCaseAndTrimAndLineEndings) {
  const std::string text = "top=0\r\n[KEYS]\r\n  Alpha  =  AB CD  \r\n" + KeyLower + "=k\n" + YoLower +
                           "=yo\nalpha=second\n;beta=c\nnoequals\n[ Other ]\nx=1\n[keys]\ngamma=dup\n[Open\ny=2";
  const IniFile ini = IniFile::Parse(text);
  EXPECT_EQ(ini.Value("Keys", "ALPHA"), "AB CD");  // first of two, blanks cut at both ends
  EXPECT_EQ(ini.Value("keys", KeyUpper), "k");
  EXPECT_EQ(ini.Value("Keys", YoUpper), "yo");
  EXPECT_EQ(ini.Value("Keys", "top"), std::nullopt);     // outside any section
  EXPECT_EQ(ini.Value("Keys", ";beta"), std::nullopt);   // a comment
  EXPECT_EQ(ini.Value("Keys", "noequals"), std::nullopt);
  EXPECT_EQ(ini.Value("Keys", "x"), std::nullopt);       // in another section
  EXPECT_EQ(ini.Value("Keys", "gamma"), std::nullopt);   // a second [keys] does not count
  EXPECT_EQ(ini.Value("OTHER", "X"), "1");
  EXPECT_EQ(ini.Value("open", "y"), "2");                 // header without ']'
  EXPECT_EQ(ini.EntryNames("Keys"), (std::vector<std::string>{"Alpha", KeyLower, YoLower, "alpha"}));
  EXPECT_EQ(ini.Value("Keys", "\xEA\xEB\xFE"), std::nullopt);  // only the start of a name
}

TEST(IniParse, ValueReadAsAtMost2047Characters) {
  const std::string longValue(3000, 'F');
  const IniFile ini = IniFile::Parse("[Keys]\nk=" + longValue + "\nempty=   \n");
  EXPECT_EQ(ini.Value("Keys", "k"), longValue.substr(0, 2047));
  EXPECT_EQ(ini.Value("Keys", "empty"), "");
  // Reading does not shorten the stored line.
  EXPECT_NE(ini.Text().find(longValue), std::string::npos);
}

TEST(IniSetValue, AppendsAtEndOfSectionLeavingTheRestAlone) {
  IniFile ini = IniFile::Parse("; top\n[Keys]\nA=1\n; note\nB=2\n\n[Other]\nB=x\n");
  ASSERT_TRUE(ini.SetValue("KEYS", "C", "3"));
  EXPECT_EQ(ini.Text(), "; top\n[Keys]\nA=1\n; note\nB=2\nC=3\n\n[Other]\nB=x\n");

  // An existing entry keeps its own spelling up to '='.
  ini = IniFile::Parse("[Keys]\r\n " + KeyLower + " =\r\nZ=9");
  ASSERT_TRUE(ini.SetValue("Keys", KeyUpper, "AA"));
  EXPECT_EQ(ini.Text(), "[Keys]\r\n " + KeyLower + " =AA\r\nZ=9");

  // Empty section: right after its header; a last line without ending gets one.
  ini = IniFile::Parse("[Keys]\r\n[B]\r\nq=1");
  ASSERT_TRUE(ini.SetValue("Keys", "n", "v"));
  ASSERT_TRUE(ini.SetValue("B", "r", "2"));
  EXPECT_EQ(ini.Text(), "[Keys]\r\nn=v\r\n[B]\r\nq=1\r\nr=2\r\n");
}

TEST(IniSetValue, CreatesSectionWithTheFilesLineEnding) {
  IniFile ini;
  ASSERT_TRUE(ini.SetValue("Keys", "a", "1"));
  EXPECT_EQ(ini.Text(), "[Keys]\r\na=1\r\n");

  ini = IniFile::Parse("[Other]\nx=1");
  ASSERT_TRUE(ini.SetValue("Keys", "a", "1"));
  EXPECT_EQ(ini.Text(), "[Other]\nx=1\n[Keys]\na=1\n");
}

TEST(IniSetValue, RefusesNamesThatWouldNotReadBack) {
  for (const std::string name : {"", "a=b", "[a", ";a", " a", "a ", "a\nb", "a\rb", "a\tb\t"}) {
    IniFile ini = IniFile::Parse("[Keys]\n");
    EXPECT_FALSE(IniNameStorable(name)) << name;
    EXPECT_FALSE(ini.SetValue("Keys", name, "1")) << name;
    EXPECT_EQ(ini.Text(), "[Keys]\n");
  }
  IniFile ini;
  EXPECT_FALSE(ini.SetValue("Keys", "a", "1\n[x]"));
  for (const std::string& name : {std::string("a"), std::string("a b"), std::string("a]"), std::string("x["), KeyUpper + " " + YoLower}) {
    EXPECT_TRUE(IniNameStorable(name)) << name;
  }
}

TEST_F(IniDisk, MissingUnreadableAndLoadedFiles) {
  IniFile ini;
  EXPECT_EQ(IniFile::Load(dir_ / "none.ini", ini), IniLoadStatus::Missing);
  EXPECT_EQ(IniFile::Load(dir_ / "none" / "deeper.ini", ini), IniLoadStatus::Missing);
  EXPECT_EQ(IniFile::Load(dir_, ini), IniLoadStatus::Unreadable);
  Write(dir_ / "a.ini", "[Keys]\nk=v\n");
  ASSERT_EQ(IniFile::Load(dir_ / "a.ini", ini), IniLoadStatus::Loaded);
  EXPECT_EQ(ini.Value("keys", "K"), "v");
}

TEST_F(IniDisk, AtomicWriteModesAndSymlinks) {
  const fs::path file = dir_ / "Keys.ini";
  ASSERT_TRUE(WriteFilePreserving(file, "one", nullptr));
  EXPECT_EQ(Read(file), "one");
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::mask, fs::perms::owner_read | fs::perms::owner_write);

  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ASSERT_TRUE(WriteFilePreserving(file, "two", nullptr));
  EXPECT_EQ(Read(file), "two");
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::mask,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  fs::create_symlink(file, dir_ / "link.ini");
  ASSERT_TRUE(WriteFilePreserving(dir_ / "link.ini", "three", nullptr));
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.ini"));
  EXPECT_EQ(Read(file), "three");
  EXPECT_EQ(FilesInDir(), 2u);  // no temporary files left behind
}

TEST_F(IniDisk, FailedWriteKeepsOldFileAndNamesFullPath) {
  const fs::path file = dir_ / "Keys.ini";
  Write(file, "[Keys]\nold=1\n");
  // A file size limit makes the write itself fail, also for root.
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit tight = saved;
  tight.rlim_cur = 64;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
  std::string error;
  const bool written = WriteFilePreserving(file, std::string(1000, 'x'), &error);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);

  EXPECT_FALSE(written);
  EXPECT_EQ(error, "Unable to write to " + file.string() + ": " + std::strerror(EFBIG));
  EXPECT_EQ(Read(file), "[Keys]\nold=1\n");
  EXPECT_EQ(FilesInDir(), 1u);
}

TEST_F(IniDisk, DirectoryInThePlaceOfTheFileIsNotWritten) {
  fs::create_directory(dir_ / "Keys.ini");
  std::string error;
  EXPECT_FALSE(WriteFilePreserving(dir_ / "Keys.ini", "x", &error));
  EXPECT_EQ(error, "Unable to write to " + (dir_ / "Keys.ini").string() + ": " + std::strerror(EISDIR));
  EXPECT_FALSE(UpdateIniFile(dir_ / "Keys.ini", [](IniFile& ini) { return ini.SetValue("K", "a", "1"); }, &error));
  EXPECT_TRUE(fs::is_directory(dir_ / "Keys.ini"));
  EXPECT_EQ(FilesInDir(), 1u);
}

TEST_F(IniDisk, WritableFileInReadOnlyDirectoryIsRewrittenInPlace) {
  VORSAL_SKIP_AS_ROOT();
  const fs::path sub = dir_ / "ro";
  fs::create_directory(sub);
  Write(sub / "Keys.ini", "[Keys]\nold=1\n");
  fs::permissions(sub, fs::perms::owner_read | fs::perms::owner_exec);
  std::string error;
  const auto add = [](const char* name) {
    return [name](IniFile& ini) { return ini.SetValue("Keys", name, "1"); };
  };
  EXPECT_TRUE(UpdateIniFile(sub / "Keys.ini", add("a"), &error)) << error;
  EXPECT_FALSE(UpdateIniFile(sub / "New.ini", add("a"), &error));  // no new file there
  EXPECT_EQ(error, "Unable to write to " + (sub / "New.ini").string() + ": " + std::strerror(EACCES));
  fs::permissions(sub, fs::perms::owner_all);
  EXPECT_EQ(Read(sub / "Keys.ini"), "[Keys]\nold=1\na=1\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(sub), {}), 1);

  // A read-only file in a writable directory is not replaced.
  fs::permissions(sub / "Keys.ini", fs::perms::owner_read);
  EXPECT_FALSE(UpdateIniFile(sub / "Keys.ini", add("b"), &error));
  EXPECT_EQ(Read(sub / "Keys.ini"), "[Keys]\nold=1\na=1\n");
}

TEST_F(IniDisk, HardLinksOwnerGroupAndModeStay) {
  const fs::path file = dir_ / "Keys.ini";
  Write(file, "[Keys]\n");
  fs::create_hard_link(file, dir_ / "backup.ini");
  std::string error;
  ASSERT_TRUE(UpdateIniFile(file, [](IniFile& ini) { return ini.SetValue("Keys", "a", "1"); }, &error)) << error;
  EXPECT_EQ(Read(dir_ / "backup.ini"), "[Keys]\na=1\n");  // still the same file
  EXPECT_EQ(fs::hard_link_count(file), 2u);

  VORSAL_SKIP_UNLESS_ROOT();
  const fs::path shared = dir_ / "Shared.ini";
  Write(shared, "[Keys]\n");
  ASSERT_EQ(::chown(shared.c_str(), test::OtherUserId, test::OtherGroupId), 0);
  ASSERT_EQ(::chmod(shared.c_str(), 0640), 0);
  ASSERT_TRUE(UpdateIniFile(shared, [](IniFile& ini) { return ini.SetValue("Keys", "a", "1"); }, &error)) << error;
  struct stat info {};
  ASSERT_EQ(::stat(shared.c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, test::OtherUserId);
  EXPECT_EQ(info.st_gid, test::OtherGroupId);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(Read(shared), "[Keys]\na=1\n");
}

TEST_F(IniDisk, LinkOfAnotherUserIsNeverWrittenThrough) {
  VORSAL_SKIP_UNLESS_ROOT();
  // Planted in a directory the program writes to, pointing at a file that
  // only the one running the program may write.
  const fs::path victim = dir_ / "victim";
  Write(victim, "secret\n");
  fs::create_symlink(victim, dir_ / "Keys.ini");
  ASSERT_EQ(::lchown((dir_ / "Keys.ini").c_str(), test::OtherUserId, test::OtherGroupId), 0);
  std::string error;
  EXPECT_FALSE(WriteFilePreserving(dir_ / "Keys.ini", "x", &error));
  EXPECT_FALSE(UpdateIniFile(dir_ / "Keys.ini", [](IniFile& ini) { return ini.SetValue("Keys", "a", "1"); }, &error));
  EXPECT_NE(error.find("symbolic link owned by another user"), std::string::npos) << error;
  EXPECT_FALSE(FileUpdatable(dir_ / "Keys.ini"));
  EXPECT_EQ(Read(victim), "secret\n");
  EXPECT_TRUE(fs::is_symlink(dir_ / "Keys.ini"));
}

// The same for a link anywhere in the folder path, not only at the file;
// the user's own link there is followed.
TEST_F(IniDisk, FolderLinkOfAnotherUserIsNeverWrittenThrough) {
  VORSAL_SKIP_UNLESS_ROOT();
  fs::create_directory(dir_ / "victim");
  Write(dir_ / "victim" / "Keys.ini", "secret\n");
  fs::create_directory_symlink(dir_ / "victim", dir_ / "own");
  fs::create_directory_symlink(dir_ / "own", dir_ / "planted");
  ASSERT_EQ(::lchown((dir_ / "planted").c_str(), test::OtherUserId, test::OtherGroupId), 0);
  const auto add = [](IniFile& ini) { return ini.SetValue("Keys", "a", "1"); };
  std::string error;
  EXPECT_FALSE(UpdateIniFile(dir_ / "planted" / "Keys.ini", add, &error));
  EXPECT_NE(error.find("symbolic link owned by another user"), std::string::npos) << error;
  EXPECT_EQ(Read(dir_ / "victim" / "Keys.ini"), "secret\n");
  EXPECT_TRUE(UpdateIniFile(dir_ / "own" / "Keys.ini", add, &error)) << error;
}

TEST_F(IniDisk, UpdateNeverReplacesAFileItCannotRead) {
  VORSAL_SKIP_AS_ROOT();
  const fs::path file = dir_ / "Keys.ini";
  Write(file, "[Keys]\nold=1\n");
  fs::permissions(file, fs::perms::owner_write);
  std::string error;
  EXPECT_FALSE(UpdateIniFile(file, [](IniFile& ini) { return ini.SetValue("Keys", "a", "1"); }, &error));
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(Read(file), "[Keys]\nold=1\n");
}
