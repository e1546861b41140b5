// The re-hash loop with AVX-512 (F, BW, VL and VBMI), for processors that
// have those instructions; GostReHash picks it at run time and falls back to
// the portable loop elsewhere. It computes exactly what GostStep computes:
//
// - rounds: the four ciphers of a step sit in the four 32-bit lanes of one
//   register. The eight S-boxes are two 64-byte tables, one for the low and
//   one for the high nibble of each byte, indexed by nibble + 16 x byte
//   position, so one byte permute substitutes all 32 nibbles of a half;
// - keys: P and the arrangement of the key words by round are one two-table
//   byte permute for four rounds;
// - mixing: each psi^n is one masked word permute per "layer" of its
//   matrix (at most 14), XORed together.
#include "keys/gost_core.h"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)

// g++ 12's AVX-512 headers start some results from a deliberately undefined
// register, which its own -Wmaybe-uninitialized then reports.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#define VORSAL_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi")))
#define VORSAL_AVX512_INLINE VORSAL_AVX512 __attribute__((always_inline)) inline

namespace vorsal::gost {

namespace {

struct alignas(64) Bytes64 {
  std::uint8_t b[64];
};

// Entry 16p + v: the S-box of byte position p applied to nibble v, for the
// low nibbles (S1, S3, S5, S7) and, shifted into place, the high ones.
constexpr Bytes64 MakeNibbleTable(bool high) {
  Bytes64 t{};
  for (int p = 0; p < 4; ++p) {
    for (int v = 0; v < 16; ++v) {
      t.b[16 * p + v] = high ? static_cast<std::uint8_t>(SBox[2 * p + 1][v] << 4) : SBox[2 * p][v];
    }
  }
  return t;
}

constexpr Bytes64 LowNibbles = MakeNibbleTable(false);
constexpr Bytes64 HighNibbles = MakeNibbleTable(true);

// Byte indexes into W0 | W1 | W2 | W3 (the four XORs U_j ^ V_j, 128 bytes)
// that give the key words of rounds 4h..4h+3 of all four ciphers: lane j of
// round i is word i of key j, whose byte t is byte 8t + i of W_j.
constexpr Bytes64 MakeKeyIndex(int half) {
  Bytes64 t{};
  for (int r = 0; r < 4; ++r) {
    const int i = 4 * half + r;
    for (int j = 0; j < 4; ++j) {
      for (int byte = 0; byte < 4; ++byte) t.b[16 * r + 4 * j + byte] = static_cast<std::uint8_t>(32 * j + 8 * byte + i);
    }
  }
  return t;
}

constexpr Bytes64 KeyIndexLow = MakeKeyIndex(0);
constexpr Bytes64 KeyIndexHigh = MakeKeyIndex(1);

// psi^n as layers: layer l takes, for every unit q, the l-th input unit of
// row q of the matrix (mask bit q clear when the row has no such unit).
struct PsiLayers {
  std::uint16_t index[16][16]{};
  std::uint16_t mask[16]{};
  int count = 0;
};

constexpr PsiLayers MakePsiLayers(int n) {
  const PsiRows rows = PsiMatrix(n);
  PsiLayers layers;
  for (int q = 0; q < 16; ++q) {
    int l = 0;
    for (int i = 0; i < 16; ++i) {
      if (rows[q] >> i & 1) {
        layers.index[l][q] = static_cast<std::uint16_t>(i);
        layers.mask[l] |= static_cast<std::uint16_t>(1u << q);
        ++l;
      }
    }
    if (l > layers.count) layers.count = l;
  }
  return layers;
}

template <int N>
constexpr PsiLayers PsiLayersOf = MakePsiLayers(N);

template <int N>
VORSAL_AVX512_INLINE __m256i PsiLayer(__m256i x, int l) {
  constexpr const PsiLayers& layers = PsiLayersOf<N>;
  const __m256i index = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(layers.index[l]));
  return _mm256_maskz_permutexvar_epi16(layers.mask[l], index, x);
}

// Layers L, L + 1, ... XORed into acc, three at a time.
template <int N, int L>
VORSAL_AVX512_INLINE __m256i XorLayersFrom(__m256i x, __m256i acc) {
  constexpr int count = PsiLayersOf<N>.count;
  if constexpr (L + 1 < count) {
    return XorLayersFrom<N, L + 2>(x, _mm256_ternarylogic_epi32(acc, PsiLayer<N>(x, L), PsiLayer<N>(x, L + 1), 0x96));
  } else if constexpr (L < count) {
    return _mm256_xor_si256(acc, PsiLayer<N>(x, L));
  } else {
    return acc;
  }
}

template <int N>
VORSAL_AVX512_INLINE __m256i Psi(__m256i x) {
  return XorLayersFrom<N, 1>(x, PsiLayer<N>(x, 0));
}

// A(y) = (y1, y2, y3, y0 ^ y1) and A(A(y)) = (y2, y3, y0 ^ y1, y1 ^ y2) on
// the four 64-bit pieces.
VORSAL_AVX512_INLINE __m256i TransformA(__m256i y) {
  return _mm256_xor_si256(_mm256_permute4x64_epi64(y, 0x39), _mm256_maskz_permutex_epi64(0x8, y, 0x40));
}

VORSAL_AVX512_INLINE __m256i TransformAA(__m256i y) {
  return _mm256_xor_si256(_mm256_permute4x64_epi64(y, 0x4E), _mm256_maskz_permutex_epi64(0xC, y, 0x90));
}

struct Tables {
  __m512i low;
  __m512i high;
  __m512i keyLow;
  __m512i keyHigh;
  __m256i c3;
};

VORSAL_AVX512_INLINE Tables LoadTables() {
  return {_mm512_load_si512(LowNibbles.b), _mm512_load_si512(HighNibbles.b), _mm512_load_si512(KeyIndexLow.b),
          _mm512_load_si512(KeyIndexHigh.b), _mm256_loadu_si256(reinterpret_cast<const __m256i*>(C3.data()))};
}

// y ^= f(x + key) in all four lanes.
VORSAL_AVX512_INLINE __m128i Round(const Tables& t, __m128i x, __m128i y, __m128i key) {
  const __m128i nibbles = _mm_set1_epi32(0x0F0F0F0F);
  const __m128i position = _mm_set1_epi32(0x30201000);
  const __m128i v = _mm_add_epi32(x, key);
  const __m128i lowIndex = _mm_ternarylogic_epi32(v, nibbles, position, 0xEA);  // (v & 0x0F) | position
  const __m128i highIndex = _mm_ternarylogic_epi32(_mm_srli_epi32(v, 4), nibbles, position, 0xEA);
  const __m128i low = _mm512_castsi512_si128(_mm512_permutexvar_epi8(_mm512_castsi128_si512(lowIndex), t.low));
  const __m128i high = _mm512_castsi512_si128(_mm512_permutexvar_epi8(_mm512_castsi128_si512(highIndex), t.high));
  // The halves hold disjoint bits, so rotating each and XORing all three
  // saves the OR on the way to the next round.
  return _mm_ternarylogic_epi32(y, _mm_rol_epi32(low, 11), _mm_rol_epi32(high, 11), 0x96);
}

VORSAL_AVX512_INLINE __m256i Step(const Tables& t, __m256i h, __m256i m) {
  // Keys: W_j = U_j ^ V_j, then one permute per four rounds.
  __m256i u = h;
  __m256i v = m;
  const __m256i w0 = _mm256_xor_si256(u, v);
  u = TransformA(u);
  v = TransformAA(v);
  const __m256i w1 = _mm256_xor_si256(u, v);
  u = _mm256_xor_si256(TransformA(u), t.c3);
  v = TransformAA(v);
  const __m256i w2 = _mm256_xor_si256(u, v);
  u = TransformA(u);
  v = TransformAA(v);
  const __m256i w3 = _mm256_xor_si256(u, v);
  const __m512i w01 = _mm512_inserti64x4(_mm512_castsi256_si512(w0), w1, 1);
  const __m512i w23 = _mm512_inserti64x4(_mm512_castsi256_si512(w2), w3, 1);
  const __m512i keysLow = _mm512_permutex2var_epi8(w01, t.keyLow, w23);
  const __m512i keysHigh = _mm512_permutex2var_epi8(w01, t.keyHigh, w23);
  const __m128i k[8] = {
      _mm512_castsi512_si128(keysLow),          _mm512_extracti32x4_epi32(keysLow, 1),
      _mm512_extracti32x4_epi32(keysLow, 2),    _mm512_extracti32x4_epi32(keysLow, 3),
      _mm512_castsi512_si128(keysHigh),         _mm512_extracti32x4_epi32(keysHigh, 1),
      _mm512_extracti32x4_epi32(keysHigh, 2),   _mm512_extracti32x4_epi32(keysHigh, 3),
  };

  const __m256i early = Psi<61>(_mm256_xor_si256(h, Psi<1>(m)));

  // Lane j: N1 = word 2j of H, N2 = word 2j + 1.
  __m128i n1 = _mm256_castsi256_si128(_mm256_permutexvar_epi32(_mm256_setr_epi32(0, 2, 4, 6, 0, 0, 0, 0), h));
  __m128i n2 = _mm256_castsi256_si128(_mm256_permutexvar_epi32(_mm256_setr_epi32(1, 3, 5, 7, 0, 0, 0, 0), h));
  for (int pass = 0; pass < 3; ++pass) {
    for (int i = 0; i < 8; i += 2) {
      n2 = Round(t, n1, n2, k[i]);
      n1 = Round(t, n2, n1, k[i + 1]);
    }
  }
  for (int i = 7; i > 0; i -= 2) {
    n2 = Round(t, n1, n2, k[i]);
    n1 = Round(t, n2, n1, k[i - 1]);
  }
  // S: piece j is N2 (low word) and N1 of lane j.
  const __m256i s = _mm256_permutex2var_epi32(_mm256_castsi128_si256(n2), _mm256_setr_epi32(0, 8, 1, 9, 2, 10, 3, 11),
                                              _mm256_castsi128_si256(n1));
  return _mm256_xor_si256(early, Psi<74>(s));
}

VORSAL_AVX512 Value ReHashAvx512(Value value, int count) {
  const Tables t = LoadTables();
  const __m256i bitLength = _mm256_setr_epi64x(256, 0, 0, 0);
  __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(value.data()));
  for (int i = 0; i < count; ++i) {
    const __m256i h1 = Step(t, _mm256_setzero_si256(), v);
    const __m256i h2 = Step(t, h1, bitLength);
    v = Step(t, h2, v);
  }
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(value.data()), v);
  return value;
}

}  // namespace

ReHashLoop Avx512ReHashLoop() {
  __builtin_cpu_init();
  const bool usable = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi");
  return usable ? ReHashAvx512 : nullptr;
}

}  // namespace vorsal::gost

#else

namespace vorsal::gost {
ReHashLoop Avx512ReHashLoop() { return nullptr; }
}  // namespace vorsal::gost

#endif
