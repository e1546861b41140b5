// The key store Keys.ini: section "Keys", one entry per key name, each value
// the key as 64 upper-case hex digits (BytesToHex of the 32 key bytes). Names
// and values are Windows-1251 byte strings; names match without regard to
// letter case. The program only ever adds entries: a name it finds is used and
// not written again.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vorsal {

inline constexpr char KeyStoreFileName[] = "Keys.ini";
inline constexpr char KeyStoreSection[] = "Keys";
// The key list at start holds at most this many bytes of names, each name
// counted with a terminating zero byte.
constexpr std::size_t KeyStoreNamesByteLimit = 16384;

// Where Keys.ini lives: in `appDir` (a portable install) when this user can
// read and write the Keys.ini there, or there is none and `appDir` takes new
// files; otherwise in `userDataDir`, the user's data directory, which
// KeyStoreSave creates when needed. A Keys.ini in `appDir` reached through a
// symbolic link of another user counts as one this user cannot write. An empty `userDataDir` keeps the file in `appDir`. Decide once at
// start and use the result for the names, the lookups and the saves.
std::filesystem::path KeyStoreLocation(const std::filesystem::path& appDir,
                                       const std::filesystem::path& userDataDir);

// The Keys.ini that the window and the tools use. Installed (InstalledLayout):
// UserDataDir() + Keys.ini, and never a file beside the program (empty, so
// no key is cached, when there is no data directory). Otherwise
// KeyStoreLocation of ProgramDir() (AppDir, or the running executable's
// directory for a tool that leaves AppDir empty) and UserDataDir().
std::filesystem::path KeyStorePath();
// The same rule for a given layout and directories.
std::filesystem::path KeyStorePath(bool installed, const std::filesystem::path& programDir,
                                   const std::filesystem::path& userDataDir);

// The stored value of the key name (trimmed, at most 2047 characters); empty
// when there is no such entry or the file is missing or unreadable.
std::string KeyStoreLookup(const std::filesystem::path& file, std::string_view keyName);

// True when a stored value is a key: exactly 64 hex digits. Any other value
// (cut short, mistyped) is damaged and never taken for a key: read as hex it
// would give every modem the same wrong key.
bool StoredKeyValid(std::string_view value);

// Stores the key under the name. The file is read afresh right before it is
// written, so entries that another running copy added meanwhile are kept. An
// entry of that name with an empty or damaged value (see StoredKeyValid)
// gets the value; an entry with a key is left as it is (another copy stored
// the name first); otherwise a
// new entry goes at the end of section "Keys", creating the file (mode 0600),
// its directory and the section as needed. The file is written by
// WriteFilePreserving (owner, group, mode and links kept; never through
// another user's link) and never when it is larger than IniFileMaxBytes.
// Returns false with `error` set when the name is not KeyNameStorable, the
// hex text has a line break (when the entry is to get it) or the file cannot
// be written; a failed write leaves the old file intact, and its error is
// "Unable to write to " + the file's full path + ": " + the reason.
bool KeyStoreSave(const std::filesystem::path& file, std::string_view keyName, std::string_view hexText,
                  std::string* error);

// The entry names of section "Keys" in file order, for the key list at start:
// whole names while they fit in KeyStoreNamesByteLimit bytes (name + zero
// byte each); a name that would not fit whole ends the list. Empty names are
// skipped. A missing or unreadable file gives an empty list.
std::vector<std::string> KeyStoreNames(const std::filesystem::path& file);

// True when the key name can be stored so that it reads back as the same
// name: not empty, no blanks (codes 0..32) at either end, no '=' and no line
// break, and not starting with '[' or ';'. Other names can still be derived
// and transferred, but storing them would not find them again.
bool KeyNameStorable(std::string_view keyName);

}  // namespace vorsal
