#include "app/program_paths.h"

#include "app/identity.h"
#include "app/qs_version_info.h"
#include "keys/key_store.h"

#include <cstdlib>

namespace vorsal {

namespace {

std::filesystem::path AbsoluteFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/') return {};
  return value;
}

}  // namespace

std::filesystem::path UserDataDir() {
  std::filesystem::path base = AbsoluteFromEnvironment("XDG_DATA_HOME");
  if (base.empty()) {
    const std::filesystem::path home = AbsoluteFromEnvironment("HOME");
    if (home.empty()) return {};
    base = home / ".local" / "share";
  }
  return base / "vorsal";
}

std::filesystem::path KeyStorePath() {
  const std::filesystem::path appDir =
      AppDir.empty() ? std::filesystem::path(RunningExecutablePath()).parent_path() : std::filesystem::path(AppDir);
  return KeyStoreLocation(appDir, UserDataDir());
}

std::string VersionText(std::string_view program) {
  std::string text(program);
  text += " (" VORSAL_PRODUCT_NAME ") " VORSAL_FILE_VERSION "\n";
  text += "Copyright (C) 2026 the " VORSAL_PRODUCT_NAME " developers.\n";
  return text;
}

}  // namespace vorsal
