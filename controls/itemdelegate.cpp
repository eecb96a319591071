#include "controls/itemdelegate.h"

#include <QApplication>
#include <QPainter>

void TListItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem opt = option;
  initStyleOption(&opt, index);
  const QWidget* widget = opt.widget;
  QStyle* style = widget ? widget->style() : QApplication::style();
  // The selection and focus background in the look of the active style.
  opt.text.clear();
  opt.icon = QIcon();
  style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);

  const QVariant indent = index.data(IndentRole);
  int x = opt.rect.left() + (indent.isValid() ? indent.toInt() : FDefaultIndent);
  const QIcon icon = index.data(Qt::DecorationRole).value<QIcon>();
  if (!icon.isNull()) {
    const QSize size = icon.availableSizes().value(0, QSize(16, 15));
    const QRect iconRect(QPoint(x, opt.rect.top() + (opt.rect.height() - size.height()) / 2), size);
    icon.paint(painter, iconRect);
    x = iconRect.right() + 1 + IconGap;
  }
  const bool selected = opt.state & QStyle::State_Selected;
  const QPalette::ColorGroup group = !(opt.state & QStyle::State_Enabled) ? QPalette::Disabled
                                     : (opt.state & QStyle::State_Active) ? QPalette::Active
                                                                          : QPalette::Inactive;
  painter->save();
  painter->setFont(opt.font);
  painter->setPen(opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
  const QRect textRect(x, opt.rect.top(), opt.rect.right() - x, opt.rect.height());
  painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                    index.data(Qt::DisplayRole).toString());
  painter->restore();
}

QSize TListItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  return QSize(QStyledItemDelegate::sizeHint(option, index).width(), FItemHeight);
}
