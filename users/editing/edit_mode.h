#pragma once

namespace kestrix {

// What the main window is editing.
enum class EditMode {
    Stored = 0,   // the stored user selectedUser
    NewUser = 1,  // a new user that is not stored yet
    Copy = 2,     // a copy of a user under a new name, not stored yet
};

}  // namespace kestrix
