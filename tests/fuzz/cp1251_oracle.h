// Windows-1251 as the fuzz oracles know it, written from the code page's
// published table: the code point of every byte, and the capital/small letter
// pairs of its Latin and Cyrillic alphabets.
#pragma once

#include <array>
#include <cstdint>

namespace fuzz {

// Code points of bytes 0x80..0xBF (0xC0..0xFF are А..я in order). 0x98 has
// no character in the code page; the program carries it as U+0098.
inline constexpr char32_t Cp1251High[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

inline char32_t Cp1251CodePoint(std::uint8_t byte) {
  if (byte < 0x80) return byte;
  if (byte >= 0xC0) return 0x0410 + (byte - 0xC0);  // А..я in alphabetical order
  return Cp1251High[byte - 0x80];
}

// The capital of a byte, by the letter pairs of the code page.
inline std::uint8_t Cp1251Capital(std::uint8_t byte) {
  if (byte >= 'a' && byte <= 'z') return static_cast<std::uint8_t>(byte - 32);
  if (byte >= 0xE0) return static_cast<std::uint8_t>(byte - 32);  // а..я
  // Small letter, capital: ђЂ ѓЃ љЉ њЊ ќЌ ћЋ џЏ ўЎ јЈ ґҐ ёЁ єЄ їЇ іІ ѕЅ.
  static constexpr std::uint8_t Pairs[][2] = {
      {0x90, 0x80}, {0x83, 0x81}, {0x9A, 0x8A}, {0x9C, 0x8C}, {0x9D, 0x8D}, {0x9E, 0x8E},
      {0x9F, 0x8F}, {0xA2, 0xA1}, {0xBC, 0xA3}, {0xB4, 0xA5}, {0xB8, 0xA8}, {0xBA, 0xAA},
      {0xBF, 0xAF}, {0xB3, 0xB2}, {0xBE, 0xBD},
  };
  for (const auto& pair : Pairs) {
    if (byte == pair[0]) return pair[1];
  }
  return byte;
}

// The small letter of a capital (the reverse of Cp1251Capital), else the byte.
inline std::uint8_t Cp1251Small(std::uint8_t byte) {
  static const auto small = [] {
    std::array<std::uint8_t, 256> table;
    for (int b = 0; b < 256; ++b) table[b] = static_cast<std::uint8_t>(b);
    for (int b = 0; b < 256; ++b) table[Cp1251Capital(static_cast<std::uint8_t>(b))] = static_cast<std::uint8_t>(b);
    return table;
  }();
  return small[byte];
}

}  // namespace fuzz
