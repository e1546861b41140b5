// The texts of the command line that name ports, devices, the user's data
// folder and the stop signals, in the words of the system it runs on: COM
// ports, %APPDATA% and the console's Ctrl+Break on Windows, device files,
// the XDG folders and SIGTERM on Linux. The one place where vorsal-cli's
// texts differ by system; each system has its own file
// (posix_port_wording.cpp, win32_port_wording.cpp).
#pragma once

#include <string_view>

namespace vorsal::cli::wording {

// What -p takes, for its lines of the general help.
extern const std::string_view PortOption;
// What --journal defaults to.
extern const std::string_view JournalDefault;
// The first lines of `ports --help`: what each port's line shows.
extern const std::string_view PortsHelp;
// Where the journal would go when the system gives no folder.
extern const std::string_view NoDataDirectory;
// A port that does not exist.
extern const std::string_view DeviceMissing;
// What stops the program besides Ctrl+C, as the exit status 130 names it.
extern const std::string_view OtherStop;
// Why a build has no production registry, for its help.
extern const std::string_view NoRegistry;

}  // namespace vorsal::cli::wording
