// The running program's place in the system: its executable, the user's
// data directory, who runs it on which host, whether a standard stream is
// a terminal, and the clock broken down in local and universal time.
#pragma once

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace vorsal::platform {

// The program's arguments after its name, as UTF-8. Linux: argv as given;
// Windows: the UTF-16 command line, converted (argv there is in the ANSI
// code page and loses what it cannot show).
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Makes the console, where there is one, show the program's UTF-8 output
// (Windows' console takes its own code page otherwise).
void UseUtf8Console();

// Lets standard output pass bytes as they are, for output that carries its
// own line ends (a CSV export's CRLF); Windows' C library would turn each LF
// into CRLF otherwise, so CRLF came out as CR CR LF.
void UseBinaryStandardOutput();

// Full path of the running executable ("" when the system cannot tell).
std::string ExecutablePath();

// The user's data directory for Vorsal. Linux: $XDG_DATA_HOME/vorsal when
// XDG_DATA_HOME is an absolute path, otherwise $HOME/.local/share/vorsal,
// with the home from the password database when HOME is not an absolute
// path (a service, env -i); empty when none gives one. Windows:
// %APPDATA%\Vorsal.
std::filesystem::path UserDataDir();

// The folders where the system installs programs for every user: on
// Windows, Program Files and Program Files (x86) (one folder where the two
// are the same). None on Linux, whose installation is the package build's
// layout, known when the program is built.
std::vector<std::filesystem::path> ProgramFilesDirs();

// The name the person running the program logged in with (under sudo too,
// the session's login rather than root); failing that, the name of the
// user the program runs as. Empty when neither can be told.
std::string LoginName();
// This computer's network name; empty when the system cannot tell.
std::string HostName();

enum class StandardStream { Input, Output, Error };
bool IsTerminal(StandardStream stream);

// `time` broken down in the local time zone, and in UTC.
std::tm LocalTime(std::time_t time);
std::tm UtcTime(std::time_t time);

}  // namespace vorsal::platform
