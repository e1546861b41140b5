#include "keys/obtain_key.h"

#include "keys/gost_hash.h"
#include "keys/hex_utils.h"
#include "keys/key_store.h"

#include <algorithm>
#include <utility>

namespace vorsal {

KeyObtainer::KeyObtainer(std::string keyName, std::filesystem::path store, bool lookUp)
    : keyName_(std::move(keyName)), store_(std::move(store)), lookUp_(lookUp) {}

KeySourceKind KeyObtainer::Find() {
  std::fill(std::begin(BinaryKey), std::end(BinaryKey), std::uint8_t{0});
  storedText_.clear();
  storeError_.clear();
  if (keyName_.empty()) return source_ = KeySourceKind::None;
  if (lookUp_ && !store_.empty()) storedText_ = KeyStoreLookup(store_, keyName_);
  if (!storedText_.empty()) {
    if (!StoredKeyValid(storedText_)) return source_ = KeySourceKind::Damaged;
    HexToBytes(storedText_, BinaryKey, sizeof BinaryKey);
    return source_ = KeySourceKind::Store;
  }
  BeginKeyDerivation(keyName_);
  return source_ = KeySourceKind::Derivation;
}

bool KeyObtainer::Derive(const KeyObtainHooks& hooks) {
  if (source_ != KeySourceKind::Derivation) return true;
  for (int chunk = 1; chunk <= KeyDerivationChunks; ++chunk) {
    ContinueKeyDerivation();
    if (hooks.progress) hooks.progress(chunk);
    if (hooks.cancelRequested && hooks.cancelRequested()) return false;
  }
  return true;
}

KeyStoring KeyObtainer::Store() {
  if (source_ != KeySourceKind::Derivation || store_.empty()) return KeyStoring::NotTried;
  // Stored, such a name would read back as another name and never be found.
  if (!KeyNameStorable(keyName_)) return KeyStoring::NotStorable;
  const std::string hex = BytesToHex(BinaryKey, sizeof BinaryKey);
  if (!KeyStoreSave(store_, keyName_, hex, &storeError_)) return KeyStoring::Failed;
  // Another copy may have stored the name first; its value stays.
  return KeyStoreLookup(store_, keyName_) == hex ? KeyStoring::Stored : KeyStoring::KeptOther;
}

BinaryKeyBytes KeyObtainer::Key() const {
  BinaryKeyBytes key;
  std::copy(std::begin(BinaryKey), std::end(BinaryKey), key.begin());
  return key;
}

ObtainedKey ObtainKey(std::string keyName, const std::filesystem::path& store, const KeyObtainHooks& hooks,
                      bool lookUp) {
  KeyObtainer obtainer(std::move(keyName), store, lookUp);
  ObtainedKey result;
  result.source = obtainer.Find();
  if (result.source == KeySourceKind::Damaged) return result;
  if (!obtainer.Derive(hooks)) {
    result.cancelled = true;
    return result;
  }
  result.storing = obtainer.Store();
  result.storeError = obtainer.StoreError();
  result.key = obtainer.Key();
  return result;
}

}  // namespace vorsal
