// The supervisor's production report: one self-contained HTML page built
// from journal lines (a station's journal or the shared registry). It holds
// the totals per day, run, station, operator and adapter, the failure
// reasons ranked, three charts (modems per hour per station, time per
// modem, failure rate per adapter), the address plan of each network and
// each modem's history. Charts are inline SVG, the page loads nothing from
// anywhere (its content policy forbids it) and prints on A4. Every text that
// comes from a journal is escaped: a journal is untrusted input.
#pragma once

#include "production/journal.h"
#include "production/journal_record.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorsal::production {

// One journal line as the report reads it: the record, and its time as a
// moment (none when it cannot be read).
struct ReportLine : JournalRecord {
  std::optional<long long> at;
};
ReportLine ReportLineOf(JournalRecord record);

// The lines of a journal or a registry, and what the reader could not use
// (torn or foreign lines: how many, and the first few of them).
struct ReportSource : JournalReading {
  std::string name;  // the journal's path or the registry's description
  bool fromRegistry = false;
  std::vector<ReportLine> lines;
};

// Reads a journal's lines for the report and for journal's filters and
// exports, through the journal's one reader. False with `error` set when the
// file cannot be read or is not a journal; a missing file is one too, unless
// `missing` is given: then true, with no lines, and *missing set.
bool ReadJournalLines(const std::filesystem::path& file, ReportSource& source, std::string* error,
                      bool* missing = nullptr);

// The lines as a journal holds them: the current header, then one line
// each. For a spreadsheet set to a Russian locale: a byte order mark,
// semicolons, and a field that a spreadsheet would take for a formula
// prefixed with an apostrophe.
std::string JournalText(const std::vector<ReportLine>& lines, bool spreadsheet = false);

// Which lines a report (or `vorsal-cli journal`) covers. Bounds are
// inclusive; a line whose time cannot be read is outside any bound.
struct ReportFilter {
  std::optional<long long> since, until;  // seconds since 1970
  std::string runId;                      // empty: every run
  std::string station;                    // the host; empty: every station
  bool Matches(const ReportLine& line) const;
  bool Any() const { return since || until || !runId.empty() || !station.empty(); }
};

// The lines of `source` that `filter` lets through, in their order.
std::vector<ReportLine> FilterLines(const std::vector<ReportLine>& lines, const ReportFilter& filter);

// Texts of the filter for the report's heading ("с ... по ...", run, station),
// as the user gave them.
struct FilterWording {
  std::string since, until, runId, station;
};

// Builds the page. `generatedAt` is the local time of the build with its
// offset. The history lists at most `historyLimit` lines (the newest
// modems first) and says how many it left out.
std::string BuildReport(const ReportSource& source, const std::vector<ReportLine>& lines, const FilterWording& filter,
                        const std::string& generatedAt, std::size_t historyLimit = 10000);

// Writes an output file (the report, an export) atomically: a temporary
// file renamed over `file`, so a reader never sees half of it. False with
// `error` set on failure.
bool WriteOutputFile(const std::filesystem::path& file, std::string_view bytes, std::string& error);

// `text` made safe for HTML text and attribute values: bytes that are not
// UTF-8 and control characters become U+FFFD, and & < > " ' are escaped.
std::string HtmlText(std::string_view text);

}  // namespace vorsal::production
