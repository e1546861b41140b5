#include "keys/gost_core.h"
#include "keys/gost_hash.h"
#include "keys/hex_utils.h"

#include <gtest/gtest.h>

#if __has_include(<gcrypt.h>)
#include <dlfcn.h>
#include <gcrypt.h>
#endif

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace vorsal;
using gost::Value;

namespace {

std::string DigestHex() { return BytesToHex(BinaryKey, 32); }

// The standard prints 256-bit values most significant byte first.
std::string Reversed(const std::string& hex) {
  std::string out;
  for (std::size_t i = hex.size(); i >= 2; i -= 2) out += hex.substr(i - 2, 2);
  return out;
}

// A value from its first 32-bit words; the others are 0.
Value Words(std::initializer_list<std::uint32_t> words) {
  std::uint32_t w[8] = {};
  std::copy(words.begin(), words.end(), w);
  return gost::FromWords(w);
}

std::vector<std::uint8_t> BlockBytes(const Value& v) {
  std::vector<std::uint8_t> bytes(32);
  gost::StoreBlock(bytes.data(), v);
  return bytes;
}

std::string HexOf(const Value& v) { return BytesToHex(BlockBytes(v).data(), 32); }

// The digest of whole blocks from the definition: every block stepped in,
// then the bit length, then the given control sum.
std::string ChainDigest(const std::vector<Value>& blocks, std::uint64_t bits, const Value& sum) {
  Value h{};
  for (const Value& m : blocks) h = gost::GostStep(h, m);
  h = gost::GostStep(h, Value{bits, 0, 0, 0});
  h = gost::GostStep(h, sum);
  return HexOf(h);
}

std::vector<std::uint8_t> RandomBytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> bytes(n);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
  return bytes;
}

}  // namespace

TEST(GostHash, StandardExamplesComeOutInReverseByteOrder) {
  HashString("This is message, length=32 bytes");
  EXPECT_EQ(DigestHex(), Reversed("FAFF37A615A816691CFF3EF8B68CA247E09525F39F8119832EB81975D366C4B1"));
  HashString("Suppose the original message has length = 50 bytes");
  EXPECT_EQ(DigestHex(), Reversed("0852F5623B89DD57AEB4781FE54DF14EEAFBC1350613763A0D770AA657BA1A47"));
}

TEST(GostHash, EmptyMessageStepsOnlyLengthAndSum) {
  HashString("");
  EXPECT_EQ(DigestHex(), "CE85B99CC46752FFFEE35CAB9A7B0278ABB4C2D2055CFF685AF4912C49490F8D");
  EXPECT_EQ(DigestHex(), ChainDigest({}, 0, Value{}));
  HashBuffer(nullptr, 0);
  EXPECT_EQ(DigestHex(), ChainDigest({}, 0, Value{}));
}

TEST(GostHash, ThirtyTwoAndThirtyThreeByteMessages) {
  const std::string text = "This is message, length=32 bytes!";
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  const Value first = gost::LoadBlock(bytes);

  // 32 bytes: one full block, no zero-filled block after it.
  HashBuffer(bytes, 32);
  EXPECT_EQ(DigestHex(), ChainDigest({first}, 256, first));
  EXPECT_EQ(HashContext.pendingCount, 0u);

  // 33 bytes: a full block, then "!" and 31 zeros, counted as 8 bits.
  const Value second{'!', 0, 0, 0};
  const Value sum{first[0] + '!', first[1], first[2], first[3]};
  HashBuffer(bytes, 33);
  EXPECT_EQ(DigestHex(), ChainDigest({first, second}, 264, sum));
}

TEST(GostHash, PiecesOfEverySizeGiveTheWholeMessagesDigest) {
  for (const std::size_t total : {0u, 1u, 31u, 32u, 33u, 64u, 65u, 100u, 160u}) {
    const std::vector<std::uint8_t> message = RandomBytes(total, static_cast<std::uint32_t>(total));
    HashBuffer(message.data(), static_cast<std::uint32_t>(total));
    const std::string whole = DigestHex();
    for (std::size_t piece = 0; piece <= 70; ++piece) {
      HashInit();
      std::size_t fed = 0;
      int calls = 0;
      while (fed < total || calls == 0) {
        // Zero-length pieces in between, and a piece size that changes so
        // that pieces end on and off the 32-byte block boundaries.
        HashUpdate(nullptr, 0);
        const std::size_t n = std::min(total - fed, piece == 0 ? total - fed : piece + (calls % 3 == 2 ? 32 : 0));
        HashUpdate(message.data() + fed, static_cast<std::uint32_t>(n));
        fed += n;
        ++calls;
      }
      HashUpdate(nullptr, 0);
      HashFinal();
      ASSERT_EQ(DigestHex(), whole) << "message " << total << " bytes, pieces of " << piece;
    }
  }
}

