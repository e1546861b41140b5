// What the main window reads from the rest of the program at run time: the
// program directory and title set at start-up, and the names of the stored
// keys.
#pragma once

#include <string>
#include <vector>

namespace vorsal {

std::string ProgramDir();    // AppDir, ends in "/"
std::string ProgramTitle();  // AppTitle
// Entry names of section "Keys" of the key file at `iniPath`, in file order;
// empty when the file or the section is missing.
std::vector<std::string> StoredKeyNames(const std::string& iniPath);

}  // namespace vorsal
