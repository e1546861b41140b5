#include "registry/registry.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <random>
#include <string_view>
#include <thread>

#include "platform/libpq.h"

namespace vorsal::registry {

using platform::Pq;
using platform::PqOption;

namespace {

// The class of advisory locks the registry takes: one per network while an
// address is chosen, one for creating the schema.
constexpr const char* LockClass = "7361";
constexpr const char* SchemaLock = "0";

const char* const CreateSchema = R"sql(
CREATE TABLE IF NOT EXISTS vorsal_schema (version integer NOT NULL);
CREATE TABLE IF NOT EXISTS vorsal_address (
  network integer NOT NULL,
  address integer NOT NULL,
  run_id text NOT NULL,
  host text NOT NULL,
  operator text NOT NULL,
  port text NOT NULL,
  taken_at timestamptz NOT NULL DEFAULT now(),
  PRIMARY KEY (network, address));
CREATE TABLE IF NOT EXISTS vorsal_registry (id text PRIMARY KEY);
GRANT SELECT ON vorsal_registry TO PUBLIC;
)sql";

// The lowest address from $2 on that is not taken in network $1: $2 itself,
// or the first address after a taken one whose successor is not taken. The
// taken addresses are read in the order of the key and only up to the first
// gap, whatever the planner knows of the table.
const char* const FreeAddress = R"sql(
SELECT CASE WHEN NOT EXISTS (SELECT 1 FROM vorsal_address WHERE network = $1 AND address = $2) THEN $2::integer
ELSE (SELECT address + 1 FROM (
        SELECT address, lead(address) OVER (ORDER BY address) AS next
        FROM vorsal_address WHERE network = $1 AND address >= $2) taken
      WHERE next IS DISTINCT FROM address + 1 ORDER BY address LIMIT 1)
END)sql";

// The journal's table: every column text, the first the line id.
std::string CreateJournal(const std::vector<std::string>& columns) {
  std::string sql = "CREATE TABLE IF NOT EXISTS vorsal_journal (";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    sql += "\n  " + columns[i] + (i == 0 ? " text PRIMARY KEY," : " text NOT NULL,");
  }
  return sql + "\n  received_at timestamptz NOT NULL DEFAULT now())";
}

std::string ColumnList(const std::vector<std::string>& columns) {
  std::string list;
  for (const std::string& column : columns) list += (list.empty() ? "" : ", ") + column;
  return list;
}

std::string InsertLine(const std::vector<std::string>& columns) {
  std::string values;
  for (std::size_t i = 1; i <= columns.size(); ++i) values += (i == 1 ? "$" : ", $") + std::to_string(i);
  return "INSERT INTO vorsal_journal (" + ColumnList(columns) + ") VALUES (" + values +
         ") ON CONFLICT (" + columns.front() + ") DO NOTHING";
}

// Lines sent in one transaction share their time of receipt; their ids keep
// each run's lines together.
std::string SelectLines(const std::vector<std::string>& columns) {
  return "SELECT " + ColumnList(columns) + " FROM vorsal_journal ORDER BY received_at, " + columns.front();
}

// A registry's identity: 128 random bits in hex, drawn once when its
// tables are made (or brought up to a version that has it).
std::string NewIdentity() {
  std::random_device random;
  std::string id;
  for (int i = 0; i < 4; ++i) {
    char part[9];
    std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(random()));
    id += part;
  }
  return id;
}

// The SQLSTATE of a failed command; null when libpq itself failed.
const char* SqlState(const Pq* pq, const pg_result* result) {
  return result ? pq->resultErrorField(result, Pq::DiagnosticSqlState) : nullptr;
}

bool IsConnectionLoss(const Pq* pq, const pg_result* result) {
  const char* state = SqlState(pq, result);
  if (state == nullptr) return true;  // libpq's own failure: the connection
  const std::string_view code(state);
  // connection exceptions, and the server shutting down or starting up
  return code.starts_with("08") || code == "57P01" || code == "57P02" || code == "57P03";
}

