// Where the program keeps what it writes, and the version text of its
// command-line tools: one rule for the window and every tool.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vorsal {

// The user's data directory for Vorsal: $XDG_DATA_HOME/vorsal when
// XDG_DATA_HOME is an absolute path, otherwise $HOME/.local/share/vorsal.
// Empty when neither variable gives an absolute path.
std::filesystem::path UserDataDir();

// The Keys.ini that the window and the tools use: KeyStoreLocation of AppDir
// (set by InitIdentity; a tool that makes no versioned copy leaves it empty
// and the running executable's directory serves) and UserDataDir().
std::filesystem::path KeyStorePath();

// The GNU --version text of a command-line tool: "PROGRAM (Vorsal) VERSION"
// and a copyright line, each ending in a line break.
std::string VersionText(std::string_view program);

}  // namespace vorsal
