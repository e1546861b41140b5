// Windows-1251 as the fuzz oracles know it, written from the code page's
// published table: the code point of every byte, the capital/small letter
// pairs of its Latin and Cyrillic alphabets, and a strict UTF-8 reader.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// The code points of well-formed UTF-8, or nullopt: accepts exactly the
// well-formed byte sequences, by lead byte and the allowed range of each
// following byte.
inline std::optional<std::vector<char32_t>> DecodeUtf8Strict(std::string_view text) {
  std::vector<char32_t> out;
  std::size_t i = 0;
  const auto at = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
  while (i < text.size()) {
    const std::uint8_t b = at(i);
    std::size_t length;
    std::uint8_t low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (b <= 0x7F) {
      out.push_back(b);
      ++i;
      continue;
    } else if (b >= 0xC2 && b <= 0xDF) {
      length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3;
      if (b == 0xE0) low = 0xA0;
      if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4;
      if (b == 0xF0) low = 0x90;
      if (b == 0xF4) high = 0x8F;
    } else {
      return std::nullopt;
    }
    if (i + length > text.size()) return std::nullopt;
    if (at(i + 1) < low || at(i + 1) > high) return std::nullopt;
    for (std::size_t k = 2; k < length; ++k) {
      if (at(i + k) < 0x80 || at(i + k) > 0xBF) return std::nullopt;
    }
    char32_t cp = b & (0xFF >> (length + 1));
    for (std::size_t k = 1; k < length; ++k) cp = cp * 64 + (at(i + k) & 0x3F);
    out.push_back(cp);
    i += length;
  }
  return out;
}

inline std::string EncodeUtf8(char32_t cp) {
  std::string s;
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xC0 + cp / 64);
    s += static_cast<char>(0x80 + cp % 64);
  } else {
    s += static_cast<char>(0xE0 + cp / 4096);
    s += static_cast<char>(0x80 + cp / 64 % 64);
    s += static_cast<char>(0x80 + cp % 64);
  }
  return s;
}

// The byte of a code point, or -1 when the code page has none.
inline int Cp1251ByteOf(char32_t cp) {
  static const auto bytes = [] {
    std::map<char32_t, int> map;
    for (int b = 0; b < 256; ++b) map[Cp1251CodePoint(static_cast<std::uint8_t>(b))] = b;
    return map;
  }();
  const auto it = bytes.find(cp);
  return it == bytes.end() ? -1 : it->second;
}

// Windows-1251 bytes of UTF-8 text: only well-formed text whose every
// character has a byte; nullopt otherwise.
inline std::optional<std::string> Cp1251OfUtf8(std::string_view text) {
  const auto cps = DecodeUtf8Strict(text);
  if (!cps) return std::nullopt;
  std::string bytes;
  for (const char32_t cp : *cps) {
    const int b = Cp1251ByteOf(cp);
    if (b < 0) return std::nullopt;
    bytes += static_cast<char>(b);
  }
  return bytes;
}

}  // namespace fuzz
