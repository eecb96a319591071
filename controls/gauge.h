// A bar that shows a value as a percentage of a range, with the percentage
// written over it.
#pragma once

#include <QColor>
#include <QWidget>
#include <cstdint>

// The contrast ratio of two colours as WCAG 2 defines it: (L1 + 0.05) /
// (L2 + 0.05) of their relative luminances, the lighter one over the darker,
// from 1 (the same) to 21 (black and white). A graphic part that people must
// see needs at least 3.
double ContrastRatio(const QColor& a, const QColor& b);

// color when it has a contrast of at least 3 against background; otherwise
// it made lighter (or darker, on a light background) until it has.
QColor VisibleOn(const QColor& color, const QColor& background);

enum TGaugeKind { gkHorizontalBar, gkVerticalBar };

class TGauge : public QWidget {
  Q_OBJECT

 public:
  explicit TGauge(QWidget* parent = nullptr);

  int32_t MinValue() const { return FMinValue; }
  int32_t MaxValue() const { return FMaxValue; }
  // The range never runs backwards: a minimum above the maximum, or a maximum
  // below the minimum, raises Exception. Progress is moved into the new range.
  void SetMinValue(int32_t value);
  void SetMaxValue(int32_t value);

  int32_t Progress() const { return FProgress; }
  // Stores value held within MinValue..MaxValue; repaints only when the
  // shown percentage changes.
  void SetProgress(int32_t value);

  // Progress as a whole percentage of the range, truncated; 0 for an empty range.
  int32_t PercentDone() const;

  TGaugeKind Kind() const { return FKind; }
  void SetKind(TGaugeKind kind);
  QColor BackColor() const { return FBackColor; }
  void SetBackColor(const QColor& color);
  QColor ForeColor() const { return FForeColor; }
  void SetForeColor(const QColor& color);
  bool ShowText() const { return FShowText; }
  void SetShowText(bool show);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  // Runs change, then repaints if the percentage moved.
  template <class Change>
  void ChangeValue(Change change);

  int32_t FMinValue = 0;
  int32_t FMaxValue = 100;
  int32_t FProgress = 0;
  TGaugeKind FKind = gkHorizontalBar;
  // The gauge's own colours: the theme's palette does not reach them.
  QColor FBackColor = Qt::white;
  QColor FForeColor = Qt::black;
  bool FShowText = true;
};
