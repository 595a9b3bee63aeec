#include "users/user_list_loader.h"

#include <utility>
#include <vector>

#include "core/database.h"

namespace kestrix {

void fillUserList(UserListView& view) {
    view.clearUsers();
    Database db;
    if (!openDatabase(db, 0)) return;
    std::string failure;
    std::vector<std::string> names;
    const bool read = db.readText(
        "select username from users order by username", {}, 1,
        [&](const Database::TextRow& row) { names.push_back(row[0].value_or(std::string())); });
    // Names read before a failure are shown as they were.
    if (!read) failure = db.lastError();
    view.addUsers(std::move(names));
    if (failure.empty() && view.userCount() > 0) {
        // The selection loads the first user while this connection is still
        // open, as the list's own command does.
        view.selectFirstUser();
    }
    closeDatabase(db);
    if (!failure.empty()) view.statementFailed(failure);
}

}  // namespace kestrix
