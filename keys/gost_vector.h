// The re-hash loop on byte-shuffle vectors, written once for two instruction
// sets: gost_ssse3.cpp compiles it for SSSE3 (a 256-bit value is two 128-bit
// halves) and gost_avx2.cpp for AVX2 (one 256-bit register). Each of those
// files is compiled with its own instruction-set flag, so everything here has
// internal linkage: no function compiled for one instruction set may be
// merged with a copy that the rest of the program calls. For the same reason
// this code calls no out-of-line function of gost_core.h or the standard
// library; it uses only their compile-time tables.
//
// It computes exactly what GostStep computes:
//
// - rounds: the four ciphers of a step sit in the four 32-bit lanes of one
//   128-bit register. Each S-box is one byte shuffle of a 16-entry table,
//   done on the nibbles of its own byte position only (the others are 0 and
//   look up 0, see RoundTable);
// - keys, the halves N1 and N2 of the ciphers' input, and every psi^n are
//   fixed byte-linear maps of a 256-bit value: each output byte is the XOR
//   of some input bytes. Such a map is a few byte shuffles XORed together
//   (see ShuffleLayers), taking each input byte from the same 128-bit half
//   or from the other one.
#pragma once

#include "keys/gost_core.h"

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <utility>

namespace vorsal::gost {
namespace {

struct alignas(32) Bytes32 {
  std::uint8_t b[32];
};

// ---- 256-bit values ------------------------------------------------------
//
// Vec holds bytes 0..31 of a value (piece 0 first, as in memory); its two
// 128-bit halves are pieces 0..1 and 2..3. Shuffles move bytes only within
// a half. Swapped(x) is x with its halves exchanged: the source of every
// byte that crosses between the halves.

#if defined(__AVX2__)

struct Vec {
  __m256i v;
};

[[gnu::always_inline]] inline Vec LoadVec(const void* p) { return {_mm256_loadu_si256(static_cast<const __m256i*>(p))}; }
[[gnu::always_inline]] inline void StoreVec(void* p, Vec x) { _mm256_storeu_si256(static_cast<__m256i*>(p), x.v); }
[[gnu::always_inline]] inline Vec operator^(Vec a, Vec b) { return {_mm256_xor_si256(a.v, b.v)}; }
[[gnu::always_inline]] inline Vec Shuffle(Vec x, const Bytes32& index) {
  return {_mm256_shuffle_epi8(x.v, _mm256_load_si256(reinterpret_cast<const __m256i*>(index.b)))};
}
[[gnu::always_inline]] inline Vec Swapped(Vec x) { return {_mm256_permute2x128_si256(x.v, x.v, 0x01)}; }
[[gnu::always_inline]] inline __m128i LowHalf(Vec x) { return _mm256_castsi256_si128(x.v); }
[[gnu::always_inline]] inline __m128i HighHalf(Vec x) { return _mm256_extracti128_si256(x.v, 1); }
[[gnu::always_inline]] inline Vec Join(__m128i low, __m128i high) {
  return {_mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1)};
}
// Exchanging the halves of a register costs a slow cross-lane move; every
// value on the way from one step to the next is made twice instead, once
// with its halves exchanged, from maps that already write them that way.
constexpr bool SwapIsFree = false;

#else

struct Vec {
  __m128i low;
  __m128i high;
};

[[gnu::always_inline]] inline Vec LoadVec(const void* p) {
  const auto* q = static_cast<const __m128i*>(p);
  return {_mm_loadu_si128(q), _mm_loadu_si128(q + 1)};
}
[[gnu::always_inline]] inline void StoreVec(void* p, Vec x) {
  auto* q = static_cast<__m128i*>(p);
  _mm_storeu_si128(q, x.low);
  _mm_storeu_si128(q + 1, x.high);
}
[[gnu::always_inline]] inline Vec operator^(Vec a, Vec b) {
  return {_mm_xor_si128(a.low, b.low), _mm_xor_si128(a.high, b.high)};
}
[[gnu::always_inline]] inline Vec Shuffle(Vec x, const Bytes32& index) {
  const auto* i = reinterpret_cast<const __m128i*>(index.b);
  return {_mm_shuffle_epi8(x.low, _mm_load_si128(i)), _mm_shuffle_epi8(x.high, _mm_load_si128(i + 1))};
}
[[gnu::always_inline]] inline Vec Swapped(Vec x) { return {x.high, x.low}; }
[[gnu::always_inline]] inline __m128i LowHalf(Vec x) { return x.low; }
[[gnu::always_inline]] inline __m128i HighHalf(Vec x) { return x.high; }
[[gnu::always_inline]] inline Vec Join(__m128i low, __m128i high) { return {low, high}; }
constexpr bool SwapIsFree = true;

#endif

// A value together with its halves exchanged.
struct Both {
  Vec v;
  Vec swapped;
};

// ---- Byte-linear maps ----------------------------------------------------

// Output byte o is the XOR of the input bytes whose bits are set in from[o].
struct ByteMap {
  std::uint32_t from[32]{};
};

constexpr ByteMap WithHalvesExchanged(const ByteMap& map) {
  ByteMap out;
  for (int o = 0; o < 32; ++o) out.from[o] = map.from[o ^ 16];
  return out;
}

// A map as byte shuffles: layer l of `same` gives every output byte its
// l-th source in its own half (index 0x80, which gives 0, when it has fewer);
// `cross` likewise for the sources in the other half.
inline constexpr int MaxLayers = 16;

struct ShuffleLayers {
  Bytes32 same[MaxLayers]{};
  Bytes32 cross[MaxLayers]{};
  int sameCount = 0;
  int crossCount = 0;
};

constexpr ShuffleLayers MakeLayers(const ByteMap& map) {
  ShuffleLayers layers;
  for (int l = 0; l < MaxLayers; ++l) {
    for (int o = 0; o < 32; ++o) layers.same[l].b[o] = layers.cross[l].b[o] = 0x80;
  }
  for (int o = 0; o < 32; ++o) {
    int same = 0;
    int cross = 0;
    for (int i = 0; i < 32; ++i) {
      if ((map.from[o] >> i & 1) == 0) continue;
      if (i / 16 == o / 16)
        layers.same[same++].b[o] = static_cast<std::uint8_t>(i % 16);
      else
        layers.cross[cross++].b[o] = static_cast<std::uint8_t>(i % 16);
    }
    if (same > layers.sameCount) layers.sameCount = same;
    if (cross > layers.crossCount) layers.crossCount = cross;
  }
  return layers;
}

// XOR of t[First..Last), as a balanced tree so that the terms combine in
// parallel.
template <std::size_t First, std::size_t Last, std::size_t N>
[[gnu::always_inline]] inline Vec XorTree(const Vec (&t)[N]) {
  if constexpr (Last - First == 1) {
    return t[First];
  } else {
    constexpr std::size_t middle = First + (Last - First) / 2;
    return XorTree<First, middle>(t) ^ XorTree<middle, Last>(t);
  }
}

template <const ShuffleLayers& L, std::size_t... S, std::size_t... C>
[[gnu::always_inline]] inline Vec ApplyLayers(const Both& x, std::index_sequence<S...>, std::index_sequence<C...>) {
  const Vec terms[] = {Shuffle(x.v, L.same[S])..., Shuffle(x.swapped, L.cross[C])...};
  return XorTree<0, sizeof...(S) + sizeof...(C)>(terms);
}

template <const ShuffleLayers& L>
[[gnu::always_inline]] inline Vec Apply(const Both& x) {
  return ApplyLayers<L>(x, std::make_index_sequence<L.sameCount>{}, std::make_index_sequence<L.crossCount>{});
}

// A map and the same map writing its halves exchanged.
template <const ByteMap& M>
struct MapPair {
  static constexpr ShuffleLayers straight = MakeLayers(M);
  static constexpr ShuffleLayers exchanged = MakeLayers(WithHalvesExchanged(M));
};

template <const ByteMap& M>
[[gnu::always_inline]] inline Both ApplyBoth(const Both& x) {
  const Vec y = Apply<MapPair<M>::straight>(x);
  if constexpr (SwapIsFree) {
    return {y, Swapped(y)};
  } else {
    return {y, Apply<MapPair<M>::exchanged>(x)};
  }
}

[[gnu::always_inline]] inline Both operator^(const Both& a, const Both& b) { return {a.v ^ b.v, a.swapped ^ b.swapped}; }

// ---- The maps of the step function -----------------------------------------

// psi^n on bytes: byte b of unit q comes from byte b of the units of row q.
constexpr ByteMap PsiMap(int n) {
  const PsiRows rows = PsiMatrix(n);
  ByteMap map;
  for (int o = 0; o < 32; ++o) {
    for (int i = 0; i < 16; ++i) {
      if (rows[o / 2] >> i & 1) map.from[o] |= 1u << (2 * i + o % 2);
    }
  }
  return map;
}

// A^n on the four 64-bit pieces: bit s of row t means piece s feeds piece t.
constexpr std::array<std::uint8_t, 4> PiecesOfA(int n) {
  std::array<std::uint8_t, 4> rows = {1, 2, 4, 8};
  for (int k = 0; k < n; ++k) rows = {rows[1], rows[2], rows[3], static_cast<std::uint8_t>(rows[0] ^ rows[1])};
  return rows;
}

// Round keys as pairs: half 0 of pair i holds key word i of the four keys
// (lane j: key j), half 1 key word i + 4. Key j takes A^(step j) of the
// input, before P; byte t of key word w is byte 8t + w of that.
constexpr ByteMap KeyPairMap(int i, int step) {
  ByteMap map;
  for (int o = 0; o < 32; ++o) {
    const int word = i + 4 * (o / 16);
    const int key = (o % 16) / 4;
    const int t = o % 4;
    const std::uint8_t pieces = PiecesOfA(key * step)[t];
    for (int s = 0; s < 4; ++s) {
      if (pieces >> s & 1) map.from[o] |= 1u << (8 * s + word);
    }
  }
  return map;
}

// The constant part of the keys: U_2 = A^2(H) ^ C3, U_3 = A^3(H) ^ A(C3).
constexpr Bytes32 KeyPairConstant(int i) {
  std::uint8_t c[4][32] = {};
  for (int s = 0; s < 32; ++s) {
    c[2][s] = static_cast<std::uint8_t>(C3[s / 8] >> (8 * (s % 8)));
  }
  for (int s = 0; s < 24; ++s) c[3][s] = c[2][s + 8];
  for (int s = 24; s < 32; ++s) c[3][s] = c[2][s - 24] ^ c[2][s - 16];
  Bytes32 out{};
  for (int o = 0; o < 32; ++o) out.b[o] = c[(o % 16) / 4][8 * (o % 4) + i + 4 * (o / 16)];
  return out;
}

// The ciphers' input halves: half 0 is N1 (lane j: word 2j of H), half 1 is
// N2 (word 2j + 1).
constexpr ByteMap HalvesMap() {
  ByteMap map;
  for (int o = 0; o < 32; ++o) map.from[o] = 1u << (8 * ((o % 16) / 4) + 4 * (o / 16) + o % 4);
  return map;
}

inline constexpr ByteMap Psi61 = PsiMap(61);
inline constexpr ByteMap Psi62 = PsiMap(62);
inline constexpr ByteMap Psi74 = PsiMap(74);
inline constexpr ByteMap Halves = HalvesMap();
inline constexpr ByteMap KeyU[4] = {KeyPairMap(0, 1), KeyPairMap(1, 1), KeyPairMap(2, 1), KeyPairMap(3, 1)};
inline constexpr ByteMap KeyV[4] = {KeyPairMap(0, 2), KeyPairMap(1, 2), KeyPairMap(2, 2), KeyPairMap(3, 2)};
inline constexpr ShuffleLayers HalvesLayers = MakeLayers(Halves);
template <int I>
inline constexpr ShuffleLayers KeyULayers = MakeLayers(KeyU[I]);
template <int I>
inline constexpr ShuffleLayers KeyVLayers = MakeLayers(KeyV[I]);
inline constexpr Bytes32 KeyConstant[4] = {KeyPairConstant(0), KeyPairConstant(1), KeyPairConstant(2),
                                           KeyPairConstant(3)};

// ---- Rounds ------------------------------------------------------------------

// Byte position p of the round function's input: its low nibble goes
// through S(2p+1), its high nibble through S(2p+2). One shuffle applies one
// S-box to every byte; the byte positions are then put together.
#if defined(__AVX2__)

// With blends: each table is looked up with every byte's nibble, and the
// results are blended by byte position.
constexpr Bytes32 RoundTable(int p, bool high) {
  Bytes32 t{};
  const auto& box = SBox[2 * p + (high ? 1 : 0)];
  for (int v = 0; v < 16; ++v) t.b[v] = t.b[16 + v] = static_cast<std::uint8_t>(box[v] << (high ? 4 : 0));
  return t;
}

inline constexpr std::uint32_t RoundOffset = 0;

#else

// Without blends (SSSE3 has none): each table is looked up with the nibbles
// of its own byte position only, the others masked to 0, and the results
// XORed. Each table is offset to give 0 for index 0; RoundOffset puts back
// what the offsets took away (rotated like the round's output).
constexpr Bytes32 RoundTable(int p, bool high) {
  Bytes32 t{};
  const auto& box = SBox[2 * p + (high ? 1 : 0)];
  for (int v = 0; v < 16; ++v) t.b[v] = t.b[16 + v] = static_cast<std::uint8_t>((box[v] ^ box[0]) << (high ? 4 : 0));
  return t;
}

constexpr std::uint32_t MakeRoundOffset() {
  std::uint32_t c = 0;
  for (int p = 0; p < 4; ++p) c |= static_cast<std::uint32_t>(SBox[2 * p][0] | SBox[2 * p + 1][0] << 4) << (8 * p);
  return Rol32(c, 11);
}

inline constexpr std::uint32_t RoundOffset = MakeRoundOffset();

#endif

inline constexpr Bytes32 LowTables[4] = {RoundTable(0, false), RoundTable(1, false), RoundTable(2, false),
                                          RoundTable(3, false)};
inline constexpr Bytes32 HighTables[4] = {RoundTable(0, true), RoundTable(1, true), RoundTable(2, true),
                                           RoundTable(3, true)};

struct RoundConstants {
  __m128i low0, low1, low2, low3;
  __m128i high0, high1, high2, high3;
  __m128i nibble0, nibble1, nibble2, nibble3;  // 0x0F in byte position p of every lane
  __m128i offset;
};

[[gnu::always_inline]] inline __m128i Load128(const Bytes32& b) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(b.b));
}

