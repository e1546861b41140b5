// Building blocks of the GOST R 34.11-94 step function, shared by the hash
// (gost_hash.cpp), its AVX-512 loop (gost_avx512.cpp), its tests and its
// benchmark. Not a public interface: callers hash through gost_hash.h.
//
// Internally a 256-bit value is four 64-bit pieces, piece j holding the
// 32-bit words 2j (low half) and 2j+1 (high half); piece 0 is the least
// significant. A 32-byte block is read as four little-endian 64-bit numbers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

// The hot paths must inline completely: the cipher halves and the 256-bit
// values then stay in registers instead of passing through memory.
#if defined(__GNUC__)
#define VORSAL_GOST_INLINE [[gnu::always_inline]] inline
#else
#define VORSAL_GOST_INLINE inline
#endif

namespace vorsal::gost {

using Value = std::array<std::uint64_t, 4>;

// A 32-byte block as a value and back: byte i is byte i % 8 of piece i / 8.
inline std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

inline void Store64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline Value LoadBlock(const std::uint8_t* p) { return {Load64(p), Load64(p + 8), Load64(p + 16), Load64(p + 24)}; }

inline void StoreBlock(std::uint8_t* p, const Value& v) {
  for (int j = 0; j < 4; ++j) Store64(p + 8 * j, v[j]);
}

// Eight 32-bit words, word 0 the least significant, as a value and back.
inline Value FromWords(const std::uint32_t* w) {
  Value v;
  for (int j = 0; j < 4; ++j) v[j] = w[2 * j] | (static_cast<std::uint64_t>(w[2 * j + 1]) << 32);
  return v;
}

inline void ToWords(const Value& v, std::uint32_t* w) {
  for (int j = 0; j < 4; ++j) {
    w[2 * j] = static_cast<std::uint32_t>(v[j]);
    w[2 * j + 1] = static_cast<std::uint32_t>(v[j] >> 32);
  }
}

// The S-boxes of the standard's test parameter set; row 0 is S1, which acts
// on bits 0..3 of the round function's input.
inline constexpr std::uint8_t SBox[8][16] = {
    {4, 10, 9, 2, 13, 8, 0, 14, 6, 11, 1, 12, 7, 15, 5, 3},
    {14, 11, 4, 12, 6, 13, 15, 10, 2, 3, 8, 1, 0, 7, 5, 9},
    {5, 8, 1, 13, 10, 3, 4, 2, 14, 15, 12, 7, 6, 0, 9, 11},
    {7, 13, 10, 1, 0, 8, 9, 15, 14, 4, 6, 12, 11, 2, 5, 3},
    {6, 12, 7, 1, 5, 15, 13, 8, 4, 10, 9, 14, 0, 3, 11, 2},
    {4, 11, 10, 0, 7, 2, 1, 13, 3, 6, 8, 5, 9, 12, 15, 14},
    {13, 11, 4, 1, 3, 15, 5, 9, 0, 10, 14, 7, 6, 8, 2, 12},
    {1, 15, 13, 0, 5, 7, 10, 4, 9, 2, 3, 14, 6, 11, 8, 12},
};

constexpr std::uint32_t Rol32(std::uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

// Round tables: entry x of table j is input byte j = x pushed through the
// S-box pair S(2j+1), S(2j+2) and the round's 11-bit rotation, so one round
// of the cipher is one addition, four lookups and four XORs.
struct RoundTableSet {
  std::uint32_t t[4][256];
};

constexpr RoundTableSet MakeRoundTables() {
  RoundTableSet r{};
  for (int j = 0; j < 4; ++j) {
    for (int x = 0; x < 256; ++x) {
      const std::uint32_t pair = SBox[2 * j][x & 15] | (SBox[2 * j + 1][x >> 4] << 4);
      r.t[j][x] = Rol32(pair << (8 * j), 11);
    }
  }
  return r;
}

alignas(64) inline constexpr RoundTableSet RoundTables = MakeRoundTables();

// The GOST 28147-89 round function.
VORSAL_GOST_INLINE std::uint32_t RoundF(std::uint32_t x) {
  const auto& t = RoundTables.t;
  return (t[0][x & 0xFF] ^ t[1][(x >> 8) & 0xFF]) ^ (t[2][(x >> 16) & 0xFF] ^ t[3][x >> 24]);
}

// The four 256-bit keys of one step, each stored twice: words 0..7 for the
// 24 rounds that take them in order, and again for the last 8 rounds that
// take them backwards. Round i of a pass reads w[j][KeySlot(i)] forwards and
// w[j][8 + KeySlot(i)] backwards, so all four passes run the same code.
// KeySlot keeps words i and i+4 side by side, which lets the key generation
// write each pair with one store.
struct KeySchedule {
  alignas(64) std::uint32_t w[4][16];
};

constexpr int KeySlot(int i) { return ((i & 1) << 2) | (i & 2) | ((i >> 2) & 1); }

VORSAL_GOST_INLINE void StoreWordPair(std::uint32_t* at, std::uint64_t pair) {
  at[0] = static_cast<std::uint32_t>(pair);
  at[1] = static_cast<std::uint32_t>(pair >> 32);
}

constexpr std::uint64_t SwapHalves(std::uint64_t v) { return (v << 32) | (v >> 32); }

// Byte permutation P: byte t of key word i is byte 8t + i of w, that is
// byte i of piece t. A 4 x 8 byte transpose done on whole 64-bit pieces.
VORSAL_GOST_INLINE void StoreKeyP(const Value& w, std::uint32_t* key) {
  constexpr std::uint64_t bytes = 0x00FF00FF00FF00FFull;
  constexpr std::uint64_t halves = 0x0000FFFF0000FFFFull;
  // 16-bit units (byte i of piece 0, byte i of piece 1) for even and odd i.
  const std::uint64_t even01 = (w[0] & bytes) | ((w[1] & bytes) << 8);
  const std::uint64_t odd01 = ((w[0] >> 8) & bytes) | (w[1] & ~bytes);
  const std::uint64_t even23 = (w[2] & bytes) | ((w[3] & bytes) << 8);
  const std::uint64_t odd23 = ((w[2] >> 8) & bytes) | (w[3] & ~bytes);
  // Words (i, i + 4) for i = 0, 2, 1, 3 go to slots 0, 2, 4, 6. Read
  // backwards the same pairs sit in slots 8 + 6, 8 + 4, 8 + 2, 8 + 0, with
  // their halves swapped.
  const std::uint64_t words04 = (even01 & halves) | ((even23 & halves) << 16);
  const std::uint64_t words26 = ((even01 >> 16) & halves) | (even23 & ~halves);
  const std::uint64_t words15 = (odd01 & halves) | ((odd23 & halves) << 16);
  const std::uint64_t words37 = ((odd01 >> 16) & halves) | (odd23 & ~halves);
  StoreWordPair(key + 0, words04);
  StoreWordPair(key + 2, words26);
  StoreWordPair(key + 4, words15);
  StoreWordPair(key + 6, words37);
  StoreWordPair(key + 8, SwapHalves(words37));
  StoreWordPair(key + 10, SwapHalves(words15));
  StoreWordPair(key + 12, SwapHalves(words26));
  StoreWordPair(key + 14, SwapHalves(words04));
}

// A(y4 | y3 | y2 | y1) = (y1 ^ y2) | y4 | y3 | y2.
VORSAL_GOST_INLINE Value TransformA(const Value& y) { return {y[1], y[2], y[3], y[0] ^ y[1]}; }
VORSAL_GOST_INLINE Value TransformAA(const Value& y) { return {y[2], y[3], y[0] ^ y[1], y[1] ^ y[2]}; }

inline constexpr Value C3 = {0xFF00FF00FF00FF00ull, 0x00FF00FF00FF00FFull,
                             0xFF0000FF00FFFF00ull, 0xFF00FFFF000000FFull};

VORSAL_GOST_INLINE Value Xor(const Value& a, const Value& b) {
  return {a[0] ^ b[0], a[1] ^ b[1], a[2] ^ b[2], a[3] ^ b[3]};
}

// Key j is P(U_j ^ V_j) with U_0 = H, V_0 = M, U_j+1 = A(U_j) (and C3
// added after the second key), V_j+1 = A(A(V_j)).
VORSAL_GOST_INLINE void GenerateKeys(const Value& h, const Value& m, KeySchedule& keys) {
  Value u = h;
  Value v = m;
  StoreKeyP(Xor(u, v), keys.w[0]);
  u = TransformA(u);
  v = TransformAA(v);
  StoreKeyP(Xor(u, v), keys.w[1]);
  u = Xor(TransformA(u), C3);
  v = TransformAA(v);
  StoreKeyP(Xor(u, v), keys.w[2]);
  u = TransformA(u);
  v = TransformAA(v);
  StoreKeyP(Xor(u, v), keys.w[3]);
}

// Encrypts the four 64-bit pieces of h, piece j under key j, into s. The
// four ciphers run interleaved round by round: each round is a chain of
// dependent operations, and four independent chains keep the processor busy.
void Encrypt4(const KeySchedule& keys, const Value& h, Value& s);

// ---- Mixing -------------------------------------------------------------
//
// psi works on sixteen 16-bit units e0..e15 (e0 = bits 0..15 of word 0): it
// moves every unit down one place and feeds e0^e1^e2^e3^e12^e15 into e15.
// psi^n is linear, so every unit of psi^n(x) is the XOR of some units of x.
// PsiMatrix(n) derives those sets from the rule at compile time; PsiPower<n>
// then evaluates them on 64-bit pieces, as terms "piece src shifted by a
// whole number of units, masked to some units, XORed into piece out".

using PsiRows = std::array<std::uint16_t, 16>;  // bit i of row q: unit i feeds unit q

constexpr PsiRows PsiMatrix(int n) {
  PsiRows rows{};
  for (int q = 0; q < 16; ++q) rows[q] = static_cast<std::uint16_t>(1u << q);
  for (int step = 0; step < n; ++step) {
    const auto fed = static_cast<std::uint16_t>(rows[0] ^ rows[1] ^ rows[2] ^ rows[3] ^ rows[12] ^ rows[15]);
    for (int q = 0; q < 15; ++q) rows[q] = rows[q + 1];
    rows[15] = fed;
  }
  return rows;
}

struct PsiTerm {
  int out = 0;               // output piece
  int src = 0;               // input piece
  int shift = 0;             // bits; > 0 shifts right, < 0 left
  std::uint64_t mask = 0;    // units of the output piece the term feeds
};

struct PsiTermList {
  std::array<PsiTerm, 4 * 4 * 7> terms{};  // every (out, src, shift)
  std::size_t count = 0;
};

constexpr PsiTermList PsiTerms(int n) {
  const PsiRows rows = PsiMatrix(n);
  PsiTermList list;
  // Ordered by input piece and shift, so that each shifted input is made
  // once, used for every output piece at once and then dropped: the four
  // outputs and the inputs not yet used are all that stays live.
  for (int src = 0; src < 4; ++src) {
    for (int units = -3; units <= 3; ++units) {  // input lane minus output lane
      for (int out = 0; out < 4; ++out) {
        std::uint64_t mask = 0;
        for (int lane = 0; lane < 4; ++lane) {
          const int inLane = lane + units;
          if (inLane >= 0 && inLane < 4 && (rows[4 * out + lane] >> (4 * src + inLane) & 1))
            mask |= 0xFFFFull << (16 * lane);
        }
        if (mask != 0) list.terms[list.count++] = {out, src, 16 * units, mask};
      }
    }
  }
  return list;
}

template <int Shift>
inline std::uint64_t ShiftPiece(std::uint64_t x) {
  if constexpr (Shift > 0) return x >> Shift;
  else if constexpr (Shift < 0) return x << -Shift;
  else return x;
}

template <int N>
inline constexpr PsiTermList PsiTermsOf = PsiTerms(N);

template <int N, std::size_t... I>
VORSAL_GOST_INLINE Value PsiPowerTerms(const Value& x, std::index_sequence<I...>) {
  constexpr const PsiTermList& list = PsiTermsOf<N>;
  Value y{};
  ((y[list.terms[I].out] ^= ShiftPiece<list.terms[I].shift>(x[list.terms[I].src]) & list.terms[I].mask), ...);
  return y;
}

template <int N>
VORSAL_GOST_INLINE Value PsiPower(const Value& x) {
  return PsiPowerTerms<N>(x, std::make_index_sequence<PsiTermsOf<N>.count>{});
}

// The step function H' = psi^61(H ^ psi(M ^ psi^12(S))). psi is linear, so
// this is psi^61(H ^ psi(M)) ^ psi^74(S): the first half does not wait for
// the encryption, and after it only psi^74(S) remains.
VORSAL_GOST_INLINE Value GostStep(const Value& h, const Value& m) {
  KeySchedule keys;
  GenerateKeys(h, m, keys);
  const Value early = PsiPower<61>(Xor(h, PsiPower<1>(m)));
  Value s;
  Encrypt4(keys, h, s);
  return Xor(early, PsiPower<74>(s));
}

// Re-hash loops: `count` times, value = the hash of its own 32 bytes (the
// block, then L = 256, then the block as control sum). The AVX-512 loop
// gives the same values on processors that have the instructions; it is
// null elsewhere.
using ReHashLoop = Value (*)(Value value, int count);
Value ReHashPortable(Value value, int count);
ReHashLoop Avx512ReHashLoop();

}  // namespace vorsal::gost
