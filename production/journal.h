// The journal: one CSV line (RFC 4180, UTF-8) for every modem an operation
// touched, refused or was interrupted on. A line is appended whole or not at
// all, under a lock on the file, so a full disk or a second program never
// leaves a torn or interleaved row. The file is created 0600 and holds the
// key's footprint, never its name.
//
// A file begun by an earlier version has another header; the current header
// is appended before the first new line, and readers take the columns of
// the header line last seen, so both kinds of line stay readable.
#pragma once

#include "platform/files.h"
#include "production/journal_record.h"

#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorsal::production {

// Who runs this program where; one run id for all lines of one run.
struct RunIdentity {
  std::string runId;
  std::string operatorName;
  std::string host;
};
RunIdentity CurrentRun();
// Stamps a record with the run and the current local time, once, so that
// the local journal and the registry hold the same line.
void Stamp(JournalRecord& record, const RunIdentity& run);

// One field: quoted when it holds the separator, a quote, CR or LF, with
// its quotes doubled.
std::string CsvField(std::string_view text, char separator = ',');
// The fields joined by the separator, ending in CRLF.
std::string CsvLine(const std::vector<std::string>& fields, char separator = ',');
// The fields of one record's text (without its line end); false when a
// quoted field is still open at its end.
bool ParseCsvRecord(std::string_view text, std::vector<std::string>& fields);


class Journal {
 public:
  Journal() = default;
  ~Journal() = default;
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Opens (creating the file 0600 and its directory 0700 as needed) and
  // writes the header line unless the file's last header is the current
  // one. Refuses a symbolic link another user owns anywhere in the file's
  // chain of links, and anything but a regular file; never blocks on a FIFO.
  // False with `error` set on failure.
  bool Open(const std::filesystem::path& file, std::string* error);
  bool IsOpen() const { return appendFile_.IsOpen(); }
  // True when users outside its owner and group may read the file (a
  // journal an earlier version created 0644, with key names in it).
  bool OthersMayRead() const { return othersMayRead_; }
  // Appends the record as it is stamped; safe to call from several threads.
  bool Append(const JournalRecord& record, std::string* error);

 private:
  bool WriteLine(const std::string& line, std::string* error);

  std::filesystem::path file_;
  std::mutex mutex_;
  platform::AppendFile appendFile_;
  bool othersMayRead_ = false;
};

// What reading a journal met besides its records: lines before any header
// or with another number of fields than their header (torn, or not a
// journal's) are skipped, counted and named by the number of the line they
// start on and the start of their text.
struct JournalReading {
  struct Skipped {
    long long line = 0;
    std::string excerpt;  // raw bytes: escape them before showing them
  };
  long long records = 0;
  int skipped = 0;
  std::vector<Skipped> skippedLines;  // the first twenty
  bool olderVersion = false;          // some lines follow an earlier version's header
  bool headerSeen = false;
  bool empty = true;  // nothing but empty lines
  // A file with text in it but no journal header anywhere (/etc/passwd, a
  // binary file) is not a journal.
  bool NotAJournal() const { return !empty && !headerSeen; }
};

// Reads journal text as it comes, in pieces of any size, handing each
// record to `visit` under the columns of the header it follows. Memory stays
// that of one line whatever the journal's size. A quoted field may span
// lines; one left open (a torn line) ends where a header or a whole record
// begins on a line of its own, or after 64 KiB, and is skipped there, so a
// torn line never hides what follows it.
class JournalReader {
 public:
  explicit JournalReader(std::function<void(JournalRecord&)> visit) : visit_(std::move(visit)) {}
  void Feed(std::string_view piece);
  // Reads what is left (a last line without its end); call once, at the end.
  void Finish();
  const JournalReading& Reading() const { return reading_; }

 private:
  void Line(std::string_view line);
  bool StartsRecord(std::string_view line);
  void Take(std::vector<std::string>& fields, std::string_view raw, long long number);
  void Skip(std::string_view raw, long long number);

  std::function<void(JournalRecord&)> visit_;
  JournalReading reading_;
  std::string line_;         // the current line, as far as it came
  bool lineTooLong_ = false;  // the current line passed the limit: skipped to its end
  std::string pending_;       // a record whose quoted field is still open
  long long pendingLine_ = 0;
  long long lineNumber_ = 0;
  std::map<std::string, std::size_t> columns_;  // of the header in force
  std::size_t headerWidth_ = 0;
};

// What is said of a file that is not a journal.
std::string NotAJournal(const std::string& name);

// How opening a journal to read it went.
enum class JournalFile { Read, Missing, Failed };
// Reads the journal at `file` through a JournalReader: a regular file only,
// never blocking on a FIFO. Failed sets `error`.
JournalFile ReadJournal(const std::filesystem::path& file, const std::function<void(JournalRecord&)>& visit,
                        JournalReading& reading, std::string* error);

// A journal's whole text read at once: its records and what could not be read.
struct JournalContents : JournalReading {
  std::vector<JournalRecord> records;
};
JournalContents ReadJournalText(std::string_view text);

// The runs of a journal's text, in the order their first lines appear.
std::vector<RunSummary> SummarizeJournal(std::string_view text);

}  // namespace vorsal::production
