// Hex conversions and Windows-1251 text on any bytes, against references
// written here: a strict UTF-8 decoder that accepts exactly the well-formed
// byte sequences (by lead byte and the allowed range of each following byte),
// the code page's own table, and positional hex arithmetic.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cp1251_oracle.h"
#include "fuzz_support.h"
#include "keys/cp1251.h"
#include "keys/hex_utils.h"

namespace {

int Digit(char c) {
  const char* digits = "0123456789abcdef";
  for (int d = 0; d < 16; ++d) {
    if (c == digits[d] || (d >= 10 && c == digits[d] - 32)) return d;
  }
  return 0;
}

void CheckCodePage(std::string_view text) {
  // UTF-8 to the code page: taken exactly when well-formed and every
  // character has a byte.
  const std::optional<std::string> expected = fuzz::Cp1251OfUtf8(text);
  std::string error;
  const auto got = vorsal::Utf8ToCp1251(text, &error);
  FUZZ_CHECK(got == expected, got ? "text that has no Windows-1251 form was converted" : "convertible text refused",
             fuzz::Hex(text) + "\n" + error);
  FUZZ_CHECK(got || !error.empty(), "refusal without a reason");
  if (got) FUZZ_CHECK(vorsal::Cp1251ToUtf8(*got) == text, "converted text does not convert back");

  // The code page to UTF-8: every byte has a character, and it goes back.
  std::string utf8;
  for (const char c : text) utf8 += fuzz::EncodeUtf8(fuzz::Cp1251CodePoint(static_cast<std::uint8_t>(c)));
  FUZZ_CHECK(vorsal::Cp1251ToUtf8(text) == utf8, "Windows-1251 bytes convert to the wrong UTF-8", fuzz::Hex(text));
  FUZZ_CHECK(vorsal::Utf8ToCp1251(utf8) == std::string(text), "Windows-1251 bytes do not survive the round trip",
             fuzz::Hex(text));

  // Letter case.
  std::string other;
  for (const char c : text) {
    const auto b = static_cast<std::uint8_t>(c);
    FUZZ_CHECK(vorsal::Cp1251ToUpper(b) == fuzz::Cp1251Capital(b), "wrong capital letter", fuzz::Hex(&b, 1));
    other += static_cast<char>(fuzz::Cp1251Capital(b) != b ? fuzz::Cp1251Capital(b) : fuzz::Cp1251Small(b));
  }
  FUZZ_CHECK(vorsal::Cp1251EqualsIgnoreCase(text, other), "text differs from itself in the other case",
             fuzz::Hex(text));
  const std::string_view a = text.substr(0, text.size() / 2), b = text.substr(text.size() / 2);
  bool same = a.size() == b.size();
  for (std::size_t i = 0; same && i < a.size(); ++i) {
    same = fuzz::Cp1251Capital(static_cast<std::uint8_t>(a[i])) == fuzz::Cp1251Capital(static_cast<std::uint8_t>(b[i]));
  }
  FUZZ_CHECK(vorsal::Cp1251EqualsIgnoreCase(a, b) == same, "case-blind comparison is wrong", fuzz::Hex(text));

  // Blanks at the ends.
  std::size_t first = 0, end = text.size();
  while (first < end && static_cast<std::uint8_t>(text[first]) <= 32) ++first;
  while (end > first && static_cast<std::uint8_t>(text[end - 1]) <= 32) --end;
  const std::string_view trimmed = vorsal::TrimBlanks(text);
  FUZZ_CHECK(trimmed.data() == text.data() + first && trimmed.size() == end - first, "blanks trimmed wrongly",
             fuzz::Hex(text));
}

void CheckHex(std::string_view text, std::uint8_t choice) {
  // The last 16 characters, each at its place value.
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < 16 && i < text.size(); ++i) {
    value |= static_cast<std::uint64_t>(Digit(text[text.size() - 1 - i])) << (4 * i);
  }
  FUZZ_CHECK(static_cast<std::uint64_t>(vorsal::HexToInt(text)) == value, "HexToInt is wrong", fuzz::Hex(text));

  std::string digits;
  for (const char c : text) {
    if (c != ' ') digits += c;
  }
  if (digits.size() % 2) digits += '0';
  const int capacity = choice % 40 - 4;
  const std::size_t n = capacity <= 0 ? 0 : std::min<std::size_t>(digits.size() / 2, capacity);
  std::uint8_t buffer[40];
  std::fill(std::begin(buffer), std::end(buffer), 0xA5);
  FUZZ_CHECK(vorsal::HexToBytes(text, buffer, capacity) == static_cast<int>(n), "HexToBytes gives the wrong count",
             fuzz::Hex(text) + " capacity " + std::to_string(capacity));
  for (std::size_t k = 0; k < 40; ++k) {
    const std::uint8_t want = k < n ? Digit(digits[2 * k]) * 16 + Digit(digits[2 * k + 1]) : 0xA5;
    FUZZ_CHECK(buffer[k] == want, "HexToBytes wrote the wrong bytes",
               fuzz::Hex(text) + " capacity " + std::to_string(capacity) + " byte " + std::to_string(k));
  }

  static const char* const Separators[] = {"", " ", ":", "--"};
  const char* separator = Separators[choice >> 6];
  const int count = (choice & 0x20) ? -static_cast<int>(text.size()) : static_cast<int>(text.size());
  std::string hex;
  char two[3];
  for (int i = 0; i < count; ++i) {
    if (i > 0) hex += separator;
    std::snprintf(two, sizeof two, "%02X", static_cast<std::uint8_t>(text[i]));
    hex += two;
  }
  FUZZ_CHECK(vorsal::BytesToHex(reinterpret_cast<const std::uint8_t*>(text.data()), count, separator) == hex,
             "BytesToHex is wrong", fuzz::Hex(text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  const std::uint8_t choice = in.Byte();
  const std::string_view text = in.Rest();
  CheckCodePage(text);
  CheckHex(text, choice);
  return 0;
}