TEST(GostHash, ControlSumLosesTheCarryThroughAFullWordUnlessBothWordsAreFull) {
  // Word 1 of the sum is 0xFFFFFFFF when a carry comes in and the message
  // word is 1: the carry out of word 1 is lost, unlike a 256-bit addition.
  {
    const Value m1 = Words({0x80000000u, 0xFFFFFFFFu});
    const Value m2 = Words({0x80000000u, 0x00000001u});
    HashInit();
    HashUpdate(BlockBytes(m1).data(), 32);
    HashUpdate(BlockBytes(m2).data(), 32);
    HashUpdate(nullptr, 0);  // absorbs the held-back block
    const std::uint32_t expected[8] = {0, 1, 0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(std::equal(expected, expected + 8, HashContext.sum));
    HashFinal();
    EXPECT_EQ(DigestHex(), ChainDigest({m1, m2}, 512, Words({0, 1})));
    EXPECT_NE(DigestHex(), ChainDigest({m1, m2}, 512, Words({0, 1, 1})));
  }
  // Both words 0xFFFFFFFF with a carry coming in: the carry goes on.
  {
    const Value m = Words({0x80000000u, 0xFFFFFFFFu});
    HashInit();
    HashUpdate(BlockBytes(m).data(), 32);
    HashUpdate(BlockBytes(m).data(), 32);
    HashFinal();
    EXPECT_EQ(DigestHex(), ChainDigest({m, m}, 512, Words({0, 0xFFFFFFFFu, 1})));
  }
}

TEST(GostHash, ReHashEqualsTenThousandHashBufferCalls) {
  const std::vector<std::uint8_t> start = RandomBytes(32, 7);
  std::memcpy(BinaryKey, start.data(), 32);
  GostReHash();
  const std::string fast = DigestHex();
  const GostHashContext fastContext = HashContext;

  std::memcpy(BinaryKey, start.data(), 32);
  for (int i = 0; i < ReHashesPerCall; ++i) HashBuffer(BinaryKey, 32);
  EXPECT_EQ(fast, DigestHex());
  EXPECT_EQ(std::memcmp(&fastContext, &HashContext, sizeof HashContext), 0);
}

TEST(GostHash, ClosedFormMixingEqualsPsiStepByStep) {
  const auto psi = [](Value v, int n) {
    for (int step = 0; step < n; ++step) {
      std::uint16_t e[16];
      for (int q = 0; q < 16; ++q) e[q] = static_cast<std::uint16_t>(v[q / 4] >> (16 * (q % 4)));
      const auto fed = static_cast<std::uint16_t>(e[0] ^ e[1] ^ e[2] ^ e[3] ^ e[12] ^ e[15]);
      v = {};
      for (int q = 0; q < 15; ++q) v[q / 4] |= static_cast<std::uint64_t>(e[q + 1]) << (16 * (q % 4));
      v[3] |= static_cast<std::uint64_t>(fed) << 48;
    }
    return v;
  };
  std::mt19937_64 rng(3);
  for (int trial = 0; trial < 50; ++trial) {
    const Value x{rng(), rng(), rng(), rng()};
    ASSERT_EQ(gost::PsiPower<1>(x), psi(x, 1));
    ASSERT_EQ(gost::PsiPower<12>(x), psi(x, 12));
    ASSERT_EQ(gost::PsiPower<61>(x), psi(x, 61));
    ASSERT_EQ(gost::PsiPower<74>(x), psi(x, 74));
  }
}

// libgcrypt's GOST R 34.11-94 with the test parameters is an independent
// implementation; messages of at most 32 bytes cannot meet the carry rule.
// Loaded at run time so that the suite needs no link dependency on it.
#if __has_include(<gcrypt.h>)
TEST(GostHash, MatchesLibgcryptOnShortMessages) {
  void* lib = dlopen("libgcrypt.so.20", RTLD_NOW | RTLD_LOCAL);
  if (!lib) GTEST_SKIP() << "libgcrypt is not installed";
  const auto check = reinterpret_cast<decltype(&gcry_check_version)>(dlsym(lib, "gcry_check_version"));
  const auto hash = reinterpret_cast<decltype(&gcry_md_hash_buffer)>(dlsym(lib, "gcry_md_hash_buffer"));
  ASSERT_TRUE(check && hash);
  check(nullptr);

  std::mt19937 rng(11);
  for (int trial = 0; trial < 330; ++trial) {
    const std::vector<std::uint8_t> message = RandomBytes(trial % 33, rng());
    std::uint8_t theirs[32];
    hash(GCRY_MD_GOSTR3411_94, theirs, message.data(), message.size());
    HashBuffer(message.data(), static_cast<std::uint32_t>(message.size()));
    ASSERT_EQ(std::memcmp(theirs, BinaryKey, 32), 0) << message.size() << " bytes";
  }
  dlclose(lib);
}
#endif
