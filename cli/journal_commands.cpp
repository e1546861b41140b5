// journal and report: the runs of the journal (or of every station in the
// registry), the lines a filter keeps, their export, and the supervisor's
// report.
#include "cli/command_context.h"
#include "cli/port_wording.h"
#include "platform/files.h"
#include "platform/process.h"
#include "production/report.h"

#include <cstdio>
#include <utility>
#include <vector>

namespace vorsal::cli {

using namespace vorsal::production;

namespace {

// Whether journal and report read the registry: with --registry, or with
// VORSAL_REGISTRY and no --journal.
bool UsesRegistry(const CliOptions& options) {
  return !options.registry.empty() || (options.journal.empty() && !RegistryLink::Target("").empty());
}

bool Filtered(const CliOptions& options) {
  return options.since || options.until || !options.runId.empty() || !options.station.empty();
}

ReportFilter FilterOf(const CliOptions& options) {
  ReportFilter filter;
  filter.since = options.since;
  filter.until = options.until;
  filter.runId = options.runId;
  filter.station = options.station;
  return filter;
}

// What the reading of a journal met, said on standard error; a file that is
// not a journal is refused.
int SayReading(CommandContext& c, const std::string& name, const JournalReading& reading) {
  if (reading.NotAJournal()) {
    return c.output.Fail(ExitStoreFailed, PrintableText(NotAJournal(name)));
  }
  if (reading.skipped > 0) {
    std::string lines;
    for (std::size_t i = 0; i < reading.skippedLines.size() && i < 5; ++i) {
      lines += (i ? ", " : " (line ") + std::to_string(reading.skippedLines[i].line);
    }
    if (!lines.empty()) lines += static_cast<std::size_t>(reading.skipped) > 5 ? ", ...)" : ")";
    c.output.Say("warning: skipped " + std::to_string(reading.skipped) + " torn or foreign line(s) of " +
                 PrintableText(name) + lines);
  }
  if (reading.olderVersion) {
    c.output.Say("note: part of " + PrintableText(name) +
                 " was written by an earlier version; its lines may lack the run, adapter or footprint");
  }
  return ExitOk;
}

// Where there is no journal yet, nothing has been journaled: not a failure.
void SayNoJournal(CommandContext& c, const std::filesystem::path& file) {
  c.output.Say("no journal yet (" + PrintableText(platform::Utf8FromPath(file)) + ")");
}

// The lines of the journal, or of every station in the registry; says what
// it had to skip.
int ReadLines(CommandContext& c, ReportSource& source) {
  std::string error;
  if (UsesRegistry(c.options)) {
    if (const int status = c.OpenRegistry(RegistryLink::Use::Read); status != ExitOk) return status;
    std::vector<JournalRecord> records;
    if (!c.registry.Records(records, error)) return c.output.Fail(ExitStoreFailed, error);
    source.name = c.registry.Describe();
    source.fromRegistry = true;
    source.lines.reserve(records.size());
    for (JournalRecord& record : records) source.lines.push_back(ReportLineOf(std::move(record)));
    return ExitOk;
  }
  const std::filesystem::path file = c.JournalPath();
  if (file.empty()) return c.output.Fail(ExitStoreFailed, std::string(wording::NoDataDirectory));
  bool missing = false;
  if (!ReadJournalLines(file, source, &error, &missing)) return c.output.Fail(ExitStoreFailed, PrintableText(error));
  if (missing) SayNoJournal(c, file);
  return SayReading(c, source.name, source);
}

// The chosen lines themselves: to standard output or to -o FILE.
int ExportLines(CommandContext& c, const std::vector<ReportLine>& lines) {
  const std::string text = JournalText(lines, c.options.spreadsheet);
  if (c.options.output.empty()) {
    c.output.Out() << std::flush;
    platform::UseBinaryStandardOutput();
    c.output.Out() << text << std::flush;
    return ExitOk;
  }
  std::string error;
  if (!WriteOutputFile(platform::PathFromUtf8(c.options.output), text, error)) {
    return c.output.Fail(ExitOutputFailed, error);
  }
  return ExitOk;
}

void PrintRun(CommandContext& c, const RunSummary& run) {
  JsonObject json;
  json.Add("run_id", run.runId).Add("started", run.started).Add("operator", run.operatorName);
  json.Add("host", run.host).Add("done", run.done).Add("failed", run.failed).Add("skipped", run.skipped);
  json.Add("refused", run.refused).Add("interrupted", run.interrupted).Add("lines", run.lines);
  std::string range;
  if (run.lowestAddress >= 0) {
    json.Add("lowest_address", run.lowestAddress).Add("highest_address", run.highestAddress);
    range = ", addresses " + std::to_string(run.lowestAddress) + "-" + std::to_string(run.highestAddress);
  }
  json.Add("seconds", static_cast<int>(run.seconds));
  if (!run.endReason.empty()) json.Add("ended", run.ended).Add("end_reason", run.endReason);
  char duration[32];
  std::snprintf(duration, sizeof duration, "%lld:%02lld:%02lld", run.seconds / 3600, run.seconds / 60 % 60,
                run.seconds % 60);
  std::string text = PrintableText(run.started) + "  run " +
                     (run.runId.empty() ? "(earlier journal)" : PrintableText(run.runId)) + "  " +
                     (run.operatorName.empty() ? "?" : PrintableText(run.operatorName)) + "@" +
                     (run.host.empty() ? "?" : PrintableText(run.host)) + "  modems: done " +
                     std::to_string(run.done) + ", failed " + std::to_string(run.failed) + ", skipped " +
                     std::to_string(run.skipped) + range + ", " + duration;
  if (!run.endReason.empty()) text += ", ended: " + PrintableText(run.endReason);
  c.output.Result(json, text);
}

}  // namespace

// The local journal's runs; with --registry (or VORSAL_REGISTRY without
// --journal), every station's runs in the registry. With a filter, the runs
// of the lines it keeps; with --csv or --spreadsheet, those lines themselves.
int RunJournal(CommandContext& c) {
  std::string error;
  if (Filtered(c.options) || c.options.csv) {
    ReportSource source;
    if (const int status = ReadLines(c, source); status != ExitOk) return status;
    const std::vector<ReportLine> lines = FilterLines(source.lines, FilterOf(c.options));
    if (c.options.csv) return ExportLines(c, lines);
    if (lines.empty() && !source.lines.empty()) c.output.Say("no journal lines in the period chosen");
    for (const RunSummary& run : SummarizeRuns(std::vector<JournalRecord>(lines.begin(), lines.end()))) {
      PrintRun(c, run);
    }
    return ExitOk;
  }
  if (UsesRegistry(c.options)) {
    std::vector<RunSummary> runs;
    if (const int status = c.OpenRegistry(RegistryLink::Use::Read); status != ExitOk) return status;
    if (!c.registry.Summary(runs, error)) return c.output.Fail(ExitStoreFailed, error);
    for (const RunSummary& run : runs) PrintRun(c, run);
    return ExitOk;
  }
  // The local journal, read as it streams: each run is printed once it has
  // ended, so memory stays flat whatever the journal's length.
  const std::filesystem::path file = c.JournalPath();
  if (file.empty()) return c.output.Fail(ExitStoreFailed, std::string(wording::NoDataDirectory));
  JournalReading reading;
  RunTally tally([&c](const RunSummary& run) { PrintRun(c, run); });
  switch (ReadJournal(file, [&tally](JournalRecord& record) { tally.Add(record); }, reading, &error)) {
    case JournalFile::Read: break;
    case JournalFile::Missing: SayNoJournal(c, file); return ExitOk;
    case JournalFile::Failed: return c.output.Fail(ExitStoreFailed, PrintableText(error));
  }
  if (reading.NotAJournal()) return SayReading(c, platform::Utf8FromPath(file), reading);
  tally.Finish();
  return SayReading(c, platform::Utf8FromPath(file), reading);
}

int RunReport(CommandContext& c) {
  ReportSource source;
  if (const int status = ReadLines(c, source); status != ExitOk) return status;
  const std::vector<ReportLine> lines = FilterLines(source.lines, FilterOf(c.options));
  if (lines.empty()) {
    c.output.Say(source.lines.empty() ? "warning: the journal holds no lines: the report says so"
                                      : "warning: no journal lines in the period chosen: the report says so");
  }
  const std::string html =
      BuildReport(source, lines, {c.options.sinceText, c.options.untilText, c.options.runId, c.options.station},
                  LocalTimestamp());
  std::string error;
  if (!WriteOutputFile(platform::PathFromUtf8(c.options.output), html, error)) {
    return c.output.Fail(ExitOutputFailed, error);
  }
  c.output.Result(JsonObject().Add("report", c.options.output).Add("lines", static_cast<int>(lines.size()))
                      .Add("skipped", source.skipped),
                  "report " + c.options.output + ": " + std::to_string(lines.size()) + " journal line(s)");
  return ExitOk;
}

}  // namespace vorsal::cli
