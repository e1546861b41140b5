// The GOST R 34.11-94 hash with the S-boxes of the standard's test parameter
// set, start value H = 0 and little-endian byte and word order, over one
// global hashing state. Every digest lands in BinaryKey.
//
// One rule differs from the standard and is kept on purpose, because the keys
// already in use were derived with it: the 256-bit control sum loses a carry
// when a word of the sum is 0xFFFFFFFF, a carry comes in and the message word
// is not 0xFFFFFFFF (see AddToControlSum). Messages of at most 32 bytes, and
// so every re-hash, give exactly the standard's digest.
//
// Not thread-safe: one message at a time, from HashInit to HashFinal.
#pragma once

#include <cstdint>
#include <string_view>

namespace vorsal {

// The single hashing state. Words are 32-bit, word 0 the least significant.
struct GostHashContext {
  std::uint32_t sum[8];          // control sum
  std::uint32_t h[8];            // chaining value
  std::uint32_t length[8];       // bits absorbed so far, a 256-bit count
  std::uint8_t pending[32];      // message bytes not yet absorbed
  std::uint32_t pendingCount;    // 0..32; 32 when a call's final full block is held back
};

extern GostHashContext HashContext;

// The hash's result buffer and the program's 32-byte binary key.
extern std::uint8_t BinaryKey[32];

// Clears HashContext.
void HashInit();
// Absorbs `count` bytes. `data` may be null when `count` is 0.
void HashUpdate(const std::uint8_t* data, std::uint32_t count);
// Finishes the message and writes the digest to BinaryKey (word 0 first, each
// word least significant byte first). Leaves HashContext as it is, so the
// next message starts with HashInit.
void HashFinal();
// HashInit, HashUpdate, HashFinal over the bytes of `bytes` (no terminator).
void HashString(std::string_view bytes);
// HashInit, HashUpdate, HashFinal over a buffer.
void HashBuffer(const std::uint8_t* data, std::uint32_t count);
// 10000 times: BinaryKey = hash of BinaryKey's 32 bytes. Leaves HashContext
// as the last of those hashes would.
void GostReHash();

constexpr int ReHashesPerCall = 10000;

}  // namespace vorsal
