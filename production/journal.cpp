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

// How much of a journal's end (and start) is searched for its last header.
constexpr std::uint64_t HeaderSearchBytes = 64 * 1024;

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

bool ParseCsvRecord(std::string_view text, std::vector<std::string>& fields) {
  fields.clear();
  std::string field;
  bool quoted = false;
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
      quoted = true;
    } else if (c == ',') {
      fields.push_back(std::move(field));
      field.clear();
    } else if (c == '\r' && (i + 1 == text.size() || text[i + 1] == '\n')) {
      // the line's end
    } else {
      field += c;
    }
  }
  fields.push_back(std::move(field));
  return !quoted;
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
  // one reads the file. Only its end (and, where that holds no header, its
  // start) is read: the journal may be large.
  if (const int failed = appendFile_.Lock()) {
    *error = SystemError("cannot lock the journal", file, failed);
    return false;
  }
  std::string head, tail;
  std::uint64_t size = 0;
  int failed = appendFile_.Size(size);
  const std::uint64_t tailStart = size > HeaderSearchBytes ? size - HeaderSearchBytes : 0;
  if (!failed) failed = appendFile_.ReadAt(tailStart, HeaderSearchBytes, tail);
  std::string_view last;
  if (!failed) {
    std::string_view lines = tail;
    if (tailStart > 0) lines.remove_prefix(std::min(lines.size(), lines.find('\n') + 1));  // a line cut by the window
    last = LastHeader(lines);
    if (last.empty() && tailStart > 0 && !(failed = appendFile_.ReadAt(0, HeaderSearchBytes, head))) {
      last = LastHeader(head);
    }
  }
  bool ok = true;
  if (failed) {
    *error = SystemError("cannot read the journal", file, failed);
    ok = false;
  }
  std::string header = CsvLine(CsvHeaderNames());
  if (ok && last != std::string_view(header).substr(0, header.size() - 2)) {
    // A file that ends in a line without its end (written by hand, say)
    // gets one, so the header starts a line of its own.
    if (!tail.empty() && tail.back() != '\n') header = "\r\n" + header;
    ok = WriteLine(header, error);
  }
  appendFile_.Unlock();
  return ok;
}

bool Journal::Append(const JournalRecord& record, std::string* error) {
  const std::string line = CsvLine(CsvFieldsOf(record));
  const std::lock_guard<std::mutex> guard(mutex_);
  // Without the lock another program's line could interleave with this
  // one, so the line is not written and the failure is the caller's to report.
  if (const int failed = appendFile_.Lock()) {
    *error = SystemError("cannot lock the journal", file_, failed);
    return false;
  }
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

namespace {

// The longest line or record a journal may hold; anything longer is not a
// journal's and is skipped without keeping it.
constexpr std::size_t MostRecordBytes = 64 * 1024;

// A header names its columns in lower-case words, the time first and the
// result among them; a line of a binary file that happens to start with
// "time," is none.
bool IsHeader(const std::vector<std::string>& fields) {
  if (fields[0] != "time" || std::find(fields.begin(), fields.end(), "result") == fields.end()) return false;
  return std::all_of(fields.begin(), fields.end(), [](const std::string& name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return (c >= 'a' && c <= 'z') || c == '_'; });
  });
}

}  // namespace

void JournalReader::Feed(std::string_view piece) {
  while (!piece.empty()) {
    const std::size_t end = piece.find('\n');
    const std::string_view part = piece.substr(0, end);
    if (!lineTooLong_) {
      if (line_.size() + part.size() > MostRecordBytes) {
        lineTooLong_ = true;
        line_.resize(std::min(line_.size(), MostRecordBytes));  // kept for the excerpt
      } else {
        line_ += part;
      }
    }
    if (end == std::string_view::npos) return;
    piece.remove_prefix(end + 1);
    ++lineNumber_;
    if (lineTooLong_) {
      Skip(line_, lineNumber_);
    } else {
      Line(line_);
    }
    line_.clear();
    lineTooLong_ = false;
  }
}

void JournalReader::Finish() {
  if (!line_.empty() || lineTooLong_) Feed("\n");
  if (!pending_.empty()) {
    Skip(pending_, pendingLine_);
    pending_.clear();
  }
}

