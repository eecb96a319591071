// Draws the items of the folder views: an optional icon, then the text, at the
// item's own indent, one fixed height per item.
#pragma once

#include <QStyledItemDelegate>

class TListItemDelegate : public QStyledItemDelegate {
 public:
  // Item data: the left indent in pixels.
  static constexpr int IndentRole = Qt::UserRole + 1;
  // Gap between the icon and the text.
  static constexpr int IconGap = 4;

  TListItemDelegate(int itemHeight, int defaultIndent, QObject* parent)
      : QStyledItemDelegate(parent), FItemHeight(itemHeight), FDefaultIndent(defaultIndent) {}
  int ItemHeight() const { return FItemHeight; }
  void SetItemHeight(int height) { FItemHeight = height; }

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  int FItemHeight;
  int FDefaultIndent;
};
