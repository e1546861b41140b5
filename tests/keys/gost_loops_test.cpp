#include "keys/gost_loops.h"

#include "keys/gost_hash.h"
#include "keys/hex_utils.h"
#include "keys/key_derivation.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

using namespace vorsal;
using gost::Value;

namespace {

const gost::ReHashLoopInfo* FindLoop(std::string_view name) {
  for (const gost::ReHashLoopInfo& loop : gost::ReHashLoops()) {
    if (loop.name == name) return &loop;
  }
  return nullptr;
}

std::string HexOf(const Value& v) {
  std::uint8_t bytes[32];
  gost::StoreBlock(bytes, v);
  return BytesToHex(bytes, 32);
}

class FastLoop : public ::testing::TestWithParam<const char*> {};

}  // namespace

// Each fast loop against the plain one: random values (every byte position
// and nibble takes every value many times over) and one to three re-hashes
// from each, then whole derivations of keys checked elsewhere.
TEST_P(FastLoop, GivesThePlainLoopsValues) {
  const gost::ReHashLoopInfo* loop = FindLoop(GetParam());
  ASSERT_NE(loop, nullptr);
  if (!loop->run) GTEST_SKIP() << "not run: this processor lacks " << loop->instructions;

  std::mt19937_64 rng(14);
  for (int trial = 0; trial < 3000; ++trial) {
    const Value start{rng(), rng(), rng(), rng()};
    const int count = 1 + trial % 3;
    ASSERT_EQ(HexOf(loop->run(start, count)), HexOf(gost::ReHashPortable(start, count))) << "trial " << trial;
  }
  for (const Value& start : {Value{}, Value{~0ull, ~0ull, ~0ull, ~0ull}}) {
    EXPECT_EQ(HexOf(loop->run(start, 2)), HexOf(gost::ReHashPortable(start, 2)));
  }

  // The keys of "test" and of "Ключ" (Windows-1251 CA EB FE F7).
  const std::pair<std::string, std::string> keys[] = {
      {"test", "4813998FA82E8BECA910361901019B4DCFDDAE2E3902DE7475514D3644490F0C"},
      {"\xCA\xEB\xFE\xF7", "83C22AEF9CADD906A1E83E85271F3D1AC3C153EE03D1BD8FD00889C4BF29EF41"}};
  for (const auto& [name, hex] : keys) {
    HashString(name);
    Value value = gost::LoadBlock(BinaryKey);
    for (int chunk = 0; chunk < KeyDerivationChunks; ++chunk) value = loop->run(value, ReHashesPerCall);
    EXPECT_EQ(HexOf(value), hex);
  }
}

INSTANTIATE_TEST_SUITE_P(Loops, FastLoop, ::testing::Values("avx512", "avx2"),
                         [](const auto& info) { return std::string(info.param); });

TEST(ReHashLoopChoice, FastestUnlessARunnableLoopIsNamed) {
  const auto loops = gost::ReHashLoops();
  ASSERT_EQ(loops.back().name, "plain");
  const gost::ReHashLoopInfo* fastest = nullptr;
  for (const auto& loop : loops) {
    if (loop.run && !fastest) fastest = &loop;
  }
  EXPECT_EQ(gost::ChooseReHashLoop(nullptr).loop, fastest);
  EXPECT_EQ(gost::ChooseReHashLoop("").loop, fastest);
  EXPECT_EQ(gost::ChooseReHashLoop("plain").loop, &loops.back());
  EXPECT_EQ(gost::ChooseReHashLoop("plain").refusal, "");

  const gost::ReHashLoopChoice unknown = gost::ChooseReHashLoop("avx");
  EXPECT_EQ(unknown.loop, fastest);
  EXPECT_NE(unknown.refusal.find("VORSAL_GOST_LOOP=avx refused: no such loop"), std::string::npos) << unknown.refusal;

  for (const auto& loop : loops) {
    const gost::ReHashLoopChoice choice = gost::ChooseReHashLoop(std::string(loop.name).c_str());
    if (loop.run) {
      EXPECT_EQ(choice.loop, &loop);
      EXPECT_EQ(choice.refusal, "");
    } else {
      EXPECT_EQ(choice.loop, fastest);
      EXPECT_NE(choice.refusal.find("this processor lacks " + std::string(loop.instructions)), std::string::npos)
          << choice.refusal;
    }
  }
}
