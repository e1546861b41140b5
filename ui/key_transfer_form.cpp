#include "ui/key_transfer_form.h"

#include "keys/gost_hash.h"
#include "protocol/frame.h"
#include "ui/controls.h"
#include "ui/main_form.h"
#include "ui/texts.h"

#include <QCoreApplication>
#include <QProgressBar>
#include <QTimer>

namespace vorsal {

TFormKeyTransfer::TFormKeyTransfer(QWidget* parent, std::function<void(int ms)> sleep)
    : TKeyDialog({texts::CaptionKeyTransfer, QSize(227, 69), QRect(12, 12, 205, 14), 0, KeyPartCount, QPoint(140, 36)},
                 parent, std::move(sleep)) {
  FormKeyTransfer = this;
}

TFormKeyTransfer::~TFormKeyTransfer() {
  if (FormKeyTransfer == this) FormKeyTransfer = nullptr;
}

void TFormKeyTransfer::FormShow() {
  ProgressBar->setValue(0);
  TimerStart->start();
}

// A serial-port failure while sending leaves through an exception: the busy
// cursor is removed on the way, and the dialog shows the failure and ends
// with Cancel.
void TFormKeyTransfer::TimerStartTimer() {
  bool acknowledged = false;
  {
    OverrideCursor busy(Qt::BusyCursor);  // the whole application, while the parts go out
    acknowledged = SendParts();
    if (acknowledged && !CancelRequested()) Sleep(FinalPauseMs);
  }
  if (!acknowledged && !CancelRequested()) FormMain->ShowError(QString::fromUtf8(texts::KeyTransferFailed));
  done(CancelRequested() ? ModalResultCancel : ModalResultOk);
}

bool TFormKeyTransfer::SendParts() {
  ExchangeEngine& engine = FormMain->Engine;
  for (int part = 0; part < KeyPartCount; ++part) {
    engine.SendFrame(BuildKeyPart(part, BinaryKey), TFormMain::RequestPauseMs);
    SetCancelRequested(false);
    engine.KeyAckIndex = -2;
    for (int slice = 0; slice < AckWaitSlices; ++slice) {
      Sleep(AckSliceMs);
      QCoreApplication::processEvents();
      if (CancelRequested()) return false;
      if (engine.KeyAckIndex == part) {
        ProgressBar->setValue(engine.KeyAckIndex + 1);
        break;
      }
    }
    // An acknowledgement that carries the previous part's command byte
    // leaves the position equal to KeyAckIndex + 1 too, and counts.
    if (ProgressBar->value() != engine.KeyAckIndex + 1) return false;
  }
  return true;
}

}  // namespace vorsal
