#include "keys/key_name_input.h"

namespace vorsal {

// Notepad's "ANSI" on a Russian system is Windows-1251.
bool KeyNameFallsBackToCp1251() { return true; }

}  // namespace vorsal
