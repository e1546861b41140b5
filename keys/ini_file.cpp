#include "keys/ini_file.h"

#include "keys/cp1251.h"

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Closes a descriptor when it goes out of scope.
struct Fd {
  int fd = -1;
  explicit Fd(int value) : fd(value) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

std::filesystem::path DirectoryOf(const std::filesystem::path& file) {
  std::filesystem::path dir = file.parent_path();
  return dir.empty() ? std::filesystem::path(".") : dir;
}

// The file that a write to `path` must replace: the target of a symbolic
// link, so that the link itself survives the rename.
std::filesystem::path WriteTarget(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::is_symlink(path, ec)) return path;
  std::filesystem::path target = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : target;
}

bool ReplaceFile(const std::filesystem::path& target, std::string_view bytes) {
  // A file its owner made read-only stays unwritten, as an in-place write
  // would; the rename alone would not stop at its permission bits.
  if (::access(target.c_str(), F_OK) == 0 && ::access(target.c_str(), W_OK) != 0) return false;
  const std::filesystem::path dir = DirectoryOf(target);
  std::string temp = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
  Fd file(::mkostemp(temp.data(), O_CLOEXEC));  // created with mode 0600
  if (file.fd < 0) return false;

  struct stat old {};
  bool ok = true;
  if (::stat(target.c_str(), &old) == 0) ok = ::fchmod(file.fd, old.st_mode & 07777) == 0;
  ok = ok && WriteAll(file.fd, bytes) && ::fsync(file.fd) == 0;
  const int fd = file.fd;
  file.fd = -1;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable; the new content is in place either way.
  Fd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirFd.fd >= 0) ::fsync(dirFd.fd);
  return true;
}

}  // namespace

IniFile IniFile::Parse(std::string_view bytes) {
  IniFile ini;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const std::size_t newline = bytes.find('\n', pos);
    if (newline == std::string_view::npos) {
      ini.lines_.push_back({std::string(bytes.substr(pos)), ""});
      break;
    }
    const bool crlf = newline > pos && bytes[newline - 1] == '\r';
    const std::size_t end = crlf ? newline - 1 : newline;
    ini.lines_.push_back({std::string(bytes.substr(pos, end - pos)), crlf ? "\r\n" : "\n"});
    pos = newline + 1;
  }
  return ini;
}

IniLoadStatus IniFile::Load(const std::filesystem::path& path, IniFile& out) {
  out = IniFile();
  // O_NONBLOCK keeps a FIFO in the file's place from blocking the open.
  Fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.fd < 0) {
    return (errno == ENOENT || errno == ENOTDIR) ? IniLoadStatus::Missing : IniLoadStatus::Unreadable;
  }
  struct stat info {};
  if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) return IniLoadStatus::Unreadable;

  std::string bytes;
  char buffer[8192];
  for (;;) {
    const ssize_t got = ::read(file.fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return IniLoadStatus::Unreadable;
    }
    if (got == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  out = Parse(bytes);
  return IniLoadStatus::Loaded;
}

std::string IniFile::Text() const {
  std::string text;
  for (const Line& line : lines_) {
    text += line.text;
    text += line.eol;
  }
  return text;
}

std::optional<IniFile::SectionSpan> IniFile::FindSection(std::string_view section) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const ParsedLine header = Classify(lines_[i].text);
    if (header.kind != ParsedLine::Section || !Cp1251EqualsIgnoreCase(header.name, section)) continue;
    std::size_t end = i + 1;
    while (end < lines_.size() && Classify(lines_[end].text).kind != ParsedLine::Section) ++end;
    return SectionSpan{i, end};
  }
  return std::nullopt;
}

std::optional<std::string> IniFile::Value(std::string_view section, std::string_view name) const {
  const auto span = FindSection(section);
  if (!span) return std::nullopt;
  for (std::size_t i = span->header + 1; i < span->end; ++i) {
    const ParsedLine entry = Classify(lines_[i].text);
    if (entry.kind == ParsedLine::Entry && Cp1251EqualsIgnoreCase(entry.name, name)) {
      return std::string(entry.value.substr(0, IniValueMaxLength));
    }
  }
  return std::nullopt;
}

std::vector<std::string> IniFile::EntryNames(std::string_view section) const {
  std::vector<std::string> names;
  const auto span = FindSection(section);
  if (!span) return names;
  for (std::size_t i = span->header + 1; i < span->end; ++i) {
    const ParsedLine entry = Classify(lines_[i].text);
    if (entry.kind == ParsedLine::Entry) names.emplace_back(entry.name);
  }
  return names;
}

std::string IniFile::LineEnding() const {
  for (const Line& line : lines_) {
    if (!line.eol.empty()) return line.eol;
  }
  return "\r\n";
}

bool IniFile::SetValue(std::string_view section, std::string_view name, std::string_view value) {
  if (!IniNameStorable(name) || HasLineBreak(value)) return false;
  const std::string eol = LineEnding();
  const std::string entryLine = std::string(name) + "=" + std::string(value);

  const auto span = FindSection(section);
  if (!span) {
    if (!lines_.empty() && lines_.back().eol.empty()) lines_.back().eol = eol;
    lines_.push_back({"[" + std::string(section) + "]", eol});
    lines_.push_back({entryLine, eol});
    return true;
  }

  std::size_t lastEntry = span->header;
  for (std::size_t i = span->header + 1; i < span->end; ++i) {
    const ParsedLine entry = Classify(lines_[i].text);
    if (entry.kind != ParsedLine::Entry) continue;
    if (Cp1251EqualsIgnoreCase(entry.name, name)) {
      Line& line = lines_[i];
      line.text = line.text.substr(0, entry.equals + 1) + std::string(value);
      return true;
    }
    lastEntry = i;
  }
  if (lines_[lastEntry].eol.empty()) lines_[lastEntry].eol = eol;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(lastEntry + 1), Line{entryLine, eol});
  return true;
}

bool IniNameStorable(std::string_view name) {
  return !name.empty() && TrimBlanks(name).size() == name.size() && !HasLineBreak(name) &&
         name.find('=') == std::string_view::npos && name.front() != '[' && name.front() != ';';
}

std::string IniWriteErrorText(const std::filesystem::path& path) {
  std::error_code ec;
  const std::filesystem::path full = std::filesystem::absolute(path, ec);
  return "Unable to write to " + (ec ? path : full).string();
}

bool WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes, std::string* error) {
  if (ReplaceFile(WriteTarget(path), bytes)) return true;
  if (error) *error = IniWriteErrorText(path);
  return false;
}

bool UpdateIniFile(const std::filesystem::path& path, const std::function<bool(IniFile&)>& change,
                   std::string* error) {
  const auto fail = [&] {
    if (error) *error = IniWriteErrorText(path);
    return false;
  };
  // Every writer holds this lock from its read to its rename, so no update
  // can slip in between and be overwritten. Where the file system has no
  // locks, the fresh read still narrows the window to a moment.
  Fd dir(::open(DirectoryOf(WriteTarget(path)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.fd < 0) return fail();
  while (::flock(dir.fd, LOCK_EX) != 0 && errno == EINTR) {
  }

  IniFile ini;
  if (IniFile::Load(path, ini) == IniLoadStatus::Unreadable) return fail();
  if (!change(ini)) return true;
  return WriteFileAtomically(path, ini.Text(), error);
}

}  // namespace vorsal
