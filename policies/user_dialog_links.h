#pragma once

#include <functional>
#include <string>

namespace kestrix {

// What a per-user dialog needs of the main window. A dialog acts on the user
// it loaded, not on whoever is selected when its OK is pressed: it is not
// modal, and the main window may have moved on to another user meanwhile.
struct UserDialogLinks {
    // The user being edited in the main window (selectedUser).
    std::function<std::string()> selectedUser;
    // After OK: the main window re-reads the user, if it still shows it.
    std::function<void(const std::string& user)> userSaved;
};

}  // namespace kestrix
