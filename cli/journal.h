// The journal: one CSV line (RFC 4180, UTF-8) per operation that changed or
// verified a modem. Lines are appended with one write each on a file opened
// for appending, so a crash loses at most the line being written and two
// programs appending at once never interleave within a line.
#pragma once

#include "platform/files.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vorsal::cli {

struct JournalEntry {
  std::string port;
  std::string adapterSerial;
  std::string operation;  // write, set-key, batch
  std::string oldAddress, oldNetwork;
  std::string newAddress, newNetwork;
  std::string firmware;
  std::string keyName;    // UTF-8
  std::string footprint;
  std::string result;     // ok, failed
  std::string message;
};

// One field: quoted when it holds a comma, a quote, CR or LF, with its
// quotes doubled.
std::string CsvField(std::string_view text);
// The fields joined by commas, ending in CRLF.
std::string CsvLine(const std::vector<std::string>& fields);
// "2026-03-01T12:00:00Z" for the current time.
std::string UtcTimestamp();

class Journal {
 public:
  Journal() = default;
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Opens (creating the file and its directory as needed) and writes the
  // header line when the file is empty. False with `error` set on failure.
  bool Open(const std::filesystem::path& file, std::string* error);
  bool IsOpen() const { return out_.IsOpen(); }
  // Appends the entry, stamped with the current UTC time.
  bool Append(const JournalEntry& entry, std::string* error);

 private:
  bool WriteLine(const std::string& line, std::string* error);

  std::filesystem::path file_;
  platform::AppendFile out_;
};

}  // namespace vorsal::cli