[[gnu::always_inline]] inline RoundConstants LoadRoundConstants() {
  return {Load128(LowTables[0]),      Load128(LowTables[1]),      Load128(LowTables[2]),
          Load128(LowTables[3]),      Load128(HighTables[0]),     Load128(HighTables[1]),
          Load128(HighTables[2]),     Load128(HighTables[3]),     _mm_set1_epi32(0x0F),
          _mm_set1_epi32(0x0F00),     _mm_set1_epi32(0x0F0000),   _mm_set1_epi32(0x0F000000),
          _mm_set1_epi32(static_cast<int>(RoundOffset))};
}

// The S-boxes of one half of every byte (`nibbles` holds it in bits 0..3 of
// each byte, and anything above).
[[gnu::always_inline]] inline __m128i Substitute(const RoundConstants& c, __m128i nibbles, __m128i t0, __m128i t1,
                                                 __m128i t2, __m128i t3) {
#if defined(__AVX2__)
  const __m128i index = _mm_and_si128(nibbles, _mm_set1_epi8(0x0F));
  const __m128i odd = _mm_set1_epi16(static_cast<short>(0xFF00));
  const __m128i s01 = _mm_blendv_epi8(_mm_shuffle_epi8(t0, index), _mm_shuffle_epi8(t1, index), odd);
  const __m128i s23 = _mm_blendv_epi8(_mm_shuffle_epi8(t2, index), _mm_shuffle_epi8(t3, index), odd);
  return _mm_blend_epi16(s01, s23, 0xAA);
#else
  const __m128i s0 = _mm_shuffle_epi8(t0, _mm_and_si128(nibbles, c.nibble0));
  const __m128i s1 = _mm_shuffle_epi8(t1, _mm_and_si128(nibbles, c.nibble1));
  const __m128i s2 = _mm_shuffle_epi8(t2, _mm_and_si128(nibbles, c.nibble2));
  const __m128i s3 = _mm_shuffle_epi8(t3, _mm_and_si128(nibbles, c.nibble3));
  return _mm_xor_si128(_mm_xor_si128(s0, s1), _mm_xor_si128(s2, s3));
#endif
}