// Whether the server refused a line for what it holds: a datum it cannot
// take (class 22: bad encoding, a NUL, ...), a constraint (23), or a limit
// such as an index entry's size (54). Privileges, time-outs and the like
// concern every line alike.
bool IsLineFault(const Pq* pq, const pg_result* result) {
  const char* state = SqlState(pq, result);
  if (state == nullptr) return false;
  const std::string_view code(state);
  return code.starts_with("22") || code.starts_with("23") || code.starts_with("54");
}

// libpq's message on one line: its continuation lines joined by spaces.
std::string Trimmed(const char* text) {
  std::string message;
  for (const char* c = text ? text : ""; *c != '\0'; ++c) {
    const bool space = *c == '\n' || *c == '\t';
    if (!space) message += *c;
    else if (!message.empty() && message.back() != ' ') message += ' ';
  }
  while (!message.empty() && message.back() == ' ') message.pop_back();
  return message;
}

}  // namespace

struct Registry::Connection {
  const Pq* pq = nullptr;
  pg_conn* conn = nullptr;
  std::function<int()> stopRequests;  // how many stops have come; none when empty
  ~Connection() {
    if (conn) pq->finish(conn);
  }

  // While a command runs, a stop that comes meanwhile cancels it on the
  // server: a frozen server or a lock another station holds must not keep
  // the operator waiting. The watcher looks every 50 ms.
  class CancelOnStop {
   public:
    CancelOnStop(const Pq* pq, pg_conn* conn, const std::function<int()>& stops) {
      if (!stops) return;
      const int before = stops();
      watcher_ = std::thread([this, pq, conn, stops, before] {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!done_) {
          if (cv_.wait_for(lock, std::chrono::milliseconds(50), [this] { return done_; })) break;
          if (stops() <= before) continue;
          // Told before the cancel is sent: the command may end with it
          // before the cancel returns.
          cancelled_ = true;
          if (pg_cancel* cancel = pq->getCancel(conn)) {
            char reason[256];
            pq->cancel(cancel, reason, sizeof reason);
            pq->freeCancel(cancel);
          }
          break;
        }
      });
    }
    ~CancelOnStop() {
      if (!watcher_.joinable()) return;
      {
        const std::lock_guard<std::mutex> guard(mutex_);
        done_ = true;
      }
      cv_.notify_one();
      watcher_.join();
    }
    bool Cancelled() const { return cancelled_; }

