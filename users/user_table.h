#pragma once

#include <QTableView>

namespace kestrix {

// The user list. A table of one row per user, whose Home and End go to the
// first and the last user (a table's own go to the first and last column).
// It tells whether a change of the current user came from the keyboard, so
// that a run of arrow presses loads only the user it stops at.
class UserTable final : public QTableView {
    Q_OBJECT
  public:
    using QTableView::QTableView;

    bool movingByKey() const { return movingByKey_; }

  protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override {
        if ((action == MoveHome || action == MoveEnd) && model() != nullptr &&
            model()->rowCount(rootIndex()) > 0) {
            const int row = action == MoveHome ? 0 : model()->rowCount(rootIndex()) - 1;
            return model()->index(row, 0, rootIndex());
        }
        return QTableView::moveCursor(action, modifiers);
    }
    void keyPressEvent(QKeyEvent* event) override {
        movingByKey_ = true;
        QTableView::keyPressEvent(event);
        movingByKey_ = false;
    }

  private:
    bool movingByKey_ = false;
};

}  // namespace kestrix
