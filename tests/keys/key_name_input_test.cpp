// Key names read from a file or a prompt: the first line only, bounded, in
// the encodings editors save, never a NUL, and a file that would never end
// or never come (/dev/zero, a FIFO nobody writes) refused without waiting.
#include "keys/key_name_input.h"
#include "tests/support/temp_files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace vorsal {
namespace {

std::string Name(std::string_view bytes, bool cp1251 = false) {
  std::string error;
  const std::optional<std::string> name = KeyNameFromLine(bytes, cp1251, &error);
  return name ? *name : "refused: " + error;
}

TEST(KeyNameFromLine, DecodesByteOrderMarksAndTakesTheFirstLineOnly) {
  const std::string key = "\xCA\xEB\xFE\xF7";  // "Ключ" in Windows-1251
  EXPECT_EQ(Name("  Ключ \r\nsecond line\n"), key);
  EXPECT_EQ(Name("\xEF\xBB\xBFКлюч\n"), key);
  EXPECT_EQ(Name(std::string("\xFF\xFE\x1A\x04\x3B\x04\x4E\x04\x47\x04\r\0\n\0x\0", 16)), key);
  EXPECT_EQ(Name(std::string("\xFE\xFF\x04\x1A\x04\x3B\x04\x4E\x04\x47\0\n", 12)), key);
  // Unmarked bytes that are not UTF-8 are the code page's only where asked.
  EXPECT_EQ(Name(key + "\n", true), key);
  EXPECT_EQ(Name(key + "\n"), "refused: it is not UTF-8 text");
  EXPECT_EQ(Name("Ключ\n", true), key) << "UTF-8 stays UTF-8";
}

TEST(KeyNameFromLine, RefusesNulLongLinesAndBrokenTextWithoutQuotingIt) {
  EXPECT_EQ(Name(std::string("ab\0cd\n", 6)), "refused: it holds a NUL character");
  EXPECT_EQ(Name(std::string("\xFF\xFE" "a\0\0\0", 6)), "refused: it holds a NUL character");
  EXPECT_EQ(Name(std::string(KeyNameLineMaxBytes, 'a')), "refused: its first line is longer than 4096 bytes");
  EXPECT_EQ(Name(std::string(KeyNameLineMaxBytes - 1, 'a') + "\n"), std::string(KeyNameLineMaxBytes - 1, 'a'));
  EXPECT_EQ(Name(std::string("\xFF\xFE\x00\xD8\x41\x00", 6)), "refused: its UTF-16 text is damaged");
  const std::string refused = Name("secret中\n");
  EXPECT_EQ(refused, "refused: it has a character that Windows-1251 lacks");
}

TEST(ReadKeyNameFile, ReadsTheStartOfAFileAndRefusesDevicesAndSilentFifosAtOnce) {
  test::TempDir dir;
  test::WriteAll(dir / "name", "Plant 7\n" + std::string(1 << 20, 'x'));
  std::string error;
  EXPECT_EQ(ReadKeyNameFile(dir / "name", &error), std::optional<std::string>("Plant 7"));
  EXPECT_EQ(ReadKeyNameFile("/dev/zero", &error), std::nullopt);
  EXPECT_EQ(ReadKeyNameFile(dir / "missing", &error), std::nullopt);
  EXPECT_EQ(error, "no such file");
  // No writer: the open does not wait, and the FIFO reads as empty.
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(ReadKeyNameFile(dir / "fifo", &error), std::nullopt);
  EXPECT_EQ(error, "the file is empty");
}

}  // namespace
}  // namespace vorsal
