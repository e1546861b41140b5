#include "support/postgres_server.h"

#include <unistd.h>

#include <cstdlib>

namespace vorsal::test {

namespace {
constexpr const char* ServerUser = "vorsal-ci";
}

PostgresServer::~PostgresServer() {
  if (dir_.empty()) return;
  Stop();
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::filesystem::path PostgresServer::BinDir() {
  if (const char* bin = std::getenv("VORSAL_PG_BIN")) return bin;
  std::filesystem::path best;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
    const auto bin = entry.path() / "bin";
    if (!std::filesystem::exists(bin / "initdb") || !std::filesystem::exists(bin / "pg_ctl")) continue;
    const auto version = [](const std::filesystem::path& p) { return std::atoi(p.parent_path().filename().c_str()); };
    if (best.empty() || version(bin) > version(best)) best = bin;
  }
  return best;
}

int PostgresServer::Run(const std::string& command) const {
  const std::string prefix = asUser_.empty() ? "" : "runuser -u " + asUser_ + " -- ";
  return std::system((prefix + command + " >>" + (dir_ / "log").string() + " 2>&1").c_str());
}

bool PostgresServer::Start(std::string& problem) {
  bin_ = BinDir();
  if (bin_.empty()) {
    problem = "PostgreSQL is not installed (Debian: apt-get install postgresql)";
    return false;
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "vorsal-pg-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    problem = "mkdtemp failed";
    return false;
  }
  dir_ = pattern;
  if (::geteuid() == 0) {
    asUser_ = ServerUser;
    const std::string user = ServerUser;
    if (std::system(("id -u " + user + " >/dev/null 2>&1 || useradd --system --no-create-home "
                     "--shell /usr/sbin/nologin " + user).c_str()) != 0 ||
        std::system(("chown " + user + " " + dir_.string()).c_str()) != 0) {
      problem = "cannot create or use the user " + user + " to run the server";
      return false;
    }
  }
  if (Run((bin_ / "initdb").string() + " --no-sync -A trust -U vorsal -E UTF8 --locale=C -D " +
          (dir_ / "data").string()) != 0 ||
      !Resume()) {
    problem = "the server did not start; see " + (dir_ / "log").string();
    return false;
  }
  return true;
}

bool PostgresServer::Resume() {
  // Durability is the operating system's here: a stopped server process
  // loses nothing, and the suites do not wait for the disk.
  return Run((bin_ / "pg_ctl").string() + " -D " + (dir_ / "data").string() + " -l " + (dir_ / "server.log").string() +
             " -w -t 60 -o \"-h '' -k " + dir_.string() + " -c fsync=off -c full_page_writes=off\" start") == 0;
}

bool PostgresServer::Stop() {
  return Run((bin_ / "pg_ctl").string() + " -D " + (dir_ / "data").string() + " -m immediate -w stop") == 0;
}

bool PostgresServer::Sql(const std::string& database, const std::string& sql) const {
  return Run((bin_ / "psql").string() + " -q -v ON_ERROR_STOP=1 -h " + dir_.string() + " -U vorsal -d " + database +
             " -c \"" + sql + "\"") == 0;
}

bool PostgresServer::CreateDatabase(const std::string& name) const {
  return Run((bin_ / "createdb").string() + " -h " + dir_.string() + " -U vorsal " + name) == 0;
}

std::string PostgresServer::ConnectionString(const std::string& database) const {
  return "host=" + dir_.string() + " user=vorsal dbname=" + database;
}

}  // namespace vorsal::test
