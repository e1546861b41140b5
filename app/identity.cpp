#include "app/identity.h"

#include "app/program_paths.h"
#include "app/qs_version_info.h"

#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace vorsal {

std::string AppDir;
std::string AppTitle;
std::string ExePath;
std::string VersionedCopyPath;

namespace {

namespace fs = std::filesystem;

// Copies the file open at `from` into `to`; false on any failure.
bool CopyContents(int from, int to) {
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(from, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return got == 0;
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = ::write(to, buffer + done, static_cast<std::size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      done += put;
    }
  }
}

void RefreshVersionedCopy(const fs::path& exe, const fs::path& copy) {
  std::error_code error;
  if (fs::equivalent(exe, copy, error)) return;  // never touch the executable itself

  struct stat old {};
  if (::lstat(copy.c_str(), &old) == 0) {
    if (S_ISDIR(old.st_mode)) return;
    // A read-only old copy is made writable by its owner first, but only
    // when this name is its one link: the mode belongs to the file, and
    // another name of it must not change. A symbolic link is removed as it
    // is: changing modes through it would change the file it points to.
    if (S_ISREG(old.st_mode) && old.st_nlink == 1) ::chmod(copy.c_str(), (old.st_mode & 07777) | S_IWUSR);
    ::unlink(copy.c_str());
  }

  const int source = ::open(exe.c_str(), O_RDONLY | O_CLOEXEC);
  if (source < 0) return;
  struct stat exeInfo {};
  // The temporary file is created new (mkstemp opens exclusively), so no
  // name planted beforehand, link or file, is ever written through.
  std::string part = (copy.parent_path() / ("." + copy.filename().string() + ".XXXXXX")).string();
  const int target = ::fstat(source, &exeInfo) == 0 ? ::mkostemp(part.data(), O_CLOEXEC) : -1;
  if (target < 0) {
    ::close(source);
    return;
  }
  const bool copied = CopyContents(source, target) && ::fchmod(target, exeInfo.st_mode & 0777) == 0;
  ::close(source);
  const bool closed = ::close(target) == 0;
  if (!(copied && closed && ::rename(part.c_str(), copy.c_str()) == 0)) ::unlink(part.c_str());
}

}  // namespace

void InitIdentity() { InitIdentity(RunningExecutablePath()); }

void InitIdentity(const std::string& exePath) {
  std::string productName;
  std::string shortVersion;
  {
    const TQSVersionInfo info(exePath);
    productName = info.ProductName();
    shortVersion = info.FileShortVersion();
  }

  ExePath = exePath;
  AppDir = fs::path(exePath).parent_path().string();
  if (!AppDir.empty() && AppDir.back() != '/') AppDir += '/';
  AppTitle = productName + " v." + shortVersion;
  VersionedCopyPath = AppDir + productName + "." + shortVersion;

  if (productName != kInfoNotAvailable && !InstalledLayout()) RefreshVersionedCopy(ExePath, VersionedCopyPath);
}

}  // namespace vorsal
