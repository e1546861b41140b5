// vorsal-cli's output encoders read back by readers that share none of their
// code: every byte, and random byte strings, must come back unchanged.
#include "production/journal.h"
#include "cli/json_text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringDecoder>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <regex>

namespace vorsal::cli {
namespace {

using production::CsvField;
using production::CsvLine;

std::vector<std::string> Samples() {
  std::vector<std::string> samples;
  for (int b = 0; b < 256; ++b) samples.push_back("a" + std::string(1, static_cast<char>(b)) + "z");
  std::mt19937 random(20261207);
  for (int n = 0; n < 1500; ++n) {
    samples.emplace_back(random() % 10, '\0');
    for (char& c : samples.back()) c = static_cast<char>(random());
  }
  return samples;
}

// An RFC 4180 record ending in CRLF; nothing when the line breaks the rules
// (a quote, CR or LF in an unquoted field, text after a closing quote).
std::optional<std::vector<std::string>> ReadCsvRecord(const std::string& line) {
  const std::regex field(R"re(("(?:[^"]|"")*"|[^",\r\n]*)(,|\r\n$))re");
  std::vector<std::string> fields;
  std::smatch match;
  for (auto at = line.cbegin(); std::regex_search(at, line.cend(), match, field, std::regex_constants::match_continuous);) {
    const std::string text = match[1];
    fields.push_back(text[0] == '"' ? std::regex_replace(text.substr(1, text.size() - 2), std::regex("\"\""), "\"") : text);
    if (match[2] != ",") return fields;
    at = match[0].second;
  }
  return std::nullopt;
}

// JSON text with no raw control character (RFC 8259), valid UTF-8, read by
// Qt's parser; a lone U+DC80..U+DCFF stands for the byte 0x80..0xFF.
TEST(Encoders, JsonStringReadsBackThroughAJsonParser) {
  for (const std::string& text : Samples()) {
    const std::string json = JsonString(text);
    ASSERT_EQ(std::count_if(json.begin(), json.end(), [](char c) { return (c & 0xE0) == 0; }), 0) << json;
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decoded = utf8(QByteArrayView(json.data(), static_cast<qsizetype>(json.size())));
    ASSERT_FALSE(utf8.hasError()) << json;
    const QString value = QJsonDocument::fromJson(("[" + decoded + "]").toUtf8()).array().at(0).toString();
    std::string bytes;
    for (qsizetype i = 0, from = 0; i <= value.size(); ++i) {
      const char16_t u = i < value.size() ? value[i].unicode() : 0xDC00;
      if (u < 0xDC00 || u > 0xDCFF || (i > 0 && value[i - 1].isHighSurrogate())) continue;
      bytes += value.mid(from, i - from).toStdString() + (u > 0xDC00 ? std::string(1, char(u - 0xDC00)) : "");
      from = i + 1;
    }
    EXPECT_EQ(bytes, text) << json;
  }
}

TEST(Encoders, CsvLineReadsBackThroughARecordReader) {
  const std::vector<std::string> s = Samples();
  for (std::size_t i = 0; i + 2 < s.size(); i += 3) {
    const std::vector<std::string> fields = {s[i], s[i + 1], s[i + 2]};
    EXPECT_EQ(ReadCsvRecord(CsvLine(fields)), fields) << CsvLine(fields);
  }
}

}  // namespace
}  // namespace vorsal::cli
