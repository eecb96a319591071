#include "controls/gauge.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

#include "funcoes/exceptions.h"

namespace {

double Luminance(const QColor& color) {
  auto linear = [](double channel) {
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) + 0.0722 * linear(color.blueF());
}

constexpr double VisibleContrast = 3.0;

}  // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor VisibleOn(const QColor& color, const QColor& background) {
  const bool darkBackground = Luminance(background) < 0.18;
  const QColor end = darkBackground ? QColor(Qt::white) : QColor(Qt::black);
  // Towards white (or black) in steps: the colour's hue stays as long as it can.
  for (int step = 0; step <= 10; ++step) {
    const double t = step / 10.0;
    const QColor mixed = QColor::fromRgbF(color.redF() + (end.redF() - color.redF()) * t,
                                          color.greenF() + (end.greenF() - color.greenF()) * t,
                                          color.blueF() + (end.blueF() - color.blueF()) * t);
    if (ContrastRatio(mixed, background) >= VisibleContrast) return mixed;
  }
  return end;
}

TGauge::TGauge(QWidget* parent) : QWidget(parent) {
  // Every pixel is painted here, nothing by the style.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

template <class Change>
void TGauge::ChangeValue(Change change) {
  const int32_t before = PercentDone();
  change();
  if (PercentDone() != before) update();
}

void TGauge::SetMinValue(int32_t value) {
  if (value == FMinValue) return;
  if (value > FMaxValue) throw Exception("Gauge minimum above its maximum");
  ChangeValue([&] {
    FMinValue = value;
    FProgress = std::max(FProgress, value);
  });
}

void TGauge::SetMaxValue(int32_t value) {
  if (value == FMaxValue) return;
  if (value < FMinValue) throw Exception("Gauge maximum below its minimum");
  ChangeValue([&] {
    FMaxValue = value;
    FProgress = std::min(FProgress, value);
  });
}

void TGauge::SetProgress(int32_t value) {
  value = std::clamp(value, FMinValue, FMaxValue);
  if (value == FProgress) return;
  ChangeValue([&] { FProgress = value; });
}

int32_t TGauge::PercentDone() const {
  if (FMaxValue == FMinValue) return 0;
  // In floating point: the differences of two 32-bit values overflow int32.
  const double done = (double(FProgress) - FMinValue) * 100.0 / (double(FMaxValue) - FMinValue);
  return static_cast<int32_t>(done);
}

void TGauge::SetKind(TGaugeKind kind) {
  if (kind == FKind) return;
  FKind = kind;
  update();
}

void TGauge::SetBackColor(const QColor& color) {
  if (color == FBackColor) return;
  FBackColor = color;
  update();
}

void TGauge::SetForeColor(const QColor& color) {
  if (color == FForeColor) return;
  FForeColor = color;
  update();
}

void TGauge::SetShowText(bool show) {
  if (show == FShowText) return;
  FShowText = show;
  update();
}

void TGauge::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect frame = rect();
  painter.fillRect(frame, Qt::black);
  const QRect inner = frame.adjusted(1, 1, -1, -1);
  if (inner.isEmpty()) return;
  painter.fillRect(inner, FBackColor);

  const int percent = PercentDone();
  QRect bar = inner;
  if (FKind == gkVerticalBar) {
    const int height = inner.height() * percent / 100;
    bar.setTop(inner.bottom() + 1 - height);
  } else {
    bar.setWidth(inner.width() * percent / 100);
  }
  if (!bar.isEmpty()) painter.fillRect(bar, FForeColor);

  if (FShowText) {
    // White in difference mode inverts whatever lies beneath, so the text
    // reads over the background and over the bar alike.
    painter.setCompositionMode(QPainter::CompositionMode_Difference);
    painter.setPen(Qt::white);
    painter.setFont(font());
    painter.drawText(frame, Qt::AlignCenter, QString::asprintf("%d%%", percent));
  }
}
