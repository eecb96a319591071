// Building a window's controls from its layout (pixels at 96 dots per inch).
#pragma once

#include <QFont>
#include <QPushButton>
#include <QRect>
#include <QString>

QFont PixelFont(const QString& family, int pixels);

// A control with its name and place. Each control gets its font itself: a
// style sheet stops a parent's font from reaching its children.
template <class W>
W* MakeControl(QWidget* parent, const QString& name, const QFont& font, const QRect& geometry) {
  auto* widget = new W(parent);
  widget->setObjectName(name);
  widget->setFont(font);
  widget->setGeometry(geometry);
  return widget;
}

// A push button that is never the default button.
QPushButton* MakeButton(QWidget* parent, const QString& name, const QString& caption, const QFont& font,
                        const QRect& geometry);