   private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    std::atomic<bool> cancelled_{false};
    std::thread watcher_;
  };

  // One command's result, cleared when it goes.
  struct Result {
    const Pq* pq = nullptr;  // set with the result
    pg_result* result = nullptr;
    ~Result() {
      if (result) pq->clear(result);
    }
    int Rows() const { return pq->ntuples(result); }
    bool IsNull(int row, int column) const { return pq->getisnull(result, row, column); }
    std::string Text(int row, int column) const { return pq->getvalue(result, row, column); }
    long long Number(int row, int column) const {
      return IsNull(row, column) ? -1 : std::strtoll(pq->getvalue(result, row, column), nullptr, 10);
    }
  };

  Status Fail(const pg_result* result, const std::string& what, std::string& error) {
    const bool lost = pq->status(conn) != Pq::ConnectionOk || IsConnectionLoss(pq, result);
    const char* message = result ? pq->resultErrorMessage(result) : nullptr;
    if (message == nullptr || *message == '\0') message = pq->errorMessage(conn);
    error = what + ": " + Trimmed(message);
    if (!lost && pq->transactionStatus(conn) == Pq::TransactionInError) pq->clear(pq->exec(conn, "ROLLBACK"));
    return lost ? Status::Unreachable : Status::Failed;
  }

  Status Run(const std::string& what, const char* sql, const std::vector<std::string>& params, Result& out,
             std::string& error) {
    std::vector<const char*> values;
    values.reserve(params.size());
    for (const std::string& p : params) values.push_back(p.c_str());
    if (out.result) pq->clear(out.result);
    out.pq = pq;
    bool cancelled = false;
    {
      const CancelOnStop watch(pq, conn, stopRequests);
      // Without parameters the text may hold several commands (the schema).
      out.result = values.empty() ? pq->exec(conn, sql)
                                  : pq->execParams(conn, sql, static_cast<int>(values.size()), nullptr, values.data(),
                                                 nullptr, nullptr, 0);
      cancelled = watch.Cancelled();
    }
    const int status = out.result ? pq->resultStatus(out.result) : -1;
    if (status == Pq::CommandOk || status == Pq::TuplesOk) return Status::Ok;
    const Status failed = Fail(out.result, what, error);
    if (cancelled) {
      error = what + ": stopped while waiting for the registry";
      return Status::Stopped;
    }
    return failed;
  }

  Status Run(const std::string& what, const char* sql, const std::vector<std::string>& params, std::string& error) {
    Result ignored;
    return Run(what, sql, params, ignored, error);
  }

  // Runs `body` between BEGIN and COMMIT; whatever fails rolls back.
  template <typename Body>
  Status Transaction(const std::string& what, Body body, std::string& error) {
    Status status = Run(what, "BEGIN", {}, error);
    if (status == Status::Ok) status = body();
    if (status == Status::Ok) return Run(what, "COMMIT", {}, error);
    if (pq->status(conn) == Pq::ConnectionOk && pq->transactionStatus(conn) != Pq::TransactionIdle) {
      pq->clear(pq->exec(conn, "ROLLBACK"));
    }
    return status;
  }
};

std::string RegistryTarget(const std::string& fromCommandLine) {
  if (!fromCommandLine.empty()) return fromCommandLine;
  const char* fromEnvironment = std::getenv("VORSAL_REGISTRY");
  return fromEnvironment ? fromEnvironment : "";
}

bool Available(std::string& error) { return platform::LoadPq(error) != nullptr; }

TargetCheck CheckTarget(const std::string& target) {
  TargetCheck check;
  const Pq* pq = platform::LoadPq(check.error);
  if (pq == nullptr) {
    check.readable = false;
    return check;
  }
  char* message = nullptr;
  PqOption* options = pq->conninfoParse(target.c_str(), &message);
  if (options == nullptr) {
    check.readable = false;
    check.error = message ? Trimmed(message) : "out of memory";
    if (message) pq->freemem(message);
    return check;
  }
  for (const PqOption* option = options; option->keyword != nullptr; ++option) {
    if (std::string_view(option->keyword) == "password" && option->val != nullptr && *option->val != '\0') {
      check.holdsPassword = true;
    }
  }
  pq->conninfoFree(options);
  return check;
}

Registry::Registry(std::vector<std::string> journalColumns) : columns_(std::move(journalColumns)) {}
Registry::~Registry() = default;

void Registry::SetStopRequests(std::function<int()> stopRequests) {
  stopRequests_ = std::move(stopRequests);
  if (connection_) connection_->stopRequests = stopRequests_;
}

bool Registry::Connected() const {
  return connection_ && connection_->conn && connection_->pq->status(connection_->conn) == Pq::ConnectionOk;
}

std::string Registry::Describe() const {
  if (!connection_ || !connection_->conn) return "no registry";
  const Pq* pq = connection_->pq;
  pg_conn* conn = connection_->conn;
  const char* host = pq->host(conn);
  return std::string("database ") + pq->db(conn) + " on " + (host && *host ? host : "the local server") + " as " +
         pq->user(conn);
}

