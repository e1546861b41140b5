#include "keys/key_derivation.h"

#include "keys/cp1251.h"
#include "keys/gost_hash.h"

#include <algorithm>

namespace vorsal {

std::string_view TrimKeyName(std::string_view text) { return TrimBlanks(text); }

std::optional<std::string> KeyNameFromUtf8(std::string_view text, std::string* error) {
  return Utf8ToCp1251(TrimKeyName(text), error);
}

void BeginKeyDerivation(std::string_view cp1251Name) { HashString(cp1251Name); }

void ContinueKeyDerivation() { GostReHash(); }

BinaryKeyBytes DeriveBinaryKey(std::string_view cp1251Name) {
  BeginKeyDerivation(cp1251Name);
  for (int chunk = 0; chunk < KeyDerivationChunks; ++chunk) ContinueKeyDerivation();
  BinaryKeyBytes key;
  std::copy(BinaryKey, BinaryKey + key.size(), key.begin());
  return key;
}

BinaryKeyBytes KeyForName(std::string_view cp1251Name) {
  if (cp1251Name.empty()) {
    std::fill(BinaryKey, BinaryKey + sizeof BinaryKey, 0);
    return BinaryKeyBytes{};
  }
  return DeriveBinaryKey(cp1251Name);
}

}  // namespace vorsal
