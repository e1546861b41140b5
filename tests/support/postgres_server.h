// A PostgreSQL server of the suite's own: a fresh cluster in a temporary
// folder, listening only on a Unix socket there. When the suite runs as
// root the server runs as the user vorsal-ci (created when missing), since
// PostgreSQL refuses to run as root. The cluster's superuser is "vorsal",
// trusted on the socket.
#pragma once

#include <filesystem>
#include <string>

namespace vorsal::test {

class PostgresServer {
 public:
  PostgresServer() = default;
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;
  ~PostgresServer();

  // The folder of initdb and pg_ctl (VORSAL_PG_BIN, else the newest
  // /usr/lib/postgresql/N/bin); empty when PostgreSQL is not installed.
  static std::filesystem::path BinDir();

  // Creates the cluster and starts it. False with `problem` set.
  bool Start(std::string& problem);
  // Stops at once, as a crash or a pulled cable would; Resume starts the
  // same cluster again.
  bool Stop();
  bool Resume();
  // Runs SQL through psql, or creates a database; true when it succeeded.
  bool Sql(const std::string& database, const std::string& sql) const;
  bool CreateDatabase(const std::string& name) const;
  std::string ConnectionString(const std::string& database) const;

 private:
  int Run(const std::string& command) const;
  std::filesystem::path bin_, dir_;
  std::string asUser_;
};

}  // namespace vorsal::test
