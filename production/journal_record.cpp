#include "production/journal_record.h"

#include "platform/process.h"
#include "protocol/frame.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <optional>

namespace vorsal::production {

namespace {

constexpr std::size_t CsvColumnCount = [] {
  std::size_t count = 0;
  for (const JournalField& field : JournalFields) count += field.csvColumn >= 0;
  return count;
}();

// Every CSV place taken once: a field put in a wrong or second place would
// shift every column after it.
static_assert([] {
  std::array<int, JournalFields.size()> uses{};
  for (const JournalField& field : JournalFields) {
    if (field.csvColumn >= static_cast<int>(JournalFields.size())) return false;
    if (field.csvColumn >= 0) ++uses[static_cast<std::size_t>(field.csvColumn)];
  }
  for (std::size_t i = 0; i < uses.size(); ++i) {
    if (uses[i] != (i < CsvColumnCount ? 1 : 0)) return false;
  }
  return true;
}());

std::optional<int> Number(std::string_view text) {
  int value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
long long DaysFromCivil(int year, int month, int day) {
  year -= month <= 2;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const int yearOfEra = year - static_cast<int>(era * 400);
  const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// Seconds since 1970 of a broken-down time read as if it were UTC: the
// difference of a local and a UTC breakdown of one moment is the zone's
// offset.
long long SecondsAsIfUtc(const std::tm& time) {
  return DaysFromCivil(time.tm_year + 1900, time.tm_mon + 1, time.tm_mday) * 86400 + time.tm_hour * 3600LL +
         time.tm_min * 60LL + time.tm_sec;
}

}  // namespace

std::string LocalTimestamp() {
  const std::time_t now = std::time(nullptr);
  const std::tm local = platform::LocalTime(now);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  const long offset = static_cast<long>((SecondsAsIfUtc(local) - SecondsAsIfUtc(platform::UtcTime(now))) / 60);
  const long magnitude = offset < 0 ? -offset : offset;
  char zone[48];
  std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
  return std::string(text) + zone;
}

std::optional<long long> ParseTimestamp(std::string_view text) {
  // YYYY-MM-DDTHH:MM:SS then Z or +HH:MM / -HH:MM
  if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':') {
    return std::nullopt;
  }
  const auto year = Number(text.substr(0, 4)), month = Number(text.substr(5, 2)), day = Number(text.substr(8, 2));
  const auto hour = Number(text.substr(11, 2)), minute = Number(text.substr(14, 2)),
             second = Number(text.substr(17, 2));
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  long long seconds = DaysFromCivil(*year, *month, *day) * 86400 + *hour * 3600 + *minute * 60 + *second;
  const std::string_view zone = text.substr(19);
  if (zone == "Z") return seconds;
  if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':') return std::nullopt;
  const auto zoneHours = Number(zone.substr(1, 2)), zoneMinutes = Number(zone.substr(4, 2));
  if (!zoneHours || !zoneMinutes) return std::nullopt;
  const long long offset = *zoneHours * 3600LL + *zoneMinutes * 60LL;
  return zone[0] == '+' ? seconds - offset : seconds + offset;
}

std::optional<long long> ParseFilterTime(std::string_view text, bool endOfSpan) {
  if (const auto exact = ParseTimestamp(text)) return exact;
  std::string local(text);
  if (local.size() > 10 && local[10] == ' ') local[10] = 'T';
  long long span = 0;  // the seconds the text leaves open
  if (local.size() == 10) {
    local += "T00:00:00", span = 86399;
  } else if (local.size() == 16) {
    local += ":00", span = 59;
  }
  // Read as UTC, then moved by the local offset of that moment (looked up
  // twice, so a bound next to a change of the offset lands right).
  const auto asUtc = ParseTimestamp(local + "Z");
  if (!asUtc) return std::nullopt;
  const auto offsetAt = [](long long moment) {
    const std::time_t t = static_cast<std::time_t>(moment);
    return SecondsAsIfUtc(platform::LocalTime(t)) - SecondsAsIfUtc(platform::UtcTime(t));
  };
  long long moment = *asUtc - offsetAt(*asUtc);
  moment = *asUtc - offsetAt(moment);
  return moment + (endOfSpan ? span : 0);
}

std::vector<std::string> CsvHeaderNames() {
  std::vector<std::string> names(CsvColumnCount);
  for (const JournalField& field : JournalFields) {
    if (field.csvColumn >= 0) names[static_cast<std::size_t>(field.csvColumn)] = field.name;
  }
  return names;
}

std::vector<std::string> CsvFieldsOf(const JournalRecord& record) {
  std::vector<std::string> fields(CsvColumnCount);
  for (const JournalField& field : JournalFields) {
    if (field.csvColumn < 0) continue;
    std::string& text = fields[static_cast<std::size_t>(field.csvColumn)] = record.*field.member;
    // A line break inside a field (an adapter's serial, a port's name) would
    // put a line of its text on a line of its own, where a reader that
    // recovers from torn lines may take it for a record: a space stands for it.
    std::replace_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  }
  return fields;
}

JournalRecord RecordFromCsv(const std::vector<std::string>& fields, const std::map<std::string, std::size_t>& columns) {
  JournalRecord record;
  for (const JournalField& field : JournalFields) {
    const auto found = columns.find(std::string(field.name));
    if (found != columns.end() && found->second < fields.size()) record.*field.member = fields[found->second];
  }
  return record;
}

std::vector<std::string> RegistryColumns() {
  std::vector<std::string> names;
  for (const JournalField& field : JournalFields) names.emplace_back(field.name);
  return names;
}

std::vector<std::string> RegistryRowOf(const JournalRecord& record) {
  std::vector<std::string> row;
  for (const JournalField& field : JournalFields) row.push_back(record.*field.member);
  return row;
}

bool RecordFromRegistryRow(const std::vector<std::string>& row, JournalRecord& record) {
  if (row.size() != JournalFields.size()) return false;
  for (std::size_t i = 0; i < row.size(); ++i) record.*JournalFields[i].member = row[i];
  return true;
}

std::string_view NetworkName(int network) { return network == NetworkWorking ? "working" : "service"; }

std::optional<int> NetworkFromName(std::string_view name) {
  for (const int network : {NetworkService, NetworkWorking}) {
    if (name == NetworkName(network)) return network;
  }
  return std::nullopt;
}

Counted CountOf(std::string_view result) {
  if (result == ResultOk) return Counted::Done;
  if (result == ResultSkipped) return Counted::Skipped;
  return Counted::Failed;
}

bool IsRunMark(const JournalRecord& record) {
  return record.operation == OperationRunStart || record.operation == OperationRunEnd;
}

JournalRecord RunMark(std::string_view mark, std::string_view operation, const std::string& text) {
  JournalRecord record;
  record.operation = std::string(mark);
  record.result = std::string(ResultSkipped);
  record.message = std::string(operation) + ": " + text;
  return record;
}

bool IsRepeat(const JournalRecord& record) { return record.message.starts_with(RepeatMark); }

std::string_view WithoutRepeatMark(std::string_view message) {
  if (message.starts_with(RepeatMark)) message.remove_prefix(RepeatMark.size());
  return message;
}

struct RunTally::Run {
  RunSummary summary;
  bool ended = false;
  std::optional<long long> startMark, endMark, earliest, latest;
  // A start line says the run marks its repeats.
  bool marksRepeats = false;
  // Each modem's result (of its last line); per port the modem of its
  // last line; and, for runs that mark no repeats, per port the modem that
  // failed last there, with the address it answered at.
  std::vector<std::string> modems;
  std::map<std::string, std::size_t> lastOnPort;
  struct Open {
    std::size_t modem;
    std::string oldAddress, oldNetwork, footprint;
  };
  std::map<std::string, Open> failedOnPort;

