// What the fuzz targets share: a reader that turns the fuzzer's bytes into
// choices, a failure report that libFuzzer records as a crash, and a frame
// cutter with a CRC-24 of its own. The cutter and the checksum are written
// apart from the program's (table-driven, indexes over the whole stream), so a
// fault in the program's frame handling cannot hide in its own oracle.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// Reports a broken property and aborts; libFuzzer then saves the input.
[[noreturn]] inline void Fail(const char* what, const std::string& detail = {}) {
  std::fprintf(stderr, "\n*** fuzz oracle: %s\n%s\n", what, detail.c_str());
  std::fflush(stderr);
  std::abort();
}

}  // namespace fuzz

// Fails with `what` (and a detail text, built only on failure) unless `ok`.
#define FUZZ_CHECK(ok, ...)                  \
  do {                                       \
    if (!(ok)) ::fuzz::Fail(__VA_ARGS__);    \
  } while (0)

namespace fuzz {

inline std::string Hex(const std::uint8_t* bytes, std::size_t size) {
  std::string text;
  char two[4];
  for (std::size_t i = 0; i < size; ++i) {
    std::snprintf(two, sizeof two, "%02X ", bytes[i]);
    text += two;
  }
  return text;
}

inline std::string Hex(std::string_view bytes) {
  return Hex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// The input as command-line arguments: cut at zero bytes.
inline std::vector<std::string> Arguments(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> argv;
  if (size == 0) return argv;
  argv.emplace_back();
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      argv.emplace_back();
    } else {
      argv.back() += static_cast<char>(data[i]);
    }
  }
  return argv;
}

inline std::string Describe(const std::vector<std::string>& argv) {
  std::string text;
  for (const auto& a : argv) text += "[" + a + "] ";
  return text;
}

// Consumes the fuzzer's input front to back; past the end every read gives 0.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool Empty() const { return pos_ >= size_; }
  std::size_t Left() const { return size_ - pos_; }
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  // Up to `n` bytes (fewer when the input ends).
  std::string_view Take(std::size_t n) {
    if (n > Left()) n = Left();
    std::string_view out(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return out;
  }
  std::string_view Rest() { return Take(Left()); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// CRC-24 (init 0xB704CE, polynomial 0x864CFB, MSB first, no reflection) from a
// 256-entry table; connection type 1 complements the result within 24 bits.
class Crc24 {
 public:
  Crc24() {
    for (std::uint32_t top = 0; top < 256; ++top) {
      std::uint32_t r = top << 16;
      for (int bit = 0; bit < 8; ++bit) r = (r & 0x800000) ? ((r << 1) ^ 0x864CFB) & 0xFFFFFF : (r << 1) & 0xFFFFFF;
      table_[top] = r;
    }
    const std::uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    FUZZ_CHECK(Of(check, 9, 0) == 0x21CF02 && Of(check, 9, 1) == 0xDE30FD, "the oracle's CRC-24 misses its check value");
  }

  std::uint32_t Of(const std::uint8_t* data, std::size_t size, int connectionType) const {
    std::uint32_t r = 0xB704CE;
    for (std::size_t i = 0; i < size; ++i) r = ((r << 8) & 0xFFFFFF) ^ table_[((r >> 16) ^ data[i]) & 0xFF];
    return connectionType == 1 ? r ^ 0xFFFFFF : r;
  }

  // True when bytes 0..2 of the 8 bytes hold the checksum of bytes 3..7.
  bool FrameOk(const std::uint8_t* frame, int connectionType) const {
    const std::uint32_t crc = Of(frame + 3, 5, connectionType);
    return frame[0] == (crc & 0xFF) && frame[1] == ((crc >> 8) & 0xFF) && frame[2] == (crc >> 16);
  }

  std::array<std::uint8_t, 8> Frame(std::uint8_t command, const std::uint8_t* data4, int connectionType) const {
    std::array<std::uint8_t, 8> f{0, 0, 0, command, data4[0], data4[1], data4[2], data4[3]};
    const std::uint32_t crc = Of(f.data() + 3, 5, connectionType);
    f[0] = crc & 0xFF;
    f[1] = (crc >> 8) & 0xFF;
    f[2] = crc >> 16;
    return f;
  }

 private:
  std::uint32_t table_[256];
};

inline const Crc24& Crc() {
  static const Crc24 crc;
  return crc;
}

// The frames of a byte stream as a receiver that tests each 8-byte window and
// on a mismatch moves its start by one byte must find them. Works on start
// indexes over the whole stream; bytes can be appended between calls.
class StreamCutter {
 public:
  explicit StreamCutter(int connectionType) : connectionType_(connectionType) {}

  // Cuts the first `end` bytes; the stream and `end` only ever grow.
  void Advance(const std::vector<std::uint8_t>& stream, std::size_t end) {
    while (start_ + 8 <= end) {
      if (Crc().FrameOk(&stream[start_], connectionType_)) {
        frames.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(start_),
                            stream.begin() + static_cast<std::ptrdiff_t>(start_ + 8));
        frameStarts.push_back(start_);
        start_ += 8;
      } else {
        ++start_;
      }
    }
  }
  // The bytes after the last frame or skipped byte: at most 7, still waiting.
  std::size_t LeftoverStart() const { return start_; }

  std::vector<std::vector<std::uint8_t>> frames;
  std::vector<std::size_t> frameStarts;

 private:
  int connectionType_;
  std::size_t start_ = 0;
};

}  // namespace fuzz
