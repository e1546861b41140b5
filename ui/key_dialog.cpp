#include "ui/key_dialog.h"

#include "ui/controls.h"
#include "ui/main_form.h"
#include "window/texts.h"
#include "window/window_metrics.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QHideEvent>
#include <QKeyEvent>
#include <QShowEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace vorsal {

namespace {

// The width a title bar needs for `caption` in the system's (bold) title
// font, with room for the window icon and the buttons on either side.
int TitleBarWidth(const QString& caption) {
  constexpr int IconAndButtons = 112;
  QFont font = QFontDatabase::systemFont(QFontDatabase::TitleFont);
  font.setBold(true);
  return QFontMetrics(font).horizontalAdvance(caption) + IconAndButtons;
}

}  // namespace

TKeyDialog::TKeyDialog(const Layout& layout, QWidget* parent, std::function<void(int ms)> sleep)
    : QDialog(parent), sleep_(std::move(sleep)) {
  if (!sleep_) sleep_ = BlockingSleep;
  const QString caption = QString::fromUtf8(layout.caption);
  setWindowTitle(caption);
  setWindowIcon(ProgramIcon());
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setModal(true);
  // Wide enough that the title bar shows the whole caption beside the icon
  // and the buttons; the progress bar and Cancel keep their margins.
  const int extra = std::max(0, TitleBarWidth(caption) - layout.client.width());
  setFixedSize(layout.client + QSize(extra, 0));
  UseWindowFont(*this);

  ProgressBar = new QProgressBar(this);
  ProgressBar->setGeometry(layout.progressBar.adjusted(0, 0, extra, 0));
  ProgressBar->setRange(layout.progressMinimum, layout.progressMaximum);
  ProgressBar->setValue(layout.progressMinimum);
  ProgressBar->setTextVisible(false);

  ButtonCancel = new QPushButton(QString::fromUtf8(texts::CaptionCancel), this);
  ButtonCancel->setGeometry(QRect(layout.cancelButton + QPoint(extra, 0), QSize(75, 25)));
  ButtonCancel->setAutoDefault(false);
  connect(ButtonCancel, &QPushButton::clicked, this, [this] { ButtonCancelClick(); });

  TimerStart = new QTimer(this);
  TimerStart->setSingleShot(true);
  TimerStart->setInterval(KeyDialogStartDelayMs);
  connect(TimerStart, &QTimer::timeout, this, [this] { StartTimerTick(); });

  // Key presses reach the dialog before its controls.
  installEventFilter(this);
  ButtonCancel->installEventFilter(this);
}

bool TKeyDialog::FormKeyDown(QKeyEvent* event) {
  if (event->key() != Qt::Key_Escape) return false;
  cancelRequested_ = true;
  return true;
}

void TKeyDialog::ButtonCancelClick() { cancelRequested_ = true; }

bool TKeyDialog::CancelRequested() const {
  return cancelRequested_ || (StopsOnExit() && FormMain != nullptr && FormMain->Model.Stopping());
}

void TKeyDialog::done(int result) {
  TimerStart->stop();
  open_ = false;
  QDialog::done(result);
}

void TKeyDialog::reject() {
  if (!working_) done(ModalResultCancel);
}

void TKeyDialog::RefuseAtStart(const QString& text, const QString& detail) {
  refused_ = true;
  refusal_ = text;
  refusalDetail_ = detail;
  TimerStart->start();
}

// The show that opens the dialog centres it on the screen and runs the show
// handler. A minimised dialog restored gets a spontaneous show, which must
// not start the work a second time inside the running one.
void TKeyDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous() || open_) return;
  open_ = true;
  CentreOnScreen(*this);
  refused_ = false;
  try {
    FormShow();
  } catch (...) {
    RefuseAtStart(CurrentExceptionText());
  }
}

// Hidden by the program rather than the window system, and no work running:
// the next show opens the dialog afresh.
void TKeyDialog::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  if (!event->spontaneous() && !working_) open_ = false;
}

// Runs the work of one show. No exception leaves through Qt's event
// dispatch: one that ends the work is shown in the error box and the dialog
// ends with Cancel, so nothing follows it.
void TKeyDialog::StartTimerTick() {
  if (working_) return;
  if (StopsOnExit() && FormMain->Model.Stopping()) {
    done(ModalResultCancel);
    return;
  }
  if (refused_) {
    refused_ = false;
    FormMain->ShowError(refusal_, refusalDetail_);
    done(ModalResultCancel);
    return;
  }
  working_ = true;
  try {
    TimerStartTimer();
    working_ = false;
  } catch (...) {
    working_ = false;
    FormMain->ShowError(CurrentExceptionText());
    if (isVisible()) done(ModalResultCancel);
  }
}

bool TKeyDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress || (watched != this && watched != ButtonCancel)) return false;
  return FormKeyDown(static_cast<QKeyEvent*>(event));
}

}  // namespace vorsal