[[gnu::always_inline]] inline __m128i Rotate11(__m128i x) {
  return _mm_xor_si128(_mm_slli_epi32(x, 11), _mm_srli_epi32(x, 21));
}

// y ^ f(x + key) in all four lanes.
[[gnu::always_inline]] inline __m128i Round(const RoundConstants& c, __m128i x, __m128i y, __m128i key) {
  const __m128i v = _mm_add_epi32(x, key);
  const __m128i low = Substitute(c, v, c.low0, c.low1, c.low2, c.low3);
  const __m128i high = Substitute(c, _mm_srli_epi16(v, 4), c.high0, c.high1, c.high2, c.high3);
  return _mm_xor_si128(_mm_xor_si128(y, c.offset), Rotate11(_mm_xor_si128(low, high)));
}

// Rounds with key words I..., alternating between the halves.
template <int... I>
[[gnu::always_inline]] inline void Rounds(const RoundConstants& c, const __m128i (&k)[8], __m128i& n1, __m128i& n2,
                                          std::integer_sequence<int, I...>) {
  ((I % 2 == 0 ? (void)(n2 = Round(c, n1, n2, k[I])) : (void)(n1 = Round(c, n2, n1, k[I]))), ...);
}

// The four ciphers of a step; returns S and S with its halves exchanged.
[[gnu::always_inline]] inline Both Encrypt(const RoundConstants& c, const Vec (&keyPairs)[4], const Vec& halves) {
  const __m128i k[8] = {LowHalf(keyPairs[0]),  LowHalf(keyPairs[1]),  LowHalf(keyPairs[2]),  LowHalf(keyPairs[3]),
                        HighHalf(keyPairs[0]), HighHalf(keyPairs[1]), HighHalf(keyPairs[2]), HighHalf(keyPairs[3])};
  __m128i n1 = LowHalf(halves);
  __m128i n2 = HighHalf(halves);
  using Forwards = std::integer_sequence<int, 0, 1, 2, 3, 4, 5, 6, 7>;
  Rounds(c, k, n1, n2, Forwards{});
  Rounds(c, k, n1, n2, Forwards{});
  Rounds(c, k, n1, n2, Forwards{});
  // Backwards, still starting with N2 ^= f(N1 + K7).
  const __m128i r[8] = {k[7], k[6], k[5], k[4], k[3], k[2], k[1], k[0]};
  Rounds(c, r, n1, n2, Forwards{});
  // Piece j of S is N2 (low word) and N1 of lane j.
  const __m128i low = _mm_unpacklo_epi32(n2, n1);
  const __m128i high = _mm_unpackhi_epi32(n2, n1);
  return {Join(low, high), Join(high, low)};
}

