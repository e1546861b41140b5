// Obtaining the binary key of a key name, the one rule for the window's
// computation dialog, vorsal-cli and vorsal-key: look the name up in
// Keys.ini, else derive it in KeyDerivationChunks chunks (progress after
// each, a cancel checked after each), then store it when the name can be
// stored. A store that fails stops nothing: the same name derives the same
// key next time. The caller is told what happened and words it itself.
//
// The steps are separate so that a window can show the key between them; the
// derivation works in BinaryKey, which holds the key at the end.
#pragma once

#include "keys/key_derivation.h"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace vorsal {

enum class KeySourceKind : std::uint8_t {
  None = 0,        // no key name: the all-zero key
  Store = 1,       // the value stored in Keys.ini
  Derivation = 2,  // derived from the name
  Damaged = 3,     // Keys.ini holds the name with a value that is no key:
                   // refused, nothing derived (the user corrects the entry
                   // or stores the key anew with vorsal-key --store)
};

enum class KeyStoring {
  NotTried,     // nothing to store: found, empty name, cancelled, or no file given
  Stored,       // Keys.ini holds the name with this key
  KeptOther,    // Keys.ini already held the name with another key; left as it was
  NotStorable,  // the name would not read back as itself (see KeyNameStorable)
  Failed,       // Keys.ini could not be written; `storeError` says why
};

struct KeyObtainHooks {
  std::function<void(int chunk)> progress;  // after each chunk, 1..KeyDerivationChunks
  std::function<bool()> cancelRequested;    // polled after each chunk
};

class KeyObtainer {
 public:
  // `keyName`: a KeyName (trimmed Windows-1251 bytes). `store`: Keys.ini, or
  // empty for none. `lookUp`: whether a stored value is used.
  KeyObtainer(std::string keyName, std::filesystem::path store, bool lookUp = true);

  // Empties BinaryKey, then finds the key: the all-zero key for an empty
  // name, the stored value, or else H(name) in BinaryKey as the start of a
  // derivation. A stored value that is not StoredKeyValid gives Damaged,
  // with BinaryKey left all zero: it must not reach a modem.
  KeySourceKind Find();
  // The derivation's chunks; false when cancelled (BinaryKey is then partly
  // derived and must not be used). Nothing to do unless Find said Derivation.
  bool Derive(const KeyObtainHooks& hooks = {});
  // Stores a derived key. Called after a completed derivation only.
  KeyStoring Store();

  const std::string& KeyName() const { return keyName_; }
  KeySourceKind Source() const { return source_; }
  // The stored value exactly as Keys.ini holds it (Source() == Store).
  const std::string& StoredText() const { return storedText_; }
  const std::string& StoreError() const { return storeError_; }
  BinaryKeyBytes Key() const;

 private:
  std::string keyName_;
  std::filesystem::path store_;
  bool lookUp_;
  KeySourceKind source_ = KeySourceKind::None;
  std::string storedText_;
  std::string storeError_;
};

struct ObtainedKey {
  BinaryKeyBytes key{};  // unusable unless source is None, Store or Derivation
  KeySourceKind source = KeySourceKind::None;
  bool cancelled = false;
  KeyStoring storing = KeyStoring::NotTried;
  std::string storeError;
};

// All steps at once.
ObtainedKey ObtainKey(std::string keyName, const std::filesystem::path& store, const KeyObtainHooks& hooks = {},
                      bool lookUp = true);

}  // namespace vorsal
