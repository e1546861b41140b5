// The re-hash loop for processors with AVX2. This file is compiled with
// -mavx2 (see CMakeLists.txt) and its loop runs only where the processor has
// AVX2 (gost_loops.cpp checks). So everything here has internal linkage, and
// it calls no inline function of gost_core.h or the standard library, not
// even a member of std::array: an unoptimised build would emit a copy
// compiled for AVX2 that the linker may then pick for the whole program. It
// uses only gost_core.h's compile-time tables.
//
// It computes exactly what GostStep computes:
//
// - rounds: the four ciphers of a step sit in the four 32-bit lanes of one
//   128-bit register. Each S-box is one byte shuffle of a 16-entry table on
//   every byte's nibble; blends then take each byte position from its own
//   S-box (see Round);
// - the round keys and psi^n are fixed byte-linear maps of a 256-bit value:
//   each output byte is the XOR of some input bytes. Such a map is a few
//   byte shuffles XORed together (see ShuffleLayers). The values are kept
//   with their 32-bit words rearranged (see Halves), so that the key maps
//   read each half alone and the ciphers' halves N1 and N2 are the value's.
//
// Nearly all the time goes to the rounds, each a chain of dependent
// instructions: on the AMD Zen 3 machine it was tuned on, a round takes about
// 13.5 cycles and the 96 rounds of a re-hash over 90 % of it. Between two
// steps the next step's first round waits for psi^74 and its round key.
#if defined(__AVX2__)

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

// A value together with its halves exchanged, the input of a map.
struct Both {
  Vec v;
  Vec swapped;
};

[[gnu::always_inline]] inline Both WithSwapped(Vec x) { return {x, Swapped(x)}; }

// ---- Byte-linear maps ----------------------------------------------------

// Output byte o is the XOR of the input bytes whose bits are set in from[o].
struct ByteMap {
  std::uint32_t from[32]{};
};

// A map as byte shuffles of two 256-bit inputs: layer l of `first` gives
// every output byte its l-th source in the first input (index 0x80, which
// gives 0, when it has fewer); `second` likewise in the second input. A
// shuffle reads only its own half, so the sources must sit there.
inline constexpr int MaxLayers = 16;

struct ShuffleLayers {
  Bytes32 first[MaxLayers]{};
  Bytes32 second[MaxLayers]{};
  int firstCount = 0;
  int secondCount = 0;
};

// `second(i, o)`: whether input byte i reaches output byte o through the
// second input.
template <typename Second>
constexpr ShuffleLayers MakeLayers(const ByteMap& map, Second second) {
  ShuffleLayers layers;
  for (int l = 0; l < MaxLayers; ++l) {
    for (int o = 0; o < 32; ++o) layers.first[l].b[o] = layers.second[l].b[o] = 0x80;
  }
  for (int o = 0; o < 32; ++o) {
    int firstCount = 0;
    int secondCount = 0;
    for (int i = 0; i < 32; ++i) {
      if ((map.from[o] >> i & 1) == 0) continue;
      if (second(i, o))
        layers.second[secondCount++].b[o] = static_cast<std::uint8_t>(i % 16);
      else
        layers.first[firstCount++].b[o] = static_cast<std::uint8_t>(i % 16);
    }
    if (firstCount > layers.firstCount) layers.firstCount = firstCount;
    if (secondCount > layers.secondCount) layers.secondCount = secondCount;
  }
  return layers;
}

// For a value and the value with its halves exchanged: a byte from the
// other half comes from the exchanged one.
constexpr ShuffleLayers MakeLayers(const ByteMap& map) {
  return MakeLayers(map, [](int i, int o) { return i / 16 != o / 16; });
}

