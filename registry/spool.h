// Journal lines the registry has not confirmed yet, kept in a file beside
// the local journal until the registry can be reached again. Sending them
// is idempotent (the registry keeps the first copy of a line id), so a line
// sent twice after a crash between sending and forgetting is still stored
// once. Several programs of one station may keep and send through one file:
// each takes the file's lock.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "registry/registry.h"

namespace vorsal::registry {

// One line as a line of the file: the fields separated by tabs, a backslash,
// tab, CR or LF inside a field written as \\, \t, \r, \n; ends in LF.
std::string EncodeLine(const Row& line);
// The lines of a file's text, each of `fieldCount` fields; a line without
// all its fields (one cut short by a crash) is counted in `unreadable` and
// left out.
std::vector<Row> DecodeLines(std::string_view text, std::size_t fieldCount, int& unreadable);

class Spool {
 public:
  explicit Spool(std::filesystem::path file) : file_(std::move(file)) {}
  const std::filesystem::path& File() const { return file_; }

  // Adds the line to the file (created 0600). False with `reason` set.
  bool Keep(const Row& line, std::string& reason);
  // Sends every kept line in one transaction and empties the file once the
  // registry has them. `sent` counts the lines sent, `unreadable` the lines
  // that could not be read back (they stay in the local journal only).
  Status Send(Registry& registry, int& sent, int& unreadable, std::string& error);

 private:
  std::filesystem::path file_;
};

// Sends the kept lines first (so the registry receives lines in order),
// then `line`. When the registry cannot be reached, `line` is kept for
// later and the result says so.
Status RecordOrKeep(Registry& registry, Spool& spool, const Row& line, std::string& error);

}  // namespace vorsal::registry
