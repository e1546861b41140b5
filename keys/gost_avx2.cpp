// The re-hash loop for processors with AVX2; compiled with -mavx2 (see
// CMakeLists.txt), and called only where the processor has AVX2.
#if defined(__AVX2__)

#include "keys/gost_vector.h"

namespace vorsal::gost {

Value ReHashAvx2(Value value, int count) { return ReHashVector(value, count); }

}  // namespace vorsal::gost

#endif
