// Hex text of keys: Keys.ini stores a key as 64 upper-case hex digits, two per
// byte, byte 0 first. The readers are lenient on purpose: stored values that
// are not clean hex still convert, without any message.
#pragma once

// QuotedArgument moved to the programs' shared command-line helpers; kept
// reachable here for callers that still include this header for it.
#include "app/command_line.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace vorsal {

// Reads the text as a hexadecimal number. '0'-'9', 'A'-'F' and 'a'-'f' are
// digits; any other character counts as the digit 0. Arithmetic is modulo
// 2^64, so beyond 16 digits the leading digits drop out. Empty text gives 0.
std::int64_t HexToInt(std::string_view text);

// Each of `count` bytes as two upper-case hex digits ("%0.2X"), with
// `separator` between two bytes and never after the last. A count of 0 or
// less gives empty text.
std::string BytesToHex(const std::uint8_t* bytes, int count, std::string_view separator = {});

// Converts hex text to bytes and returns how many were written:
//  - every space (code 32) is removed first; other characters stay and read
//    as the digit 0;
//  - an odd length gets a "0" appended, so "ABC" gives 0xAB 0xC0;
//  - at most `capacity` bytes are written; buffer bytes from the returned
//    count on are left untouched. A capacity of 0 or less writes nothing.
int HexToBytes(std::string_view text, std::uint8_t* buffer, int capacity);

}  // namespace vorsal
