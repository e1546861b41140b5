#include "cli/journal.h"

#include "platform/process.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <limits>
#include <map>
#include <random>
#include <system_error>

namespace vorsal::cli {

namespace {

const std::vector<std::string> HeaderFields = {
    "time",        "run_id",      "operator", "host",      "port",   "adapter",  "operation", "old_address",
    "old_network", "new_address", "new_network", "firmware", "footprint", "result", "message"};

std::string SystemError(const std::string& what, const std::filesystem::path& file, int code) {
  return what + " " + file.string() + ": " + platform::SystemErrorText(code);
}

// The last line of `text` that starts with "time," (a header), without its
// line end; empty when there is none.
std::string_view LastHeader(std::string_view text) {
  std::size_t at = std::string_view::npos;
  if (text.rfind("time,", 0) == 0) at = 0;
  for (std::size_t found = text.find("\ntime,"); found != std::string_view::npos;
       found = text.find("\ntime,", found + 1)) {
    at = found + 1;
  }
  if (at == std::string_view::npos) return {};
  std::string_view line = text.substr(at);
  line = line.substr(0, line.find('\n'));
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

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

RunIdentity CurrentRun() {
  RunIdentity run;
  std::random_device random;
  const unsigned long long bits = (static_cast<unsigned long long>(random()) << 32) ^ random() ^
                                  static_cast<unsigned long long>(std::time(nullptr));
  char id[17];
  std::snprintf(id, sizeof id, "%016llx", bits);
  run.runId = id;
  // The login of the session names the person even under sudo.
  run.operatorName = platform::LoginName();
  run.host = platform::HostName();
  return run;
}

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string CsvLine(const std::vector<std::string>& fields) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += ',';
    line += CsvField(fields[i]);
  }
  line += "\r\n";
  return line;
}

std::vector<std::vector<std::string>> ParseCsv(std::string_view text) {
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> record;
  std::string field;
  bool quoted = false, fieldStarted = false;
  const auto endRecord = [&] {
    if (fieldStarted || !record.empty()) {
      record.push_back(std::move(field));
      records.push_back(std::move(record));
    }
    record.clear();
    field.clear();
    fieldStarted = false;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c != '"') {
        field += c;
      } else if (i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = fieldStarted = true;
    } else if (c == ',') {
      record.push_back(std::move(field));
      field.clear();
      fieldStarted = true;
    } else if (c == '\n') {
      endRecord();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      // the LF ends the record
    } else {
      field += c;
      fieldStarted = true;
    }
  }
  endRecord();
  return records;
}

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

bool Journal::Open(const std::filesystem::path& file, const RunIdentity& run, std::string* error) {
  file_ = file;
  run_ = run;
  std::error_code ec;
  if (file.has_parent_path() && !std::filesystem::exists(file.parent_path(), ec)) {
    std::filesystem::create_directories(file.parent_path(), ec);
    if (!ec) std::filesystem::permissions(file.parent_path(), std::filesystem::perms::owner_all, ec);
    if (ec) {
      *error = SystemError("cannot create the directory of the journal", file, ec.value());
      return false;
    }
  }
  // The same rules as for Keys.ini: another user's link could point the
  // journal at any file this user may write.
  std::filesystem::path target;
  std::string reason;
  if (!platform::ResolveForWrite(file, target, reason)) {
    *error = "cannot open the journal " + file.string() + ": " + reason;
    return false;
  }
  if (const int failed = appendFile_.Open(target)) {
    *error = failed == platform::AppendFile::NotRegularFile
                 ? "cannot open the journal " + file.string() + ": it is not a regular file"
                 : SystemError("cannot open the journal", file, failed);
    return false;
  }
  othersMayRead_ = appendFile_.OthersMayRead();
  // The lock keeps a second program from writing a second header while this
  // one reads the file.
  appendFile_.Lock();
  std::string text;
  bool ok = true;
  if (const int failed = appendFile_.ReadAll(text)) {
    *error = SystemError("cannot read the journal", file, failed);
    ok = false;
  }
  std::string header = CsvLine(HeaderFields);
  if (ok && LastHeader(text) != std::string_view(header).substr(0, header.size() - 2)) {
    // A file that ends in a line without its end (written by hand, say)
    // gets one, so the header starts a line of its own.
    if (!text.empty() && text.back() != '\n') header = "\r\n" + header;
    ok = WriteLine(header, error);
  }
  appendFile_.Unlock();
  return ok;
}

