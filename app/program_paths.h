// Where the program keeps what it writes, and the version text of its
// command-line tools: one rule for the window and every tool.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vorsal {

// The user's data directory for Vorsal: $XDG_DATA_HOME/vorsal when
// XDG_DATA_HOME is an absolute path, otherwise HOME/.local/share/vorsal,
// where HOME is $HOME or, when that is not an absolute path (a service,
// env -i), the user's home in the password database (%APPDATA%\Vorsal on
// Windows). Empty when none of them gives an absolute path.
std::filesystem::path UserDataDir();

// True in the installed layout: the program writes nothing beside itself,
// so it makes no versioned copy and keeps Keys.ini in UserDataDir(). On
// Linux the package build says so (CMake option VORSAL_INSTALLED_LAYOUT);
// on Windows, where one vorsal.exe serves the portable zip and the
// installer, InstalledCopy of ProgramDir() and the Program Files folders.
// A build tree and a portable copy are not installed.
bool InstalledLayout();

// The uninstaller that the Windows installer puts beside the programs; a
// portable copy never has one.
inline constexpr char UninstallerName[] = "Uninstall.exe";

// True when `programDir` is an installation on a system that installs
// programs into `programFilesDirs`: it lies in one of them (compared by
// whole path components, letters in either case), or it holds
// UninstallerName (the installer's folder may be any). False when the
// system names no such folders.
bool InstalledCopy(const std::filesystem::path& programDir,
                   const std::vector<std::filesystem::path>& programFilesDirs);

// AppDir (set by InitIdentity), or the running executable's directory for a
// tool that makes no versioned copy and leaves AppDir empty.
std::filesystem::path ProgramDir();

// KeyStorePath, the Keys.ini every program uses, is in keys/key_store.h.

// The help document that F1 opens.
inline constexpr char HelpFileName[] = "Vorsal.html";

// HelpFileName in `appDir` when it is there (a build tree, a portable copy),
// else in the installed documentation directory, found relative to `appDir`
// as the install rules place it (../share/doc/vorsal from bin); empty when
// neither exists.
std::filesystem::path HelpFilePath(const std::filesystem::path& appDir);

// HelpFilePath of AppDir (or of the running executable's directory).
std::filesystem::path HelpFilePath();

// HelpFilePath() as UTF-8 text, what a window opens and shows; empty when
// there is none. (On Windows path::string() is the code page's, and fails
// on a folder name the code page cannot spell.)
std::string HelpFileText();

// The GNU --version text of a command-line tool: "PROGRAM (Vorsal) VERSION"
// and a copyright line, each ending in a line break.
std::string VersionText(std::string_view program);

}  // namespace vorsal
