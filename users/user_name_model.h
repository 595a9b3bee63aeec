#pragma once

#include <QAbstractListModel>

#include <string>
#include <vector>

namespace kestrix {

// The names of the user list. They are kept as read and made into display
// text only for the rows the view asks for, so a list of many thousands of
// users fills at about the cost of reading it.
class UserNameModel final : public QAbstractListModel {
  public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    // The view asks for an index of every row each time it lays the list
    // out; the base class's checks through rowCount cost more than the
    // layout itself.
    QModelIndex index(int row, int column = 0, const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Replaces every name (a reset: the selection is dropped quietly).
    void setNames(std::vector<std::string> names);
    void insertName(int row, std::string name);
    void removeName(int row);

    const std::string& name(int row) const { return names_[static_cast<std::size_t>(row)]; }
    QString text(int row) const;
    int count() const { return static_cast<int>(names_.size()); }
    // The first row whose text equals the given one without regard to case,
    // or -1.
    int findIgnoringCase(const QString& text) const;
    // The row an entry of that text takes in a list sorted without regard
    // to case: before the first entry not less than it.
    int sortedPlace(const QString& text) const;

  private:
    std::vector<std::string> names_;
};

}  // namespace kestrix
