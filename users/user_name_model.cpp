#include "users/user_name_model.h"

#include <QBrush>
#include <QColor>

#include <algorithm>
#include <numeric>

#include "shell/qt_text.h"

namespace kestrix {

namespace {

bool isAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The text as a filter compares it: case-folded, as UTF-8. Plain ASCII, by
// far the most common, is folded without a round trip through QString.
std::string folded(const std::string& text) {
    if (isAscii(text)) {
        std::string out = text;
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return out;
    }
    return fromQt(toQt(text).toCaseFolded());
}

}  // namespace

int UserNameModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

int UserNameModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 2;
}

QModelIndex UserNameModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || row >= count() || column < 0 || column > 1 || parent.isValid()) return {};
    return createIndex(row, column);
}

QVariant UserNameModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= count()) return {};
    if (index.column() == NameColumn) {
        if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
        return text(index.row());
    }
    const ListedUser& listed = user(index.row());
    switch (role) {
        case Qt::DisplayRole:
            return stateText(listed.state);
        case Qt::ToolTipRole:
            return listed.state == AccountState::Active ? QVariant() : stateTip(listed);
        case Qt::ForegroundRole:
            if (listed.state == AccountState::Active) return {};
            return QBrush(listed.state == AccountState::ExpiringSoon ? QColor(176, 96, 0)
                                                                     : QColor(255, 0, 0));
        default:
            return {};
    }
}

QString UserNameModel::stateText(AccountState state) {
    switch (state) {
        case AccountState::Disabled:
            return QStringLiteral("disabled");
        case AccountState::ExpiringSoon:
            return QStringLiteral("expires soon");
        case AccountState::Expired:
            return QStringLiteral("expired");
        case AccountState::Active:
            break;
    }
    return {};
}

QString UserNameModel::stateTip(const ListedUser& listed) {
    switch (listed.state) {
        case AccountState::Disabled:
            return QStringLiteral("This account is disabled: the user cannot log in.");
        case AccountState::ExpiringSoon:
            return QStringLiteral("This account expires on %1, within %2 days.")
                .arg(toQt(listed.expires))
                .arg(kExpiryWarningDays);
        case AccountState::Expired:
            return QStringLiteral("This account expired on %1; the daily account rules delete it.")
                .arg(toQt(listed.expires));
        case AccountState::Active:
            break;
    }
    return {};
}

void UserNameModel::setUsers(std::vector<ListedUser> users) {
    beginResetModel();
    users_ = std::move(users);
    folded_.clear();
    if (filter_.isEmpty()) {
        showAll();
    } else {
        foldNames();
        shown_.clear();
        for (std::size_t i = 0; i < users_.size(); ++i)
            if (passes(i)) shown_.push_back(static_cast<int>(i));
    }
    endResetModel();
}

void UserNameModel::setNames(std::vector<std::string> names) {
    std::vector<ListedUser> users;
    users.reserve(names.size());
    for (std::string& name : names)
        users.push_back({std::move(name), AccountState::Active, {}});
    setUsers(std::move(users));
}

void UserNameModel::showAll() {
    shown_.resize(users_.size());
    std::iota(shown_.begin(), shown_.end(), 0);
}

void UserNameModel::insertName(int row, std::string name) {
    insertUser(row, ListedUser{std::move(name), AccountState::Active, {}});
}

void UserNameModel::insertUser(int row, ListedUser listed) {
    const std::string& name = listed.name;
    int place = 0;
    if (row < count()) {
        place = shown_[static_cast<std::size_t>(row)];
    } else if (count() > 0) {
        place = shown_.back() + 1;
    } else {
        const QString wanted = toQt(name);
        place = static_cast<int>(
            std::partition_point(users_.begin(), users_.end(),
                                 [&](const ListedUser& u) {
                                     return toQt(u.name).compare(wanted, Qt::CaseInsensitive) < 0;
                                 }) -
            users_.begin());
    }
    beginInsertRows({}, row, row);
    if (!folded_.empty()) folded_.insert(folded_.begin() + place, folded(name));
    users_.insert(users_.begin() + place, std::move(listed));
    for (int& shown : shown_)
        if (shown >= place) ++shown;
    shown_.insert(shown_.begin() + row, place);
    endInsertRows();
}

void UserNameModel::removeName(int row) {
    const int place = shown_[static_cast<std::size_t>(row)];
    beginRemoveRows({}, row, row);
    users_.erase(users_.begin() + place);
    if (!folded_.empty()) folded_.erase(folded_.begin() + place);
    shown_.erase(shown_.begin() + row);
    for (int& shown : shown_)
        if (shown > place) --shown;
    endRemoveRows();
}

bool UserNameModel::removeUnshown(const std::string& wanted) {
    std::size_t next = 0;  // the next shown place
    for (std::size_t place = 0; place < users_.size(); ++place) {
        if (next < shown_.size() && shown_[next] == static_cast<int>(place)) {
            ++next;
            continue;
        }
        if (users_[place].name != wanted) continue;
        users_.erase(users_.begin() + static_cast<std::ptrdiff_t>(place));
        if (!folded_.empty()) folded_.erase(folded_.begin() + static_cast<std::ptrdiff_t>(place));
        for (std::size_t i = next; i < shown_.size(); ++i)
            --shown_[i];
        return true;
    }
    return false;
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

int UserNameModel::findExactly(const std::string& wanted) const {
    for (int row = 0; row < count(); ++row) {
        if (name(row) == wanted) return row;
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

void UserNameModel::foldNames() {
    if (folded_.size() == users_.size()) return;
    folded_.clear();
    folded_.reserve(users_.size());
    for (const ListedUser& listed : users_)
        folded_.push_back(folded(listed.name));
}

bool UserNameModel::passes(std::size_t place) const {
    return folded_[place].find(foldedFilter_) != std::string::npos;
}

void UserNameModel::setFilter(const QString& text) {
    if (text == filter_) return;
    const std::string wanted = fromQt(text.toCaseFolded());
    // A longer text that contains the last one can only narrow the list.
    const bool narrowing = !filter_.isEmpty() && wanted.find(foldedFilter_) != std::string::npos;
    beginResetModel();
    filter_ = text;
    foldedFilter_ = wanted;
    if (text.isEmpty()) {
        showAll();
    } else {
        foldNames();
        if (narrowing) {
            std::erase_if(shown_,
                          [&](int place) { return !passes(static_cast<std::size_t>(place)); });
        } else {
            shown_.clear();
            for (std::size_t i = 0; i < users_.size(); ++i)
                if (passes(i)) shown_.push_back(static_cast<int>(i));
        }
    }
    endResetModel();
}

}  // namespace kestrix
