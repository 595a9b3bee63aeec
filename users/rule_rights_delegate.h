#pragma once

#include <QStyledItemDelegate>

namespace kestrix {

// Draws a rule list entry as its rights (the letters and "inherit", in a
// column of their own) beside its directory. The entry's text stays the
// directory; the rights come from kRightsRole.
class RuleRightsDelegate final : public QStyledItemDelegate {
  public:
    static constexpr int kRightsRole = Qt::UserRole + 1;

    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  private:
    // The rights column: wide enough for every letter and "inherit".
    static int rightsWidth(const QFontMetrics& metrics);
};

}  // namespace kestrix
