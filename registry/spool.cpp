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
  return what + " " + platform::Utf8FromPath(file) + ": " +
         (code == platform::AppendFile::NotRegularFile ? "not a regular file" : platform::SystemErrorText(code));
}

// One of the spool's files, opened by the journal's rules and locked until
// it goes: never through a link another user made, only a regular file,
// and only a file of this user's own (another user's file could feed
// forged lines). A new one is created for this user alone: the lines say
// who worked on which modem.
class OwnFile {
 public:
  OwnFile() = default;
  OwnFile(const OwnFile&) = delete;
  OwnFile& operator=(const OwnFile&) = delete;
  ~OwnFile() {
    if (locked_) file_.Unlock();
  }
  bool Open(const std::filesystem::path& path, const std::string& what, std::string& reason) {
    std::error_code ignored;
    // A batch without a local journal may not have made its directory.
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ignored);
    std::filesystem::path target;
    std::string why;
    if (!platform::ResolveForWrite(path, target, why)) {
      reason = what + " " + platform::Utf8FromPath(path) + ": " + why;
      return false;
    }
    int code = file_.Open(target);
    if (code == 0 && !file_.OwnedByThisUser()) {
      reason = what + " " + platform::Utf8FromPath(path) + ": it belongs to another user";
      return false;
    }
    if (code == 0) code = file_.Lock();
    locked_ = code == 0;
    if (code != 0) reason = Reason(what, path, code);
    return locked_;
  }
  platform::AppendFile* operator->() { return &file_; }

 private:
  platform::AppendFile file_;
  bool locked_ = false;
};

KeptLine KeptFor(const Registry& registry, const Row& line) { return {registry.Id(), registry.Describe(), line}; }

}  // namespace

std::string EncodeLine(const KeptLine& line) {
  std::string out;
  if (!line.registryId.empty()) {
    Escape("@" + line.registryId + (line.registryName.empty() ? "" : " " + line.registryName), out);
    out += '\t';
  }
  bool first = true;
  for (const std::string& field : line.fields) {
    if (!first) out += '\t';
    first = false;
    Escape(field, out);
  }
  out += '\n';
  return out;
}

std::vector<KeptLine> DecodeLines(std::string_view text, std::size_t fieldCount, int& unreadable) {
  std::vector<KeptLine> lines;
  unreadable = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    // A last line without its LF was cut short.
    if (end == std::string_view::npos) {
      ++unreadable;
      break;
    }
    const std::string_view part = text.substr(0, end);
    text.remove_prefix(end + 1);
    KeptLine line;
    const bool named = part.starts_with('@');
    if (!Decode(part, fieldCount + (named ? 1 : 0), line.fields)) {
      ++unreadable;
      continue;
    }
    if (named) {
      const std::string registry = line.fields.front().substr(1);
      line.fields.erase(line.fields.begin());
      const std::size_t space = registry.find(' ');
      line.registryId = registry.substr(0, space);
      if (space != std::string::npos) line.registryName = registry.substr(space + 1);
      if (line.registryId.empty() || line.fields.front().empty()) {
        ++unreadable;
        continue;
      }
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

std::filesystem::path Spool::SetAsideFile() const {
  return file_.parent_path() / (file_.stem().string() + ".refused" + file_.extension().string());
}

bool Spool::Keep(const Registry& registry, const Row& line, std::string& reason) {
  OwnFile file;
  const std::string what = "cannot keep the journal line for the registry in";
  if (!file.Open(file_, what, reason)) return false;
  const int code = file->Append(EncodeLine(KeptFor(registry, line)));
  if (code != 0) reason = Reason(what, file_, code);
  return code == 0;
}

bool Spool::SetAside(const Registry& registry, const Row& line, const std::string& reason, std::string& error) {
  OwnFile file;
  const std::string what = "cannot set aside the journal line the registry refused in";
  const std::filesystem::path aside = SetAsideFile();
  if (!file.Open(aside, what, error)) return false;
  // The reason first, then the line as the spool keeps it.
  std::string text;
  Escape(reason, text);
  const int code = file->Append(text + "\t" + EncodeLine(KeptFor(registry, line)));
  if (code != 0) error = Reason(what, aside, code);
  return code == 0;
}

Status Spool::Send(Registry& registry, SendReport& report, std::string& error) {
  report = SendReport();
  std::error_code ec;
  if (!std::filesystem::exists(std::filesystem::symlink_status(file_, ec))) return Status::Ok;
  OwnFile file;
  const std::string what = "cannot read the journal lines kept for the registry in";
  if (!file.Open(file_, what, error)) return Status::Failed;
  std::string text;
  if (const int code = file->ReadAll(text)) {
    error = Reason(what, file_, code);
    return Status::Failed;
  }
  if (text.empty()) return Status::Ok;
  std::vector<KeptLine> lines = DecodeLines(text, registry.JournalColumns().size(), report.unreadable);
  std::vector<Row> mine;
  std::vector<KeptLine> others;
  for (KeptLine& line : lines) {
    const bool forThis = line.registryId.empty() ? sendsUnnamed_ : line.registryId == registry.Id();
    if (forThis) {
      mine.push_back(std::move(line.fields));
      continue;
    }
    SendReport::Waiting& waiting = report.waiting[line.registryId];
    waiting.name = line.registryName;
    ++waiting.count;
    others.push_back(std::move(line));
  }
  // Nothing for this registry and nothing damaged: the file stays as it is.
  if (mine.empty() && report.unreadable == 0) return Status::Ok;
  int added = 0;
  std::vector<Registry::Refusal> refused;
  const Status status = registry.Record(mine, added, error, &refused);
  if (status != Status::Ok) return status;
  report.sent = static_cast<int>(mine.size() - refused.size());
  for (const Registry::Refusal& refusal : refused) {
    std::string why;
    if (SetAside(registry, mine[refusal.line], refusal.reason, why)) {
      if (report.setAside++ == 0) report.setAsideReason = refusal.reason;
      continue;
    }
    // Kept rather than lost when it cannot be set aside.
    others.push_back(KeptFor(registry, mine[refusal.line]));
    error = why;
  }
  // Still under the lock: no line kept since the read is forgotten, and
  // the lines for other registries stay.
  std::string rest;
  for (const KeptLine& line : others) rest += EncodeLine(line);
  int code = file->Truncate();
  if (code == 0 && !rest.empty()) code = file->Append(rest);
  if (code != 0) {
    // The registry has its lines; sending them again later stores nothing twice.
    error = Reason("cannot rewrite", file_, code);
  }
  return Status::Ok;
}

Status RecordOrKeep(Registry& registry, Spool& spool, const Row& line, SendReport& report, std::string& error) {
  Status status = spool.Send(registry, report, error);
  int added = 0;
  std::vector<Registry::Refusal> refused;
  if (status == Status::Ok) status = registry.Record({line}, added, error, &refused);
  if (status == Status::Ok && !refused.empty()) {
    if (!spool.SetAside(registry, line, refused.front().reason, error)) return Status::Failed;
    if (report.setAside++ == 0) report.setAsideReason = refused.front().reason;
  }
  if (status == Status::Unreachable) {
    std::string reason;
    if (!spool.Keep(registry, line, reason)) error += "; " + reason;
  }
  return status;
}

std::string SetAsideNotice(const SendReport& report, const Spool& spool) {
  if (report.setAside == 0) return {};
  return "set aside " + std::to_string(report.setAside) + (report.setAside == 1 ? " line: " : " lines: ") +
         report.setAsideReason + "; see " + platform::Utf8FromPath(spool.SetAsideFile());
}

}  // namespace vorsal::registry
