#pragma once

#include <optional>
#include <string>

#include "users/editing/prompts.h"

namespace kestrix::users {

// ---- New User ----

enum class NewNameVerdict {
    Ignored,              // blank name or password: nothing happens
    Refused,              // a message was shown
    DatabaseUnavailable,  // the opening routine has spoken
    Accepted,
};

// The checks of the new-user dialog in their order, the taken-name check
// against the database included.
NewNameVerdict checkNewName(const std::string& name, const std::string& password,
                            UserPrompts& prompts);

bool isForbiddenUserName(const std::string& name);

// The home directory a new user starts with: the default FTP root.
std::string newUserHomeDir(const std::string& ftpDirectory);

Message nameTakenMessage();
// A password and its second entry that differ.
Message passwordsDifferMessage();
// The refusal of a name holding control or format characters, which look
// like nothing or like another name.
Message invisibleCharacterMessage();

// ---- copying by entering the user-name box ----

struct CopyRequest {
    std::string nameBox;       // what the user-name box shows
    std::string selectedUser;  // the user being edited
};

struct CopyResult {
    bool focusNotes = false;   // declined: the focus moves to the notes
    bool unsaved = false;      // the edit mode and Save's bold follow
    std::string nameBox;       // the user-name box afterwards
    bool copyStarted = false;  // a copy under nameBox is pending
    std::string password;      // the new user's password, when started
};

CopyResult runCopyFlow(const CopyRequest& request, UserPrompts& prompts);

// ---- Delete ----

enum class DeleteOutcome { Declined, DatabaseUnavailable, Failed, Deleted };

// Asks, then removes the user and its rows from every per-user table in one
// transaction.
DeleteOutcome deleteUser(const std::string& selectedUser, UserPrompts& prompts);

}  // namespace kestrix::users
