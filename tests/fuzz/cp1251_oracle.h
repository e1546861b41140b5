// Windows-1251 and UTF-8 as the system's own codecs know them, the fuzz
// oracles' second opinion on the program's tables: the C library's iconv
// gives the code point of every byte and reads UTF-8, and the C.UTF-8
// locale's towupper gives the capital letters. The one agreed difference:
// 0x98 has no character in the code page, and the program carries it as
// U+0098.
#pragma once

#include <iconv.h>

#include <array>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fuzz {

// `text` converted by iconv from one encoding to another; nullopt when
// iconv refuses any of it (ill-formed or without a form in `to`).
inline std::optional<std::string> Iconv(const char* to, const char* from, std::string_view text) {
  // Opened once each and never closed: the map outlives the static
  // destructors, so that a leak check at exit still finds the codecs.
  static auto& codecs = *new std::map<std::pair<std::string, std::string>, iconv_t>;
  iconv_t& codec = codecs[{to, from}];
  if (codec == nullptr) codec = iconv_open(to, from);
  if (codec == reinterpret_cast<iconv_t>(-1)) std::abort();  // the C library lacks the code page
  iconv(codec, nullptr, nullptr, nullptr, nullptr);          // a fresh start
  std::string in(text);
  std::string out(text.size() * 4 + 4, '\0');
  char* inAt = in.data();
  std::size_t inLeft = in.size();
  char* outAt = out.data();
  std::size_t outLeft = out.size();
  const std::size_t done = iconv(codec, &inAt, &inLeft, &outAt, &outLeft);
  if (done == static_cast<std::size_t>(-1) || inLeft != 0) return std::nullopt;
  out.resize(out.size() - outLeft);
  return out;
}

inline std::vector<char32_t> FromUtf32(const std::string& bytes) {
  std::vector<char32_t> cps(bytes.size() / 4);
  if (!cps.empty()) std::memcpy(cps.data(), bytes.data(), cps.size() * 4);
  return cps;
}

// The code point of every byte of the code page.
inline char32_t Cp1251CodePoint(std::uint8_t byte) {
  static const auto table = [] {
    std::array<char32_t, 256> points{};
    for (int b = 0; b < 256; ++b) {
      const std::optional<std::string> utf32 = Iconv("UTF-32LE", "CP1251", std::string(1, static_cast<char>(b)));
      points[b] = utf32 ? FromUtf32(*utf32).at(0) : static_cast<char32_t>(b);  // 0x98: U+0098
    }
    return points;
  }();
  return table[byte];
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

// The capital of a byte: the locale's capital of its character, where the
// code page has that capital.
inline std::uint8_t Cp1251Capital(std::uint8_t byte) {
  static const auto table = [] {
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) std::abort();
    std::array<std::uint8_t, 256> capitals{};
    for (int b = 0; b < 256; ++b) {
      const int capital = Cp1251ByteOf(static_cast<char32_t>(
          std::towupper(static_cast<std::wint_t>(Cp1251CodePoint(static_cast<std::uint8_t>(b))))));
      capitals[b] = static_cast<std::uint8_t>(capital < 0 ? b : capital);
    }
    return capitals;
  }();
  return table[byte];
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

// The code points of well-formed UTF-8, or nullopt.
inline std::optional<std::vector<char32_t>> DecodeUtf8Strict(std::string_view text) {
  const std::optional<std::string> utf32 = Iconv("UTF-32LE", "UTF-8", text);
  if (!utf32) return std::nullopt;
  return FromUtf32(*utf32);
}

inline std::string EncodeUtf8(char32_t cp) {
  std::string utf32(4, '\0');
  std::memcpy(utf32.data(), &cp, 4);
  const std::optional<std::string> utf8 = Iconv("UTF-8", "UTF-32LE", utf32);
  if (!utf8) std::abort();
  return *utf8;
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
