// The two output encoders of vorsal-cli checked against readers written here
// from the formats' rules, not from the encoders: every single byte and
// many random byte strings must read back exactly.
#include "cli/journal.h"
#include "cli/json_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace vorsal::cli {
namespace {

// Strict UTF-8 (RFC 3629): no overlong forms, no surrogates, at most U+10FFFF.
bool ValidUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = b(i);
    std::size_t length;
    char32_t code;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, code = lead & 0x07;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((b(i + k) & 0xC0) != 0x80) return false;
      code = (code << 6) | (b(i + k) & 0x3F);
    }
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

// Reads one JSON string literal (RFC 8259) that makes up all of `json`, back
// into bytes: a lone \uDC80..\uDCFF stands for the byte 0x80..0xFF, as the
// encoder documents; other characters become UTF-8. Nothing when the text
// is no such literal (an unescaped control character, a bad escape, ...).
std::optional<std::string> ReadJsonString(const std::string& json) {
  if (json.size() < 2 || json.front() != '"' || json.back() != '"') return std::nullopt;
  std::string bytes;
  const auto utf8 = [&](char32_t c) {
    if (c < 0x80) {
      bytes += static_cast<char>(c);
    } else if (c < 0x800) {
      bytes += static_cast<char>(0xC0 | (c >> 6));
      bytes += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      bytes += static_cast<char>(0xE0 | (c >> 12));
      bytes += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      bytes += static_cast<char>(0x80 | (c & 0x3F));
    }
  };
  for (std::size_t i = 1; i + 1 < json.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(json[i]);
    if (c < 0x20 || c == '"') return std::nullopt;
    if (c != '\\') {
      bytes += static_cast<char>(c);
      continue;
    }
    if (++i + 1 >= json.size()) return std::nullopt;
    const std::string simple = "\"\\/bfnrt";
    const std::string meaning = "\"\\/\b\f\n\r\t";
    if (const auto at = simple.find(json[i]); at != std::string::npos) {
      bytes += meaning[at];
      continue;
    }
    if (json[i] != 'u' || i + 4 > json.size() - 2) return std::nullopt;
    const std::string hex = json.substr(i + 1, 4);
    if (hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return std::nullopt;
    const char32_t code = static_cast<char32_t>(std::stoul(hex, nullptr, 16));
    i += 4;
    if (code >= 0xDC80 && code <= 0xDCFF) {
      bytes += static_cast<char>(code - 0xDC00);
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      return std::nullopt;  // the encoder writes no other surrogate
    } else {
      utf8(code);
    }
  }
  return bytes;
}

// Reads one CSV record (RFC 4180) ending in CRLF: unquoted fields hold no
// quote, CR or LF; quoted fields double their quotes. Nothing when the line
// breaks those rules.
std::optional<std::vector<std::string>> ReadCsvRecord(const std::string& line) {
  if (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0) return std::nullopt;
  const std::string body = line.substr(0, line.size() - 2);
  std::vector<std::string> fields;
  std::size_t i = 0;
  for (;;) {
    std::string field;
    if (i < body.size() && body[i] == '"') {
      for (++i;; ++i) {
        if (i >= body.size()) return std::nullopt;
        if (body[i] != '"') {
          field += body[i];
        } else if (i + 1 < body.size() && body[i + 1] == '"') {
          field += '"';
          ++i;
        } else {
          ++i;
          break;
        }
      }
    } else {
      while (i < body.size() && body[i] != ',') {
        if (body[i] == '"' || body[i] == '\r' || body[i] == '\n') return std::nullopt;
        field += body[i++];
      }
    }
    fields.push_back(field);
    if (i == body.size()) return fields;
    if (body[i] != ',') return std::nullopt;
    ++i;
  }
}

// Every single byte, then random strings weighted towards the bytes the
// formats treat specially.
std::vector<std::string> Samples() {
  std::vector<std::string> samples;
  for (int b = 0; b < 256; ++b) samples.push_back("a" + std::string(1, static_cast<char>(b)) + "z");
  const std::string special = "\"\\,\r\n\t\x1f\x20\x7f\x80\xbf\xc0\xd0\xe0\xed\xef\xf0\xf4\xff";
  std::mt19937 random(20261207);
  for (int n = 0; n < 2000; ++n) {
    std::string text;
    const int length = static_cast<int>(random() % 12);
    for (int k = 0; k < length; ++k) {
      text += random() % 2 ? special[random() % special.size()] : static_cast<char>(random() % 256);
    }
    samples.push_back(text);
  }
  samples.push_back("Ключ «Север» €");
  return samples;
}

TEST(JsonStringAgainstAReader, EveryByteStringReadsBackFromValidUtf8) {
  for (const std::string& text : Samples()) {
    const std::string json = JsonString(text);
    EXPECT_TRUE(ValidUtf8(json)) << json;
    EXPECT_EQ(ReadJsonString(json), text) << json;
  }
  // Well-formed UTF-8 stays as it is; a path that is not UTF-8 is escaped.
  EXPECT_EQ(JsonString("/dev/Порт"), "\"/dev/Порт\"");
  EXPECT_EQ(JsonString("/tmp/\xCF\xEE\xF0\xF2"), "\"/tmp/\\udccf\\udcee\\udcf0\\udcf2\"");
}

TEST(CsvLineAgainstAReader, EveryFieldReadsBack) {
  const std::vector<std::string> samples = Samples();
  for (std::size_t i = 0; i + 2 < samples.size(); i += 3) {
    const std::vector<std::string> fields = {samples[i], samples[i + 1], samples[i + 2]};
    const std::string line = CsvLine(fields);
    EXPECT_EQ(ReadCsvRecord(line), fields) << line;
  }
}

}  // namespace
}  // namespace vorsal::cli
