#include "keys/gost_hash.h"

#include "keys/gost_core.h"

#include <algorithm>
#include <cstring>

namespace vorsal {

GostHashContext HashContext{};
std::uint8_t BinaryKey[32]{};

namespace {

using gost::Value;

constexpr std::uint32_t BlockSize = 32;

std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

void Store64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

Value LoadBlock(const std::uint8_t* p) {
  return {Load64(p), Load64(p + 8), Load64(p + 16), Load64(p + 24)};
}

void StoreBlock(std::uint8_t* p, const Value& v) {
  for (int j = 0; j < 4; ++j) Store64(p + 8 * j, v[j]);
}

Value FromWords(const std::uint32_t* w) {
  Value v;
  for (int j = 0; j < 4; ++j) v[j] = w[2 * j] | (static_cast<std::uint64_t>(w[2 * j + 1]) << 32);
  return v;
}

void ToWords(const Value& v, std::uint32_t* w) {
  for (int j = 0; j < 4; ++j) {
    w[2 * j] = static_cast<std::uint32_t>(v[j]);
    w[2 * j + 1] = static_cast<std::uint32_t>(v[j] >> 32);
  }
}

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

// One re-hash of a 32-byte value: the block, then L = 256, then the control
// sum, which for a single block added to zero is the block itself.
inline Value ReHash(const Value& block) {
  constexpr Value bitLength = {256, 0, 0, 0};
  const Value h1 = gost::GostStep(Value{}, block);
  const Value h2 = gost::GostStep(h1, bitLength);
  return gost::GostStep(h2, block);
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
  HashBuffer(reinterpret_cast<const std::uint8_t*>(bytes.data()), static_cast<std::uint32_t>(bytes.size()));
}

void HashBuffer(const std::uint8_t* data, std::uint32_t count) {
  HashInit();
  HashUpdate(data, count);
  HashFinal();
}

void GostReHash() {
  Value value = LoadBlock(BinaryKey);
  for (int i = 1; i < ReHashesPerCall; ++i) value = ReHash(value);
  // The last pass takes the ordinary path, which leaves HashContext as a
  // HashBuffer call does; hashing a copy keeps BinaryKey out of the input.
  std::uint8_t block[BlockSize];
  StoreBlock(block, value);
  HashBuffer(block, BlockSize);
}

}  // namespace vorsal