// For two 128-bit parts of the input, each broadcast to both halves: bytes
// 0..15 of the input are the first part, 16..31 the second.
constexpr ShuffleLayers MakePartLayers(const ByteMap& map) {
  return MakeLayers(map, [](int i, int) { return i >= 16; });
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

template <const ShuffleLayers& L, bool Second, std::size_t... I>
[[gnu::always_inline]] inline Vec XorOfShuffles(Vec x, std::index_sequence<I...>) {
  const Vec terms[] = {Shuffle(x, Second ? L.second[I] : L.first[I])...};
  return XorTree<0, sizeof...(I)>(terms);
}

// The first input's part and the second input's part of a map.
template <const ShuffleLayers& L>
[[gnu::always_inline]] inline Vec FirstPart(Vec x) {
  return XorOfShuffles<L, false>(x, std::make_index_sequence<L.firstCount>{});
}

template <const ShuffleLayers& L>
[[gnu::always_inline]] inline Vec SecondPart(Vec x) {
  return XorOfShuffles<L, true>(x, std::make_index_sequence<L.secondCount>{});
}

template <const ShuffleLayers& L>
[[gnu::always_inline]] inline Vec Apply(const Both& x) {
  return FirstPart<L>(x.v) ^ SecondPart<L>(x.swapped);
}

// A map whose bytes all come from their own half needs no exchanged input.
template <const ShuffleLayers& L>
[[gnu::always_inline]] inline Vec ApplyInHalves(Vec x) {
  static_assert(L.secondCount == 0);
  return FirstPart<L>(x);
}

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

// The loop keeps every 256-bit value rearranged by 32-bit words: half 0
// holds the low words of the four pieces, half 1 the high words. So byte w
// of every piece lies in the same half for w = 0..3, and for w = 4..7, and
// the ciphers' halves N1 and N2 are the value's own halves. Halves and
// FromHalves convert on the way in and out.
[[gnu::always_inline]] inline Vec Halves(Vec x) {
  return {_mm256_permutevar8x32_epi32(x.v, _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7))};
}

[[gnu::always_inline]] inline Vec FromHalves(Vec x) {
  return {_mm256_permutevar8x32_epi32(x.v, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7))};
}

constexpr int HalvesByte(int byte) { return 16 * (byte % 8 / 4) + 4 * (byte / 8) + byte % 4; }

// A map of values in memory order as a map of rearranged values.
constexpr ByteMap InHalves(const ByteMap& map) {
  ByteMap out;
  for (int o = 0; o < 32; ++o) {
    for (int i = 0; i < 32; ++i) {
      if (map.from[o] >> i & 1) out.from[HalvesByte(o)] |= 1u << HalvesByte(i);
    }
  }
  return out;
}

