// Small controls of the windows that Qt has no exact counterpart for, a
// scoped application-wide cursor, and what the windows share in handling
// exceptions.
#pragma once

#include <QComboBox>
#include <QGuiApplication>
#include <QGroupBox>
#include <QLabel>
#include <QSpinBox>
#include <QStatusBar>

#include <array>
#include <functional>
#include <memory>

class QButtonGroup;
class QIcon;
class QLockFile;
class QRadioButton;

namespace vorsal {

// The text of the exception being handled: what() of a std::exception,
// "Unknown error" for anything else. Call only inside a catch handler.
QString CurrentExceptionText();

// The windows' default pause: blocks the calling (GUI) thread for `ms`.
void BlockingSleep(int ms);

// Gives `window` the windows' font: the default family, 11 pixels high.
void UseWindowFont(QWidget& window);

// Moves `window` so that its frame is centred on its screen's work area,
// shifted by `offset` as far as the work area allows.
void CentreOnScreen(QWidget& window, QPoint offset = {});

// The program's icon (the one the desktop entry names), in every size the
// package installs.
QIcon ProgramIcon();

// The place of one main window among this user's open Vorsal windows: the
// lowest number no other running window holds, kept (by a lock file in the
// user's runtime directory) while the object lives and freed when the
// process ends in any way.
class WindowPlace {
 public:
  static constexpr int MaxPlaces = 16;
  static constexpr int Step = 32;  // pixels down and right per place
  WindowPlace();
  ~WindowPlace();
  WindowPlace(const WindowPlace&) = delete;
  WindowPlace& operator=(const WindowPlace&) = delete;
  int Number() const { return number_; }
  // How far the window is moved from the centre of the screen.
  QPoint Offset() const { return {number_ * Step, number_ * Step}; }

 private:
  std::unique_ptr<QLockFile> lock_;
  int number_ = 0;
};

// Sets the application-wide cursor for as long as it lives, and restores
// the one shown before however the scope is left.
class OverrideCursor {
 public:
  explicit OverrideCursor(Qt::CursorShape shape) { QGuiApplication::setOverrideCursor(shape); }
  ~OverrideCursor() { QGuiApplication::restoreOverrideCursor(); }
  OverrideCursor(const OverrideCursor&) = delete;
  OverrideCursor& operator=(const OverrideCursor&) = delete;
};

// A drop-down list that asks for its items to be refreshed each time it is
// about to open.
class TDropDownComboBox : public QComboBox {
  Q_OBJECT
 public:
  using QComboBox::QComboBox;
  std::function<void()> OnDropDown;
  void showPopup() override;
};

// A numeric spin edit that takes any whole number as typed, signs included,
// and pulls it to the nearest bound when it loses focus or is stepped (a
// QSpinBox refuses the digit that would leave the range: 5000 would become
// 500). Text that is no number reads as the minimum. Other printable keys
// are refused with a beep.
class TSpinEdit : public QSpinBox {
  Q_OBJECT
 public:
  using QSpinBox::QSpinBox;
  QValidator::State validate(QString& input, int& pos) const override;
  void fixup(QString& input) const override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

// A group box of radio buttons in one column, one of them selected.
class TRadioGroup : public QGroupBox {
  Q_OBJECT
 public:
  TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent = nullptr);
  int ItemIndex() const;
  void SetItemIndex(int index);
  QRadioButton* Item(int index) const;
  // Called whenever another item becomes selected, by the user or by code.
  std::function<void()> OnClick;

 private:
  QButtonGroup* group_;
};

// A status bar of three text panels that reports double clicks anywhere on
// it. The first two have fixed widths; the last fills the rest of the bar.
class TPanelStatusBar : public QStatusBar {
  Q_OBJECT
 public:
  TPanelStatusBar(std::array<int, 3> widths, QWidget* parent = nullptr);
  QLabel* Panel(int index) const { return panels_.at(static_cast<std::size_t>(index)); }
  // Widens panel `index` beyond its designed width where one of `texts`
  // would not fit it whole in the current font.
  void FitPanel(int index, const QStringList& texts);
  std::function<void()> OnDblClick;

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void SetPanelWidth(int index, int width);
  std::array<QLabel*, 3> panels_{};
};

}  // namespace vorsal
