// What the two key dialogs share: a fixed-size modal window centred on the
// screen with a progress bar and a Cancel button, a one-shot start timer that
// begins the work once the window is on screen, a cancel flag that Cancel and
// Esc set and the work polls, and the modal results OK and Cancel. The work
// runs once per modal show: only the show that opens the dialog runs
// FormShow; the window system's shows (a minimised dialog restored) and any
// other show while the dialog is open leave the running work alone. The
// dialogs live within the main window's lifetime (FormMain is set) and show
// their messages in its error box.
#pragma once

#include <QDialog>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <functional>

class QKeyEvent;
class QProgressBar;
class QPushButton;
class QTimer;

namespace vorsal {

// Modal results of the key dialogs.
constexpr int ModalResultOk = 1;
constexpr int ModalResultCancel = 2;

class TKeyDialog : public QDialog {
  Q_OBJECT
 public:

  // Handlers.
  // Esc sets the cancel flag; true when the key was taken.
  bool FormKeyDown(QKeyEvent* event);
  void ButtonCancelClick();

  // Cancel or Esc was pressed, or the program is ending and the dialog's
  // work is one that stops for it (StopsOnExit).
  bool CancelRequested() const;
  // True while the start timer's work runs.
  bool Working() const { return working_; }

  // Ends the modal show with `result` (ModalResultOk or ModalResultCancel).
  void done(int result) override;
  // The close box: ignored while the work runs (its end decides the
  // result), otherwise the dialog ends with Cancel.
  void reject() override;

  QProgressBar* ProgressBar;
  QPushButton* ButtonCancel;
  QTimer* TimerStart;

 protected:
  struct Layout {
    const char* caption;
    QSize client;
    QRect progressBar;
    int progressMinimum;
    int progressMaximum;
    QPoint cancelButton;
  };
  // `sleep` blocks the GUI thread for the fixed pauses; empty: QThread::msleep.
  TKeyDialog(const Layout& layout, QWidget* parent, std::function<void(int ms)> sleep);

  // The program's end stops this dialog's work (the key computation's; a
  // key transfer goes on to its end).
  virtual bool StopsOnExit() const { return false; }
  virtual void FormShow() = 0;
  virtual void TimerStartTimer() = 0;

  void Sleep(int ms) { sleep_(ms); }
  void SetCancelRequested(bool value) { cancelRequested_ = value; }
  // From FormShow: the start timer's tick shows `text` in the error box and
  // ends the dialog with Cancel instead of running the work. (A modal show
  // cannot end before its event loop runs.)
  void RefuseAtStart(const QString& text, const QString& detail = {});

  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void StartTimerTick();

  std::function<void(int)> sleep_;
  bool refused_ = false;
  QString refusal_;
  QString refusalDetail_;
  bool cancelRequested_ = false;
  bool working_ = false;
  bool open_ = false;  // from the show that ran FormShow until the dialog ends
};

}  // namespace vorsal
