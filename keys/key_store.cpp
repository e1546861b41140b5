#include "keys/key_store.h"

#include "app/program_paths.h"
#include "keys/ini_file.h"
#include "platform/files.h"

#include <algorithm>
#include <system_error>

namespace vorsal {
namespace {

IniFile LoadStore(const std::filesystem::path& file) {
  IniFile ini;
  IniFile::Load(file, ini);  // missing or unreadable: an empty store
  return ini;
}

}  // namespace

std::filesystem::path KeyStoreLocation(const std::filesystem::path& appDir,
                                       const std::filesystem::path& userDataDir) {
  const std::filesystem::path inAppDir = appDir / KeyStoreFileName;
  if (userDataDir.empty() || FileUpdatable(inAppDir)) return inAppDir;
  return userDataDir / KeyStoreFileName;
}

std::filesystem::path KeyStorePath(bool installed, const std::filesystem::path& programDir,
                                   const std::filesystem::path& userDataDir) {
  if (installed) return userDataDir.empty() ? std::filesystem::path() : userDataDir / KeyStoreFileName;
  return KeyStoreLocation(programDir, userDataDir);
}

std::filesystem::path KeyStorePath() { return KeyStorePath(InstalledLayout(), ProgramDir(), UserDataDir()); }

std::string KeyStoreLookup(const std::filesystem::path& file, std::string_view keyName) {
  return LoadStore(file).Value(KeyStoreSection, keyName).value_or(std::string());
}

bool KeyStoreSave(const std::filesystem::path& file, std::string_view keyName, std::string_view hexText,
                  std::string* error) {
  const auto refuse = [&] {
    if (error) *error = "The key name cannot be stored in " + platform::Utf8FromPath(file);
    return false;
  };
  // Checked before any directory is made for the file.
  if (!KeyNameStorable(keyName)) return refuse();
  std::error_code ec;
  const std::filesystem::path dir = file.parent_path();
  if (!dir.empty()) std::filesystem::create_directories(dir, ec);

  // The document refuses a value it could not store (one with a line break);
  // to UpdateIniFile that is "nothing to change", so it is told apart here.
  bool refused = false;
  const bool updated = UpdateIniFile(
      file,
      [&](IniFile& ini) {
        const auto stored = ini.Value(KeyStoreSection, keyName);
        if (stored && StoredKeyValid(*stored)) return false;
        refused = !ini.SetValue(KeyStoreSection, keyName, hexText);
        return !refused;
      },
      error);
  return refused ? refuse() : updated;
}

bool StoredKeyValid(std::string_view value) {
  return value.size() == 64 && std::all_of(value.begin(), value.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
         });
}

std::vector<std::string> KeyStoreNames(const std::filesystem::path& file) {
  std::vector<std::string> names;
  std::size_t used = 0;
  for (std::string& name : LoadStore(file).EntryNames(KeyStoreSection)) {
    if (name.empty()) continue;
    used += name.size() + 1;
    if (used > KeyStoreNamesByteLimit) break;
    names.push_back(std::move(name));
  }
  return names;
}

bool KeyNameStorable(std::string_view keyName) { return IniNameStorable(keyName); }

}  // namespace vorsal
