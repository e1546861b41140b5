#include "cli/journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <system_error>

namespace vorsal::cli {

namespace {

const std::vector<std::string> HeaderFields = {
    "time",        "port",        "adapter_serial", "operation", "old_address", "old_network", "new_address",
    "new_network", "firmware",    "key_name",       "footprint", "result",      "message"};

std::string SystemError(const std::string& what, const std::filesystem::path& file, int code) {
  return what + " " + file.string() + ": " + std::strerror(code);
}

}  // namespace

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string CsvLine(const std::vector<std::string>& fields) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += ',';
    line += CsvField(fields[i]);
  }
  line += "\r\n";
  return line;
}

std::string UtcTimestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  ::gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

Journal::~Journal() {
  if (fd_ >= 0) ::close(fd_);
}

bool Journal::Open(const std::filesystem::path& file, std::string* error) {
  file_ = file;
  std::error_code ec;
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ec);
  if (ec) {
    *error = SystemError("cannot create the directory of the journal", file, ec.value());
    return false;
  }
  fd_ = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    *error = SystemError("cannot open the journal", file, errno);
    return false;
  }
  // The lock keeps a second program from writing a second header while this
  // one finds the file empty.
  ::flock(fd_, LOCK_EX);
  struct stat info {};
  bool ok = ::fstat(fd_, &info) == 0;
  if (ok && info.st_size == 0) ok = WriteLine(CsvLine(HeaderFields), error);
  else if (!ok) *error = SystemError("cannot read the journal", file, errno);
  ::flock(fd_, LOCK_UN);
  return ok;
}

bool Journal::Append(const JournalEntry& entry, std::string* error) {
  return WriteLine(CsvLine({UtcTimestamp(), entry.port, entry.adapterSerial, entry.operation, entry.oldAddress,
                            entry.oldNetwork, entry.newAddress, entry.newNetwork, entry.firmware, entry.keyName,
                            entry.footprint, entry.result, entry.message}),
                   error);
}

bool Journal::WriteLine(const std::string& line, std::string* error) {
  if (fd_ < 0) {
    *error = "the journal is not open";
    return false;
  }
  ssize_t written;
  do {
    written = ::write(fd_, line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  if (written != static_cast<ssize_t>(line.size())) {
    *error = SystemError("cannot write to the journal", file_, written < 0 ? errno : ENOSPC);
    return false;
  }
  return true;
}

}  // namespace vorsal::cli
