#include "app/program_paths.h"

#include "app/identity.h"
#include "app/qs_version_info.h"
#include "platform/files.h"
#include "platform/process.h"

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

bool InstalledLayout() { return VORSAL_INSTALLED_LAYOUT != 0; }

std::filesystem::path HelpFilePath(const std::filesystem::path& appDir) {
  std::error_code error;
  for (const std::filesystem::path& dir : {appDir, appDir / VORSAL_DOC_FROM_BIN}) {
    const std::filesystem::path file = (dir / HelpFileName).lexically_normal();
    if (std::filesystem::is_regular_file(file, error)) return file;
  }
  return {};
}

std::filesystem::path HelpFilePath() { return HelpFilePath(ProgramDir()); }

std::string VersionText(std::string_view program) {
  // The identity the executable carries (Windows: its version resource),
  // the build's own values where it can't be read.
  const TQSVersionInfo info;
  const bool known = info.FileVersion() != kInfoNotAvailable && !info.FileVersion().empty();
  std::string text(program);
  text += " (" + (known ? info.ProductName() : std::string(VORSAL_PRODUCT_NAME)) + ") " +
          (known ? info.FileVersion() : std::string(VORSAL_FILE_VERSION)) + "\n";
  text += "Copyright (C) 2026 the " VORSAL_PRODUCT_NAME " developers.\n";
  return text;
}

}  // namespace vorsal
