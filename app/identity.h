// The program's identity: the program directory, the title and the
// versioned copy of the executable, all derived from the executable's own
// version information before any window exists.
#pragma once

#include <string>

namespace vorsal {

// Set once by InitIdentity, read-only afterwards.
extern std::string AppDir;             // directory of the executable, ending in "/" (unless empty)
extern std::string AppTitle;           // ProductName + " v." + FileShortVersion
extern std::string ExePath;            // full path of the executable
extern std::string VersionedCopyPath;  // AppDir + ProductName + "." + FileShortVersion (+ ".exe" for a Windows executable)

// Sets the identity globals for the running executable and refreshes its
// versioned copy beside it.
void InitIdentity();

// The same for the executable at `exePath` (tests run it on files they made).
// The copy is replaced at every call: an old copy, read-only or not, is
// deleted first, then the executable is copied (through a temporary file
// renamed into place, so no half-written copy is ever left under the name).
// Nothing is reported and nothing raised when any of this fails. The copy
// step is skipped when the copy path names the executable itself, when
// a directory stands at the copy path, and when the executable has no
// version information (the copy's name would be built from placeholders).
void InitIdentity(const std::string& exePath);

}  // namespace vorsal
