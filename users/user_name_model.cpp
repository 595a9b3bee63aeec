#include "users/user_name_model.h"

#include "shell/qt_text.h"

namespace kestrix {

int UserNameModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

QModelIndex UserNameModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || row >= count() || column != 0 || parent.isValid()) return {};
    return createIndex(row, column);
}

QVariant UserNameModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= count()) return {};
    if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
    return text(index.row());
}

void UserNameModel::setNames(std::vector<std::string> names) {
    beginResetModel();
    names_ = std::move(names);
    endResetModel();
}

void UserNameModel::insertName(int row, std::string name) {
    beginInsertRows({}, row, row);
    names_.insert(names_.begin() + row, std::move(name));
    endInsertRows();
}

void UserNameModel::removeName(int row) {
    beginRemoveRows({}, row, row);
    names_.erase(names_.begin() + row);
    endRemoveRows();
}

QString UserNameModel::text(int row) const {
    return toQt(name(row));
}

int UserNameModel::findIgnoringCase(const QString& wanted) const {
    for (int row = 0; row < count(); ++row) {
        if (text(row).compare(wanted, Qt::CaseInsensitive) == 0) return row;
    }
    return -1;
}

int UserNameModel::sortedPlace(const QString& wanted) const {
    int low = 0;
    int high = count();
    while (low < high) {
        const int middle = (low + high) / 2;
        if (text(middle).compare(wanted, Qt::CaseInsensitive) < 0) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

}  // namespace kestrix
