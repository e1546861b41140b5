// One journal line: what an operation did to one modem. The field table
// below is the only place a field is declared; the CSV journal's header and
// lines, the registry's columns and rows and the registry's spool file are
// all read and written through it, and both summaries of runs (of a local
// journal and of the registry) are counted by one rule.
#pragma once

#include <array>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorsal::production {

// Results a line may carry.
constexpr std::string_view ResultOk = "ok";
constexpr std::string_view ResultFailed = "failed";
constexpr std::string_view ResultRefused = "refused";  // the modem cannot do what was asked
constexpr std::string_view ResultSkipped = "skipped";  // left as it was, on purpose
constexpr std::string_view ResultInterrupted = "interrupted";

// "service" or "working" for network code 0 or 1, as the journal and the
// command line name them.
std::string_view NetworkName(int network);
// The network code a command line names ("service" or "working"); nullopt
// for any other text.
std::optional<int> NetworkFromName(std::string_view name);

struct JournalRecord {
  // Stamped when the line is written: the registry's line id (the run id and
  // the line's sequence in the run), the run, the time with its offset, and
  // who worked where.
  std::string lineId;
  std::string runId;
  std::string time;
  std::string host;
  std::string operatorName;
  // Filled by the operation.
  std::string port;
  std::string adapter;    // the USB adapter's identity, empty for other ports
  std::string operation;  // write, set-key, batch
  std::string oldAddress, oldNetwork;
  std::string newAddress, newNetwork;  // what the modem holds afterwards
  std::string firmware;
  std::string footprint;
  std::string result;  // one of the Result* texts
  std::string message;
};

struct JournalField {
  std::string_view name;  // the CSV header's and the registry's column name
  std::string JournalRecord::*member;
  int csvColumn;  // its place in a CSV line; -1: not in the CSV journal
};

// In the order of the registry's columns and of the spool file's fields
// (the line id first); the CSV journal orders them by `csvColumn`.
inline constexpr std::array<JournalField, 16> JournalFields = {{
    {"line_id", &JournalRecord::lineId, -1},
    {"run_id", &JournalRecord::runId, 1},
    {"time", &JournalRecord::time, 0},
    {"host", &JournalRecord::host, 3},
    {"operator", &JournalRecord::operatorName, 2},
    {"port", &JournalRecord::port, 4},
    {"adapter", &JournalRecord::adapter, 5},
    {"operation", &JournalRecord::operation, 6},
    {"old_address", &JournalRecord::oldAddress, 7},
    {"old_network", &JournalRecord::oldNetwork, 8},
    {"new_address", &JournalRecord::newAddress, 9},
    {"new_network", &JournalRecord::newNetwork, 10},
    {"firmware", &JournalRecord::firmware, 11},
    {"footprint", &JournalRecord::footprint, 12},
    {"result", &JournalRecord::result, 13},
    {"message", &JournalRecord::message, 14},
}};

// The CSV journal: its header's names and a record's fields, in the CSV
// order (a line break in a field written as a space, so every line is one
// line of text); a record read back by the names of the header seen last (earlier
// journals have other columns; unknown names are passed over).
std::vector<std::string> CsvHeaderNames();
std::vector<std::string> CsvFieldsOf(const JournalRecord& record);
JournalRecord RecordFromCsv(const std::vector<std::string>& fields, const std::map<std::string, std::size_t>& columns);

// The registry and its spool: every field, in the table's order.
std::vector<std::string> RegistryColumns();
std::vector<std::string> RegistryRowOf(const JournalRecord& record);
// A row of the registry's or the spool's width; false when it has another.
bool RecordFromRegistryRow(const std::vector<std::string>& row, JournalRecord& record);

// "2026-03-01T15:00:00+03:00": the local time with its offset.
std::string LocalTimestamp();
// Seconds since 1970 of a journal time: the local form above or the UTC
// form "2026-03-01T12:00:00Z" of earlier journals.
std::optional<long long> ParseTimestamp(std::string_view text);
// Seconds since 1970 of a bound the user typed: a journal time, or a local
// "2026-03-01", "2026-03-01T15:00" or "2026-03-01T15:00:00" (a space may
// stand for the T). The end of a bound (`endOfSpan`) is the last second of
// the day or minute it names.
std::optional<long long> ParseFilterTime(std::string_view text, bool endOfSpan);

// How a line counts: "ok" is done, "skipped" skipped, anything else (a
// failure, a refusal, an interruption, or a line whose result was lost) a
// failure, never passed over.
enum class Counted { Done, Failed, Skipped };
Counted CountOf(std::string_view result);

// A run's start and end are journaled as lines of their own, with the
// run's fifteen fields like any other: the operation says which, the result
// is "skipped" (so a reader that knows no such lines counts them as nothing
// done), the start's message says what the run was asked to do, the end's
// why it ended. They touch no modem and are never counted as one.
constexpr std::string_view OperationRunStart = "run-start";
constexpr std::string_view OperationRunEnd = "run-end";
bool IsRunMark(const JournalRecord& record);
// The line itself, to stamp and write: `mark` is OperationRunStart or
// OperationRunEnd, `text` what the run is to do or why it ended.
JournalRecord RunMark(std::string_view mark, std::string_view operation, const std::string& text);

// A batch tries a modem that failed again when it stays on its port (it
// answers at once, as it was); the line of such a try begins its message
// with this mark, so a summary counts it with the port's modem before it.
// Factory-default modems look alike and share the batch's key footprint:
// nothing else in a line tells one modem from the next.
constexpr std::string_view RepeatMark = "again: ";
bool IsRepeat(const JournalRecord& record);
// The message without the mark, for grouping the reasons of failures.
std::string_view WithoutRepeatMark(std::string_view message);

// What one run did, from its journal lines. Modems are counted, not
// attempts, each by its last line's result: a line with the repeat mark is
// the modem of the line before it on its port. Runs journaled without a
// start line (by earlier versions, which marked no repeats) take a failure
// that follows a failure on the same port from the same address, where at
// most one of the two has a footprint, for that modem tried again.
struct RunSummary {
  std::string runId;  // empty for lines of earlier journals, which have none
  std::string operatorName, host;
  std::string started;    // its start line's time, else its earliest line's (its first's when none can be read)
  std::string ended;      // its end line's time, else its latest line's
  std::string endReason;  // what its end line says; empty without one
  long long seconds = 0;  // from started to ended (0 when no time can be read)
  int lines = 0;          // lines about modems (attempts)
  int done = 0;           // modems
  int failed = 0;
  int refused = 0, interrupted = 0;  // of the failed
  int skipped = 0;
  int lowestAddress = -1, highestAddress = -1;  // written to the modems done; -1: none
};

// Counts runs from their lines as they come. A run is handed to `take`
// once its end line is in and every run begun before it has been handed on,
// so a journal of any length is summarized in the memory of its open runs;
// Finish hands on the rest, in the order their first lines came.
class RunTally {
 public:
  explicit RunTally(std::function<void(const RunSummary&)> take);
  ~RunTally();
  RunTally(const RunTally&) = delete;
  RunTally& operator=(const RunTally&) = delete;
  void Add(const JournalRecord& record);
  void Finish();

 private:
  struct Run;
  void HandOn(bool all);
  std::function<void(const RunSummary&)> take_;
  std::deque<std::unique_ptr<Run>> order_;
  std::map<std::string, Run*> open_;
};

// The runs of the lines, in the order their first lines come.
std::vector<RunSummary> SummarizeRuns(const std::vector<JournalRecord>& records);

}  // namespace vorsal::production
