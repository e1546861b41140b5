#include "keys/ini_file.h"

#include "keys/cp1251.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
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

// Why a write failed: the system's reason, or one of the store's own.
struct WriteFailure {
  std::string reason;
  static WriteFailure FromErrno(int errnum) { return {std::strerror(errnum)}; }
};

constexpr int MaxLinks = 40;  // as the kernel's limit on a chain of links

// Checks every symbolic link on the way to the directory `dir`, as the system
// would follow them: each must belong to this user or to root (a system
// link), since another user's link in the folder path could point the write
// at any directory this user may write, just as a link at the file itself.
bool CheckDirectoryLinks(const std::filesystem::path& dir, WriteFailure& failure) {
  std::error_code ec;
  std::filesystem::path rest = dir.is_absolute() ? dir : std::filesystem::current_path(ec) / dir;
  std::filesystem::path reached = rest.root_path();
  int links = 0;
  for (bool restarted = true; restarted;) {
    restarted = false;
    std::filesystem::path remaining = rest.relative_path();
    for (auto part = remaining.begin(); part != remaining.end(); ++part) {
      if (part->empty() || *part == ".") continue;
      if (*part == "..") {
        reached = reached.parent_path();
        continue;
      }
      const std::filesystem::path next = reached / *part;
      struct stat info {};
      if (::lstat(next.c_str(), &info) != 0) return true;  // not there yet: nothing to follow
      if (!S_ISLNK(info.st_mode)) {
        reached = next;
        continue;
      }
      if (info.st_uid != ::geteuid() && info.st_uid != 0) {
        failure = {"its folder path goes through a symbolic link owned by another user (" + next.string() + ")"};
        return false;
      }
      const std::filesystem::path target = std::filesystem::read_symlink(next, ec);
      if (ec || ++links > MaxLinks) {
        failure = WriteFailure::FromErrno(ec ? ec.value() : ELOOP);
        return false;
      }
      // Go on from the link's target with the parts after the link.
      std::filesystem::path after;
      for (auto later = std::next(part); later != remaining.end(); ++later) after /= *later;
      rest = (target.is_absolute() ? target : reached / target) / after;
      reached = rest.root_path();
      restarted = true;
      break;
    }
  }
  return true;
}

// The file a write to `path` must change: the end of its chain of symbolic
// links, each of which must belong to this user, reached through folders
// whose links CheckDirectoryLinks accepts. A link another user made could
// point this user's write at any file this user may write; the kernel
// refuses such links in sticky directories for the same reason.
bool ResolveForWrite(const std::filesystem::path& path, std::filesystem::path& target, WriteFailure& failure) {
  std::filesystem::path current = path;
  for (int hop = 0; hop <= MaxLinks; ++hop) {
    if (!CheckDirectoryLinks(DirectoryOf(current), failure)) return false;
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0) {
      if (errno != ENOENT) {
        failure = WriteFailure::FromErrno(errno);
        return false;
      }
      target = current;  // a new file
      return true;
    }
    if (!S_ISLNK(info.st_mode)) {
      target = current;
      return true;
    }
    if (info.st_uid != ::geteuid()) {
      failure = {"it is a symbolic link owned by another user"};
      return false;
    }
    std::error_code ec;
    const std::filesystem::path next = std::filesystem::read_symlink(current, ec);
    if (ec) {
      failure = WriteFailure::FromErrno(ec.value());
      return false;
    }
    current = next.is_absolute() ? next : DirectoryOf(current) / next;
  }
  failure = WriteFailure::FromErrno(ELOOP);
  return false;
}

