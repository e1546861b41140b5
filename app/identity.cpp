#include "app/identity.h"

#include "app/program_paths.h"
#include "app/qs_version_info.h"

#include <filesystem>
#include <system_error>

#include <unistd.h>

namespace vorsal {

std::string AppDir;
std::string AppTitle;
std::string ExePath;
std::string VersionedCopyPath;

namespace {

namespace fs = std::filesystem;

void RefreshVersionedCopy(const fs::path& exe, const fs::path& copy) {
  std::error_code error;
  if (fs::equivalent(exe, copy, error)) return;  // never touch the executable itself

  const fs::file_status old = fs::symlink_status(copy, error);
  if (fs::is_directory(old)) return;
  if (fs::exists(old)) {
    // A read-only old copy is made writable by its owner first. A symbolic
    // link is removed as it is: changing modes through it would change the
    // file it points to.
    if (fs::is_regular_file(old)) fs::permissions(copy, fs::perms::owner_write, fs::perm_options::add, error);
    fs::remove(copy, error);
  }

  fs::path part = copy;
  part.replace_filename("." + copy.filename().string() + "." + std::to_string(::getpid()) + ".part");
  if (fs::copy_file(exe, part, fs::copy_options::overwrite_existing, error)) {
    fs::rename(part, copy, error);
    if (!error) return;
  }
  fs::remove(part, error);
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
