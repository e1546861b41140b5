// Why a serial device could not be opened, as plain facts for whoever tells
// the user (the window in Russian, the command-line client in English):
// which other processes hold the device open, and which group, if any, the
// device's permission bits would let the user in through. Nothing here
// formats text for the user or depends on Qt.
#pragma once

#include <string>
#include <vector>

namespace vorsal {

// A process that has the device open.
struct PortHolder {
  int pid = 0;
  std::string command;  // the process's command name (/proc/PID/comm), may be empty
};

// Other processes with `devicePath` open, found through their /proc/PID/fd
// links where this user may see them (processes of other users usually
// stay hidden); the calling process is never listed. In pid order; empty
// when the device does not exist.
std::vector<PortHolder> FindPortHolders(const std::string& devicePath);

struct PortOpenDiagnosis {
  std::string devicePath;
  int systemCode = -1;                // errno of the failed open, -1 when none
  bool deviceExists = false;
  bool permissionDenied = false;      // EACCES or EPERM
  bool busy = false;                  // in use elsewhere: EBUSY, EAGAIN, or holders found
  std::vector<PortHolder> holders;
  // A group (never root) whose permission bits on the device grant both read
  // and write; empty when no such group exists.
  std::string grantingGroup;
  bool userInGroup = false;           // the group database lists this user in it
  bool sessionHasGroup = false;       // this process already runs with that group
};

// Gathers the facts after an open of `devicePath` failed with `systemCode`.
PortOpenDiagnosis DiagnosePortOpen(const std::string& devicePath, int systemCode);

}  // namespace vorsal