Status Registry::Connect(const std::string& target, std::string& error, bool forInit) {
  target_ = target;
  connection_ = std::make_unique<Connection>();
  const Pq* pq = connection_->pq = platform::LoadPq(error);
  if (pq == nullptr) return Status::Failed;
  // Defaults that the target may override: a dead server or network is
  // noticed within seconds rather than when the system gives up.
  // A statement that runs too long, or waits too long for a lock another
  // station's connection holds, fails instead of hanging every station.
  const char* keys[] = {"connect_timeout", "keepalives_idle", "keepalives_interval", "keepalives_count",
                        "tcp_user_timeout", "application_name", "options", "dbname", nullptr};
  const char* values[] = {"5", "5", "2", "3", "10000", "vorsal-cli",
                          "-c statement_timeout=10000 -c lock_timeout=5000", target.c_str(), nullptr};
  connection_->conn = pq->connectdbParams(keys, values, 1);
  connection_->stopRequests = stopRequests_;
  if (connection_->conn == nullptr) {
    error = "cannot reach the registry: out of memory";
    return Status::Unreachable;
  }
  // The server's notices (a table already there, a shutdown under way) are
  // not the operator's business; failures come back as errors.
  pq->setNoticeProcessor(connection_->conn, [](void*, const char*) {}, nullptr);
  if (pq->status(connection_->conn) != Pq::ConnectionOk) {
    const std::string message = Trimmed(pq->errorMessage(connection_->conn));
    // A refused password, a missing database or role, or a user without
    // the right to connect is not cured by waiting: the server answered.
    const bool reachable = pq->connectionNeedsPassword(connection_->conn) ||
                           pq->connectionUsedPassword(connection_->conn) || message.find("FATAL:") != std::string::npos;
    error = (reachable ? "the registry refused the connection: " : "cannot reach the registry: ") + message;
    return reachable ? Status::Failed : Status::Unreachable;
  }
  if (forInit) return Status::Ok;
  return CheckSchema(error);
}

Status Registry::Reconnect(std::string& error) {
  if (!connection_ || !connection_->conn) return Connect(target_, error);
  const Pq* pq = connection_->pq;
  pq->reset(connection_->conn);
  if (pq->status(connection_->conn) != Pq::ConnectionOk) {
    error = "cannot reach the registry: " + Trimmed(pq->errorMessage(connection_->conn));
    return Status::Unreachable;
  }
  return CheckSchema(error);
}

Status Registry::CheckSchema(std::string& error) {
  id_.clear();
  Connection::Result result;
  Status status = connection_->Run("cannot read the registry's schema", "SELECT max(version) FROM vorsal_schema", {},
                                   result, error);
  if (status == Status::Unreachable || status == Status::Stopped) return status;
  const long long version = status == Status::Ok && !result.IsNull(0, 0) ? result.Number(0, 0) : -1;
  if (version == SchemaVersion) {
    Connection::Result id;
    status = connection_->Run("cannot read the registry's identity", "SELECT min(id) FROM vorsal_registry", {}, id,
                              error);
    if (status != Status::Ok) return status;
    if (!id.IsNull(0, 0) && !id.Text(0, 0).empty()) {
      id_ = id.Text(0, 0);
      return Status::Ok;
    }
    error = "the registry " + Describe() + " has no identity: give it one with `vorsal-cli registry init`";
  } else if (version > SchemaVersion) {
    error = "the registry's tables are of version " + result.Text(0, 0) + ", newer than this program's (" +
            std::to_string(SchemaVersion) + "): update vorsal-cli";
  } else if (version >= 0) {
    error = "the registry's tables are of version " + result.Text(0, 0) + ", older than this program's (" +
            std::to_string(SchemaVersion) + "): bring them up to date with `vorsal-cli registry init`";
  } else {
    const std::string reason = error.empty() ? "" : " (" + error + ")";
    error = "the registry " + Describe() + " has no tables of this program" + reason +
            ": create them with `vorsal-cli registry init`";
  }
  return Status::Failed;
}

