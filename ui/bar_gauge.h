// A horizontal bar gauge without text: a background, and a bar from the left
// edge whose width is progress / maximum of the inner width.
#pragma once

#include <QColor>
#include <QWidget>

namespace vorsal {

class TBarGauge : public QWidget {
  Q_OBJECT
 public:
  explicit TBarGauge(QWidget* parent = nullptr);

  int MaxValue() const { return maxValue_; }
  void SetMaxValue(int value);
  int Progress() const { return progress_; }
  void SetProgress(int value);
  QColor BackColor() const { return backColor_; }
  QColor ForeColor() const { return foreColor_; }
  void SetColors(const QColor& back, const QColor& fore);

  // Width in pixels of the bar for the current values within `innerWidth`.
  int BarWidth(int innerWidth) const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int maxValue_ = 100;
  int progress_ = 0;
  QColor backColor_ = Qt::white;
  QColor foreColor_ = Qt::black;
};

}  // namespace vorsal
