#include "keys/key_name_input.h"

namespace vorsal {

// Linux text is UTF-8; nothing falls back.
bool KeyNameFallsBackToCp1251() { return false; }

}  // namespace vorsal
