#include "users/user_list_loader.h"

#include "core/database.h"

namespace kestrix {

void fillUserList(UserListView& view) {
    view.clearUsers();
    Database db;
    if (!openDatabase(db, 0)) return;
    std::string failure;
    if (auto rows = db.query("select username from users order by username")) {
        std::vector<std::string> names;
        for (; !rows->eof(); rows->moveNext())
            names.push_back(rows->text("username"));
        failure = rows->error();
        view.addUsers(names);
    } else {
        failure = db.lastError();
    }
    if (failure.empty() && view.userCount() > 0) {
        // The selection loads the first user while this connection is still
        // open, as the list's own command does.
        view.selectFirstUser();
    }
    closeDatabase(db);
    if (!failure.empty()) view.statementFailed(failure);
}

}  // namespace kestrix