// Round keys as pairs, from the rearranged input: half 0 of pair i holds key
// word i of the four keys (lane j: key j), half 1 key word i + 4. Key j
// takes A^(step j) of the input, before P; byte t of key word w is byte
// 8t + w of that.
constexpr ByteMap KeyPairMap(int i, int step) {
  ByteMap map;
  for (int o = 0; o < 32; ++o) {
    const int word = i + 4 * (o / 16);
    const int key = (o % 16) / 4;
    const int t = o % 4;
    const std::uint8_t pieces = PiecesOfA(key * step)[t];
    for (int s = 0; s < 4; ++s) {
      if (pieces >> s & 1) map.from[o] |= 1u << HalvesByte(8 * s + word);
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

inline constexpr ShuffleLayers Psi61 = MakeLayers(InHalves(PsiMap(61)));
inline constexpr ShuffleLayers Psi62 = MakeLayers(InHalves(PsiMap(62)));
// psi^74 of S, whose half 0 is the ciphers' N2 and half 1 their N1: the
// first part reads N2, the second N1.
inline constexpr ShuffleLayers Psi74 = MakePartLayers(InHalves(PsiMap(74)));
inline constexpr ByteMap KeyU[4] = {KeyPairMap(0, 1), KeyPairMap(1, 1), KeyPairMap(2, 1), KeyPairMap(3, 1)};
inline constexpr ByteMap KeyV[4] = {KeyPairMap(0, 2), KeyPairMap(1, 2), KeyPairMap(2, 2), KeyPairMap(3, 2)};
template <int I>
inline constexpr ShuffleLayers KeyULayers = MakeLayers(KeyU[I]);
template <int I>
inline constexpr ShuffleLayers KeyVLayers = MakeLayers(KeyV[I]);
inline constexpr Bytes32 KeyConstant[4] = {KeyPairConstant(0), KeyPairConstant(1), KeyPairConstant(2),
                                           KeyPairConstant(3)};

// ---- Rounds ------------------------------------------------------------------
//
// The round function is y ^ rot11(S(x + key)), all four lanes at once. Byte p
// of x + key has its low nibble substituted by S(2p+1) and its high nibble by
// S(2p+2). A table shuffle applies one S-box to every byte; blends then take
// each byte position from its own S-box. The two nibble halves take
// different paths:
//
// - high nibbles: shifted down to an index, substituted into bits 4..7 of
//   their byte, then rotated by 11 with two shifts;
// - low nibbles: their rotation needs no shift. rot11 puts the low nibble of
//   byte p into bits 3..6 of byte p + 1, so the index is first moved up one
//   byte in every lane, and the tables of byte p + 1 hold S(2p+1) << 3.
//
// The high path is the longer chain, and its table shuffles compete with the
// low path's for the same two execution ports. The processor issues the
// oldest ready instruction first, so the order of the instructions decides
// which path waits: the round is written in assembly, high path first, to
// keep a compiler from reordering it. Odd bytes of the shifted index are
// already clean nibbles (the 16-bit shift brings in zeros) and need no mask.
// On the AMD Zen 3 it was tuned on, this order takes about 13.4 cycles a
// round against 15.4 for the straightforward one.

// A shuffle table, in both halves: entry v is SBox[row][v] << shift.
constexpr Bytes32 ShiftedBox(int row, int shift) {
  Bytes32 t{};
  for (int v = 0; v < 16; ++v) t.b[v] = t.b[16 + v] = static_cast<std::uint8_t>(SBox[row][v] << shift);
  return t;
}

// Table p: S(2p+2) << 4, the high nibble of byte p.
constexpr Bytes32 HighTable(int p) { return ShiftedBox(2 * p + 1, 4); }

// Table q: S(2p+1) << 3 for p = q - 1, the low nibble of the byte below,
// already rotated by 11.
constexpr Bytes32 RotatedLowTable(int q) { return ShiftedBox(2 * ((q + 3) % 4), 3); }

// Moves every byte up one place within its 32-bit lane, the top byte to the
// bottom.
constexpr Bytes32 ByteRotation() {
  Bytes32 t{};
  for (int i = 0; i < 32; ++i) t.b[i] = static_cast<std::uint8_t>(i % 16 / 4 * 4 + (i + 3) % 4);
  return t;
}

constexpr Bytes32 Filled(std::uint8_t byte) {
  Bytes32 t{};
  for (auto& b : t.b) b = byte;
  return t;
}

inline constexpr Bytes32 HighTables[4] = {HighTable(0), HighTable(1), HighTable(2), HighTable(3)};
inline constexpr Bytes32 LowTables[4] = {RotatedLowTable(0), RotatedLowTable(1), RotatedLowTable(2),
                                         RotatedLowTable(3)};
inline constexpr Bytes32 ByteUp = ByteRotation();
inline constexpr Bytes32 Nibbles = Filled(0x0F);

struct RoundConstants {
  __m128i high[4];
  __m128i low[4];
  __m128i odd;  // bit 7 set in byte positions 1 and 3: the blends' selector
};

[[gnu::always_inline]] inline __m128i Load128(const Bytes32& b) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(b.b));
}

[[gnu::always_inline]] inline RoundConstants LoadRoundConstants() {
  return {{Load128(HighTables[0]), Load128(HighTables[1]), Load128(HighTables[2]), Load128(HighTables[3])},
          {Load128(LowTables[0]), Load128(LowTables[1]), Load128(LowTables[2]), Load128(LowTables[3])},
          _mm_set1_epi16(static_cast<short>(0xFF00))};
}

// y ^= rot11(S(v)) in all four lanes, v being x + key; v is used up. AT&T
// operand order: sources first, destination last; vpblendvb takes the
// second-named source where the selector is set.
[[gnu::always_inline]] inline void Round(const RoundConstants& c, __m128i v, __m128i& y) {
  __m128i a, b, t, d;
  asm("vpsrlw $4, %[v], %[a]\n\t"              // a: high nibbles, clean in odd bytes
      "vpshufb %[up], %[v], %[b]\n\t"          // b: bytes moved up, for the low path
      "vpshufb %[a], %[h3], %[t]\n\t"
      "vpand %[nibbles], %[a], %[d]\n\t"       // d: high nibbles, clean in all bytes
      "vpshufb %[d], %[h2], %[v]\n\t"
      "vpshufb %[d], %[h0], %[d]\n\t"
      "vpblendvb %[odd], %[t], %[v], %[v]\n\t" // v: bytes 2, 3
      "vpshufb %[a], %[h1], %[t]\n\t"
      "vpand %[nibbles], %[b], %[a]\n\t"       // a: low nibbles, moved up
      "vpshufb %[a], %[l0], %[b]\n\t"
      "vpblendvb %[odd], %[t], %[d], %[d]\n\t" // d: bytes 0, 1
      "vpblendw $0xaa, %[v], %[d], %[t]\n\t"   // t: the high nibbles substituted
      "vpshufb %[a], %[l2], %[d]\n\t"
      "vpshufb %[a], %[l3], %[v]\n\t"
      "vpshufb %[a], %[l1], %[a]\n\t"
      "vpblendvb %[odd], %[a], %[b], %[b]\n\t"
      "vpslld $11, %[t], %[a]\n\t"
      "vpblendvb %[odd], %[v], %[d], %[d]\n\t"
      "vpblendw $0xaa, %[d], %[b], %[v]\n\t"   // v: the low nibbles substituted and rotated
      "vpsrld $21, %[t], %[b]\n\t"
      "vpxor %[a], %[b], %[d]\n\t"             // d: the high nibbles rotated
      "vpxor %[v], %[y], %[y]\n\t"
      "vpxor %[d], %[y], %[y]"
      : [y] "+x"(y), [v] "+x"(v), [a] "=&x"(a), [b] "=&x"(b), [t] "=&x"(t), [d] "=&x"(d)
      : [up] "m"(ByteUp.b), [nibbles] "m"(Nibbles.b), [odd] "x"(c.odd),
        [h0] "x"(c.high[0]), [h1] "x"(c.high[1]), [h2] "x"(c.high[2]), [h3] "x"(c.high[3]), [l0] "x"(c.low[0]),
        [l1] "x"(c.low[1]), [l2] "x"(c.low[2]), [l3] "x"(c.low[3]));
}

// Rounds with key words I..., alternating between the halves.
template <int... I>
[[gnu::always_inline]] inline void Rounds(const RoundConstants& c, const __m128i (&k)[8], __m128i& n1, __m128i& n2,
                                          std::integer_sequence<int, I...>) {
  ((I % 2 == 0 ? Round(c, _mm_add_epi32(n1, k[I]), n2) : Round(c, _mm_add_epi32(n2, k[I]), n1)), ...);
}

// The ciphers' halves at the end of a step.
struct CipherHalves {
  __m128i n1;
  __m128i n2;
};

// The four ciphers of a step, from H and the round keys as pairs (both
// rearranged).
[[gnu::always_inline]] inline CipherHalves Encrypt(const RoundConstants& c, const Vec (&keyPairs)[4], const Vec& h) {
  const __m128i k[8] = {LowHalf(keyPairs[0]),  LowHalf(keyPairs[1]),  LowHalf(keyPairs[2]),  LowHalf(keyPairs[3]),
                        HighHalf(keyPairs[0]), HighHalf(keyPairs[1]), HighHalf(keyPairs[2]), HighHalf(keyPairs[3])};
  CipherHalves n{LowHalf(h), HighHalf(h)};
  using Forwards = std::integer_sequence<int, 0, 1, 2, 3, 4, 5, 6, 7>;
  Rounds(c, k, n.n1, n.n2, Forwards{});
  Rounds(c, k, n.n1, n.n2, Forwards{});
  Rounds(c, k, n.n1, n.n2, Forwards{});
  // Backwards, still starting with N2 ^= f(N1 + K7).
  const __m128i r[8] = {k[7], k[6], k[5], k[4], k[3], k[2], k[1], k[0]};
  Rounds(c, r, n.n1, n.n2, Forwards{});
  return n;
}

[[gnu::always_inline]] inline Vec Broadcast(__m128i x) { return {_mm256_broadcastsi128_si256(x)}; }

// H' = early ^ psi^74(S), S being N2 (low words) and N1. The last round
// changes N1, so N2's part is made while it runs, and only N1's part waits.
[[gnu::always_inline]] inline Vec Mix(const Vec& early, const CipherHalves& s) {
  const Vec ready = early ^ FirstPart<Psi74>(Broadcast(s.n2));
  return ready ^ SecondPart<Psi74>(Broadcast(s.n1));
}

// ---- The loop ----------------------------------------------------------------

// What a step needs of its message block M: psi^62(M), one part of the
// mixing (H' = psi^61(H) ^ psi^62(M) ^ psi^74(S)), and M's part of the round
// keys with the key constants.
struct MessageTerms {
  Vec early;
  Vec keys[4];
};

template <std::size_t... I>
[[gnu::always_inline]] inline MessageTerms MakeMessageTerms(Vec m, std::index_sequence<I...>) {
  return {Apply<Psi62>(WithSwapped(m)), {(ApplyInHalves<KeyVLayers<I>>(m) ^ LoadVec(KeyConstant[I].b))...}};
}

[[gnu::always_inline]] inline MessageTerms MakeMessageTerms(Vec m) {
  return MakeMessageTerms(m, std::make_index_sequence<4>{});
}

template <std::size_t... I>
[[gnu::always_inline]] inline Vec Step(const RoundConstants& c, Vec h, const MessageTerms& m,
                                       std::index_sequence<I...>) {
  const Vec keys[4] = {(ApplyInHalves<KeyULayers<I>>(h) ^ m.keys[I])...};
  const Vec early = Apply<Psi61>(WithSwapped(h)) ^ m.early;
  return Mix(early, Encrypt(c, keys, h));
}

[[gnu::always_inline]] inline Vec Step(const RoundConstants& c, Vec h, const MessageTerms& m) {
  return Step(c, h, m, std::make_index_sequence<4>{});
}

// The step with H = 0: the keys are M's part alone, and so is the early
// part of the mixing.
[[gnu::always_inline]] inline Vec FirstStep(const RoundConstants& c, const MessageTerms& m) {
  return Mix(m.early, Encrypt(c, m.keys, Vec{}));
}

[[gnu::always_inline]] inline Value ReHashVector(Value value, int count) {
  const RoundConstants c = LoadRoundConstants();
  alignas(32) const std::uint64_t bitLength[4] = {256, 0, 0, 0};
  const MessageTerms lengthTerms = MakeMessageTerms(Halves(LoadVec(bitLength)));
  Vec v = Halves(LoadVec(&value));
  for (int i = 0; i < count; ++i) {
    // The block is the message, then the control sum: both steps with it
    // share its terms.
    const MessageTerms block = MakeMessageTerms(v);
    const Vec h1 = FirstStep(c, block);
    const Vec h2 = Step(c, h1, lengthTerms);
    v = Step(c, h2, block);
  }
  StoreVec(&value, FromHalves(v));
  return value;
}

}  // namespace

Value ReHashAvx2(Value value, int count) { return ReHashVector(value, count); }

}  // namespace vorsal::gost

#endif