bool Journal::Append(const JournalEntry& entry, std::string* error) {
  const std::string line =
      CsvLine({LocalTimestamp(), run_.runId, run_.operatorName, run_.host, entry.port, entry.adapter, entry.operation,
               entry.oldAddress, entry.oldNetwork, entry.newAddress, entry.newNetwork, entry.firmware,
               entry.footprint, entry.result, entry.message});
  const std::lock_guard<std::mutex> guard(mutex_);
  appendFile_.Lock();
  const bool ok = WriteLine(line, error);
  appendFile_.Unlock();
  return ok;
}

// Called under the file's lock, so a line that does not fit is cut back
// without touching another writer's.
bool Journal::WriteLine(const std::string& line, std::string* error) {
  if (!appendFile_.IsOpen()) {
    *error = "the journal is not open";
    return false;
  }
  bool incomplete = false;
  if (const int failed = appendFile_.Append(line, &incomplete)) {
    *error = SystemError(incomplete ? "cannot write to the journal (and its last line is incomplete)"
                                    : "cannot write to the journal",
                         file_, failed);
    return false;
  }
  return true;
}

bool ReadJournalFile(const std::filesystem::path& file, std::string& text, std::string* error) {
  int failed = 0;
  switch (platform::ReadWholeFile(file, std::numeric_limits<std::size_t>::max(), text, &failed)) {
    case platform::ReadStatus::Read: return true;
    case platform::ReadStatus::Missing:
      *error = "cannot read the journal " + file.string() + ": " +
               std::make_error_code(std::errc::no_such_file_or_directory).message();
      return false;
    case platform::ReadStatus::Unreadable: break;
    case platform::ReadStatus::TooLarge: failed = static_cast<int>(std::errc::file_too_large); break;
  }
  std::error_code ec;
  if (std::filesystem::exists(file, ec) && !std::filesystem::is_regular_file(file, ec)) {
    *error = "cannot read the journal " + file.string() + ": it is not a regular file";
  } else {
    *error = SystemError("cannot read the journal", file, failed);
  }
  return false;
}

std::vector<RunSummary> SummarizeJournal(std::string_view text) {
  std::vector<RunSummary> runs;
  std::map<std::string, std::size_t> byId;
  std::map<std::string, std::pair<long long, long long>> spans;  // first and last time of each run
  std::map<std::string, std::size_t> columns;
  const auto field = [&](const std::vector<std::string>& record, const char* name) -> std::string {
    const auto found = columns.find(name);
    return found != columns.end() && found->second < record.size() ? record[found->second] : std::string();
  };
  for (const std::vector<std::string>& record : ParseCsv(text)) {
    if (!record.empty() && record[0] == "time") {
      columns.clear();
      for (std::size_t i = 0; i < record.size(); ++i) columns[record[i]] = i;
      continue;
    }
    if (columns.empty()) continue;
    const std::string id = field(record, "run_id");
    auto [slot, added] = byId.try_emplace(id, runs.size());
    if (added) {
      RunSummary run;
      run.runId = id;
      run.operatorName = field(record, "operator");
      run.host = field(record, "host");
      run.started = field(record, "time");
      runs.push_back(run);
    }
    RunSummary& run = runs[slot->second];
    if (const auto time = ParseTimestamp(field(record, "time"))) {
      auto [span, first] = spans.try_emplace(id, *time, *time);
      if (!first) {
        span->second.first = std::min(span->second.first, *time);
        span->second.second = std::max(span->second.second, *time);
      }
      run.seconds = span->second.second - span->second.first;
    }
    const std::string result = field(record, "result");
    if (result == ResultOk) {
      ++run.done;
      if (const auto address = Number(field(record, "new_address"))) {
        run.lowestAddress = run.lowestAddress < 0 ? *address : std::min(run.lowestAddress, *address);
        run.highestAddress = std::max(run.highestAddress, *address);
      }
    } else if (result == ResultSkipped) {
      ++run.skipped;
    } else if (!result.empty()) {
      ++run.failed;
    }
  }
  return runs;
}

}  // namespace vorsal::cli
