#include "app/identity.h"

#include "app/program_paths.h"
#include "app/qs_version_info.h"

#include "platform/files.h"

#include <cctype>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace vorsal {

std::string AppDir;
std::string AppTitle;
std::string ExePath;
std::string VersionedCopyPath;

namespace {

namespace fs = std::filesystem;

// The largest executable copied beside itself.
constexpr std::size_t kMaxExecutableBytes = std::size_t{1} << 30;

void RefreshVersionedCopy(const fs::path& exe, const fs::path& copy) {
  std::error_code error;
  if (fs::equivalent(exe, copy, error)) return;  // never touch the executable itself
  if (fs::is_directory(fs::symlink_status(copy, error))) return;
  // A read-only old copy goes too; a symbolic link goes as it is.
  platform::DeleteFileForcibly(copy);

  std::string bytes;
  if (platform::ReadWholeFile(exe, kMaxExecutableBytes, bytes) != platform::ReadStatus::Read) return;
  std::string reason;
  platform::ReplaceFile(copy, bytes, platform::FileMode(exe) & 0777, reason);
}

// A Windows executable's ".exe" (as it is spelt), so that the copy starts as
// the original does; nothing for a Linux one, whose name's dots are no
// extension.
std::string ExecutableSuffix(const std::string& exePath) {
  constexpr std::string_view exe = ".exe";
  if (exePath.size() < exe.size()) return {};
  std::string suffix = exePath.substr(exePath.size() - exe.size());
  for (std::size_t i = 0; i < exe.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(suffix[i])) != exe[i]) return {};
  }
  return suffix;
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
  AppDir = platform::Utf8FromPath(platform::PathFromUtf8(exePath).parent_path());
  if (!AppDir.empty() && AppDir.back() != '/') AppDir += '/';
  AppTitle = productName + " v." + shortVersion;
  VersionedCopyPath = AppDir + productName + "." + shortVersion + ExecutableSuffix(exePath);

  if (productName != kInfoNotAvailable && !InstalledLayout()) {
    RefreshVersionedCopy(platform::PathFromUtf8(ExePath), platform::PathFromUtf8(VersionedCopyPath));
  }
}

}  // namespace vorsal
