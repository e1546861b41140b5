#include "cli/journal.h"

#include "platform/files.h"
#include "platform/process.h"

#include <ctime>
#include <system_error>

namespace vorsal::cli {

namespace {

const std::vector<std::string> HeaderFields = {
    "time",        "port",        "adapter_serial", "operation", "old_address", "old_network", "new_address",
    "new_network", "firmware",    "key_name",       "footprint", "result",      "message"};

std::string SystemError(const std::string& what, const std::filesystem::path& file, int code) {
  return what + " " + platform::Utf8FromPath(file) + ": " + platform::SystemErrorText(code);
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
  const std::tm utc = platform::UtcTime(now);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

Journal::~Journal() = default;

bool Journal::Open(const std::filesystem::path& file, std::string* error) {
  file_ = file;
  std::error_code ec;
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ec);
  if (ec) {
    *error = SystemError("cannot create the directory of the journal", file, ec.value());
    return false;
  }
  if (const int code = out_.Open(file)) {
    *error = SystemError("cannot open the journal", file, code);
    return false;
  }
  // The lock keeps a second program from writing a second header while this
  // one finds the file empty.
  out_.Lock();
  std::uint64_t size = 0;
  const int code = out_.Size(size);
  bool ok = code == 0;
  if (ok && size == 0) ok = WriteLine(CsvLine(HeaderFields), error);
  else if (!ok) *error = SystemError("cannot read the journal", file, code);
  out_.Unlock();
  return ok;
}

bool Journal::Append(const JournalEntry& entry, std::string* error) {
  return WriteLine(CsvLine({UtcTimestamp(), entry.port, entry.adapterSerial, entry.operation, entry.oldAddress,
                            entry.oldNetwork, entry.newAddress, entry.newNetwork, entry.firmware, entry.keyName,
                            entry.footprint, entry.result, entry.message}),
                   error);
}

bool Journal::WriteLine(const std::string& line, std::string* error) {
  if (!out_.IsOpen()) {
    *error = "the journal is not open";
    return false;
  }
  if (const int code = out_.Append(line)) {
    *error = SystemError("cannot write to the journal", file_, code);
    return false;
  }
  return true;
}

}  // namespace vorsal::cli