Status Registry::CheckPrivileges(std::string& error) {
  if (!Connected()) {
    error = "the registry cannot be reached";
    return Status::Unreachable;
  }
  // has_table_privilege with several privileges asks for any of them, so
  // each is asked on its own.
  const char* const needed[][2] = {{"vorsal_address", "SELECT"}, {"vorsal_address", "INSERT"},
                                   {"vorsal_address", "DELETE"}, {"vorsal_journal", "SELECT"},
                                   {"vorsal_journal", "INSERT"}};
  std::string missing;
  for (const auto& [table, privilege] : needed) {
    Connection::Result result;
    const Status status = connection_->Run("cannot read the registry user's privileges",
                                           "SELECT has_table_privilege($1, $2)", {table, privilege}, result, error);
    if (status != Status::Ok) return status;
    if (result.Text(0, 0) != "t") missing += (missing.empty() ? "" : ", ") + std::string(privilege) + " on " + table;
  }
  if (missing.empty()) return Status::Ok;
  error = "the registry " + Describe() + " does not let this user take addresses and store journal lines (" +
          missing + " not granted): ask the registry's administrator, or use another user";
  return Status::Failed;
}

Status Registry::Init(std::string& error) {
  if (!Connected()) {
    error = "not connected to the registry";
    return Status::Unreachable;
  }
  Connection& c = *connection_;
  const Status status = c.Transaction("cannot create the registry's tables", [&] {
    Status s = c.Run("cannot create the registry's tables", "SELECT pg_advisory_xact_lock($1::int, $2::int)",
                     {LockClass, SchemaLock}, error);
    if (s == Status::Ok) s = c.Run("cannot create the registry's tables", CreateSchema, {}, error);
    if (s == Status::Ok) s = c.Run("cannot create the registry's tables", CreateJournal(columns_).c_str(), {}, error);
    // Tables of an older version get the journal columns added since.
    for (std::size_t i = 1; s == Status::Ok && i < columns_.size(); ++i) {
      const std::string add = "ALTER TABLE vorsal_journal ADD COLUMN IF NOT EXISTS " + columns_[i] +
                              " text NOT NULL DEFAULT ''";
      s = c.Run("cannot bring the registry's tables up to date", add.c_str(), {}, error);
    }
    // One identity for the registry's life: stations tell by it which
    // registry a line they kept is meant for.
    if (s == Status::Ok) {
      s = c.Run("cannot give the registry its identity",
                "INSERT INTO vorsal_registry (id) SELECT $1 WHERE NOT EXISTS (SELECT 1 FROM vorsal_registry)",
                {NewIdentity()}, error);
    }
    Connection::Result version;
    if (s == Status::Ok) {
      s = c.Run("cannot read the registry's schema", "SELECT max(version) FROM vorsal_schema", {}, version, error);
    }
    if (s == Status::Ok && (version.IsNull(0, 0) || version.Number(0, 0) < SchemaVersion)) {
      s = c.Run("cannot record the schema's version", "INSERT INTO vorsal_schema (version) VALUES ($1::int)",
                {std::to_string(SchemaVersion)}, error);
    }
    return s;
  }, error);
  if (status != Status::Ok) return status;
  return CheckSchema(error);
}

