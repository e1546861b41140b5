#include "production/journal.h"

#include "platform/files.h"
#include "platform/process.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <limits>
#include <map>
#include <random>
#include <system_error>

namespace vorsal::production {

namespace {

std::string SystemError(const std::string& what, const std::filesystem::path& file, int code) {
  return what + " " + platform::Utf8FromPath(file) + ": " + platform::SystemErrorText(code);
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

void Stamp(JournalRecord& record, const RunIdentity& run) {
  record.runId = run.runId;
  record.operatorName = run.operatorName;
  record.host = run.host;
  record.time = LocalTimestamp();
}

std::string CsvField(std::string_view text, char separator) {
  const char special[] = {separator, '"', '\r', '\n', '\0'};
  if (text.find_first_of(special) == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string CsvLine(const std::vector<std::string>& fields, char separator) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += separator;
    line += CsvField(fields[i], separator);
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

bool Journal::Open(const std::filesystem::path& file, std::string* error) {
  file_ = file;
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
    *error = "cannot open the journal " + platform::Utf8FromPath(file) + ": " + reason;
    return false;
  }
  if (const int failed = appendFile_.Open(target)) {
    *error = failed == platform::AppendFile::NotRegularFile
                 ? "cannot open the journal " + platform::Utf8FromPath(file) + ": it is not a regular file"
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
  std::string header = CsvLine(CsvHeaderNames());
  if (ok && LastHeader(text) != std::string_view(header).substr(0, header.size() - 2)) {
    // A file that ends in a line without its end (written by hand, say)
    // gets one, so the header starts a line of its own.
    if (!text.empty() && text.back() != '\n') header = "\r\n" + header;
    ok = WriteLine(header, error);
  }
  appendFile_.Unlock();
  return ok;
}

bool Journal::Append(const JournalRecord& record, std::string* error) {
  const std::string line = CsvLine(CsvFieldsOf(record));
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
      *error = "cannot read the journal " + platform::Utf8FromPath(file) + ": " +
               std::make_error_code(std::errc::no_such_file_or_directory).message();
      return false;
    case platform::ReadStatus::Unreadable: break;
    case platform::ReadStatus::TooLarge: failed = static_cast<int>(std::errc::file_too_large); break;
  }
  std::error_code ec;
  if (std::filesystem::exists(file, ec) && !std::filesystem::is_regular_file(file, ec)) {
    *error = "cannot read the journal " + platform::Utf8FromPath(file) + ": it is not a regular file";
  } else {
    *error = SystemError("cannot read the journal", file, failed);
  }
  return false;
}

JournalContents ReadJournalText(std::string_view text) {
  JournalContents contents;
  const std::vector<std::string> current = CsvHeaderNames();
  std::map<std::string, std::size_t> columns;  // of the header in force
  std::size_t headerWidth = 0;
  long long number = 0;
  for (const std::vector<std::string>& fields : ParseCsv(text)) {
    ++number;
    if (!fields.empty() && fields[0] == "time") {
      headerWidth = fields.size();
      if (fields != current) contents.olderVersion = true;
      columns.clear();
      for (std::size_t i = 0; i < fields.size(); ++i) columns[fields[i]] = i;
      continue;
    }
    if (headerWidth != 0 && fields.size() == headerWidth) {
      contents.records.push_back(RecordFromCsv(fields, columns));
      continue;
    }
    ++contents.skipped;
    if (contents.skippedLines.size() < 20) {
      std::string excerpt = fields.empty() ? std::string() : fields[0];
      for (std::size_t i = 1; i < fields.size() && excerpt.size() < 80; ++i) excerpt += "," + fields[i];
      if (excerpt.size() > 80) {
        std::size_t cut = 80;
        while (cut > 0 && (static_cast<unsigned char>(excerpt[cut]) & 0xC0) == 0x80) --cut;
        excerpt = excerpt.substr(0, cut) + "...";
      }
      contents.skippedLines.push_back({number, std::move(excerpt)});
    }
  }
  return contents;
}

std::vector<RunSummary> SummarizeJournal(std::string_view text) { return SummarizeRuns(ReadJournalText(text).records); }

}  // namespace vorsal::production
