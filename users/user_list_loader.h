#pragma once

#include <string>
#include <vector>

#include "users/account_state.h"

namespace kestrix {

// What filling the user list needs of the window.
class UserListView {
  public:
    virtual ~UserListView() = default;
    virtual void clearUsers() = 0;
    // All users at once, in order: one pass over the list control.
    virtual void addUsers(std::vector<ListedUser> users) = 0;
    // Selecting the first entry loads that user (lstUsers_Click).
    virtual void selectFirstUser() = 0;
    virtual int userCount() const = 0;
    virtual void statementFailed(const std::string& description) = 0;
};

// popMain: empties the list, reads every user name in name order, with the
// state the list marks (disabled, expiring, expired), and selects the first. When the database
// cannot be opened the list stays empty; nothing else of the window is cleared.
void fillUserList(UserListView& view);

}  // namespace kestrix
