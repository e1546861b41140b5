#include "ui/bar_gauge.h"

#include <QPainter>

#include <algorithm>

namespace vorsal {

TBarGauge::TBarGauge(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::NoFocus);
}

void TBarGauge::SetMaxValue(int value) {
  maxValue_ = std::max(value, 0);
  progress_ = std::clamp(progress_, 0, maxValue_);
  update();
}

void TBarGauge::SetProgress(int value) {
  progress_ = std::clamp(value, 0, maxValue_);
  update();
}

void TBarGauge::SetColors(const QColor& back, const QColor& fore) {
  backColor_ = back;
  foreColor_ = fore;
  update();
}

int TBarGauge::BarWidth(int innerWidth) const {
  if (maxValue_ <= 0 || innerWidth <= 0) return 0;
  return static_cast<int>(static_cast<long long>(innerWidth) * progress_ / maxValue_);
}

void TBarGauge::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), backColor_);
  const int bar = BarWidth(width());
  if (bar > 0) painter.fillRect(0, 0, bar, height(), foreColor_);
}

}  // namespace vorsal
