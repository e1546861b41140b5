// Journal lines the registry has not confirmed yet, kept in a file beside
// the local journal until the registry can be reached again. Each line
// names the registry it is meant for and is sent to that registry alone.
// Sending them is idempotent (the registry keeps the first copy of a line
// id), so a line sent twice after a crash between sending and forgetting is
// still stored once. Several programs of one station may keep and send
// through one file: each takes the file's lock. The file must be this
// user's own (a planted file would have its forged lines sent as this
// station's), and never reached through another user's link.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "registry/registry.h"

namespace vorsal::registry {

// A kept line: the journal line's fields and the registry it is meant for,
// by its identity and in words. Lines kept before lines named their
// registry have an empty `registryId`.
struct KeptLine {
  std::string registryId;
  std::string registryName;
  Row fields;
  bool operator==(const KeptLine&) const = default;
};

// One line as a line of the file: the fields separated by tabs, a backslash,
// tab, CR or LF inside a field written as \\, \t, \r, \n; ends in LF. A line
// that names its registry starts with one more field: '@', the identity,
// and after a space the registry in words. (A line id never starts with
// '@', so lines of both kinds read apart.)
std::string EncodeLine(const KeptLine& line);
// The lines of a file's text, each of `fieldCount` journal fields; a line
// without all its fields (one cut short by a crash) or with an empty
// identity after its '@' is counted in `unreadable` and left out.
std::vector<KeptLine> DecodeLines(std::string_view text, std::size_t fieldCount, int& unreadable);

// What a send did with the kept lines.
struct SendReport {
  int sent = 0;        // sent to this registry (now stored, or stored before)
  int unreadable = 0;  // lines that could not be read back: they are in the local journal only
  // Lines kept for other registries, by identity (empty: lines that name
  // no registry, when this spool does not send them): they stay kept.
  struct Waiting {
    std::string name;
    int count = 0;
  };
  std::map<std::string, Waiting> waiting;
  // Lines the registry refused for what they hold, set aside with their
  // reasons in SetAsideFile(); `setAsideReason` is the first reason.
  int setAside = 0;
  std::string setAsideReason;
};

class Spool {
 public:
  // `sendsUnnamed`: whether this spool's sends also take the lines kept
  // before lines named their registry.
  explicit Spool(std::filesystem::path file, bool sendsUnnamed = false)
      : file_(std::move(file)), sendsUnnamed_(sendsUnnamed) {}
  const std::filesystem::path& File() const { return file_; }
  // Where lines the registry refused are set aside: beside the spool.
  std::filesystem::path SetAsideFile() const;

  // Adds the line to the file (created 0600) for `registry` (connected
  // once, so that its identity is known). False with `reason` set.
  bool Keep(const Registry& registry, const Row& line, std::string& reason);
  // Sends the lines kept for this registry in one transaction, sets aside
  // those it refuses for what they hold, and leaves in the file only the
  // lines for other registries. Not Ok when the registry cannot take the
  // lines now (they all stay kept) or the file cannot be used.
  Status Send(Registry& registry, SendReport& report, std::string& error);
  // Writes the line, with the registry's reason for refusing it, into the
  // set-aside file. False with `error` set.
  bool SetAside(const Registry& registry, const Row& line, const std::string& reason, std::string& error);

 private:
  std::filesystem::path file_;
  bool sendsUnnamed_ = false;
};

// Sends the kept lines first (so the registry receives lines in order),
// then `line`. When the registry cannot be reached, `line` is kept for
// later and the result says so; when the registry refuses it for what it
// holds, it is set aside (counted in `report`) and the result is Ok, or
// Failed when it cannot be set aside (then it is neither kept nor stored).
Status RecordOrKeep(Registry& registry, Spool& spool, const Row& line, SendReport& report, std::string& error);

// "set aside N line(s): REASON; see FILE", or empty when none was.
std::string SetAsideNotice(const SendReport& report, const Spool& spool);

}  // namespace vorsal::registry
