// The production registry: one PostgreSQL database shared by every station
// that configures modems of the same networks. It hands out addresses, each
// in its own transaction, so that no two modems anywhere receive the same
// address of a network, and it keeps every station's journal lines (with
// footprints, never key names) for a summary across stations.
//
// The connection is a libpq connection string or URI; passwords come from
// libpq's own places (~/.pgpass, PGPASSWORD, the service file), so the
// program never stores or prints one.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vorsal::registry {

// The version of the tables this program reads and writes.
// Version 2 gave each registry its identity.
constexpr int SchemaVersion = 2;

// The connection string from the command line, else from the environment
// variable VORSAL_REGISTRY; empty when neither gives one.
std::string RegistryTarget(const std::string& fromCommandLine);

// What a connection string says before anything is sent: whether it can be
// read at all, and whether it holds a password (which then stands in the
// shell's history and the process list for other users to read).
struct TargetCheck {
  bool readable = true;
  bool holdsPassword = false;
  std::string error;  // why it cannot be read
};
TargetCheck CheckTarget(const std::string& target);

// Whether the PostgreSQL client library can be had (on Windows it is loaded
// when first asked for); `error` says why not.
bool Available(std::string& error);

// Who takes an address: the run and the station it runs on.
struct Claim {
  std::string runId;
  std::string host;
  std::string operatorName;
  std::string port;
};

// One journal line: its fields in the order of the journal columns the
// registry was made with. The first field is the line's id (run id and the
// line's sequence in the run), which makes sending a line again harmless:
// the registry keeps the first copy.
using Row = std::vector<std::string>;

enum class Status {
  Ok,
  Exhausted,    // no free address is left in the range asked for
  Unreachable,  // the server cannot be reached (or went away): nothing was taken
  Failed,       // the server refused (no schema, a newer schema, no permission, ...)
  Stopped,      // a stop came while the command ran: it was cancelled, nothing taken
};

class Registry {
 public:
  // `journalColumns`: the names of the journal's columns, the line id
  // first; the registry's journal table has these columns, all text.
  explicit Registry(std::vector<std::string> journalColumns);
  ~Registry();
  const std::vector<std::string>& JournalColumns() const { return columns_; }
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // Connects. Unless `forInit`, the schema must be there and of this
  // program's version.
  Status Connect(const std::string& target, std::string& error, bool forInit = false);
  // From now on a command in progress is cancelled on the server when the
  // count of stops grows while it runs (the time-outs of the connection's
  // defaults end it otherwise: 10 s a statement, 5 s waiting for a lock).
  void SetStopRequests(std::function<int()> stopRequests);
  // Whether this connection's user may do what a batch does: take and give
  // back addresses and store journal lines. Failed, saying what is missing,
  // when not; checked before a batch touches anything.
  Status CheckPrivileges(std::string& error);
  // Connects again after the server went away, and checks the schema.
  Status Reconnect(std::string& error);
  bool Connected() const;
  // "database NAME on HOST as USER", never the password.
  std::string Describe() const;
  // The registry's identity, drawn at `registry init` and read when the
  // schema is checked: the same for every station and connection string
  // that reaches this registry, different for every other one. Empty until
  // a connection's schema is checked.
  const std::string& Id() const { return id_; }

  // Creates the tables when they are missing and records their version;
  // checks the version when they are there. Safe to run from several
  // stations at once. Tables of an older version (0 included) are brought
  // up to this one: missing tables and journal columns are added, the
  // registry gets its identity and the version is recorded.
  Status Init(std::string& error);

  // Takes the lowest address in [from, last] of `network` that no one has
  // taken, in one transaction: once this returns Ok the address is this
  // claim's, and no other call anywhere gets it.
  Status TakeAddress(int network, int from, int last, const Claim& claim, int& address, std::string& error);
  // Gives back an address this run took but did not write into a modem.
  Status ReleaseAddress(int network, int address, const std::string& runId, std::string& error);

  // A line the server refused for what it holds (a byte that is not UTF-8,
  // a field too long for its index, ...), not for the connection or the
  // user's rights: its index among the lines and the server's reason.
  struct Refusal {
    std::size_t line = 0;
    std::string reason;
  };
  // Stores the lines in one transaction; a line whose id is already there
  // is left as it is. `added` counts the lines stored now. With `refused`
  // given, lines the server refuses for what they hold are left out and
  // told there, and the others are stored; without it, one such line fails
  // them all.
  Status Record(const std::vector<Row>& lines, int& added, std::string& error,
                std::vector<Refusal>* refused = nullptr);

  // Every journal line of every station, in the order they were received.
  Status Lines(std::vector<Row>& lines, std::string& error);

 private:
  struct Connection;
  Status CheckSchema(std::string& error);
  // The lines in one transaction; `lineFault` tells a refusal for what a
  // line holds.
  Status RecordTogether(const std::vector<Row>& lines, int& added, bool& lineFault, std::string& error);
  std::unique_ptr<Connection> connection_;
  std::function<int()> stopRequests_;
  std::string target_;
  std::string id_;
  std::vector<std::string> columns_;
};

}  // namespace vorsal::registry
