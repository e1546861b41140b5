#include "window/key_computation.h"

#include "keys/cp1251.h"
#include "keys/gost_hash.h"
#include "keys/hex_utils.h"
#include "keys/key_derivation.h"
#include "platform/files.h"
#include "window/main_window_model.h"
#include "window/texts.h"

#include <algorithm>
#include <cstdint>

namespace vorsal {

void KeyComputation::ShowKey(KeyComputationView& view) const { view.ShowKeyText(BytesToHex(BinaryKey, sizeof BinaryKey)); }

std::optional<std::string> KeyComputation::Open(const std::string& typed, const std::filesystem::path& keyFile,
                                                KeyComputationView& view, std::string* detail) {
  std::fill(std::begin(BinaryKey), std::end(BinaryKey), std::uint8_t{0});
  source_ = KeySourceKind::None;
  obtainer_.reset();
  std::optional<std::string> name = KeyNameFromUtf8(typed, detail);
  if (!name) {
    view.ShowKeyText({});
    view.ShowProgress(0);
    return std::string(texts::KeyNameNotCp1251);
  }
  obtainer_.emplace(std::move(*name), keyFile);
  source_ = obtainer_->Find();
  if (source_ == KeySourceKind::Damaged) {
    // The stored value is no key; nothing is derived in its place unless the
    // user corrects or removes the entry.
    view.ShowKeyText({});
    view.ShowProgress(0);
    if (detail) *detail = platform::Utf8FromPath(keyFile);
    return std::string(texts::StoredKeyDamaged);
  }
  if (source_ == KeySourceKind::None) {
    view.ShowKeyText(texts::NoKeyHex);
    view.ShowProgress(KeyDerivationChunks);
  } else if (source_ == KeySourceKind::Store) {
    // Shown exactly as stored, even when it is not clean hex.
    view.ShowKeyText(Cp1251ToUtf8(obtainer_->StoredText()));
    view.ShowProgress(KeyDerivationChunks);
  } else {
    ShowKey(view);
    view.ShowProgress(0);
  }
  return std::nullopt;
}

bool KeyComputation::Run(KeyComputationView& view, MainWindowModel& model) {
  view.Sleep(PauseMs);
  if (source_ != KeySourceKind::Derivation || !obtainer_) return true;

  view.ClearCancel();
  KeyObtainHooks hooks;
  hooks.progress = [&](int chunk) {
    ShowKey(view);
    view.ShowProgress(chunk);
    view.Pump();
  };
  hooks.cancelRequested = [&] { return view.CancelRequested(); };
  if (!obtainer_->Derive(hooks)) return false;
  view.Sleep(PauseMs);
  const KeyStoring stored = obtainer_->Store();
  model.KeyStored(stored, obtainer_->KeyName(), obtainer_->StoreError());
  return true;
}

}  // namespace vorsal
