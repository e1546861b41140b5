// The running program on Linux: /proc/self/exe, the XDG data directory (or
// the password database's home), getlogin_r, getpwuid and gethostname,
// isatty, localtime_r and gmtime_r.
#include "platform/process.h"

#include <cstdlib>
#include <system_error>

#include <pwd.h>
#include <time.h>
#include <unistd.h>

namespace vorsal::platform {

namespace {

std::filesystem::path AbsoluteFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/') return {};
  return value;
}

// The user's home from the password database, for a program started
// without HOME (a service, env -i); empty when it has no absolute one.
std::filesystem::path HomeFromPasswordDatabase() {
  const passwd* entry = ::getpwuid(::getuid());
  if (entry == nullptr || entry->pw_dir == nullptr || entry->pw_dir[0] != '/') return {};
  return entry->pw_dir;
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  if (argc <= 1) return {};
  return std::vector<std::string>(argv + 1, argv + argc);
}

void UseUtf8Console() {}

void UseBinaryStandardOutput() {}

std::string ExecutablePath() {
  std::error_code error;
  std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : path.string();
}

std::filesystem::path UserDataDir() {
  std::filesystem::path base = AbsoluteFromEnvironment("XDG_DATA_HOME");
  if (base.empty()) {
    std::filesystem::path home = AbsoluteFromEnvironment("HOME");
    if (home.empty()) home = HomeFromPasswordDatabase();
    if (home.empty()) return {};
    base = home / ".local" / "share";
  }
  return base / "vorsal";
}

std::vector<std::filesystem::path> ProgramFilesDirs() { return {}; }

std::string LoginName() {
  char name[256] = {};
  if (::getlogin_r(name, sizeof name) == 0 && name[0] != '\0') return name;
  if (const passwd* entry = ::getpwuid(::geteuid()); entry != nullptr) return entry->pw_name;
  return {};
}

std::string HostName() {
  char host[256] = {};
  // The last byte stays 0: a name that was cut short is not terminated.
  if (::gethostname(host, sizeof host - 1) != 0) return {};
  return host;
}

bool IsTerminal(StandardStream stream) {
  const int fd = stream == StandardStream::Input ? STDIN_FILENO
                 : stream == StandardStream::Output ? STDOUT_FILENO
                                                   : STDERR_FILENO;
  return ::isatty(fd) == 1;
}

std::tm LocalTime(std::time_t time) {
  std::tm result{};
  ::localtime_r(&time, &result);
  return result;
}

std::tm UtcTime(std::time_t time) {
  std::tm result{};
  ::gmtime_r(&time, &result);
  return result;
}

}  // namespace vorsal::platform
