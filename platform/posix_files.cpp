// Files on POSIX systems: open/fstat/read, mkostemp and rename, in-place
// rewrites with posix_fallocate, flock on directories and journals, and
// journals appended with O_APPEND and cut back with ftruncate.
#include "platform/files.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vorsal::platform {

namespace {

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

bool Failed(std::string& reason, int errnum) {
  reason = SystemErrorText(errnum);
  return false;
}

// Writes a new file through a temporary file and a rename. `old`, when
// given, is the file being replaced: the new one gets its mode, owner and
// group; otherwise it gets `mode`, or mkostemp's 0600 when `mode` is
// negative. Returns false with `keepTrying` set when the rename way cannot
// keep the file as it was, but rewriting it in place may.
bool ReplaceByRename(const std::filesystem::path& target, const struct stat* old, int mode, std::string_view bytes,
                     bool& keepTrying, std::string& reason) {
  keepTrying = false;
  const std::filesystem::path dir = DirectoryOf(target);
  std::string temp = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
  Fd file(::mkostemp(temp.data(), O_CLOEXEC));  // created new, with mode 0600
  if (file.fd < 0) {
    keepTrying = old != nullptr;  // e.g. a directory that takes no new file
    return Failed(reason, errno);
  }
  const auto discard = [&](int errnum) {
    ::unlink(temp.c_str());
    return Failed(reason, errnum);
  };
  if (old != nullptr) {
    struct stat made {};
    if (::fstat(file.fd, &made) != 0) return discard(errno);
    if ((made.st_uid != old->st_uid || made.st_gid != old->st_gid) &&
        ::fchown(file.fd, old->st_uid, old->st_gid) != 0) {
      keepTrying = true;
      return discard(errno);
    }
    mode = static_cast<int>(old->st_mode & 07777);
  }
  if (mode >= 0 && ::fchmod(file.fd, static_cast<mode_t>(mode)) != 0) return discard(errno);
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
                    std::string& reason) {
  Fd file(::open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.fd < 0) return Failed(reason, errno);
  struct stat now {};
  if (::fstat(file.fd, &now) != 0) return Failed(reason, errno);
  if (now.st_dev != old.st_dev || now.st_ino != old.st_ino || !S_ISREG(now.st_mode)) return Failed(reason, EBUSY);
  const off_t size = static_cast<off_t>(bytes.size());
  if (size > now.st_size) {
    const int claimed = ::posix_fallocate(file.fd, now.st_size, size - now.st_size);
    if (claimed != 0) return Failed(reason, claimed);
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::pwrite(file.fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (written < 0) {
      if (errno == EINTR) continue;
      return Failed(reason, errno);
    }
    done += static_cast<std::size_t>(written);
  }
  if (::ftruncate(file.fd, size) != 0 || ::fsync(file.fd) != 0) return Failed(reason, errno);
  return true;
}

}  // namespace

std::string SystemErrorText(int code) { return std::strerror(code); }

namespace {

ReadStatus Unreadable(int* errnum, int code) {
  if (errnum) *errnum = code;
  return ReadStatus::Unreadable;
}

// Opens the file at `path` for reading and tells what it is; O_NONBLOCK
// keeps a FIFO in the file's place from blocking the open. A directory is
// Unreadable.
ReadStatus OpenForReading(const std::filesystem::path& path, Fd& file, struct stat& info, int* errnum) {
  file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (file.fd < 0) return (errno == ENOENT || errno == ENOTDIR) ? ReadStatus::Missing : Unreadable(errnum, errno);
  if (::fstat(file.fd, &info) != 0) return Unreadable(errnum, errno);
  if (S_ISDIR(info.st_mode)) return Unreadable(errnum, EISDIR);
  return ReadStatus::Read;
}

}  // namespace

ReadStatus ReadWholeFile(const std::filesystem::path& path, std::size_t maxBytes, std::string& out, int* errnum) {
  out.clear();
  const auto unreadable = [&](int code) { return Unreadable(errnum, code); };
  Fd file(-1);
  struct stat info {};
  if (const ReadStatus status = OpenForReading(path, file, info, errnum); status != ReadStatus::Read) return status;
  if (!S_ISREG(info.st_mode)) return unreadable(EINVAL);
  if (static_cast<std::uintmax_t>(info.st_size) > maxBytes) return ReadStatus::TooLarge;

  // Read up to one byte past the limit, in case the file grew meanwhile.
  std::string bytes(static_cast<std::size_t>(info.st_size) + 1, '\0');
  std::size_t got = 0;
  for (;;) {
    if (got == bytes.size()) {
      if (bytes.size() > maxBytes) return ReadStatus::TooLarge;
      bytes.resize(std::min(bytes.size() * 2, maxBytes) + 1);  // no overflow for a limit of SIZE_MAX
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
  out = std::move(bytes);
  return ReadStatus::Read;
}

ReadStatus ReadFileInPieces(const std::filesystem::path& path, std::size_t pieceBytes,
                            const std::function<bool(std::string_view)>& take, int* errnum) {
  Fd file(-1);
  struct stat info {};
  if (const ReadStatus status = OpenForReading(path, file, info, errnum); status != ReadStatus::Read) return status;
  if (!S_ISREG(info.st_mode)) return Unreadable(errnum, EINVAL);
  std::string piece(std::max<std::size_t>(pieceBytes, 1), '\0');
  for (;;) {
    const ssize_t n = ::read(file.fd, piece.data(), piece.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Unreadable(errnum, errno);
    if (n == 0 || !take(std::string_view(piece.data(), static_cast<std::size_t>(n)))) break;
  }
  return ReadStatus::Read;
}

ReadStatus ReadFileStart(const std::filesystem::path& path, std::size_t maxBytes, int waitMs, std::string& out,
                         int* errnum) {
  out.clear();
  const auto unreadable = [&](int code) { return Unreadable(errnum, code); };
  Fd file(-1);
  struct stat info {};
  if (const ReadStatus status = OpenForReading(path, file, info, errnum); status != ReadStatus::Read) return status;
  if (!S_ISREG(info.st_mode) && !S_ISFIFO(info.st_mode)) return unreadable(EINVAL);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  std::string bytes;
  char chunk[512];
  while (bytes.size() < maxBytes && bytes.find('\n') == std::string::npos) {
    const ssize_t n = ::read(file.fd, chunk, std::min(sizeof chunk, maxBytes - bytes.size()));
    if (n > 0) {
      bytes.append(chunk, static_cast<std::size_t>(n));
      continue;
    }
    if (n == 0) break;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return unreadable(errno);
    // A pipe whose writer has not written yet: wait, but not without end.
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return unreadable(ETIMEDOUT);
    pollfd ready{file.fd, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(left)) < 0 && errno != EINTR) return unreadable(errno);
  }
  out = std::move(bytes);
  return ReadStatus::Read;
}

namespace {

constexpr int MaxLinks = 40;  // as the kernel's limit on a chain of links

// Checks every symbolic link on the way to the directory `dir`, as the system
// would follow them: each must belong to this user or to root (a system
// link), since another user's link in the folder path could point the write
// at any directory this user may write, just as a link at the file itself.
bool CheckDirectoryLinks(const std::filesystem::path& dir, std::string& reason) {
  std::error_code ec;
  std::filesystem::path rest = dir.is_absolute() ? dir : std::filesystem::current_path(ec) / dir;
  std::filesystem::path reached = rest.root_path();
  int links = 0;
  for (bool restarted = true; restarted;) {
    restarted = false;
    const std::filesystem::path remaining = rest.relative_path();
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
        reason = "its folder path goes through a symbolic link owned by another user (" + next.string() + ")";
        return false;
      }
      const std::filesystem::path target = std::filesystem::read_symlink(next, ec);
      if (ec) return Failed(reason, ec.value());
      if (++links > MaxLinks) return Failed(reason, ELOOP);
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

}  // namespace

bool ResolveForWrite(const std::filesystem::path& path, std::filesystem::path& target, std::string& reason) {
  std::filesystem::path current = path;
  for (int hop = 0; hop <= MaxLinks; ++hop) {
    if (!CheckDirectoryLinks(DirectoryOf(current), reason)) return false;
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0) {
      if (errno != ENOENT) return Failed(reason, errno);
      target = current;  // a new file
      return true;
    }
    if (!S_ISLNK(info.st_mode)) {
      target = current;
      return true;
    }
    // The kernel refuses such links in sticky directories for the same reason.
    if (info.st_uid != ::geteuid()) {
      reason = "it is a symbolic link owned by another user";
      return false;
    }
    std::error_code ec;
    const std::filesystem::path next = std::filesystem::read_symlink(current, ec);
    if (ec) return Failed(reason, ec.value());
    current = next.is_absolute() ? next : DirectoryOf(current) / next;
  }
  return Failed(reason, ELOOP);
}

bool WriteFileKeepingAttributes(const std::filesystem::path& target, std::string_view bytes, std::string& reason) {
  struct stat old {};
  if (::stat(target.c_str(), &old) != 0) {
    if (errno != ENOENT) return Failed(reason, errno);
    bool unused = false;
    return ReplaceByRename(target, nullptr, -1, bytes, unused, reason);
  }
  if (!S_ISREG(old.st_mode)) return Failed(reason, S_ISDIR(old.st_mode) ? EISDIR : EINVAL);
  // A file its owner made read-only stays unwritten, as an in-place write
  // would; the rename alone would not stop at its permission bits.
  if (::access(target.c_str(), W_OK) != 0) return Failed(reason, errno);
  if (old.st_nlink <= 1) {
    bool keepTrying = false;
    if (ReplaceByRename(target, &old, 0, bytes, keepTrying, reason)) return true;
    if (!keepTrying) return false;
  }
  return RewriteInPlace(target, old, bytes, reason);
}

bool ReplaceFile(const std::filesystem::path& target, std::string_view bytes, unsigned mode, std::string& reason) {
  bool unused = false;
  return ReplaceByRename(target, nullptr, static_cast<int>(mode & 07777), bytes, unused, reason);
}

bool FileUpdatable(const std::filesystem::path& path) {
  std::filesystem::path target;
  std::string reason;
  if (!ResolveForWrite(path, target, reason)) return false;
  if (::access(target.c_str(), F_OK) == 0) return ::access(target.c_str(), R_OK | W_OK) == 0;
  return ::access(DirectoryOf(target).c_str(), W_OK | X_OK) == 0;
}

bool DeleteFileForcibly(const std::filesystem::path& path) {
  struct stat old {};
  if (::lstat(path.c_str(), &old) != 0 || S_ISDIR(old.st_mode)) return false;
  // A symbolic link is removed as it is: changing modes through it would
  // change the file it points to.
  if (S_ISREG(old.st_mode) && old.st_nlink == 1) ::chmod(path.c_str(), (old.st_mode & 07777) | S_IWUSR);
  return ::unlink(path.c_str()) == 0;
}

unsigned FileMode(const std::filesystem::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<unsigned>(info.st_mode & 07777) : 0u;
}

DirectoryLock::~DirectoryLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

bool DirectoryLock::Acquire(const std::filesystem::path& directory, std::string& reason) {
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Failed(reason, errno);
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = fd;
  while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  return true;
}

AppendFile::~AppendFile() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

int AppendFile::Open(const std::filesystem::path& path) {
  // O_NONBLOCK: a FIFO in the file's place must not hang the open; it has
  // no effect on a regular file's reads and writes.
  Fd file(::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
  // A directory in the file's place is refused by the open itself.
  if (file.fd < 0) return errno == EISDIR ? NotRegularFile : errno;
  struct stat info {};
  if (::fstat(file.fd, &info) != 0) return errno;
  if (!S_ISREG(info.st_mode)) return NotRegularFile;
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = file.fd;
  file.fd = -1;
  return 0;
}

int AppendFile::Lock() {
  while (::flock(static_cast<int>(handle_), LOCK_EX) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

void AppendFile::Unlock() { ::flock(static_cast<int>(handle_), LOCK_UN); }

int AppendFile::Size(std::uint64_t& size) const {
  struct stat info {};
  if (::fstat(static_cast<int>(handle_), &info) != 0) return errno;
  size = static_cast<std::uint64_t>(info.st_size);
  return 0;
}

int AppendFile::ReadAll(std::string& bytes) const {
  bytes.clear();
  std::uint64_t size = 0;
  if (const int failed = Size(size)) return failed;
  return ReadAt(0, static_cast<std::size_t>(size), bytes);
}

int AppendFile::ReadAt(std::uint64_t offset, std::size_t maxBytes, std::string& bytes) const {
  bytes.assign(maxBytes, '\0');
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::pread(static_cast<int>(handle_), bytes.data() + got, bytes.size() - got,
                              static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      bytes.clear();
      return errno;
    }
    if (n == 0) break;  // the file ends (or was cut short meanwhile)
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return 0;
}

int AppendFile::Append(std::string_view bytes, bool* leftIncomplete) {
  if (leftIncomplete) *leftIncomplete = false;
  const int fd = static_cast<int>(handle_);
  struct stat before {};
  if (::fstat(fd, &before) != 0) return errno;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      const int code = written < 0 ? errno : ENOSPC;
      // Under the lock nobody else appends in between, so cutting the file
      // back to its old size removes exactly the part written here.
      if (done > 0 && ::ftruncate(fd, before.st_size) != 0 && leftIncomplete) *leftIncomplete = true;
      return code;
    }
    done += static_cast<std::size_t>(written);
  }
  return 0;
}

int AppendFile::Truncate() {
  while (::ftruncate(static_cast<int>(handle_), 0) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

bool AppendFile::OwnedByThisUser() const {
  struct stat info {};
  return ::fstat(static_cast<int>(handle_), &info) == 0 && info.st_uid == ::geteuid();
}

bool AppendFile::OthersMayRead() const {
  struct stat info {};
  return ::fstat(static_cast<int>(handle_), &info) == 0 && (info.st_mode & S_IROTH) != 0;
}

}  // namespace vorsal::platform
