#pragma once

#include <QAbstractTableModel>

#include <string>
#include <vector>

#include "users/account_state.h"

namespace kestrix {

// The user list: each user's name and, in a second column, the mark of a
// disabled, expiring or expired account. Names are kept as read and made
// into display text only for the rows the view asks for, so a list of many
// thousands of users fills at about the cost of reading it.
//
// A filter shows only the users whose name contains a text, without regard
// to case. Rows are the rows shown: every row number below counts the
// users the filter lets through.
class UserNameModel final : public QAbstractTableModel {
  public:
    enum Column { NameColumn = 0, StateColumn = 1 };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    // The view asks for an index of every row each time it lays the list
    // out; the base class's checks through rowCount cost more than the
    // layout itself.
    QModelIndex index(int row, int column = 0, const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Replaces every user (a reset: the selection is dropped quietly). The
    // filter stays and applies to the new list.
    void setUsers(std::vector<ListedUser> users);
    void setNames(std::vector<std::string> names);
    // A user at a row shown; it is shown there whatever the filter.
    void insertName(int row, std::string name);
    void insertUser(int row, ListedUser user);
    void removeName(int row);
    // Removes the first user of exactly that name that the filter hides;
    // the rows shown stay as they are. False when there is none.
    bool removeUnshown(const std::string& name);

    const std::string& name(int row) const { return user(row).name; }
    AccountState state(int row) const { return user(row).state; }
    const ListedUser& listed(int row) const { return user(row); }
    QString text(int row) const;
    int count() const { return static_cast<int>(shown_.size()); }
    // Every user, shown or not.
    int totalCount() const { return static_cast<int>(users_.size()); }
    // The first row whose text equals the given one without regard to case,
    // or -1.
    int findIgnoringCase(const QString& text) const;
    // The row of exactly that name, or -1 when it is not shown.
    int findExactly(const std::string& name) const;
    // The row an entry of that text takes in a list sorted without regard
    // to case: before the first entry not less than it.
    int sortedPlace(const QString& text) const;

    // Shows only the users whose name contains the text without regard to
    // case; the empty text shows every user. A reset.
    void setFilter(const QString& text);
    const QString& filter() const { return filter_; }

    // The words of the state column, and what they mean.
    static QString stateText(AccountState state);
    static QString stateTip(const ListedUser& user);

  private:
    const ListedUser& user(int row) const {
        return users_[static_cast<std::size_t>(shown_[static_cast<std::size_t>(row)])];
    }
    // The folded form a filter is compared with, one per user.
    void foldNames();
    bool passes(std::size_t user) const;
    void showAll();

    std::vector<ListedUser> users_;
    // The users shown, as places in users_, in order.
    std::vector<int> shown_;
    QString filter_;
    std::string foldedFilter_;
    // Empty until a filter is first set.
    std::vector<std::string> folded_;
};

}  // namespace kestrix
