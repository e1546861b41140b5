#include "app/command_line.h"

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

}  // namespace vorsal
