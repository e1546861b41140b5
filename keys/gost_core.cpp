#include "keys/gost_core.h"

namespace vorsal::gost {

namespace {

// One round on all four ciphers: y ^= f(x + key word i).
template <int I>
VORSAL_GOST_INLINE void Round4(const std::uint32_t* k, const std::uint32_t (&x)[4], std::uint32_t (&y)[4]) {
  constexpr int slot = KeySlot(I);
  y[0] ^= RoundF(x[0] + k[0 * 16 + slot]);
  y[1] ^= RoundF(x[1] + k[1 * 16 + slot]);
  y[2] ^= RoundF(x[2] + k[2 * 16 + slot]);
  y[3] ^= RoundF(x[3] + k[3 * 16 + slot]);
}

// Eight rounds with key words 0..7 of a pass (see KeySchedule).
VORSAL_GOST_INLINE void Pass8(const std::uint32_t* k, std::uint32_t (&n1)[4], std::uint32_t (&n2)[4]) {
  Round4<0>(k, n1, n2);
  Round4<1>(k, n2, n1);
  Round4<2>(k, n1, n2);
  Round4<3>(k, n2, n1);
  Round4<4>(k, n1, n2);
  Round4<5>(k, n2, n1);
  Round4<6>(k, n1, n2);
  Round4<7>(k, n2, n1);
}

}  // namespace

void Encrypt4(const KeySchedule& keys, const Value& h, Value& s) {
  std::uint32_t n1[4];
  std::uint32_t n2[4];
  for (int j = 0; j < 4; ++j) {
    n1[j] = static_cast<std::uint32_t>(h[j]);
    n2[j] = static_cast<std::uint32_t>(h[j] >> 32);
  }
  // The four passes read the key words through a volatile pointer: the
  // compiler cannot tell that they read the same words, so it loads each
  // word where a round needs it instead of holding all 32 in registers.
  const KeySchedule* volatile laundered = &keys;
  Pass8(&laundered->w[0][0], n1, n2);
  Pass8(&laundered->w[0][0], n1, n2);
  Pass8(&laundered->w[0][0], n1, n2);
  Pass8(&laundered->w[0][8], n1, n2);
  // The halves change places at the end: N2 becomes the low word.
  for (int j = 0; j < 4; ++j) s[j] = n2[j] | (static_cast<std::uint64_t>(n1[j]) << 32);
}

}  // namespace vorsal::gost
