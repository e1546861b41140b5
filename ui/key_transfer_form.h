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
  explicit TFormKeyTransfer(QWidget* parent = nullptr, std::function<void(int ms)> sleep = {});
  ~TFormKeyTransfer() override;

  // Handlers (FormKeyDown and ButtonCancelClick come from TKeyDialog).
  void FormShow() override;
  void TimerStartTimer() override;
};

// The one key transfer dialog, set while it exists.
inline TFormKeyTransfer* FormKeyTransfer = nullptr;

}  // namespace vorsal
