#include "keys/ini_file.h"

#include "keys/cp1251.h"
#include "platform/files.h"

#include <system_error>

namespace vorsal {
namespace {

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

// What one line of the file is.
struct ParsedLine {
  enum Kind { Other, Section, Entry } kind = Other;
  std::string_view name;
  std::string_view value;
  std::size_t equals = 0;  // position of '=' in an entry line
};

ParsedLine Classify(std::string_view line) {
  ParsedLine parsed;
  const std::string_view body = TrimBlanks(line);
  if (body.empty() || body.front() == ';') return parsed;
  if (body.front() == '[') {
    std::string_view name = body.substr(1);
    name = name.substr(0, name.find(']'));
    parsed.kind = ParsedLine::Section;
    parsed.name = TrimBlanks(name);
    return parsed;
  }
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return parsed;
  parsed.kind = ParsedLine::Entry;
  parsed.name = TrimBlanks(line.substr(0, equals));
  parsed.value = TrimBlanks(line.substr(equals + 1));
  parsed.equals = equals;
  return parsed;
}

std::filesystem::path DirectoryOf(const std::filesystem::path& file) {
  std::filesystem::path dir = file.parent_path();
  return dir.empty() ? std::filesystem::path(".") : dir;
}

// One line of the text: [start, end) without its line ending; `next` is the
// offset of the following line (the text's size after the last).
struct LineSpan {
  std::size_t start;
  std::size_t end;
  std::size_t next;
  bool HasEnding() const { return next > end; }
};

LineSpan LineAt(std::string_view text, std::size_t start) {
  const std::size_t newline = text.find('\n', start);
  if (newline == std::string_view::npos) return {start, text.size(), text.size()};
  const std::size_t end = newline > start && text[newline - 1] == '\r' ? newline - 1 : newline;
  return {start, end, newline + 1};
}

// Calls visit(line, parsed) for each line in [from, to) until it returns false.
template <typename Visit>
void ForEachLine(std::string_view text, std::size_t from, std::size_t to, Visit visit) {
  while (from < to) {
    const LineSpan line = LineAt(text, from);
    if (!visit(line, Classify(text.substr(line.start, line.end - line.start)))) return;
    from = line.next;
  }
}

}  // namespace

IniFile IniFile::Parse(std::string_view bytes) {
  IniFile ini;
  ini.text_.assign(bytes);
  return ini;
}

IniLoadStatus IniFile::Load(const std::filesystem::path& path, IniFile& out, int* errnum) {
  out = IniFile();
  switch (platform::ReadWholeFile(path, IniFileMaxBytes, out.text_, errnum)) {
    case platform::ReadStatus::Read: return IniLoadStatus::Loaded;
    case platform::ReadStatus::Missing: return IniLoadStatus::Missing;
    case platform::ReadStatus::Unreadable: return IniLoadStatus::Unreadable;
    case platform::ReadStatus::TooLarge: break;
  }
  return IniLoadStatus::TooLarge;
}

std::optional<IniFile::SectionSpan> IniFile::FindSection(std::string_view section) const {
  std::optional<SectionSpan> span;
  ForEachLine(text_, 0, text_.size(), [&](const LineSpan& line, const ParsedLine& parsed) {
    if (parsed.kind != ParsedLine::Section) return true;
    if (span) {
      span->end = line.start;
      return false;
    }
    if (Cp1251EqualsIgnoreCase(parsed.name, section)) span = SectionSpan{line.start, text_.size()};
    return true;
  });
  return span;
}

std::optional<std::string> IniFile::Value(std::string_view section, std::string_view name) const {
  const auto span = FindSection(section);
  if (!span) return std::nullopt;
  std::optional<std::string> value;
  ForEachLine(text_, LineAt(text_, span->header).next, span->end, [&](const LineSpan&, const ParsedLine& entry) {
    if (entry.kind != ParsedLine::Entry || !Cp1251EqualsIgnoreCase(entry.name, name)) return true;
    value = std::string(entry.value.substr(0, IniValueMaxLength));
    return false;
  });
  return value;
}

std::vector<std::string> IniFile::EntryNames(std::string_view section) const {
  std::vector<std::string> names;
  const auto span = FindSection(section);
  if (!span) return names;
  ForEachLine(text_, LineAt(text_, span->header).next, span->end, [&](const LineSpan&, const ParsedLine& entry) {
    if (entry.kind == ParsedLine::Entry) names.emplace_back(entry.name);
    return true;
  });
  return names;
}

std::string IniFile::LineEnding() const {
  const LineSpan first = LineAt(text_, 0);
  if (!first.HasEnding()) return "\r\n";
  return first.next - first.end == 2 ? "\r\n" : "\n";
}

bool IniFile::SetValue(std::string_view section, std::string_view name, std::string_view value) {
  if (!IniNameStorable(name) || HasLineBreak(value)) return false;
  const std::string eol = LineEnding();
  const std::string entryLine = std::string(name) + "=" + std::string(value) + eol;
  const auto endLastLine = [&] {
    if (!text_.empty() && text_.back() != '\n') text_ += eol;
  };

  const auto span = FindSection(section);
  if (!span) {
    endLastLine();
    text_ += "[" + std::string(section) + "]" + eol + entryLine;
    return true;
  }

  LineSpan lastEntry = LineAt(text_, span->header);
  bool replaced = false;
  ForEachLine(text_, lastEntry.next, span->end, [&](const LineSpan& line, const ParsedLine& entry) {
    if (entry.kind != ParsedLine::Entry) return true;
    if (Cp1251EqualsIgnoreCase(entry.name, name)) {
      // The text before '=' keeps its own spelling.
      const std::size_t from = line.start + entry.equals + 1;
      text_.replace(from, line.end - from, value);
      replaced = true;
      return false;
    }
    lastEntry = line;
    return true;
  });
  if (replaced) return true;
  if (!lastEntry.HasEnding()) {
    text_ += eol;
    lastEntry.next = text_.size();
  }
  text_.insert(lastEntry.next, entryLine);
  return true;
}

bool IniNameStorable(std::string_view name) {
  return !name.empty() && TrimBlanks(name).size() == name.size() && !HasLineBreak(name) &&
         name.find('=') == std::string_view::npos && name.front() != '[' && name.front() != ';';
}

std::string IniWriteErrorText(const std::filesystem::path& path, std::string_view reason) {
  std::error_code ec;
  const std::filesystem::path full = std::filesystem::absolute(path, ec);
  std::string text = "Unable to write to " + platform::Utf8FromPath(ec ? path : full);
  if (!reason.empty()) text += ": " + std::string(reason);
  return text;
}

bool WriteFilePreserving(const std::filesystem::path& path, std::string_view bytes, std::string* error) {
  std::filesystem::path target;
  std::string reason;
  if (platform::ResolveForWrite(path, target, reason) && platform::WriteFileKeepingAttributes(target, bytes, reason)) {
    return true;
  }
  if (error) *error = IniWriteErrorText(path, reason);
  return false;
}

bool FileUpdatable(const std::filesystem::path& path) { return platform::FileUpdatable(path); }

bool UpdateIniFile(const std::filesystem::path& path, const std::function<bool(IniFile&)>& change,
                   std::string* error) {
  std::string reason;
  const auto fail = [&] {
    if (error) *error = IniWriteErrorText(path, reason);
    return false;
  };
  std::filesystem::path target;
  if (!platform::ResolveForWrite(path, target, reason)) return fail();
  // Every writer holds this lock from its read to its write, so no update
  // can slip in between and be overwritten. Where the file system has no
  // locks, the fresh read still narrows the window to a moment.
  platform::DirectoryLock lock;
  if (!lock.Acquire(DirectoryOf(target), reason)) return fail();

  IniFile ini;
  int errnum = 0;
  switch (IniFile::Load(target, ini, &errnum)) {
    case IniLoadStatus::Unreadable:
      reason = platform::SystemErrorText(errnum);
      return fail();
    case IniLoadStatus::TooLarge:
      reason = "the file is larger than 8 MiB";
      return fail();
    case IniLoadStatus::Loaded:
    case IniLoadStatus::Missing:
      break;
  }
  if (!change(ini)) return true;
  if (ini.Text().size() > IniFileMaxBytes) {
    reason = "the file would grow larger than 8 MiB";
    return fail();
  }
  return platform::WriteFileKeepingAttributes(target, ini.Text(), reason) || fail();
}

}  // namespace vorsal
