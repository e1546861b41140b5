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
  if (!ReadJournalLines(file, source, &error)) return c.output.Fail(ExitStoreFailed, error);
  if (source.lines.empty() && source.skipped > 0) {
    c.output.Say("warning: " + source.name + " does not look like a journal: none of its " +
                 std::to_string(source.skipped) + " line(s) could be read");
  } else if (source.skipped > 0) {
    c.output.Say("warning: skipped " + std::to_string(source.skipped) + " torn or foreign line(s) of " +
                 source.name);
  }
  if (source.olderVersion) {
    c.output.Say("note: part of " + source.name + " was written by an earlier version; its lines may lack the run, "
                 "adapter or footprint");
  }
  return ExitOk;
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

void PrintRuns(CommandContext& c, const std::vector<RunSummary>& runs) {
  for (const RunSummary& run : runs) {
    JsonObject json;
    json.Add("run_id", run.runId).Add("started", run.started).Add("operator", run.operatorName);
    json.Add("host", run.host).Add("done", run.done).Add("failed", run.failed).Add("skipped", run.skipped);
    std::string range = "none";
    if (run.lowestAddress >= 0) {
      json.Add("lowest_address", run.lowestAddress).Add("highest_address", run.highestAddress);
      range = std::to_string(run.lowestAddress) + "-" + std::to_string(run.highestAddress);
    }
    json.Add("seconds", static_cast<int>(run.seconds));
    char duration[32];
    std::snprintf(duration, sizeof duration, "%lld:%02lld:%02lld", run.seconds / 3600, run.seconds / 60 % 60,
                  run.seconds % 60);
    c.output.Result(json, run.started + "  run " + (run.runId.empty() ? "(earlier journal)" : run.runId) + "  " +
                              (run.operatorName.empty() ? "?" : run.operatorName) + "@" +
                              (run.host.empty() ? "?" : run.host) + "  done " + std::to_string(run.done) +
                              ", failed " + std::to_string(run.failed) + ", skipped " + std::to_string(run.skipped) +
                              ", addresses " + range + ", " + duration);
  }
}

}  // namespace

// The local journal's runs; with --registry (or VORSAL_REGISTRY without
// --journal), every station's runs in the registry. With a filter, the runs
// of the lines it keeps; with --csv or --spreadsheet, those lines themselves.
int RunJournal(CommandContext& c) {
  std::vector<RunSummary> runs;
  std::string text, error;
  if (Filtered(c.options) || c.options.csv) {
    ReportSource source;
    if (const int status = ReadLines(c, source); status != ExitOk) return status;
    const std::vector<ReportLine> lines = FilterLines(source.lines, FilterOf(c.options));
    if (c.options.csv) return ExportLines(c, lines);
    if (lines.empty()) c.output.Say("no journal lines in the period chosen");
    runs = SummarizeRuns(std::vector<JournalRecord>(lines.begin(), lines.end()));
  } else if (UsesRegistry(c.options)) {
    if (const int status = c.OpenRegistry(RegistryLink::Use::Read); status != ExitOk) return status;
    if (!c.registry.Summary(runs, error)) return c.output.Fail(ExitStoreFailed, error);
  } else {
    const std::filesystem::path file = c.JournalPath();
    if (file.empty()) return c.output.Fail(ExitStoreFailed, std::string(wording::NoDataDirectory));
    if (!ReadJournalFile(file, text, &error)) return c.output.Fail(ExitStoreFailed, error);
    runs = SummarizeJournal(text);
  }
  PrintRuns(c, runs);
  return ExitOk;
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
