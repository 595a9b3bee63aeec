#include "users/user_list_loader.h"

#include <utility>
#include <vector>

#include "core/database.h"

namespace kestrix {

void fillUserList(UserListView& view) {
    // A list read again is usually about as long as it was.
    const int shownBefore = view.userCount();
    view.clearUsers();
    Database db;
    if (!openDatabase(db, 0)) return;
    std::string failure;
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(shownBefore));
    const bool read = db.readColumn("select username from users order by username", {},
                                    [&](std::optional<std::string_view> name) {
                                        names.emplace_back(name.value_or(std::string_view()));
                                    });
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
