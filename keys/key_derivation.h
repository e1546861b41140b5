// From a key name to the 32-byte binary key: G^1000000(H(name)), where H is
// the GOST R 34.11-94 hash of the name's Windows-1251 bytes and G the same
// hash of a 32-byte value. The result is left in BinaryKey.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vorsal {

using BinaryKeyBytes = std::array<std::uint8_t, 32>;

// A derivation runs as KeyDerivationChunks chunks of ReHashesPerCall
// (GostReHash) re-hashes, so a window can show progress between them.
constexpr int KeyDerivationChunks = 100;

// The key name in a text: characters of codes 0..32 cut from both ends.
// Works on UTF-8 and on Windows-1251 text alike.
std::string_view TrimKeyName(std::string_view text);

// The KeyName of UTF-8 text: trimmed and converted to Windows-1251. Refuses
// text that has no Windows-1251 form (see Utf8ToCp1251).
std::optional<std::string> KeyNameFromUtf8(std::string_view text, std::string* error = nullptr);

// Step by step: BeginKeyDerivation puts H(name) into BinaryKey; each of the
// KeyDerivationChunks calls of ContinueKeyDerivation re-hashes it 10000
// times. `cp1251Name` is a KeyName (trimmed Windows-1251 bytes).
void BeginKeyDerivation(std::string_view cp1251Name);
void ContinueKeyDerivation();

// The whole derivation at once; BinaryKey holds the result as well.
BinaryKeyBytes DeriveBinaryKey(std::string_view cp1251Name);

// The key the program writes into a modem for a KeyName: all zero for an
// empty name (nothing is derived then), otherwise DeriveBinaryKey.
BinaryKeyBytes KeyForName(std::string_view cp1251Name);

}  // namespace vorsal
