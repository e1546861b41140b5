// The key computation dialog's work, free of any toolkit: the key box's name
// is checked and looked up in Keys.ini when the dialog opens; once it is on
// screen the key is derived in visible, cancellable chunks when it was not
// stored, and a newly derived key is stored. The dialog (Qt or Win32) draws
// what it is told through KeyComputationView.
#pragma once

#include "keys/obtain_key.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vorsal {

class MainWindowModel;

class KeyComputationView {
 public:
  virtual ~KeyComputationView() = default;
  virtual void ShowKeyText(std::string_view text) = 0;  // the key line, UTF-8
  // The bar: 0 empty, 1..KeyDerivationChunks the chunks done (the last: full).
  virtual void ShowProgress(int chunk) = 0;
  virtual void Sleep(int ms) = 0;  // blocks the GUI thread
  virtual void Pump() = 0;         // runs waiting events (port, timers, Cancel)
  virtual bool CancelRequested() = 0;
  virtual void ClearCancel() = 0;
};

class KeyComputation {
 public:
  static constexpr int PauseMs = 1000;  // before the work and before storing

  // The dialog opens on the key box's text `typed`: BinaryKey is zeroed and
  // the name looked up in `keyFile`. A name without a Windows-1251 form
  // (its hash would be another key's) is refused: the refusal's text is
  // returned and `detail` tells why; so is a name whose Keys.ini value is no
  // key (`detail` is then the file).
  std::optional<std::string> Open(const std::string& typed, const std::filesystem::path& keyFile,
                                  KeyComputationView& view, std::string* detail);
  // The work, once the dialog is on screen: true when the dialog ends with
  // OK (a stored key, or a derivation that was not cancelled).
  bool Run(KeyComputationView& view, MainWindowModel& model);
  KeySourceKind Source() const { return source_; }

 private:
  void ShowKey(KeyComputationView& view) const;

  KeySourceKind source_ = KeySourceKind::None;
  std::optional<KeyObtainer> obtainer_;  // of the current opening
};

}  // namespace vorsal