// Writes a new file through a temporary file and a rename. `old`, when
// given, is the file being replaced: the new one gets its mode, owner and
// group. Returns false with `keepTrying` set when the rename way cannot keep
// the file as it was, but rewriting it in place may.
bool ReplaceByRename(const std::filesystem::path& target, const struct stat* old, std::string_view bytes,
                     bool& keepTrying, WriteFailure& failure) {
  keepTrying = false;
  const std::filesystem::path dir = DirectoryOf(target);
  std::string temp = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
  Fd file(::mkostemp(temp.data(), O_CLOEXEC));  // created with mode 0600
  if (file.fd < 0) {
    failure = WriteFailure::FromErrno(errno);
    keepTrying = old != nullptr;  // e.g. a directory that takes no new file
    return false;
  }
  const auto discard = [&](int errnum) {
    ::unlink(temp.c_str());
    failure = WriteFailure::FromErrno(errnum);
    return false;
  };
  if (old != nullptr) {
    struct stat made {};
    if (::fstat(file.fd, &made) != 0) return discard(errno);
    if ((made.st_uid != old->st_uid || made.st_gid != old->st_gid) &&
        ::fchown(file.fd, old->st_uid, old->st_gid) != 0) {
      keepTrying = true;
      return discard(errno);
    }
    if (::fchmod(file.fd, old->st_mode & 07777) != 0) return discard(errno);
  }
  if (!WriteAll(file.fd, bytes) || ::fsync(file.fd) != 0) return discard(errno);
  const int fd = file.fd;
  file.fd = -1;
  if (::close(fd) != 0) return discard(errno);
  if (::rename(temp.c_str(), target.c_str()) != 0) return discard(errno);
  // Make the rename itself durable; the new content is in place either way.
  Fd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirFd.fd >= 0) ::fsync(dirFd.fd);
  return true;
}

