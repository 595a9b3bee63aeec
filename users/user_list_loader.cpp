#include "users/user_list_loader.h"

#include <utility>
#include <vector>

#include "core/database.h"
#include "core/short_date.h"

namespace kestrix {

void fillUserList(UserListView& view) {
    // A list read again is usually about as long as it was.
    const int shownBefore = view.userCount();
    view.clearUsers();
    Database db;
    if (!openDatabase(db, 0)) return;
    std::string failure;
    std::vector<ListedUser> users;
    users.reserve(static_cast<std::size_t>(shownBefore));
    const auto now = today();
    const bool read = db.readViews(
        "select username, disable_user, Expires from users order by username", {}, 3,
        [&](Database::RowView row) {
            ListedUser& user = users.emplace_back();
            user.name = row[0].value_or(std::string_view());
            user.state = accountState(row[1], row[2], now);
            if (user.state == AccountState::Expired || user.state == AccountState::ExpiringSoon)
                user.expires = row[2].value_or(std::string_view());
        });
    // Names read before a failure are shown as they were.
    if (!read) failure = db.lastError();
    view.addUsers(std::move(users));
    if (failure.empty() && view.userCount() > 0) {
        // The selection loads the first user while this connection is still
        // open, as the list's own command does.
        view.selectFirstUser();
    }
    closeDatabase(db);
    if (!failure.empty()) view.statementFailed(failure);
}

}  // namespace kestrix