// Whether `line` on its own is a header or a whole record of the header in
// force: where a torn record ends.
bool JournalReader::StartsRecord(std::string_view line) {
  std::vector<std::string> fields;
  if (!ParseCsvRecord(line, fields)) return false;
  return IsHeader(fields) || (fields.size() == headerWidth_ && ParseTimestamp(fields[0]));
}

void JournalReader::Line(std::string_view line) {
  if (!pending_.empty()) {
    if (StartsRecord(line)) {
      Skip(pending_, pendingLine_);
      pending_.clear();
    } else if (pending_.size() + line.size() > MostRecordBytes) {
      Skip(pending_, pendingLine_);
      pending_.clear();
      return;  // this line belongs to the record dropped
    } else {
      pending_ += line;
      std::vector<std::string> fields;
      if (ParseCsvRecord(pending_, fields)) {
        const std::string raw = std::move(pending_);
        pending_.clear();
        Take(fields, raw, pendingLine_);
      } else {
        pending_ += '\n';
      }
      return;
    }
  }
  if (line.empty() || line == "\r") return;
  reading_.empty = false;
  std::vector<std::string> fields;
  if (!ParseCsvRecord(line, fields)) {
    pending_.assign(line);
    pending_ += '\n';
    pendingLine_ = lineNumber_;
    return;
  }
  Take(fields, line, lineNumber_);
}

void JournalReader::Take(std::vector<std::string>& fields, std::string_view raw, long long number) {
  if (IsHeader(fields)) {
    reading_.headerSeen = true;
    headerWidth_ = fields.size();
    if (fields != CsvHeaderNames()) reading_.olderVersion = true;
    columns_.clear();
    for (std::size_t i = 0; i < fields.size(); ++i) columns_[fields[i]] = i;
    return;
  }
  if (headerWidth_ != 0 && fields.size() == headerWidth_) {
    ++reading_.records;
    JournalRecord record = RecordFromCsv(fields, columns_);
    visit_(record);
    return;
  }
  Skip(raw, number);
}

void JournalReader::Skip(std::string_view raw, long long number) {
  reading_.empty = false;
  ++reading_.skipped;
  if (reading_.skippedLines.size() >= 20) return;
  while (!raw.empty() && (raw.back() == '\n' || raw.back() == '\r')) raw.remove_suffix(1);
  std::string excerpt(raw.substr(0, 80));
  if (raw.size() > 80) {
    std::size_t cut = 80;
    while (cut > 0 && (static_cast<unsigned char>(raw[cut]) & 0xC0) == 0x80) --cut;
    excerpt = std::string(raw.substr(0, cut)) + "...";
  }
  reading_.skippedLines.push_back({number, std::move(excerpt)});
}

std::string NotAJournal(const std::string& name) { return name + " is not a journal: it holds no journal header"; }

JournalFile ReadJournal(const std::filesystem::path& file, const std::function<void(JournalRecord&)>& visit,
                        JournalReading& reading, std::string* error) {
  JournalReader reader(visit);
  int failed = 0;
  switch (platform::ReadFileInPieces(file, 1 << 16, [&](std::string_view piece) { reader.Feed(piece); return true; },
                                     &failed)) {
    case platform::ReadStatus::Read:
      reader.Finish();
      reading = reader.Reading();
      return JournalFile::Read;
    case platform::ReadStatus::Missing: return JournalFile::Missing;
    case platform::ReadStatus::Unreadable: break;
    case platform::ReadStatus::TooLarge: failed = static_cast<int>(std::errc::file_too_large); break;
  }
  std::error_code ec;
  if (std::filesystem::exists(file, ec) && !std::filesystem::is_regular_file(file, ec)) {
    *error = "cannot read the journal " + platform::Utf8FromPath(file) + ": it is not a regular file";
  } else {
    *error = SystemError("cannot read the journal", file, failed);
  }
  return JournalFile::Failed;
}

JournalContents ReadJournalText(std::string_view text) {
  JournalContents contents;
  JournalReader reader([&](JournalRecord& record) { contents.records.push_back(std::move(record)); });
  reader.Feed(text);
  reader.Finish();
  static_cast<JournalReading&>(contents) = reader.Reading();
  return contents;
}

std::vector<RunSummary> SummarizeJournal(std::string_view text) { return SummarizeRuns(ReadJournalText(text).records); }

}  // namespace vorsal::production
