// Shared pieces of the main window suites: hooks that record instead of
// blocking, and helpers that pick a port, deliver replies and send input.
#pragma once

#include "support/fake_exchange_view.h"
#include "support/pty_pair.h"
#include "ui/main_form.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vorsal::testing {

// What the window asked of its surroundings.
struct FormRecorder {
  std::vector<int> sleeps;
  std::vector<std::pair<QString, QString>> errors;  // text, detail
  std::vector<QString> documents;
  std::vector<std::string> keyNames;

  TFormMainHooks Hooks() {
    TFormMainHooks hooks;
    hooks.Sleep = [this](int ms) { sleeps.push_back(ms); };
    hooks.ShowError = [this](const QString& text, const QString& detail) { errors.emplace_back(text, detail); };
    hooks.OpenDocument = [this](const QString& path) { return documents.push_back(path), true; };
    hooks.KeyNames = [this] { return keyNames; };
    return hooks;
  }
};

inline QString Q(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

using vorsal::test::PtyPair;
using vorsal::test::WaitUntil;

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

// Runs the window until `count` more bytes have come in, then lets a
// receive tick dispatch them; false when they do not come.
inline bool AwaitBytes(TFormMain& form, int count) {
  const int target = form.Engine.ReceivedByteCount + count;
  if (!WaitUntil([&] { return form.Engine.ReceivedByteCount >= target; }, true, 10000)) return false;
  form.TimerRXTimer();
  return true;
}

// Delivers `frame` from the modem side and runs the window until it has been
// read from the port and dispatched.
inline void Deliver(TFormMain& form, PtyPair& line, const ModemFrame& frame) {
  line.WriteMaster({frame.begin(), frame.end()});
  ASSERT_TRUE(AwaitBytes(form, FrameSize));
}

// The reply time-out without waiting five seconds: 50 gauge ticks.
inline void ExpireReply(TFormMain& form) {
  for (int tick = 0; tick < 50; ++tick) form.TimerGaugeTimer();
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
  return WaitUntil([&] { return window.isActiveWindow(); }, true, 10000);
}

}  // namespace vorsal::testing
