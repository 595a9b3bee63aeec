#pragma once

#include <functional>
#include <optional>
#include <string>

#include "core/field_merge.h"

#include "policies/logic/policy_database.h"
#include "shell/message_boxes.h"
#include "shell/number_rules.h"

namespace kestrix {
class RecordSet;
}

namespace kestrix::policies {

// The controls of the account settings dialog, as loaded and as OK reads
// them. Option buttons: neither is selected when both columns are 0.
struct MiscSettings {
    bool disableAccount = false;   // chkDisableAccount
    bool relativePaths = false;    // ChkShowRelPath
    bool hideHidden = false;       // ChkHideHidden
    bool alwaysLogin = false;      // ChkAlwaysLogin
    bool oneLogin = false;         // optOneLogin
    bool maxLogins = false;        // optMaxLogins
    std::string allowOnly;         // TxtAllowOnly
    std::string maxSpeed;          // txtMaxSpeed
    std::string idleTimeout;       // txtIdleTimeOut
    std::string sessionTimeout;    // txtSessionTimeout
    std::string maxUsers;          // txtMaxUSer
    std::string loginMessageFile;  // txtLoginMessageFile
    bool disableOn = false;        // chkDisableOn
    std::string disableDate;       // txtDisableDate
    bool expires = false;          // chkExpires
    std::string expiryDate;        // txtExpDate

    bool operator==(const MiscSettings&) const = default;
};

// The columns the dialog shows, for one user.
std::string miscSelect(const std::string& user);

// A row of miscSelect as the controls show it. The two date boxes are
// ticked when their text has 3 or more characters; an unticked one is empty.
MiscSettings loadMiscSettings(const RecordSet& row);

// The boxes OK checks, for the focus after a refusal.
enum class MiscField {
    None,
    LoginMessageFile,
    IdleTimeout,
    SessionTimeout,
    AllowOnly,
    MaxUsers,
    MaxSpeed,
    ExpiryDate,
    DisableDate,
};

struct MiscRefusal {
    Message message;
    MiscField focus = MiscField::None;
};

// One date box's text (ExpiryDate or DisableDate), typed in the locale's
// short form or as YYYY-MM-DD; none when it holds a date.
std::optional<MiscRefusal> checkDateText(const std::string& text, MiscField field);

// OK's checks in their order; none when the settings may be written.
// What a number box of the dialog takes (idle and session time-outs, allow
// only, maximum users; anything else: the maximum speed).
NumberRange miscNumberRange(MiscField field);
std::optional<MiscRefusal> checkMiscSettings(const MiscSettings& settings);

// The question OK asks before it stores an expiry or disable date that has
// come already (the next daily run deletes or disables the account); none
// when no such date was newly set.
std::optional<Message> pastDateQuestion(const MiscSettings& before, const MiscSettings& after);

// The UPDATE of OK for the user the dialog loaded; dates go in as
// YYYY-MM-DD whatever form they were typed in.
std::string miscUpdate(const MiscSettings& settings, const std::string& user);

enum class MiscAccess {
    Unavailable,  // not opened; the opening routine has reported it
    Refused,      // the database refused the statement (failure set)
    Missing,      // no such user: nothing read or written
    TooWide,      // a text is wider than its column (failure holds the message)
    Changed,      // someone else changed the settings since they were loaded
    Done,
};

// The load of the dialog: settings is filled from the user's row.
MiscAccess readMiscSettings(const std::string& user, MiscSettings& settings, std::string& failure);
// OK's write, after the checks passed.
// What the dialog's write replaces.
UserParts miscParts();
// With a loaded version, written only while the settings are as loaded.
MiscAccess writeMiscSettings(const MiscSettings& settings, const std::string& user,
                             std::string& failure,
                             const std::optional<std::string>& loaded = std::nullopt);
// The refusal shown for a write that was Refused or found the user Missing.
Message miscWriteRefusal(MiscAccess outcome, const std::string& user, const std::string& failure);

// The settings field by field, dates in their stored form, for Keep both.
FieldValues miscFields(const MiscSettings& settings);

// Keep both: the settings this dialog changed since it loaded `loaded`,
// written over what is stored now; the other administrator's changes to
// the other settings stay. Where both changed a setting, ask chooses (Yes:
// this dialog's). Changed when the question was declined or the user kept
// moving; a merge the checks refuse is TooWide with the refusal in failure.
MiscAccess keepBothMisc(const MiscSettings& loaded, const MiscSettings& mine,
                        const std::string& user, std::string& failure,
                        const std::function<Answer(const Message&)>& ask);

// The settings that differ, with their new values, in one line for the
// audit trail.
std::string describeMiscChange(const MiscSettings& before, const MiscSettings& after);

}  // namespace kestrix::policies
