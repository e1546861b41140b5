// A journal's lines about modems, without a run's own start and end lines:
// what the suites count and read back after a run.
#pragma once

#include "production/journal.h"
#include "tests/support/temp_files.h"

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace vorsal::testing {

struct ModemJournalLine {
  std::string text;                           // as written, without its CRLF
  std::map<std::string, std::string> fields;  // by the names of the header before it
};

// Every line the writer makes is one line of text (a field's line break is
// written as a space), so the journal is read line by line: each whole
// record, headers and a run's own lines too, as its text and its fields.
inline std::vector<std::pair<std::string, std::vector<std::string>>> JournalRecords(const std::string& text) {
  std::vector<std::pair<std::string, std::vector<std::string>>> records;
  std::vector<std::string> fields;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 2;
    if (!line.empty() && production::ParseCsvRecord(line, fields)) records.emplace_back(std::move(line), fields);
  }
  return records;
}

inline std::vector<ModemJournalLine> ModemJournalLines(const std::filesystem::path& journal) {
  std::vector<ModemJournalLine> lines;
  std::vector<std::string> header;
  for (auto& [text, fields] : JournalRecords(test::ReadAll(journal))) {
    ModemJournalLine line{std::move(text), {}};
    if (fields[0] == "time") {
      header = fields;
      continue;
    }
    for (std::size_t i = 0; i < fields.size() && i < header.size(); ++i) line.fields[header[i]] = fields[i];
    const std::string& operation = line.fields["operation"];
    if (operation != production::OperationRunStart && operation != production::OperationRunEnd) {
      lines.push_back(std::move(line));
    }
  }
  return lines;
}

// The same lines, each as its fields by name.
inline std::vector<std::map<std::string, std::string>> JournalFields(const std::filesystem::path& journal) {
  std::vector<std::map<std::string, std::string>> lines;
  for (ModemJournalLine& line : ModemJournalLines(journal)) lines.push_back(std::move(line.fields));
  return lines;
}

}  // namespace vorsal::testing
