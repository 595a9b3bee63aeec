#include "policies/month_grid.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "core/activity_log.h"
#include "core/short_date.h"

namespace kestrix {

using policies::Date;
using policies::GridCell;

MonthGrid::MonthGrid(QWidget* parent) : QWidget(parent), current_(today()) {
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(true);
    // Button face, on which both lines of the sunken box show.
    setBackgroundRole(QPalette::Button);
}

QSize MonthGrid::sizeHint() const {
    return {policies::kGridColumns * 32 + 1, policies::kGridRows * 24 + 1};
}

void MonthGrid::measureCells() {
    // One pixel is kept for the box's right and bottom lines.
    cellWidth_ = std::max(1, (width() - 1) / policies::kGridColumns);
    cellHeight_ = std::max(1, (height() - 1) / policies::kGridRows);
}

QRect MonthGrid::cellRect(GridCell cell) const {
    return {cell.column * cellWidth_, cell.row * cellHeight_, cellWidth_, cellHeight_};
}

void MonthGrid::setDate(Date date) {
    if (date == current_) return;
    current_ = date;
    // Within the month only the box moves; another month redraws the grid.
    // Qt paints the whole surface either way.
    update();
    emit dateChanged(current_);
}

void MonthGrid::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const Date now = today();
    const bool thisMonth = now.year() == current_.year() && now.month() == current_.month();
    const unsigned days = policies::daysInMonth(current_);
    QFont plain = font();
    QFont bold = font();
    bold.setBold(true);
    painter.setPen(palette().color(QPalette::Text));
    for (unsigned d = 1; d <= days; ++d) {
        const Date shown = current_.year() / current_.month() / std::chrono::day{d};
        painter.setFont(thisMonth && now.day() == shown.day() ? bold : plain);
        painter.drawText(cellRect(policies::cellOf(shown)), Qt::AlignCenter, QString::number(d));
    }

    writeLog("Set highlight and shadow colors");
    const QColor shadow = palette().color(QPalette::Dark);
    const QColor light = palette().color(QPalette::Light);
    writeLog("Compute location for current date");
    const QRect box = cellRect(policies::cellOf(current_));
    writeLog("Draw box around date");
    const QPoint topLeft = box.topLeft();
    const QPoint topRight(box.left() + cellWidth_, box.top());
    const QPoint bottomRight(box.left() + cellWidth_, box.top() + cellHeight_);
    const QPoint bottomLeft(box.left(), box.top() + cellHeight_);
    // Sunken: dark top and left, light bottom and right.
    painter.setPen(shadow);
    painter.drawLine(bottomLeft, topLeft);
    painter.drawLine(topLeft, topRight);
    painter.setPen(light);
    painter.drawLine(topRight, bottomRight);
    painter.drawLine(bottomRight, bottomLeft);
}

void MonthGrid::mousePressEvent(QMouseEvent* event) {
    writeLog("Determine which date is being clicked");
    const QPoint at = event->position().toPoint();
    writeLog("Get last day of current month");
    const auto d = policies::dayInCell(current_, at.x() / cellWidth_, at.y() / cellHeight_);
    if (d) setDate(current_.year() / current_.month() / std::chrono::day{*d});
}

void MonthGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    // The press of the double click has already moved the box there.
    mousePressEvent(event);
    emit accepted();
}

void MonthGrid::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Right:
            setDate(policies::addDays(current_, 1));
            break;
        case Qt::Key_Left:
            setDate(policies::addDays(current_, -1));
            break;
        case Qt::Key_Down:
            setDate(policies::addDays(current_, 7));
            break;
        case Qt::Key_Up:
            setDate(policies::addDays(current_, -7));
            break;
        case Qt::Key_PageDown:
            setDate(policies::addMonths(current_, 1));
            break;
        case Qt::Key_PageUp:
            setDate(policies::addMonths(current_, -1));
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            emit enterPressed();
            break;
        case Qt::Key_Escape:
            emit escapePressed();
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    event->accept();
}

}  // namespace kestrix