  void Count(std::string_view result, int step) {
    switch (CountOf(result)) {
      case Counted::Done: summary.done += step; break;
      case Counted::Skipped: summary.skipped += step; break;
      case Counted::Failed:
        summary.failed += step;
        if (result == ResultRefused) summary.refused += step;
        if (result == ResultInterrupted) summary.interrupted += step;
        break;
    }
  }

  void Add(const JournalRecord& record) {
    const auto time = ParseTimestamp(record.time);
    if (summary.started.empty() && !startMark) summary.started = record.time;
    if (record.operation == OperationRunStart) {
      marksRepeats = true;
      if (time) startMark = time;
      summary.started = record.time;
    } else if (record.operation == OperationRunEnd) {
      if (time) endMark = time;
      summary.ended = record.time;
      summary.endReason = record.message;
      ended = true;
    } else {
      ModemLine(record);
    }
    if (time) {
      if (!startMark && (!earliest || *time < *earliest)) summary.started = record.time;
      if (!endMark && (!latest || *time >= *latest)) summary.ended = record.time;
      earliest = earliest ? std::min(*earliest, *time) : *time;
      latest = latest ? std::max(*latest, *time) : *time;
    }
    const std::optional<long long> from = startMark ? startMark : earliest, to = endMark ? endMark : latest;
    summary.seconds = from && to && *to > *from ? *to - *from : 0;
  }

