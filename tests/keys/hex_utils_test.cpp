#include "keys/hex_utils.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

using namespace vorsal;

namespace {

using Key = std::array<std::uint8_t, 32>;

Key Filled(std::uint8_t value) {
  Key key;
  key.fill(value);
  return key;
}

}  // namespace

TEST(HexToInt, DigitsOtherCharactersAndOverflow) {
  EXPECT_EQ(HexToInt(""), 0);
  EXPECT_EQ(HexToInt("1G"), 16);  // G counts as the digit 0
  EXPECT_EQ(HexToInt("fF"), 255);
  EXPECT_EQ(HexToInt("7FFFFFFFFFFFFFFF"), INT64_MAX);
  EXPECT_EQ(HexToInt("8000000000000000"), INT64_MIN);
  // Beyond 16 digits the leading ones drop out.
  EXPECT_EQ(HexToInt("ABCDEF0123456789A"), HexToInt("BCDEF0123456789A"));
  EXPECT_EQ(HexToInt("1FFFFFFFFFFFFFFFF"), -1);
}

TEST(BytesToHex, UpperCasePairsWithSeparatorOnlyBetween) {
  const std::uint8_t bytes[] = {0x00, 0x0A, 0xAB, 0xFF};
  EXPECT_EQ(BytesToHex(bytes, 4), "000AABFF");
  EXPECT_EQ(BytesToHex(bytes, 4, ":"), "00:0A:AB:FF");
  EXPECT_EQ(BytesToHex(bytes, 1, ", "), "00");
  EXPECT_EQ(BytesToHex(bytes, 0, ":"), "");
  EXPECT_EQ(BytesToHex(bytes, -5), "");

  Key key;
  for (int i = 0; i < 32; ++i) key[i] = static_cast<std::uint8_t>(i * 8 + 7);
  const std::string text = BytesToHex(key.data(), 32);
  ASSERT_EQ(text.size(), 64u);
  Key back = Filled(0);
  EXPECT_EQ(HexToBytes(text, back.data(), 32), 32);
  EXPECT_EQ(back, key);
}

TEST(HexToBytes, OddAndOverlongStoredValues) {
  const std::string hex64 = "00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF";
  // 63 digits: the last digit is the high nibble of byte 31.
  Key key = Filled(0);
  EXPECT_EQ(HexToBytes(hex64.substr(0, 62) + "E", key.data(), 32), 32);
  EXPECT_EQ(key[30], 0xEE);
  EXPECT_EQ(key[31], 0xE0);
  // 70 digits: only the first 64 count, nothing is written past the capacity.
  std::array<std::uint8_t, 36> big;
  big.fill(0x5A);
  EXPECT_EQ(HexToBytes(hex64 + "123456", big.data(), 32), 32);
  EXPECT_EQ(BytesToHex(big.data(), 32), hex64);
  EXPECT_EQ(big[32], 0x5A);
  // "ABC" reads as AB C0; bytes past the result are untouched.
  key = Filled(0x77);
  EXPECT_EQ(HexToBytes("abc", key.data(), 32), 2);
  EXPECT_EQ(key[0], 0xAB);
  EXPECT_EQ(key[1], 0xC0);
  EXPECT_EQ(key[2], 0x77);
}

TEST(HexToBytes, SpacesDroppedOtherBlanksReadAsZero) {
  Key key = Filled(0x77);
  EXPECT_EQ(HexToBytes(" A B  C D ", key.data(), 32), 2);
  EXPECT_EQ(key[0], 0xAB);
  EXPECT_EQ(key[1], 0xCD);
  // A tab is not removed: "A\tB" pads to "A\tB0".
  EXPECT_EQ(HexToBytes("A\tB", key.data(), 32), 2);
  EXPECT_EQ(key[0], 0xA0);
  EXPECT_EQ(key[1], 0xB0);
  EXPECT_EQ(HexToBytes("   ", key.data(), 32), 0);
  EXPECT_EQ(HexToBytes("", key.data(), 32), 0);
}

TEST(HexToBytes, CapacityZeroOrNegativeWritesNothing) {
  Key key = Filled(0x77);
  EXPECT_EQ(HexToBytes("1122", key.data(), 0), 0);
  EXPECT_EQ(HexToBytes("1122", key.data(), -3), 0);
  EXPECT_EQ(HexToBytes("112233", key.data(), 1), 1);
  EXPECT_EQ(key[0], 0x11);
  EXPECT_EQ(key[1], 0x77);
}
