#include "keys/hex_utils.h"

#include <algorithm>

namespace vorsal {
namespace {

std::uint64_t HexDigit(char c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint64_t>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<std::uint64_t>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<std::uint64_t>(c - 'a' + 10);
  return 0;
}

}  // namespace

std::int64_t HexToInt(std::string_view text) {
  // Unsigned arithmetic wraps modulo 2^64 without undefined behaviour.
  std::uint64_t value = 0;
  for (char c : text) value = value * 16 + HexDigit(c);
  return static_cast<std::int64_t>(value);
}

std::string BytesToHex(const std::uint8_t* bytes, int count, std::string_view separator) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  std::string text;
  if (count <= 0) return text;
  text.reserve(static_cast<std::size_t>(count) * (2 + separator.size()));
  for (int i = 0; i < count; ++i) {
    if (i > 0) text.append(separator);
    text.push_back(Digits[bytes[i] >> 4]);
    text.push_back(Digits[bytes[i] & 0x0F]);
  }
  return text;
}

int HexToBytes(std::string_view text, std::uint8_t* buffer, int capacity) {
  std::string digits;
  digits.reserve(text.size() + 1);
  std::copy_if(text.begin(), text.end(), std::back_inserter(digits), [](char c) { return c != ' '; });
  if (digits.size() % 2 != 0) digits.push_back('0');

  const std::size_t available = digits.size() / 2;
  const std::size_t n = capacity <= 0 ? 0 : std::min(available, static_cast<std::size_t>(capacity));
  for (std::size_t k = 0; k < n; ++k) {
    buffer[k] = static_cast<std::uint8_t>(HexToInt(std::string_view(digits).substr(2 * k, 2)) & 0xFF);
  }
  return static_cast<int>(n);
}

}  // namespace vorsal