  void ModemLine(const JournalRecord& record) {
    ++summary.lines;
    const Counted counted = CountOf(record.result);
    std::optional<std::size_t> modem;
    const auto last = lastOnPort.find(record.port);
    const auto open = failedOnPort.find(record.port);
    if (IsRepeat(record)) {
      if (last != lastOnPort.end()) modem = last->second;
    } else if (!marksRepeats && counted == Counted::Failed && open != failedOnPort.end() &&
               open->second.oldAddress == record.oldAddress && open->second.oldNetwork == record.oldNetwork &&
               (record.footprint.empty() || open->second.footprint.empty())) {
      modem = open->second.modem;
    }
    if (modem) {
      Count(modems[*modem], -1);
      modems[*modem] = record.result;
    } else {
      modem = modems.size();
      modems.push_back(record.result);
    }
    Count(record.result, 1);
    lastOnPort[record.port] = *modem;
    if (marksRepeats) {
      // Its repeats are marked: nothing else joins two lines.
    } else if (counted == Counted::Failed) {
      std::string footprint = record.footprint;
      if (footprint.empty() && open != failedOnPort.end() && open->second.modem == *modem) {
        footprint = open->second.footprint;
      }
      failedOnPort[record.port] = {*modem, record.oldAddress, record.oldNetwork, footprint};
    } else if (open != failedOnPort.end()) {
      failedOnPort.erase(open);
    }
    // Only lines that wrote an address tell one (set-key leaves it).
    if (counted == Counted::Done && (record.operation == "write" || record.operation == "batch")) {
      if (const auto address = Number(record.newAddress)) {
        summary.lowestAddress = summary.lowestAddress < 0 ? *address : std::min(summary.lowestAddress, *address);
        summary.highestAddress = std::max(summary.highestAddress, *address);
      }
    }
  }
};

RunTally::RunTally(std::function<void(const RunSummary&)> take) : take_(std::move(take)) {}
RunTally::~RunTally() = default;

void RunTally::Add(const JournalRecord& record) {
  Run*& run = open_[record.runId];
  if (!run) {
    order_.push_back(std::make_unique<Run>());
    run = order_.back().get();
    run->summary.runId = record.runId;
    run->summary.operatorName = record.operatorName;
    run->summary.host = record.host;
  }
  run->Add(record);
  // A single command journals one line in a run of its own.
  if (record.operation == "write" || record.operation == "set-key") run->ended = true;
  if (run->ended) {
    // Its modems are forgotten; a line of it that comes later starts anew.
    run->modems.clear();
    run->lastOnPort.clear();
    run->failedOnPort.clear();
    open_.erase(record.runId);
    HandOn(false);
  }
}

void RunTally::Finish() { HandOn(true); }

void RunTally::HandOn(bool all) {
  while (!order_.empty() && (all || order_.front()->ended)) {
    take_(order_.front()->summary);
    if (!order_.front()->ended) open_.erase(order_.front()->summary.runId);
    order_.pop_front();
  }
}

std::vector<RunSummary> SummarizeRuns(const std::vector<JournalRecord>& records) {
  std::vector<RunSummary> runs;
  RunTally tally([&](const RunSummary& run) { runs.push_back(run); });
  for (const JournalRecord& record : records) tally.Add(record);
  tally.Finish();
  return runs;
}

}  // namespace vorsal::production
