#include "ui/controls.h"

#include <QButtonGroup>
#include <QMouseEvent>
#include <QRadioButton>
#include <QScreen>
#include <QThread>
#include <QVBoxLayout>

#include <exception>

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

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent)
    : QGroupBox(caption, parent), group_(new QButtonGroup(this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 0, 2, 0);
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

void TPanelStatusBar::mouseDoubleClickEvent(QMouseEvent* event) {
  event->accept();
  if (OnDblClick) OnDblClick();
}

}  // namespace vorsal