// ---- The loop ----------------------------------------------------------------

// The early half of the mixing, psi^61(H) ^ psi^62(M), does not wait for
// the ciphers. It runs on the general-purpose registers (see PsiPower),
// which the rounds leave idle, instead of taking byte-shuffle slots from
// them; it comes back through memory as a value and its halves exchanged.
struct alignas(32) EarlyHalf {
  std::uint64_t straight[4];
  std::uint64_t exchanged[4];
};

[[gnu::always_inline]] inline void StoreEarly(EarlyHalf& e, const Value& x) {
  for (int j = 0; j < 4; ++j) {
    e.straight[j] = x[j];
    e.exchanged[j ^ 2] = x[j];
  }
}

[[gnu::always_inline]] inline Both LoadEarly(const EarlyHalf& e) { return {LoadVec(e.straight), LoadVec(e.exchanged)}; }

[[gnu::always_inline]] inline Value ToValue(const Vec& x) {
  Value v;
  StoreVec(&v, x);
  return v;
}

// What a step needs of its message block M: psi^62(M) and M's part of the
// round keys with the key constants.
struct MessageTerms {
  Value early;
  Vec keys[4];
};

template <std::size_t... I>
[[gnu::always_inline]] inline MessageTerms MakeMessageTerms(const Both& m, std::index_sequence<I...>) {
  return {PsiPower<61>(PsiPower<1>(ToValue(m.v))), {(Apply<KeyVLayers<I>>(m) ^ LoadVec(KeyConstant[I].b))...}};
}