Status Registry::TakeAddress(int network, int from, int last, const Claim& claim, int& address, std::string& error) {
  if (!Connected()) {
    error = "the registry cannot be reached";
    return Status::Unreachable;
  }
  Connection& c = *connection_;
  const std::string what = "cannot take an address from the registry";
  const std::string net = std::to_string(network);
  int taken = -1;
  const Status status = c.Transaction(what, [&] {
    // One chooser per network at a time, on every station: the choice and
    // the insert below are one step for everyone else.
    Status s = c.Run(what, "SELECT pg_advisory_xact_lock($1::int, $2::int)", {LockClass, net}, error);
    Connection::Result free;
    if (s == Status::Ok) s = c.Run(what, FreeAddress, {net, std::to_string(from)}, free, error);
    if (s != Status::Ok) return s;
    if (free.IsNull(0, 0) || free.Number(0, 0) > last) {
      error = "the network's addresses are used up: none is left in network " + net + " from " +
              std::to_string(from) + " to " + std::to_string(last);
      return Status::Exhausted;
    }
    taken = static_cast<int>(free.Number(0, 0));
    return c.Run(what,
                 "INSERT INTO vorsal_address (network, address, run_id, host, operator, port) "
                 "VALUES ($1, $2, $3, $4, $5, $6)",
                 {net, std::to_string(taken), claim.runId, claim.host, claim.operatorName, claim.port}, error);
  }, error);
  if (status == Status::Ok) address = taken;
  return status;
}

Status Registry::ReleaseAddress(int network, int address, const std::string& runId, std::string& error) {
  if (!Connected()) {
    error = "the registry cannot be reached";
    return Status::Unreachable;
  }
  return connection_->Run("cannot give an address back to the registry",
                          "DELETE FROM vorsal_address WHERE network = $1 AND address = $2 AND run_id = $3",
                          {std::to_string(network), std::to_string(address), runId}, error);
}

Status Registry::Record(const std::vector<Row>& lines, int& added, std::string& error,
                        std::vector<Refusal>* refused) {
  added = 0;
  if (refused) refused->clear();
  if (!Connected()) {
    error = "the registry cannot be reached";
    return Status::Unreachable;
  }
  bool lineFault = false;
  const Status status = RecordTogether(lines, added, lineFault, error);
  if (status != Status::Failed || !lineFault || refused == nullptr) return status;
  // One line spoilt the transaction: each line on its own, so the others
  // are stored and only the spoilt ones told.
  for (std::size_t i = 0; i < lines.size(); ++i) {
    int one = 0;
    const Status alone = RecordTogether({lines[i]}, one, lineFault, error);
    added += one;
    if (alone == Status::Failed && lineFault) {
      refused->push_back({i, error});
      continue;
    }
    if (alone != Status::Ok) return alone;
  }
  error.clear();
  return Status::Ok;
}

Status Registry::RecordTogether(const std::vector<Row>& lines, int& added, bool& lineFault, std::string& error) {
  added = 0;
  lineFault = false;
  Connection& c = *connection_;
  const std::string what = "cannot write the journal into the registry";
  const std::string insert = InsertLine(columns_);
  int stored = 0;
  const Status status = c.Transaction(what, [&] {
    for (const Row& line : lines) {
      if (line.size() != columns_.size()) {
        error = what + ": a line of " + std::to_string(line.size()) + " fields for " +
                std::to_string(columns_.size()) + " columns";
        lineFault = true;
        return Status::Failed;
      }
      Connection::Result result;
      const Status s = c.Run(what, insert.c_str(), line, result, error);
      if (s == Status::Failed) lineFault = IsLineFault(c.pq, result.result);
      if (s != Status::Ok) return s;
      stored += std::atoi(c.pq->cmdTuples(result.result));
    }
    return Status::Ok;
  }, error);
  if (status == Status::Ok) added = stored;
  return status;
}

Status Registry::Lines(std::vector<Row>& lines, std::string& error) {
  lines.clear();
  if (!Connected()) {
    error = "the registry cannot be reached";
    return Status::Unreachable;
  }
  Connection::Result result;
  const Status status =
      connection_->Run("cannot read the registry's journal", SelectLines(columns_).c_str(), {}, result, error);
  if (status != Status::Ok) return status;
  for (int row = 0; row < result.Rows(); ++row) {
    Row line;
    for (std::size_t column = 0; column < columns_.size(); ++column) {
      line.push_back(result.Text(row, static_cast<int>(column)));
    }
    lines.push_back(std::move(line));
  }
  return Status::Ok;
}

}  // namespace vorsal::registry
