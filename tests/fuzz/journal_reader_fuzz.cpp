// The journal reader on any bytes: the first byte chooses how the text is
// cut into pieces, the rest is the text. The reader must
// - give the same records and the same account of what it skipped whether
//   the text comes whole, byte by byte or in pieces of any length;
// - account for every line of a text without quotes: each is empty, a
//   header, a record or skipped, as a reference written here tells;
// - never hand on more records and skipped lines than the text has lines;
// and a journal that the writer makes of the text's NUL-separated fields (a
// header, then fifteen fields a line) must read back as those records (a
// line break in a field as a space), with nothing skipped.
#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "production/journal.h"

namespace {

using vorsal::production::JournalReader;
using vorsal::production::JournalReading;
using vorsal::production::JournalRecord;

struct Read {
  std::vector<std::vector<std::string>> records;
  JournalReading reading;
};

// Feeds `text` in pieces whose lengths the generator gives (0: whole).
template <typename Lengths>
Read ReadInPieces(std::string_view text, Lengths next) {
  Read read;
  JournalReader reader([&read](JournalRecord& record) { read.records.push_back(vorsal::production::CsvFieldsOf(record)); });
  while (!text.empty()) {
    const std::size_t length = next();
    const std::size_t n = length == 0 ? text.size() : std::min(length, text.size());
    reader.Feed(text.substr(0, n));
    text.remove_prefix(n);
  }
  reader.Finish();
  read.reading = reader.Reading();
  return read;
}

bool SameReading(const JournalReading& a, const JournalReading& b) {
  if (a.records != b.records || a.skipped != b.skipped || a.olderVersion != b.olderVersion ||
      a.headerSeen != b.headerSeen || a.empty != b.empty || a.skippedLines.size() != b.skippedLines.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.skippedLines.size(); ++i) {
    if (a.skippedLines[i].line != b.skippedLines[i].line || a.skippedLines[i].excerpt != b.skippedLines[i].excerpt) {
      return false;
    }
  }
  return true;
}

std::vector<std::string> Split(std::string_view text, char at) {
  std::vector<std::string> parts(1);
  for (const char c : text) {
    if (c == at) parts.emplace_back();
    else parts.back() += c;
  }
  return parts;
}

// A header: "time" first, "result" among the names, every name lower-case
// letters and underscores.
bool IsHeaderLine(const std::vector<std::string>& names) {
  bool result = false;
  for (const std::string& name : names) {
    if (name.empty()) return false;
    for (const char c : name) {
      if (!((c >= 'a' && c <= 'z') || c == '_')) return false;
    }
    result = result || name == "result";
  }
  return names[0] == "time" && result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t cut = data[0];
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

  const Read whole = ReadInPieces(text, [] { return std::size_t{0}; });
  const Read bytes = ReadInPieces(text, [] { return std::size_t{1}; });
  std::uint32_t state = cut * 2654435761u + 1;
  const Read pieces = ReadInPieces(text, [&state] {
    state = state * 1103515245u + 12345u;
    return std::size_t{1} + (state >> 16) % 97;
  });
  for (const Read* other : {&bytes, &pieces}) {
    FUZZ_CHECK(other->records == whole.records, "the records depend on how the text was cut", fuzz::Hex(data, size));
    FUZZ_CHECK(SameReading(other->reading, whole.reading), "what was skipped depends on how the text was cut",
               fuzz::Hex(data, size));
  }
  FUZZ_CHECK(whole.reading.records == static_cast<long long>(whole.records.size()), "records miscounted",
             fuzz::Hex(data, size));

  // Lines: pieces between LFs, the last one even without its LF.
  std::vector<std::string> lines = Split(text, '\n');
  if (lines.back().empty()) lines.pop_back();
  long long nonEmpty = 0;
  for (const std::string& line : lines) nonEmpty += line != "" && line != "\r";
  FUZZ_CHECK(whole.reading.records + whole.reading.skipped <= nonEmpty, "more records and skipped lines than lines",
             fuzz::Hex(data, size));
  long long previous = 0;
  for (const JournalReading::Skipped& skipped : whole.reading.skippedLines) {
    FUZZ_CHECK(skipped.line > previous && skipped.line <= static_cast<long long>(lines.size()),
               "a skipped line named by a number it does not have", fuzz::Hex(data, size));
    previous = skipped.line;
  }
  if (text.find('"') == std::string_view::npos) {
    // Without quotes every line stands alone.
    long long headers = 0, records = 0, skipped = 0;
    std::size_t width = 0;
    for (std::string line : lines) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty()) continue;
      const std::vector<std::string> fields = Split(line, ',');
      if (IsHeaderLine(fields)) {
        ++headers;
        width = fields.size();
      } else if (width != 0 && fields.size() == width) {
        ++records;
      } else {
        ++skipped;
      }
    }
    FUZZ_CHECK(whole.reading.records == records && whole.reading.skipped == skipped &&
                   whole.reading.headerSeen == (headers > 0),
               "a line without quotes read otherwise than it stands", fuzz::Hex(data, size));
  }

  // The writer's journal of the text's fields reads back as written, a
  // line break in a field as a space.
  const std::vector<std::string> fields = Split(text, '\0');
  const std::vector<std::string> names = vorsal::production::CsvHeaderNames();
  std::map<std::string, std::size_t> columns;
  for (std::size_t i = 0; i < names.size(); ++i) columns[names[i]] = i;
  std::string journal = vorsal::production::CsvLine(names);
  std::vector<std::vector<std::string>> written;
  for (std::size_t at = 0; at < fields.size(); at += names.size()) {
    std::vector<std::string> line(names.size());
    for (std::size_t i = 0; i < names.size() && at + i < fields.size(); ++i) line[i] = fields[at + i];
    journal += vorsal::production::CsvLine(
        vorsal::production::CsvFieldsOf(vorsal::production::RecordFromCsv(line, columns)));
    for (std::string& field : line) std::replace(field.begin(), field.end(), '\n', ' ');
    for (std::string& field : line) std::replace(field.begin(), field.end(), '\r', ' ');
    written.push_back(line);
  }
  const Read back = ReadInPieces(journal, [] { return std::size_t{0}; });
  FUZZ_CHECK(back.records == written && back.reading.skipped == 0, "a written journal does not read back as written",
             fuzz::Hex(data, size));
  return 0;
}