[[gnu::always_inline]] inline MessageTerms MakeMessageTerms(const Both& m) {
  return MakeMessageTerms(m, std::make_index_sequence<4>{});
}

template <std::size_t... I>
[[gnu::always_inline]] inline Both Step(const RoundConstants& c, const Both& h, const MessageTerms& m,
                                        std::index_sequence<I...>) {
  const Vec keys[4] = {(Apply<KeyULayers<I>>(h) ^ m.keys[I])...};
  EarlyHalf early;
  StoreEarly(early, Xor(PsiPower<61>(ToValue(h.v)), m.early));
  const Both s = Encrypt(c, keys, Apply<HalvesLayers>(h));
  return LoadEarly(early) ^ ApplyBoth<Psi74>(s);
}

[[gnu::always_inline]] inline Both Step(const RoundConstants& c, const Both& h, const MessageTerms& m) {
  return Step(c, h, m, std::make_index_sequence<4>{});
}

// The step with H = 0: the keys are M's part alone, and so is the early
// half of the mixing.
[[gnu::always_inline]] inline Both FirstStep(const RoundConstants& c, const MessageTerms& m) {
  EarlyHalf early;
  StoreEarly(early, m.early);
  return LoadEarly(early) ^ ApplyBoth<Psi74>(Encrypt(c, m.keys, Vec{}));
}

[[gnu::always_inline]] inline Value ReHashVector(Value value, int count) {
  const RoundConstants c = LoadRoundConstants();
  alignas(32) const std::uint64_t bitLength[4] = {256, 0, 0, 0};
  const Vec length = LoadVec(bitLength);
  const MessageTerms lengthTerms = MakeMessageTerms({length, Swapped(length)});
  const Vec start = LoadVec(&value);
  Both v = {start, Swapped(start)};
  for (int i = 0; i < count; ++i) {
    // The block is the message, then the control sum: both steps with it
    // share its terms.
    const MessageTerms block = MakeMessageTerms(v);
    const Both h1 = FirstStep(c, block);
    const Both h2 = Step(c, h1, lengthTerms);
    v = Step(c, h2, block);
  }
  StoreVec(&value, v.v);
  return value;
}

}  // namespace
}  // namespace vorsal::gost
