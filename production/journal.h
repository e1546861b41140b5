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
// The records of CSV text (quoted fields may span lines; CRLF or LF ends a
// record; empty lines are skipped).
std::vector<std::vector<std::string>> ParseCsv(std::string_view text);


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

// Reads a journal to summarize it: a regular file only, never blocking on
// a FIFO. False with `error` set on failure.
bool ReadJournalFile(const std::filesystem::path& file, std::string& text, std::string* error);

// A journal's text as read: its records, under the columns of the header
// each follows, and what could not be read. A line before any header, or
// with another number of fields than its header (torn, or not a
// journal's), is skipped, counted and named by its record's number and the
// start of its text.
struct JournalContents {
  struct Skipped {
    long long record = 0;
    std::string excerpt;
  };
  std::vector<JournalRecord> records;
  int skipped = 0;
  std::vector<Skipped> skippedLines;  // the first twenty
  bool olderVersion = false;          // some lines follow an earlier version's header
};
JournalContents ReadJournalText(std::string_view text);

// The runs of a journal's text, in the order their first lines appear.
std::vector<RunSummary> SummarizeJournal(std::string_view text);

}  // namespace vorsal::production
