#include "ui/controls.h"

#include "window/main_window_model.h"

#include <QApplication>
#include <QButtonGroup>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLockFile>
#include <QLocale>
#include <QMouseEvent>
#include <QRadioButton>
#include <QScreen>
#include <QStandardPaths>
#include <QThread>
#include <QVBoxLayout>

#include <QRegularExpression>

#include <algorithm>
#include <exception>
#include <optional>

namespace vorsal {

QString CurrentExceptionText() { return QString::fromStdString(CurrentExceptionMessage()); }

void BlockingSleep(int ms) { QThread::msleep(static_cast<unsigned long>(ms)); }

void UseWindowFont(QWidget& window) {
  QFont font = window.font();
  font.setPixelSize(11);
  window.setFont(font);
}

void CentreOnScreen(QWidget& window, QPoint offset) {
  if (const QScreen* screen = window.screen()) {
    const QRect area = screen->availableGeometry();
    const QRect frame = window.frameGeometry();
    QPoint topLeft = area.center() - QPoint(frame.width() / 2, frame.height() / 2) + offset;
    topLeft.setX(std::max(area.left(), std::min(topLeft.x(), area.right() + 1 - frame.width())));
    topLeft.setY(std::max(area.top(), std::min(topLeft.y(), area.bottom() + 1 - frame.height())));
    window.move(topLeft);
  }
}

QIcon ProgramIcon() {
  QIcon icon;
  for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
    icon.addFile(QStringLiteral(":/icons/%1x%1/org.vorsal.Vorsal.png").arg(size), QSize(size, size));
  }
  return icon;
}

WindowPlace::WindowPlace() {
  const QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (dir.isEmpty()) return;
  for (int number = 0; number < MaxPlaces; ++number) {
    auto lock = std::make_unique<QLockFile>(QStringLiteral("%1/vorsal-window-%2.lock").arg(dir).arg(number));
    lock->setStaleLockTime(0);  // only a lock whose process has ended is stale
    if (lock->tryLock(0)) {
      lock_ = std::move(lock);
      number_ = number;
      return;
    }
  }
}

WindowPlace::~WindowPlace() = default;

void TDropDownComboBox::showPopup() {
  if (OnDropDown) OnDropDown();
  QComboBox::showPopup();
}

namespace {

// The number in a spin edit's text: a whole number with an optional sign.
std::optional<long long> TypedNumber(const QString& text) {
  static const QRegularExpression number(QStringLiteral("^\\s*[+-]?\\d{1,18}\\s*$"));
  if (!number.match(text).hasMatch()) return std::nullopt;
  return text.trimmed().toLongLong();
}

}  // namespace

QValidator::State TSpinEdit::validate(QString& input, int&) const {
  const QString text = input.trimmed();
  const QChar decimal = locale().decimalPoint().at(0);
  for (const QChar c : text) {
    if (!c.isDigit() && c != '+' && c != '-' && c != decimal) return QValidator::Invalid;
  }
  const auto typed = TypedNumber(text);
  if (typed && *typed >= minimum() && *typed <= maximum()) return QValidator::Acceptable;
  return QValidator::Intermediate;
}

void TSpinEdit::fixup(QString& input) const {
  const auto typed = TypedNumber(input);
  const long long value = typed ? std::clamp<long long>(*typed, minimum(), maximum()) : minimum();
  input = QString::number(value);
}

void TSpinEdit::keyPressEvent(QKeyEvent* event) {
  const QString text = event->text();
  if (text.size() == 1 && text.at(0).isPrint()) {
    const QChar c = text.at(0);
    if (!c.isDigit() && c != '+' && c != '-' && c != locale().decimalPoint().at(0)) {
      QApplication::beep();
      event->accept();
      return;
    }
  }
  QSpinBox::keyPressEvent(event);
}

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent)
    : QGroupBox(caption, parent), group_(new QButtonGroup(this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  for (int i = 0; i < items.size(); ++i) {
    auto* button = new QRadioButton(items[i], this);
    group_->addButton(button, i);
    layout->addWidget(button);
  }
  connect(group_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
    if (checked && OnClick) OnClick();
  });
}

int TRadioGroup::ItemIndex() const { return group_->checkedId(); }

void TRadioGroup::SetItemIndex(int index) {
  if (QAbstractButton* button = group_->button(index)) button->setChecked(true);
}

QRadioButton* TRadioGroup::Item(int index) const {
  return static_cast<QRadioButton*>(group_->button(index));
}

TPanelStatusBar::TPanelStatusBar(std::array<int, 3> widths, QWidget* parent) : QStatusBar(parent) {
  setSizeGripEnabled(false);
  for (std::size_t i = 0; i < panels_.size(); ++i) {
    panels_[i] = new QLabel(this);
    panels_[i]->setFrameShape(QFrame::StyledPanel);
    panels_[i]->setFrameShadow(QFrame::Sunken);
    SetPanelWidth(static_cast<int>(i), widths[i]);
    // The last panel reaches to the bar's right edge, which is where the
    // bar ends within the window's fixed width.
    addWidget(panels_[i], i + 1 == panels_.size() ? 1 : 0);
  }
}

// The first panels keep their width; the last one is at least that wide.
void TPanelStatusBar::SetPanelWidth(int index, int width) {
  QLabel* panel = Panel(index);
  if (index + 1 == static_cast<int>(panels_.size())) {
    panel->setMinimumWidth(width);
  } else {
    panel->setFixedWidth(width);
  }
}

void TPanelStatusBar::FitPanel(int index, const QStringList& texts) {
  QLabel* panel = Panel(index);
  const QFontMetrics metrics = panel->fontMetrics();
  // A framed label indents its text by half an "x" on each side.
  const int chrome = 2 * panel->frameWidth() + metrics.horizontalAdvance(QLatin1Char('x')) + 2;
  int width = panel->minimumWidth();
  for (const QString& text : texts) width = std::max(width, metrics.horizontalAdvance(text) + chrome);
  SetPanelWidth(index, width);
}

void TPanelStatusBar::mouseDoubleClickEvent(QMouseEvent* event) {
  event->accept();
  if (OnDblClick) OnDblClick();
}

}  // namespace vorsal
