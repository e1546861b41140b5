#include "app/program_paths.h"

#include "app/identity.h"
#include "app/qs_version_info.h"
#include "keys/key_store.h"

#include <cstdlib>
#include <system_error>

#include <pwd.h>
#include <unistd.h>

// Set by the build (cmake/Packaging.cmake); the defaults are a build tree's.
#ifndef VORSAL_INSTALLED_LAYOUT
#define VORSAL_INSTALLED_LAYOUT 0
#endif
#ifndef VORSAL_DOC_FROM_BIN
#define VORSAL_DOC_FROM_BIN "../share/doc/vorsal"
#endif

namespace vorsal {

namespace {

std::filesystem::path AbsoluteFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/') return {};
  return value;
}

// AppDir, or the running executable's directory for a tool that leaves
// AppDir empty.
std::filesystem::path ProgramDir() {
  return AppDir.empty() ? std::filesystem::path(RunningExecutablePath()).parent_path() : std::filesystem::path(AppDir);
}

// The user's home from the password database, for a program started
// without HOME (a service, env -i); empty when it has no absolute one.
std::filesystem::path HomeFromPasswordDatabase() {
  const passwd* entry = ::getpwuid(::getuid());
  if (entry == nullptr || entry->pw_dir == nullptr || entry->pw_dir[0] != '/') return {};
  return entry->pw_dir;
}

}  // namespace

std::filesystem::path UserDataDir() {
  std::filesystem::path base = AbsoluteFromEnvironment("XDG_DATA_HOME");
  if (base.empty()) {
    std::filesystem::path home = AbsoluteFromEnvironment("HOME");
    if (home.empty()) home = HomeFromPasswordDatabase();
    if (home.empty()) return {};
    base = home / ".local" / "share";
  }
  return base / "vorsal";
}

bool InstalledLayout() { return VORSAL_INSTALLED_LAYOUT != 0; }

std::filesystem::path KeyStorePath(bool installed, const std::filesystem::path& programDir,
                                   const std::filesystem::path& userDataDir) {
  if (installed) return userDataDir.empty() ? std::filesystem::path() : userDataDir / KeyStoreFileName;
  return KeyStoreLocation(programDir, userDataDir);
}

std::filesystem::path KeyStorePath() { return KeyStorePath(InstalledLayout(), ProgramDir(), UserDataDir()); }

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
  std::string text(program);
  text += " (" VORSAL_PRODUCT_NAME ") " VORSAL_FILE_VERSION "\n";
  text += "Copyright (C) 2026 the " VORSAL_PRODUCT_NAME " developers.\n";
  return text;
}

}  // namespace vorsal
