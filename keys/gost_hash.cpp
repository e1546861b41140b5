#include "keys/gost_hash.h"

#include "keys/gost_core.h"
#include "keys/gost_loops.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vorsal {

GostHashContext HashContext{};
std::uint8_t BinaryKey[32]{};

namespace {

using gost::FromWords;
using gost::LoadBlock;
using gost::StoreBlock;
using gost::ToWords;
using gost::Value;

constexpr std::uint32_t BlockSize = 32;

// Adds a block to the control sum word by word. The carry test looks only at
// the result and the message word, so a carry into a sum word of 0xFFFFFFFF
// is lost unless the message word is 0xFFFFFFFF too. Keys in the field were
// derived with this rule; it must not become a full 256-bit addition.
void AddToControlSum(std::uint32_t* sum, const std::uint32_t* m) {
  std::uint32_t carry = 0;
  for (int k = 0; k < 8; ++k) {
    const std::uint32_t t = sum[k] + m[k] + carry;
    if (m[k] == 0xFFFFFFFFu && sum[k] == 0xFFFFFFFFu)
      carry = 1;
    else
      carry = t < m[k] ? 1 : 0;
    sum[k] = t;
  }
}

void AddToLength(std::uint32_t* length, std::uint32_t bits) {
  std::uint64_t carry = bits;
  for (int k = 0; k < 8 && carry != 0; ++k) {
    carry += length[k];
    length[k] = static_cast<std::uint32_t>(carry);
    carry >>= 32;
  }
}

void Step(std::uint32_t* h, const std::uint32_t* m) { ToWords(gost::GostStep(FromWords(h), FromWords(m)), h); }

void AbsorbBlock(const std::uint8_t* block, std::uint32_t bits) {
  std::uint32_t m[8];
  ToWords(LoadBlock(block), m);
  AddToControlSum(HashContext.sum, m);
  Step(HashContext.h, m);
  AddToLength(HashContext.length, bits);
}

// The re-hash loop, chosen once: the fastest this processor runs, or the one
// VORSAL_GOST_LOOP names. A refused request is reported on stderr and the
// fastest loop runs, so that no program stops over it mid-derivation;
// the tools check the request up front (see ChooseReHashLoop).
gost::ReHashLoop ChosenReHashLoop() {
  static const gost::ReHashLoop loop = [] {
    const gost::ReHashLoopChoice choice = gost::ChooseReHashLoop(std::getenv(gost::LoopVariable));
    if (!choice.refusal.empty()) std::fprintf(stderr, "%s\n", choice.refusal.c_str());
    return choice.loop->run;
  }();
  return loop;
}

}  // namespace

void HashInit() { HashContext = GostHashContext{}; }

void HashUpdate(const std::uint8_t* data, std::uint32_t count) {
  GostHashContext& c = HashContext;
  const std::uint32_t fill = std::min(count, BlockSize - c.pendingCount);
  if (fill > 0) std::memcpy(c.pending + c.pendingCount, data, fill);
  c.pendingCount += fill;
  data += fill;
  count -= fill;
  if (c.pendingCount < BlockSize) return;

  AbsorbBlock(c.pending, 256);
  // A call's last full block waits in the pending block for HashFinal.
  while (count > BlockSize) {
    AbsorbBlock(data, 256);
    data += BlockSize;
    count -= BlockSize;
  }
  if (count > 0) std::memcpy(c.pending, data, count);
  c.pendingCount = count;
}

void HashFinal() {
  GostHashContext& c = HashContext;
  std::uint32_t h[8];
  std::uint32_t sum[8];
  std::uint32_t length[8];
  std::memcpy(h, c.h, sizeof h);
  std::memcpy(sum, c.sum, sizeof sum);
  std::memcpy(length, c.length, sizeof length);
  if (c.pendingCount > 0) {
    std::uint8_t block[BlockSize] = {};
    std::memcpy(block, c.pending, c.pendingCount);
    std::uint32_t m[8];
    ToWords(LoadBlock(block), m);
    AddToControlSum(sum, m);
    Step(h, m);
    AddToLength(length, 8 * c.pendingCount);
  }
  Step(h, length);
  Step(h, sum);
  StoreBlock(BinaryKey, FromWords(h));
}

void HashString(std::string_view bytes) {
  // In pieces that fit the 32-bit count, so no length is ever cut short.
  HashInit();
  do {
    const auto piece = static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size(), 0xFFFFFFFFu));
    HashUpdate(reinterpret_cast<const std::uint8_t*>(bytes.data()), piece);
    bytes.remove_prefix(piece);
  } while (!bytes.empty());
  HashFinal();
}

void HashBuffer(const std::uint8_t* data, std::uint32_t count) {
  HashInit();
  HashUpdate(data, count);
  HashFinal();
}

void GostReHash() {
  Value value = LoadBlock(BinaryKey);
  value = ChosenReHashLoop()(value, ReHashesPerCall - 1);
  // The last pass takes the ordinary path, which leaves HashContext as a
  // HashBuffer call does; hashing a copy keeps BinaryKey out of the input.
  std::uint8_t block[BlockSize];
  StoreBlock(block, value);
  HashBuffer(block, BlockSize);
}

namespace gost {

// One re-hash is three steps: the block, then L = 256, then the control sum,
// which for a single block added to zero is the block itself.
Value ReHashPortable(Value value, int count) {
  constexpr Value bitLength = {256, 0, 0, 0};
  for (int i = 0; i < count; ++i) {
    const Value h1 = GostStep(Value{}, value);
    const Value h2 = GostStep(h1, bitLength);
    value = GostStep(h2, value);
  }
  return value;
}

}  // namespace gost

}  // namespace vorsal
