// The key computation dialog: turns the key name typed in the main window
// into the 32-byte BinaryKey, from Keys.ini when the name is stored there,
// otherwise by G^1000000(H(name)) in 100 visible, cancellable chunks, and
// stores a newly derived key. Its result (OK or Cancel) decides whether the
// key transfer follows.
#pragma once

#include "ui/key_dialog.h"
#include "window/key_computation.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class QLabel;

namespace vorsal {

class TFormHashCalculate : public TKeyDialog {
  Q_OBJECT
 public:
  static constexpr int PauseMs = KeyComputation::PauseMs;

  explicit TFormHashCalculate(QWidget* parent = nullptr, std::function<void(int ms)> sleep = {});
  ~TFormHashCalculate() override;

  // Handlers (FormKeyDown and ButtonCancelClick come from TKeyDialog).
  bool StopsOnExit() const override { return true; }
  void FormShow() override;
  void TimerStartTimer() override;

  KeySourceKind KeySource() const { return computation_.Source(); }

  QLabel* LabelHash;

 private:
  class View;

  KeyComputation computation_;  // of the current show
};

// The one key computation dialog, set while it exists.
inline TFormHashCalculate* FormHashCalculate = nullptr;

}  // namespace vorsal