// Rewrites the file `old` describes in place: the same inode, so its owner,
// group, mode and hard links stay. The space for a longer content is claimed
// first, so running out of it fails before any old byte is overwritten.
bool RewriteInPlace(const std::filesystem::path& target, const struct stat& old, std::string_view bytes,
                    WriteFailure& failure) {
  const auto fail = [&](int errnum) {
    failure = WriteFailure::FromErrno(errnum);
    return false;
  };
  Fd file(::open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.fd < 0) return fail(errno);
  struct stat now {};
  if (::fstat(file.fd, &now) != 0) return fail(errno);
  if (now.st_dev != old.st_dev || now.st_ino != old.st_ino || !S_ISREG(now.st_mode)) return fail(EBUSY);
  const off_t size = static_cast<off_t>(bytes.size());
  if (size > now.st_size) {
    const int claimed = ::posix_fallocate(file.fd, now.st_size, size - now.st_size);
    if (claimed != 0) return fail(claimed);
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::pwrite(file.fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (written < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    done += static_cast<std::size_t>(written);
  }
  if (::ftruncate(file.fd, size) != 0 || ::fsync(file.fd) != 0) return fail(errno);
  return true;
}

// WriteFilePreserving once the links are followed.
bool WriteResolved(const std::filesystem::path& target, std::string_view bytes, WriteFailure& failure) {
  struct stat old {};
  if (::stat(target.c_str(), &old) != 0) {
    if (errno != ENOENT) {
      failure = WriteFailure::FromErrno(errno);
      return false;
    }
    bool unused = false;
    return ReplaceByRename(target, nullptr, bytes, unused, failure);
  }
  if (!S_ISREG(old.st_mode)) {
    failure = WriteFailure::FromErrno(S_ISDIR(old.st_mode) ? EISDIR : EINVAL);
    return false;
  }
  // A file its owner made read-only stays unwritten, as an in-place write
  // would; the rename alone would not stop at its permission bits.
  if (::access(target.c_str(), W_OK) != 0) {
    failure = WriteFailure::FromErrno(errno);
    return false;
  }
  if (old.st_nlink <= 1) {
    bool keepTrying = false;
    if (ReplaceByRename(target, &old, bytes, keepTrying, failure)) return true;
    if (!keepTrying) return false;
  }
  return RewriteInPlace(target, old, bytes, failure);
}

}  // namespace

IniFile IniFile::Parse(std::string_view bytes) {
  IniFile ini;
  ini.text_.assign(bytes);
  return ini;
}

IniLoadStatus IniFile::Load(const std::filesystem::path& path, IniFile& out, int* errnum) {
  out = IniFile();
  const auto unreadable = [&](int code) {
    if (errnum) *errnum = code;
    return IniLoadStatus::Unreadable;
  };
  // O_NONBLOCK keeps a FIFO in the file's place from blocking the open.
  Fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.fd < 0) {
    return (errno == ENOENT || errno == ENOTDIR) ? IniLoadStatus::Missing : unreadable(errno);
  }
  struct stat info {};
  if (::fstat(file.fd, &info) != 0) return unreadable(errno);
  if (!S_ISREG(info.st_mode)) return unreadable(S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
  if (static_cast<std::uintmax_t>(info.st_size) > IniFileMaxBytes) return IniLoadStatus::TooLarge;

  // Read up to one byte past the limit, in case the file grew meanwhile.
  std::string bytes(static_cast<std::size_t>(info.st_size) + 1, '\0');
  std::size_t got = 0;
  for (;;) {
    if (got == bytes.size()) {
      if (bytes.size() > IniFileMaxBytes) return IniLoadStatus::TooLarge;
      bytes.resize(std::min(bytes.size() * 2, IniFileMaxBytes + 1));
    }
    const ssize_t n = ::read(file.fd, bytes.data() + got, bytes.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return unreadable(errno);
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  out.text_ = std::move(bytes);
  return IniLoadStatus::Loaded;
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
  std::string text = "Unable to write to " + (ec ? path : full).string();
  if (!reason.empty()) text += ": " + std::string(reason);
  return text;
}

bool WriteFilePreserving(const std::filesystem::path& path, std::string_view bytes, std::string* error) {
  std::filesystem::path target;
  WriteFailure failure;
  if (ResolveForWrite(path, target, failure) && WriteResolved(target, bytes, failure)) return true;
  if (error) *error = IniWriteErrorText(path, failure.reason);
  return false;
}

bool FileUpdatable(const std::filesystem::path& path) {
  std::filesystem::path target;
  WriteFailure failure;
  if (!ResolveForWrite(path, target, failure)) return false;
  if (::access(target.c_str(), F_OK) == 0) return ::access(target.c_str(), R_OK | W_OK) == 0;
  return ::access(DirectoryOf(target).c_str(), W_OK | X_OK) == 0;
}

bool UpdateIniFile(const std::filesystem::path& path, const std::function<bool(IniFile&)>& change,
                   std::string* error) {
  const auto fail = [&](const WriteFailure& failure) {
    if (error) *error = IniWriteErrorText(path, failure.reason);
    return false;
  };
  std::filesystem::path target;
  WriteFailure failure;
  if (!ResolveForWrite(path, target, failure)) return fail(failure);
  // Every writer holds this lock from its read to its write, so no update
  // can slip in between and be overwritten. Where the file system has no
  // locks, the fresh read still narrows the window to a moment.
  Fd dir(::open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.fd < 0) return fail(WriteFailure::FromErrno(errno));
  while (::flock(dir.fd, LOCK_EX) != 0 && errno == EINTR) {
  }

  IniFile ini;
  int errnum = 0;
  switch (IniFile::Load(target, ini, &errnum)) {
    case IniLoadStatus::Unreadable:
      return fail(WriteFailure::FromErrno(errnum));
    case IniLoadStatus::TooLarge:
      return fail({"the file is larger than 8 MiB"});
    case IniLoadStatus::Loaded:
    case IniLoadStatus::Missing:
      break;
  }
  if (!change(ini)) return true;
  if (ini.Text().size() > IniFileMaxBytes) return fail({"the file would grow larger than 8 MiB"});
  return WriteResolved(target, ini.Text(), failure) || fail(failure);
}

}  // namespace vorsal
