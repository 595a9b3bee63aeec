#pragma once

#include <QWidget>

#include "policies/logic/month_calendar.h"

namespace kestrix {

// picMonth: the month of currentDate as a grid of 7 columns by 6 rows, no
// weekday headings, today's number bold in today's month, and a sunken box
// round currentDate. Mouse and keys move the date; the host window handles
// accepting and leaving.
class MonthGrid : public QWidget {
    Q_OBJECT
  public:
    explicit MonthGrid(QWidget* parent = nullptr);

    policies::Date currentDate() const { return current_; }
    // Set date: makes the date current and shows it.
    void setDate(policies::Date date);

    // The cell size follows the control's size; measured once, when the
    // host window is made.
    void measureCells();
    int cellWidth() const { return cellWidth_; }
    int cellHeight() const { return cellHeight_; }

    QSize sizeHint() const override;

  signals:
    void dateChanged(policies::Date date);
    // A double click: the clicked day is accepted.
    void accepted();
    // Enter and Escape close the host window, Enter with a date chosen.
    void enterPressed();
    void escapePressed();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QRect cellRect(policies::GridCell cell) const;

    policies::Date current_;
    int cellWidth_ = 32;
    int cellHeight_ = 24;
};

}  // namespace kestrix
