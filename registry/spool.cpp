#include "registry/spool.h"

#include <array>
#include <system_error>

#include "platform/files.h"

namespace vorsal::registry {

namespace {

void Escape(std::string_view field, std::string& out) {
  for (const char c : field) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      default: out += c;
    }
  }
}

// Decodes one line; false when it does not hold exactly `fieldCount`
// fields, its id is empty or an escape is unknown.
bool Decode(std::string_view text, std::size_t fieldCount, Row& line) {
  line.assign(1, std::string());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\t') {
      if (line.size() == fieldCount) return false;
      line.emplace_back();
      continue;
    }
    if (c == '\\') {
      if (++i == text.size()) return false;
      switch (text[i]) {
        case '\\': c = '\\'; break;
        case 't': c = '\t'; break;
        case 'r': c = '\r'; break;
        case 'n': c = '\n'; break;
        default: return false;
      }
    }
    line.back() += c;
  }
  return line.size() == fieldCount && !line.front().empty();
}

std::string Reason(const std::string& what, const std::filesystem::path& file, int code) {
  return what + " " + file.string() + ": " +
         (code == platform::AppendFile::NotRegularFile ? "not a regular file" : platform::SystemErrorText(code));
}

}  // namespace

std::string EncodeLine(const Row& line) {
  std::string out;
  bool first = true;
  for (const std::string& field : line) {
    if (!first) out += '\t';
    first = false;
    Escape(field, out);
  }
  out += '\n';
  return out;
}

std::vector<Row> DecodeLines(std::string_view text, std::size_t fieldCount, int& unreadable) {
  std::vector<Row> lines;
  unreadable = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    // A last line without its LF was cut short.
    if (end == std::string_view::npos) {
      ++unreadable;
      break;
    }
    Row line;
    if (Decode(text.substr(0, end), fieldCount, line)) lines.push_back(std::move(line));
    else ++unreadable;
    text.remove_prefix(end + 1);
  }
  return lines;
}

bool Spool::Keep(const Row& line, std::string& reason) {
  std::error_code ignored;
  // A batch without a local journal may not have made its directory.
  if (file_.has_parent_path()) std::filesystem::create_directories(file_.parent_path(), ignored);
  platform::AppendFile file;
  // Created for this user alone: the lines say who worked on which modem.
  int code = file.Open(file_);
  if (code != 0) {
    reason = Reason("cannot keep the journal line for the registry in", file_, code);
    return false;
  }
  if ((code = file.Lock()) == 0) code = file.Append(EncodeLine(line));
  file.Unlock();
  if (code != 0) reason = Reason("cannot keep the journal line for the registry in", file_, code);
  return code == 0;
}

Status Spool::Send(Registry& registry, int& sent, int& unreadable, std::string& error) {
  sent = unreadable = 0;
  std::error_code ec;
  if (!std::filesystem::exists(file_, ec)) return Status::Ok;
  platform::AppendFile file;
  int code = file.Open(file_);
  if (code == 0) code = file.Lock();
  std::string text;
  if (code == 0) code = file.ReadAll(text);
  if (code != 0) {
    error = Reason("cannot read the journal lines kept for the registry in", file_, code);
    return Status::Failed;
  }
  if (text.empty()) return Status::Ok;
  const std::vector<Row> lines = DecodeLines(text, registry.JournalColumns().size(), unreadable);
  int added = 0;
  const Status status = registry.Record(lines, added, error);
  if (status != Status::Ok) return status;
  sent = static_cast<int>(lines.size());
  // Still under the lock: no line kept since the read is forgotten.
  std::filesystem::resize_file(file_, 0, ec);
  if (ec) {
    // The registry has them; sending them again later stores nothing twice.
    error = Reason("cannot empty", file_, ec.value());
  }
  return Status::Ok;
}

Status RecordOrKeep(Registry& registry, Spool& spool, const Row& line, std::string& error) {
  int sent = 0, unreadable = 0, added = 0;
  Status status = spool.Send(registry, sent, unreadable, error);
  if (status == Status::Ok) status = registry.Record({line}, added, error);
  if (status == Status::Unreachable) {
    std::string reason;
    if (!spool.Keep(line, reason)) error += "; " + reason;
  }
  return status;
}

}  // namespace vorsal::registry
