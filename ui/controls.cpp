#include "ui/controls.h"

#include <QApplication>
#include <QButtonGroup>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QRadioButton>
#include <QScreen>
#include <QThread>
#include <QVBoxLayout>

#include <QRegularExpression>

#include <algorithm>
#include <exception>
#include <optional>

namespace vorsal {

QString CurrentExceptionText() {
  try {
    throw;
  } catch (const std::exception& e) {
    return QString::fromUtf8(e.what());
  } catch (...) {
    return QStringLiteral("Unknown error");
  }
}

void BlockingSleep(int ms) { QThread::msleep(static_cast<unsigned long>(ms)); }

void UseWindowFont(QWidget& window) {
  QFont font = window.font();
  font.setPixelSize(11);
  window.setFont(font);
}

void CentreOnScreen(QWidget& window) {
  if (const QScreen* screen = window.screen()) {
    const QRect frame = window.frameGeometry();
    window.move(screen->availableGeometry().center() - QPoint(frame.width() / 2, frame.height() / 2));
  }
}

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
    panels_[i]->setFixedWidth(widths[i]);
    panels_[i]->setFrameShape(QFrame::StyledPanel);
    panels_[i]->setFrameShadow(QFrame::Sunken);
    addWidget(panels_[i]);
  }
}

void TPanelStatusBar::FitPanel(int index, const QStringList& texts) {
  QLabel* panel = Panel(index);
  const QFontMetrics metrics = panel->fontMetrics();
  // A framed label indents its text by half an "x" on each side.
  const int chrome = 2 * panel->frameWidth() + metrics.horizontalAdvance(QLatin1Char('x')) + 2;
  int width = panel->width();
  for (const QString& text : texts) width = std::max(width, metrics.horizontalAdvance(text) + chrome);
  panel->setFixedWidth(width);
}

void TPanelStatusBar::mouseDoubleClickEvent(QMouseEvent* event) {
  event->accept();
  if (OnDblClick) OnDblClick();
}

}  // namespace vorsal
