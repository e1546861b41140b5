#include "ui/key_transfer_form.h"

#include "keys/gost_hash.h"
#include "protocol/frame.h"
#include "protocol/key_transfer.h"
#include "ui/controls.h"
#include "ui/main_form.h"
#include "window/texts.h"

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
  KeyTransferResult result;
  {
    OverrideCursor busy(Qt::BusyCursor);  // the whole application, while the parts go out
    result = SendKeyParts(FormMain->Engine, BinaryKey,
                          {[this](int ms) { Sleep(ms); }, [] { QCoreApplication::processEvents(); },
                           [this] { return CancelRequested(); }, [this] { SetCancelRequested(false); },
                           [this](int acknowledged) { ProgressBar->setValue(acknowledged); }, {}, {}});
  }
  done(FormMain->Model.KeyTransferEnded(result) ? ModalResultOk : ModalResultCancel);
}

}  // namespace vorsal
