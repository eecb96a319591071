#include "toolkit/layout.h"

QFont PixelFont(const QString& family, int pixels) {
  QFont font(family);
  font.setPixelSize(pixels);
  return font;
}

QPushButton* MakeButton(QWidget* parent, const QString& name, const QString& caption, const QFont& font,
                        const QRect& geometry) {
  auto* button = MakeControl<QPushButton>(parent, name, font, geometry);
  button->setText(caption);
  button->setAutoDefault(false);
  return button;
}
