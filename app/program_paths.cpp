#include "app/program_paths.h"

#include "app/identity.h"
#include "app/qs_version_info.h"
#include "platform/files.h"
#include "platform/process.h"

#include <algorithm>
#include <system_error>

// Set by the build (cmake/Packaging.cmake); the defaults are a build tree's.
#ifndef VORSAL_INSTALLED_LAYOUT
#define VORSAL_INSTALLED_LAYOUT 0
#endif
#ifndef VORSAL_DOC_FROM_BIN
#define VORSAL_DOC_FROM_BIN "../share/doc/vorsal"
#endif

namespace vorsal {

std::filesystem::path ProgramDir() {
  return platform::PathFromUtf8(AppDir.empty() ? RunningExecutablePath() : AppDir).parent_path();
}

std::filesystem::path UserDataDir() { return platform::UserDataDir(); }

namespace {

// One path component against another, ASCII letters in either case (the
// drive letter and the Program Files names are ASCII; other characters must
// match exactly).
bool SameComponent(const std::filesystem::path& a, const std::filesystem::path& b) {
  const std::u8string x = a.u8string(), y = b.u8string();
  const auto fold = [](char8_t c) { return c >= u8'A' && c <= u8'Z' ? static_cast<char8_t>(c - u8'A' + u8'a') : c; };
  return x.size() == y.size() && std::equal(x.begin(), x.end(), y.begin(), [&](char8_t p, char8_t q) {
           return fold(p) == fold(q);
         });
}

// True when `dir` is `folder` or lies below it. A trailing separator's empty
// last component counts for nothing.
bool WithinFolder(const std::filesystem::path& dir, const std::filesystem::path& folder) {
  const std::filesystem::path d = dir.lexically_normal(), f = folder.lexically_normal();
  auto di = d.begin();
  for (auto fi = f.begin(); fi != f.end(); ++fi) {
    if (fi->empty()) continue;
    while (di != d.end() && di->empty()) ++di;
    if (di == d.end() || !SameComponent(*di, *fi)) return false;
    ++di;
  }
  return true;
}

}  // namespace

bool InstalledCopy(const std::filesystem::path& programDir,
                   const std::vector<std::filesystem::path>& programFilesDirs) {
  if (programFilesDirs.empty() || programDir.empty()) return false;
  for (const std::filesystem::path& folder : programFilesDirs) {
    if (!folder.empty() && WithinFolder(programDir, folder)) return true;
  }
  std::error_code error;
  return std::filesystem::is_regular_file(programDir / UninstallerName, error);
}

bool InstalledLayout() {
  return VORSAL_INSTALLED_LAYOUT != 0 || InstalledCopy(ProgramDir(), platform::ProgramFilesDirs());
}

std::filesystem::path HelpFilePath(const std::filesystem::path& appDir) {
  std::error_code error;
  for (const std::filesystem::path& dir : {appDir, appDir / VORSAL_DOC_FROM_BIN}) {
    const std::filesystem::path file = (dir / HelpFileName).lexically_normal();
    if (std::filesystem::is_regular_file(file, error)) return file;
  }
  return {};
}

std::filesystem::path HelpFilePath() { return HelpFilePath(ProgramDir()); }

std::string HelpFileText() {
  const std::filesystem::path help = HelpFilePath();
  return help.empty() ? std::string() : platform::Utf8FromPath(help);
}

std::string VersionText(std::string_view program) {
  // The identity the executable carries (Windows: its version resource),
  // the build's own values where it can't be read. The version is the text
  // users read everywhere (the window's title, the installer): the product
  // version, not the file's four numbers.
  const TQSVersionInfo info;
  const bool known = info.ProductVersion() != kInfoNotAvailable && !info.ProductVersion().empty();
  std::string text(program);
  text += " (" + (known ? info.ProductName() : std::string(VORSAL_PRODUCT_NAME)) + ") " +
          (known ? info.ProductVersion() : std::string(VORSAL_PRODUCT_VERSION)) + "\n";
  text += VORSAL_LEGAL_COPYRIGHT ".\n";
  return text;
}

}  // namespace vorsal
