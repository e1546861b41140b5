#include "app/command_line.h"

#include <charconv>

namespace vorsal {

std::string QuotedArgument(std::string_view argument) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string quoted = "'";
  for (const char c : argument) {
    const auto code = static_cast<unsigned char>(c);
    if (code < 32 || code == 127) {
      quoted += "\\x";
      quoted += kDigits[code >> 4];
      quoted += kDigits[code & 0xF];
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::optional<int> ParseWholeNumber(std::string_view text) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, value, 10);
  if (text.empty() || error != std::errc() || ptr != end) return std::nullopt;
  return value;
}

std::optional<int> ParseWholeNumber(std::string_view text, int low, int high) {
  const std::optional<int> value = ParseWholeNumber(text);
  if (!value || *value < low || *value > high) return std::nullopt;
  return value;
}

}  // namespace vorsal
