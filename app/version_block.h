// The version block: the program's version information, compiled into every
// executable that links vorsal_app and found again in an executable file by
// its marker. Linux executables carry no version resource of their own, so
// this block plays that part.
//
// Layout (integers are 16 bits, low byte first):
//   offset  0  marker, 16 bytes (kMarkerHead followed by kMarkerTail)
//   offset 16  layout number, kLayoutNumber
//   offset 18  size of the whole block in bytes, marker included
//   offset 20  translation: language identifier
//   offset 22  translation: code page
//   offset 24  number of values
//   offset 26  the values, each "Name\0Value\0"
// A block is accepted only when every value ends inside the block and the
// last one ends exactly at its stated size.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <type_traits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vorsal::version_block {

// The marker is only ever written whole into the compiled block. Code that
// looks for it uses the two halves separately, so that the searching code
// and its constants never hold a second, false copy of the marker.
inline constexpr std::string_view kMarkerHead = "\x7F" "VORSAL-";
inline constexpr std::string_view kMarkerTail = "VERSION" "\x1A";
inline constexpr std::size_t kMarkerSize = 16;
static_assert(kMarkerHead.size() + kMarkerTail.size() == kMarkerSize);

inline constexpr std::uint16_t kLayoutNumber = 1;
inline constexpr std::size_t kHeaderSize = 26;
inline constexpr std::size_t kMaxBlockSize = 0xFFFF;

struct Value {
  std::string_view name;
  std::string_view value;
};

// Size of the block that EncodeInto writes for `values`.
constexpr std::size_t EncodedSize(std::span<const Value> values) {
  std::size_t size = kHeaderSize;
  for (const Value& v : values) size += v.name.size() + 1 + v.value.size() + 1;
  return size;
}

// Writes the block for the translation and values into out[0..EncodedSize).
// Names and values must not contain NUL characters.
constexpr void EncodeInto(std::uint16_t language, std::uint16_t codePage, std::span<const Value> values,
                          char* out) {
  const std::size_t size = EncodedSize(values);
  if (size > kMaxBlockSize) throw std::length_error("version block too large");
  std::size_t pos = 0;
  auto put = [&](std::string_view text) {
    for (char c : text) out[pos++] = c;
  };
  auto put16 = [&](std::size_t n) {
    out[pos++] = static_cast<char>(n & 0xFF);
    out[pos++] = static_cast<char>((n >> 8) & 0xFF);
  };
  if (std::is_constant_evaluated()) {
    put(kMarkerHead);
    put(kMarkerTail);
  } else {
    // At run time the halves are copied from memory the optimiser cannot see
    // into: folded into one constant, they would leave a second, false copy
    // of the whole marker in the executable, which a reader could meet first.
    for (std::string_view half : {kMarkerHead, kMarkerTail}) {
      const char* from = half.data();
      __asm__("" : "+r"(from));
      for (std::size_t i = 0; i < half.size(); ++i) out[pos++] = from[i];
    }
  }
  put16(kLayoutNumber);
  put16(size);
  put16(language);
  put16(codePage);
  put16(values.size());
  for (const Value& v : values) {
    put(v.name);
    out[pos++] = '\0';
    put(v.value);
    out[pos++] = '\0';
  }
}

// The same block as bytes, for files that carry other versions.
std::string Encode(std::uint16_t language, std::uint16_t codePage, std::span<const Value> values);

// A block as read back.
struct Block {
  std::uint16_t language = 0;
  std::uint16_t codePage = 0;
  std::vector<std::pair<std::string, std::string>> values;  // in stored order

  // The value stored under `name`, or nullptr when the block lacks it.
  const std::string* Find(std::string_view name) const;
};

// Decodes a block that begins at bytes[0]; bytes may run on past its end.
// nullopt when the bytes do not form a whole, well-formed block.
std::optional<Block> Parse(std::string_view bytes);

// The first well-formed block in the named file, scanning it from the
// start. nullopt when the file is not a readable regular file or holds no
// such block.
std::optional<Block> FindInFile(const std::string& file);

// The block compiled into this executable.
std::string_view Compiled();

}  // namespace vorsal::version_block
