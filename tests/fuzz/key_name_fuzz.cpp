// The key-name reader on any bytes: it never quotes the text in a refusal,
// never lets a NUL or a line break through, takes the first line only, and
// gives the same name for the same text in UTF-8, UTF-8 with a byte order
// mark and UTF-16 of either byte order (encoded here, from the strict
// decoder of the oracle header). Unmarked bytes that are not UTF-8 come back
// as themselves, trimmed, only where the code-page fallback is asked for.
#include <cstdint>
#include <set>
#include <string>

#include "cp1251_oracle.h"
#include "fuzz_support.h"
#include "keys/cp1251.h"
#include "keys/key_derivation.h"
#include "keys/key_name_input.h"

namespace {

const std::set<std::string> Reasons = {
    "its UTF-16 text is damaged", "its first line is longer than 4096 bytes", "it holds a NUL character",
    "it has a character that Windows-1251 lacks", "it is not UTF-8 text"};

std::string Utf16(const std::vector<char32_t>& text, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  const auto unit = [&](char32_t u) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += bigEndian ? hi : lo;
    out += bigEndian ? lo : hi;
  };
  for (const char32_t cp : text) {
    if (cp >= 0x10000) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  for (const bool fallback : {false, true}) {
    std::string error;
    const std::optional<std::string> name = vorsal::KeyNameFromLine(bytes, fallback, &error);
    if (!name) {
      FUZZ_CHECK(Reasons.count(error) == 1, "a refusal that is not one of the fixed reasons", error);
      continue;
    }
    FUZZ_CHECK(name->find('\0') == std::string::npos, "a NUL passed", fuzz::Hex(bytes));
    FUZZ_CHECK(name->find('\n') == std::string::npos, "a line break passed", fuzz::Hex(bytes));
    FUZZ_CHECK(vorsal::TrimKeyName(*name) == *name, "the name is not trimmed", fuzz::Hex(bytes));
    FUZZ_CHECK(name->size() < vorsal::KeyNameLineMaxBytes, "a name over the limit", fuzz::Hex(bytes));
  }

  // The first line of unmarked text, as the oracle reads it.
  if (bytes.starts_with("\xEF\xBB\xBF") || bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) return 0;
  std::string line = bytes.substr(0, bytes.find('\n'));
  if (line.size() >= vorsal::KeyNameLineMaxBytes || line.find('\0') != std::string::npos) return 0;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const std::optional<std::vector<char32_t>> decoded = fuzz::DecodeUtf8Strict(line);
  if (!decoded) {
    FUZZ_CHECK(vorsal::KeyNameFromLine(bytes, true) == std::string(vorsal::TrimKeyName(line)),
               "ANSI text is not taken as its own bytes", fuzz::Hex(bytes));
    FUZZ_CHECK(!vorsal::KeyNameFromLine(bytes, false), "text that is not UTF-8 was taken", fuzz::Hex(bytes));
    return 0;
  }
  const std::optional<std::string> expected = fuzz::Cp1251OfUtf8(line);
  const std::optional<std::string> plain = vorsal::KeyNameFromLine(bytes, false);
  FUZZ_CHECK(plain == (expected ? std::optional<std::string>(vorsal::TrimKeyName(*expected)) : std::nullopt),
             "UTF-8 line read wrong", fuzz::Hex(bytes));
  if (line.size() * 2 + 2 >= vorsal::KeyNameLineMaxBytes) return 0;
  FUZZ_CHECK(vorsal::KeyNameFromLine("\xEF\xBB\xBF" + line + "\r\nrest", false) == plain, "UTF-8 with a mark differs",
             fuzz::Hex(bytes));
  for (const bool bigEndian : {false, true}) {
    FUZZ_CHECK(vorsal::KeyNameFromLine(Utf16(*decoded, bigEndian) + Utf16({U'\n', U'x'}, bigEndian).substr(2), false) ==
                   plain,
               bigEndian ? "UTF-16 BE differs from UTF-8" : "UTF-16 LE differs from UTF-8", fuzz::Hex(bytes));
  }
  return 0;
}
