// The file layer's promises that the key store and the journal build on,
// checked the same way on every system.
#include "keys/key_store.h"
#include "platform/files.h"
#include "tests/support/temp_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

#ifndef _WIN32
#include <unistd.h>
#endif

using namespace vorsal;
namespace fs = std::filesystem;

namespace {

// Bytes a text-mode write would change: CR LF, a lone LF, ^Z and NUL.
const std::string Awkward = std::string("[Keys]\r\n\xCA\xEB\xFE\xF7=1\nz\x1A\r\n", 19) + std::string(1, '\0') + "end";

TEST(PlatformFiles, ReplacementsKeepEveryByteAndLeaveNoTemporaryFile) {
  test::TempDir dir;
  const fs::path file = dir / "Keys.ini";
  std::string reason;
  ASSERT_TRUE(platform::ReplaceFile(file, "old", 0600, reason)) << reason;
  ASSERT_TRUE(platform::WriteFileKeepingAttributes(file, Awkward, reason)) << reason;
  std::string read;
  ASSERT_EQ(platform::ReadWholeFile(file, 1024, read), platform::ReadStatus::Read);
  EXPECT_EQ(read, Awkward);
  EXPECT_EQ(platform::ReadWholeFile(file, Awkward.size() - 1, read), platform::ReadStatus::TooLarge);
  EXPECT_EQ(platform::ReadWholeFile(dir / "none", 1024, read), platform::ReadStatus::Missing);
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1);
}

TEST(PlatformFiles, KeyNamesStayWindows1251WithCrlfLines) {
  test::TempDir dir;
  const fs::path file = dir / "Keys.ini";
  const std::string name = "\xCA\xEB\xFE\xF7 \xB9" "1";  // "Ключ №1"
  const std::string hex(64, 'A');
  std::string error;
  ASSERT_TRUE(KeyStoreSave(file, name, hex, &error)) << error;
  EXPECT_EQ(test::ReadAll(file), "[Keys]\r\n" + name + "=" + hex + "\r\n");
  EXPECT_EQ(KeyStoreLookup(file, name), hex);
}

TEST(PlatformFiles, DirectoryLockKeepsASecondHolderWaiting) {
  test::TempDir dir;
  std::atomic<bool> released{false};
  std::atomic<bool> overlapped{false};
  std::optional<platform::DirectoryLock> first(std::in_place);
  std::string reason;
  ASSERT_TRUE(first->Acquire(dir.path(), reason)) << reason;
  {
    std::thread second([&] {
      platform::DirectoryLock lock;
      std::string why;
      EXPECT_TRUE(lock.Acquire(dir.path(), why)) << why;
      if (!released) overlapped = true;
    });
    // Give the second holder every chance to get in while the first holds it.
    for (int i = 0; i < 200; ++i) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    released = true;
    first.reset();
    second.join();
  }
  EXPECT_FALSE(overlapped);
}

// Two writers of one journal, each with its own handle: every append lands
// after what the other wrote, and a directory is refused as a journal, as
// not a regular file.
TEST(PlatformFiles, AppendsOfTwoWritersFollowEachOther) {
  test::TempDir dir;
  const fs::path file = dir / "journal.csv";
  platform::AppendFile first, second;
  ASSERT_EQ(first.Open(file), 0);
  ASSERT_EQ(second.Open(file), 0);
  ASSERT_EQ(first.Append("one\r\n"), 0);
  ASSERT_EQ(second.Append("two\r\n"), 0);
  bool leftIncomplete = true;
  ASSERT_EQ(first.Append("three\r\n", &leftIncomplete), 0);
  EXPECT_FALSE(leftIncomplete);
  std::string bytes;
  ASSERT_EQ(second.ReadAll(bytes), 0);
  EXPECT_EQ(bytes, "one\r\ntwo\r\nthree\r\n");
  // Opening an existing journal again keeps every line it holds.
  platform::AppendFile reopened;
  ASSERT_EQ(reopened.Open(file), 0);
  std::uint64_t size = 0;
  ASSERT_EQ(reopened.Size(size), 0);
  EXPECT_EQ(size, bytes.size());
  platform::AppendFile folder;
  EXPECT_EQ(folder.Open(dir.path()), platform::AppendFile::NotRegularFile);
  EXPECT_FALSE(folder.IsOpen());
}

// A file of this user's own is told from another user's (whose lines a
// program must not take for its own), and is cut to nothing under its lock.
TEST(PlatformFiles, AnAppendFileKnowsItsOwnerAndIsCutToNothing) {
  test::TempDir dir;
  const fs::path file = dir / "pending.tsv";
  platform::AppendFile own;
  ASSERT_EQ(own.Open(file), 0);
  ASSERT_EQ(own.Append("line\n"), 0);
  EXPECT_TRUE(own.OwnedByThisUser());
  ASSERT_EQ(own.Truncate(), 0);
  std::string bytes = "x";
  ASSERT_EQ(own.ReadAll(bytes), 0);
  EXPECT_EQ(bytes, "");
  ASSERT_EQ(own.Append("again\n"), 0);
  ASSERT_EQ(own.ReadAll(bytes), 0);
  EXPECT_EQ(bytes, "again\n");
#ifndef _WIN32
  if (::geteuid() != 0) GTEST_SKIP() << "making another user's file needs root";
  ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0);
  platform::AppendFile planted;
  ASSERT_EQ(planted.Open(file), 0);
  EXPECT_FALSE(planted.OwnedByThisUser());
#endif
}

}  // namespace
