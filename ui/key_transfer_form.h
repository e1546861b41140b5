// The key transfer dialog: writes BinaryKey into the modem as eight
// CmdKeyPart frames of four key bytes each, waiting after each frame for the
// modem's acknowledgement, with one progress step per acknowledged part.
#pragma once

#include "ui/key_dialog.h"

#include <functional>

namespace vorsal {

class TFormKeyTransfer : public TKeyDialog {
  Q_OBJECT
 public:
  static constexpr int AckWaitSlices = 61;
  static constexpr int AckSliceMs = 100;
  static constexpr int FinalPauseMs = 500;

  explicit TFormKeyTransfer(QWidget* parent = nullptr, std::function<void(int ms)> sleep = {});
  ~TFormKeyTransfer() override;

  // Handlers (FormKeyDown and ButtonCancelClick come from TKeyDialog).
  void FormShow() override;
  void TimerStartTimer() override;

 private:
  // Sends the parts in order; false when one of them was not acknowledged.
  // Returns early, with the flag set, when Cancel or Esc was pressed.
  bool SendParts();
};

// The one key transfer dialog, set while it exists.
inline TFormKeyTransfer* FormKeyTransfer = nullptr;

}  // namespace vorsal
