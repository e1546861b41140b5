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

}  // namespace

void Encrypt4(const KeySchedule& keys, const Value& h, Value& s) {
  std::uint32_t n1[4];
  std::uint32_t n2[4];
  for (int j = 0; j < 4; ++j) {
    n1[j] = static_cast<std::uint32_t>(h[j]);
    n2[j] = static_cast<std::uint32_t>(h[j] >> 32);
  }
  // Three passes with the key words in order, one with them backwards; the
  // loop stays a loop (see KeySchedule).
  for (int pass = 0; pass < 4; ++pass) {
    const std::uint32_t* k = &keys.w[0][pass == 3 ? 8 : 0];
    Round4<0>(k, n1, n2);
    Round4<1>(k, n2, n1);
    Round4<2>(k, n1, n2);
    Round4<3>(k, n2, n1);
    Round4<4>(k, n1, n2);
    Round4<5>(k, n2, n1);
    Round4<6>(k, n1, n2);
    Round4<7>(k, n2, n1);
  }
  // The halves change places at the end: N2 becomes the low word.
  for (int j = 0; j < 4; ++j) s[j] = n2[j] | (static_cast<std::uint64_t>(n1[j]) << 32);
}

}  // namespace vorsal::gost
