// The re-hash loop for processors with SSSE3; compiled with -mssse3 (see
// CMakeLists.txt), and called only where the processor has SSSE3.
#if defined(__SSSE3__)

#include "keys/gost_vector.h"

namespace vorsal::gost {

Value ReHashSsse3(Value value, int count) { return ReHashVector(value, count); }

}  // namespace vorsal::gost

#endif
