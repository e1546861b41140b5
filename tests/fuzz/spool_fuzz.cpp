// The spool's line format on any bytes: the first byte chooses how many
// fields a line must hold, the rest is the file's text. The decoder must
// agree, line for line and in what it counts unreadable, with a reference
// written here (split at LF; fields at unescaped tabs; only \\, \t, \r and
// \n escapes; a line starting with '@' has one field more, naming its
// registry by a non-empty identity up to the first space; the line id that
// follows is not empty; a last line without its LF is cut short), and every
// line it keeps must encode to a line that decodes back to it, so a line
// kept again is sent as it was, to the same registry.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "registry/spool.h"

namespace {

using Row = vorsal::registry::Row;
using KeptLine = vorsal::registry::KeptLine;

std::optional<Row> ReferenceFields(std::string_view text, std::size_t fields) {
  Row row(1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\t') {
      row.emplace_back();
      continue;
    }
    if (text[i] != '\\') {
      row.back() += text[i];
      continue;
    }
    if (i + 1 == text.size()) return std::nullopt;
    switch (text[++i]) {
      case '\\': row.back() += '\\'; break;
      case 't': row.back() += '\t'; break;
      case 'r': row.back() += '\r'; break;
      case 'n': row.back() += '\n'; break;
      default: return std::nullopt;
    }
  }
  if (row.size() != fields || row.front().empty()) return std::nullopt;
  return row;
}

std::optional<KeptLine> ReferenceLine(std::string_view text, std::size_t fields) {
  const bool named = !text.empty() && text[0] == '@';
  std::optional<Row> row = ReferenceFields(text, fields + (named ? 1 : 0));
  if (!row) return std::nullopt;
  KeptLine line;
  if (named) {
    const std::string registry = row->front().substr(1);
    row->erase(row->begin());
    const std::size_t space = registry.find(' ');
    line.registryId = registry.substr(0, space);
    if (space != std::string::npos) line.registryName = registry.substr(space + 1);
    if (line.registryId.empty() || row->front().empty()) return std::nullopt;
  }
  line.fields = std::move(*row);
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t fields = 1 + data[0] % 16;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

  std::vector<KeptLine> expected;
  int expectedUnreadable = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) {
      ++expectedUnreadable;
      break;
    }
    const std::string_view line = text.substr(at, end - at);
    if (std::optional<KeptLine> row = ReferenceLine(line, fields)) {
      expected.push_back(std::move(*row));
    } else {
      ++expectedUnreadable;
    }
    at = end + 1;
  }

  int unreadable = -1;
  const std::vector<KeptLine> lines = vorsal::registry::DecodeLines(text, fields, unreadable);
  FUZZ_CHECK(unreadable == expectedUnreadable, "unreadable lines miscounted", fuzz::Hex(data, size));
  FUZZ_CHECK(lines == expected, "lines decoded otherwise than the format says", fuzz::Hex(data, size));
  for (const KeptLine& line : lines) {
    int none = -1;
    const std::vector<KeptLine> again = vorsal::registry::DecodeLines(vorsal::registry::EncodeLine(line), fields, none);
    FUZZ_CHECK(again.size() == 1 && again[0] == line && none == 0, "a kept line does not survive its encoding",
               fuzz::Hex(data, size));
  }
  return 0;
}
