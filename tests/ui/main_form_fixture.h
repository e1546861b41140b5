// Shared pieces of the main window suites: hooks that record instead of
// blocking, a pseudo-terminal pair standing in for a modem line, and helpers
// that pick a port and wait for received bytes.
#pragma once

#include "support/fake_exchange_view.h"
#include "ui/main_form.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QKeyEvent>
#include <QMouseEvent>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vorsal::testing {

// What the window asked of its surroundings.
struct FormRecorder {
  std::vector<int> sleeps;
  std::vector<std::pair<QString, QString>> errors;  // text, detail
  std::vector<QString> documents;
  int setKeyCalls = 0;
  std::vector<std::string> keyNames;

  TFormMainHooks Hooks() {
    TFormMainHooks hooks;
    hooks.Sleep = [this](int ms) { sleeps.push_back(ms); };
    hooks.ShowError = [this](const QString& text, const QString& detail) { errors.emplace_back(text, detail); };
    hooks.OpenDocument = [this](const QString& path) { documents.push_back(path); };
    hooks.KeyNames = [this] { return keyNames; };
    hooks.SetKey = [this] { ++setKeyCalls; };
    return hooks;
  }
};

inline QString Q(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// Pumps the event loop until `done` holds; false when the generous deadline
// passes first.
inline bool PumpUntil(const std::function<bool()>& done, int deadlineMs = 10000) {
  QDeadlineTimer deadline(deadlineMs);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// A pseudo-terminal pair: the window opens the slave by its path, the test
// plays the modem on the master.
class PtyLine {
 public:
  PtyLine() {
    char name[256] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return;
    termios raw{};
    ::tcgetattr(slave_, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave_, TCSANOW, &raw);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    path_ = name;
  }
  ~PtyLine() {
    CloseMaster();
    if (slave_ >= 0) ::close(slave_);
  }
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  const std::string& Path() const { return path_; }

  void Send(const std::vector<std::uint8_t>& bytes) const {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void Send(const std::uint8_t* frame, std::size_t size) const { Send({frame, frame + size}); }

  // Reads `count` bytes written by the window, pumping events meanwhile.
  std::vector<std::uint8_t> Receive(std::size_t count, int deadlineMs = 5000) const {
    std::vector<std::uint8_t> bytes;
    PumpUntil(
        [&] {
          std::uint8_t buffer[64];
          const ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - bytes.size()));
          if (n > 0) bytes.insert(bytes.end(), buffer, buffer + n);
          return bytes.size() >= count;
        },
        deadlineMs);
    return bytes;
  }
  // Everything waiting on the master right now.
  std::vector<std::uint8_t> Drain() const {
    std::vector<std::uint8_t> bytes;
    std::uint8_t buffer[64];
    for (ssize_t n; (n = ::read(master_, buffer, sizeof buffer)) > 0;) bytes.insert(bytes.end(), buffer, buffer + n);
    return bytes;
  }
  // The adapter is pulled: the slave side sees a hang-up.
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

// Offers `paths` as extra ports, opens the list and picks `path` as a user
// would.
inline void PickPort(TFormMain& form, const std::string& path, const std::vector<std::string>& paths = {}) {
  std::string extra;
  for (const std::string& p : paths.empty() ? std::vector<std::string>{path} : paths) {
    extra += (extra.empty() ? "" : ":") + p;
  }
  qputenv("VORSAL_EXTRA_PORTS", QByteArray::fromStdString(extra));
  form.ComboBoxPortNameDropDown();
  const int index = form.ComboBoxPortName->findText(QString::fromStdString(path));
  ASSERT_GE(index, 0) << path;
  form.ComboBoxPortName->setCurrentIndex(index);
  emit form.ComboBoxPortName->activated(index);
}

// Delivers `frame` from the modem side and runs receive ticks until it has
// been read from the port and dispatched.
inline void Deliver(TFormMain& form, const PtyLine& line, const ModemFrame& frame) {
  const int before = form.Engine.ReceivedByteCount;
  line.Send(frame.data(), frame.size());
  ASSERT_TRUE(PumpUntil([&] { return form.Engine.ReceivedByteCount >= before + 8; }));
  form.TimerRXTimer();
}

inline bool Shown(const QWidget* panel) { return !panel->isHidden(); }

// A key pressed and released on `receiver`, as the platform delivers it.
inline void KeyClick(QWidget* receiver, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                     const QString& text = {}) {
  QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
  QApplication::sendEvent(receiver, &press);
  QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
  QApplication::sendEvent(receiver, &release);
}

inline void DoubleClick(QWidget* receiver) {
  const QPointF at(receiver->width() / 2.0, receiver->height() / 2.0);
  QMouseEvent click(QEvent::MouseButtonDblClick, at, receiver->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(receiver, &click);
}

// Shows the window and waits until it is the active one, so that focus and
// keys behave as on a desktop.
inline bool ShowActive(QWidget& window) {
  window.show();
  window.activateWindow();
  return PumpUntil([&] { return window.isActiveWindow(); });
}

}  // namespace vorsal::testing
