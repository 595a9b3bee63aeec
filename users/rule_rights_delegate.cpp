#include "users/rule_rights_delegate.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPainter>

namespace kestrix {

namespace {

QFont rightsFont(const QFont& base) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(base.pointSizeF());
    return font;
}

constexpr int kGap = 6;

}  // namespace

int RuleRightsDelegate::rightsWidth(const QFontMetrics& metrics) {
    return metrics.horizontalAdvance(QStringLiteral("RWAMELCD inherit")) + 2 * kGap;
}

void RuleRightsDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    QStyleOptionViewItem item(option);
    initStyleOption(&item, index);
    const QString directory = item.text;
    const QFont fixed = rightsFont(item.font);
    const int width = rightsWidth(QFontMetrics(fixed));

    // The row's background and selection, without its text.
    item.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);

    const bool selected = (option.state & QStyle::State_Selected) != 0;
    const QColor ink = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    const QRect rights = option.rect.adjusted(kGap, 0, 0, 0);
    QRect path = option.rect.adjusted(width, 0, -kGap, 0);
    painter->save();
    painter->setPen(ink);
    painter->setFont(fixed);
    painter->drawText(rights, Qt::AlignVCenter | Qt::AlignLeft, index.data(kRightsRole).toString());
    painter->setFont(item.font);
    painter->drawText(path, Qt::AlignVCenter | Qt::AlignLeft,
                      QFontMetrics(item.font).elidedText(directory, Qt::ElideMiddle, path.width()));
    painter->restore();
}

QSize RuleRightsDelegate::sizeHint(const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.rwidth() += rightsWidth(QFontMetrics(rightsFont(option.font)));
    return size;
}

}  // namespace kestrix
