#include "policies/logic/misc_settings.h"

#include <charconv>
#include <cmath>
#include <vector>

#include "core/activity_log.h"
#include "core/column_width.h"
#include "core/database.h"
#include "core/owner_keys.h"
#include "core/path_tests.h"
#include "core/short_date.h"
#include "core/sql_literal.h"
#include "core/text_routines.h"
#include "policies/logic/number_checks.h"

namespace kestrix::policies {

namespace {

constexpr const char* kCrLf = "\r\n";

bool flag(const RecordSet& row, std::string_view column) {
    return leadingNumber(row.text(column)) != 0;
}

// A number as its shortest decimal text: 1048576, 10.5.
std::string decimalText(double value) {
    if (std::isfinite(value) && std::floor(value) == value && std::fabs(value) < 9.007e15)
        return std::to_string(static_cast<long long>(value));
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// timeout, session_timeout and max_concurrent: -1 stands for no value and
// shows as an empty box; NULL shows 0.
std::string limitText(const RecordSet& row, std::string_view column) {
    const auto value = row.field(column);
    if (!value) return "0";
    const long long whole = std::llround(leadingNumber(*value));
    return whole == -1 ? std::string() : std::to_string(whole);
}

// A date box is ticked when it holds a date-like text; unticked, it is empty.
void loadDate(const std::string& text, bool& ticked, std::string& box) {
    ticked = characterCount(text) >= 3;
    box = ticked ? text : std::string();
}

Message information(std::string text) {
    return titledMessage(std::move(text), MessageIcon::Information, MessageButtons::OK);
}

Message exclamation(std::string text) {
    return titledMessage(std::move(text), MessageIcon::Exclamation, MessageButtons::OK);
}

bool isNumberField(MiscField field) {
    return field == MiscField::IdleTimeout || field == MiscField::SessionTimeout ||
           field == MiscField::AllowOnly || field == MiscField::MaxUsers ||
           field == MiscField::MaxSpeed;
}

// A number box's text that is not a number, or not in its range.
std::optional<MiscRefusal> numberFieldRefusal(MiscField field, const std::string& text) {
    const NumberRange range = miscNumberRange(field);
    if (range.whole ? !isWholeNumber(text) : !isDecimalNumber(text))
        return MiscRefusal{notANumber(range.field), field};
    if (auto refusal = outOfRange(text, range)) return MiscRefusal{*refusal, field};
    return std::nullopt;
}

std::optional<MiscRefusal> lengthRefusal(const MiscSettings& s) {
    struct Limit {
        const std::string* text;
        std::size_t limit;
        const char* words;
        MiscField field;
    };
    const Limit limits[] = {
        {&s.loginMessageFile, 65000, "login message file", MiscField::LoginMessageFile},
        {&s.idleTimeout, 8, "idle timeout", MiscField::IdleTimeout},
        {&s.sessionTimeout, 8, "session timeout", MiscField::SessionTimeout},
        {&s.allowOnly, 3, "allow only", MiscField::AllowOnly},
        {&s.maxUsers, 4, "maximum users", MiscField::MaxUsers},
        {&s.maxSpeed, 150, "maximum speed", MiscField::MaxSpeed},
        {&s.expiryDate, 50, "Expiration date", MiscField::ExpiryDate},
        {&s.disableDate, 50, "Disable on date", MiscField::DisableDate},
    };
    for (const Limit& limit : limits) {
        if (characterCount(*limit.text) > limit.limit) {
            // Too many digits for a number box is a value out of its range.
            if (isNumberField(limit.field)) {
                if (trimmed(*limit.text).empty() && limit.field != MiscField::MaxSpeed) continue;
                if (auto refusal = numberFieldRefusal(limit.field, trimmed(*limit.text)))
                    return refusal;
                continue;
            }
            return MiscRefusal{exclamation(std::string("The number of characters in the ") +
                                           limit.words + " field " + kCrLf +
                                           "exceeds the maximum number of characters allowed."),
                               limit.field};
        }
    }
    return std::nullopt;
}

// The values that stand unquoted in the UPDATE must be whole numbers (or
// empty, which means no value); anything else would be written as SQL.
std::optional<MiscRefusal> numberRefusal(const MiscSettings& s) {
    // An empty time-out or maximum means none (-1 is written); "allow only"
    // counts logins, so 0 would lock the user out from every address.
    const std::pair<MiscField, std::string> numbers[] = {
        {MiscField::IdleTimeout, trimmed(s.idleTimeout)},
        {MiscField::SessionTimeout, trimmed(s.sessionTimeout)},
        {MiscField::AllowOnly, s.maxLogins ? trimmed(s.allowOnly) : ""},
        {MiscField::MaxUsers, trimmed(s.maxUsers)},
    };
    for (const auto& [field, text] : numbers) {
        if (text.empty()) continue;
        if (auto refusal = numberFieldRefusal(field, text)) return refusal;
    }
    return numberFieldRefusal(MiscField::MaxSpeed, s.maxSpeed);
}

// A date box's text as a person means it: a year of two or four digits,
// a real calendar date.
std::optional<MiscRefusal> dateRefusal(const std::string& text, const char* words,
                                       MiscField field) {
    if (const auto year = writtenYearProblem(trimmed(text))) {
        return MiscRefusal{
            exclamation(std::string("The year in the ") + words + " field (" + *year +
                        ") must have four digits." + kCrLf + "Please type the date again."),
            field};
    }
    if (parseShortDate(trimmed(text))) return std::nullopt;
    const std::chrono::year_month_day example{std::chrono::year{2026}, std::chrono::month{12},
                                              std::chrono::day{24}};
    return MiscRefusal{
        exclamation(std::string("The ") + words + " field does not hold a date: \"" + text + "\"." +
                    kCrLf + "Please type it as " + formatShortDate(example) + " or " +
                    formatIsoDate(example) + ", or choose it."),
        field};
}

}  // namespace

std::optional<MiscRefusal> checkDateText(const std::string& text, MiscField field) {
    return dateRefusal(
        text, field == MiscField::DisableDate ? "Disable on date" : "Expiration date", field);
}

namespace {

std::optional<MiscRefusal> dateOrderRefusal(const MiscSettings& s) {
    // A text that is not a date would never be acted on: the account would
    // stay open for good.
    if (s.expires) {
        if (auto refusal = dateRefusal(s.expiryDate, "Expiration date", MiscField::ExpiryDate))
            return refusal;
    }
    if (s.disableOn) {
        if (auto refusal = dateRefusal(s.disableDate, "Disable on date", MiscField::DisableDate))
            return refusal;
    }
    if (!s.expires || !s.disableOn) return std::nullopt;
    const auto disableOn = parseShortDate(trimmed(s.disableDate));
    const auto expires = parseShortDate(trimmed(s.expiryDate));
    if (*expires < *disableOn) {
        return MiscRefusal{
            information("The account expiration date should be after the date it is to be "
                        "disabled."),
            MiscField::None};
    }
    return std::nullopt;
}

// A date newly set that has come already: the next daily run acts on it.
std::optional<std::chrono::year_month_day> newDueDate(bool wasTicked, const std::string& was,
                                                      bool ticked, const std::string& text) {
    if (!ticked) return std::nullopt;
    const auto date = parseShortDate(trimmed(text));
    if (!date || *date > today()) return std::nullopt;
    if (wasTicked && parseShortDate(trimmed(was)) == date) return std::nullopt;
    return date;
}

}  // namespace

NumberRange miscNumberRange(MiscField field) {
    switch (field) {
        case MiscField::IdleTimeout:
            return {"idle timeout", 0, 99999999};
        case MiscField::SessionTimeout:
            return {"session timeout", 0, 99999999};
        case MiscField::AllowOnly:
            return {"allow only", 1, 999};
        case MiscField::MaxUsers:
            return {"maximum users", 0, 9999};
        default:
            return {"maximum speed", 0, 2147483647, false, "KBps"};
    }
}

std::string miscSelect(const std::string& user) {
    return "SELECT disable_user, rel_path, hide_hidden_files, always_login, one_login_per_ip, "
           "max_logins_per_ip, speed_limit_value, timeout, session_timeout, max_concurrent, "
           "login_msg_file, Expires, DisableOn FROM users WHERE username=" +
           sqlText(user);
}

MiscSettings loadMiscSettings(const RecordSet& row) {
    MiscSettings s;
    s.disableAccount = flag(row, "disable_user");
    s.relativePaths = flag(row, "rel_path");
    s.hideHidden = flag(row, "hide_hidden_files");
    s.alwaysLogin = flag(row, "always_login");
    s.oneLogin = flag(row, "one_login_per_ip");
    // Set after the other option: selecting one clears the other.
    s.maxLogins = flag(row, "max_logins_per_ip");
    if (s.maxLogins) s.oneLogin = false;
    s.allowOnly = row.field("max_logins_per_ip").value_or("1");
    const auto speed = row.field("speed_limit_value");
    s.maxSpeed = speed ? decimalText(leadingNumber(*speed)) : "0";
    s.idleTimeout = limitText(row, "timeout");
    s.sessionTimeout = limitText(row, "session_timeout");
    s.maxUsers = limitText(row, "max_concurrent");
    s.loginMessageFile = row.text("login_msg_file");
    loadDate(row.text("DisableOn"), s.disableOn, s.disableDate);
    loadDate(row.text("Expires"), s.expires, s.expiryDate);
    return s;
}

std::optional<MiscRefusal> checkMiscSettings(const MiscSettings& s) {
    writeLog("check for path ");
    if (auto refusal = lengthRefusal(s)) return refusal;
    if (auto refusal = numberRefusal(s)) return refusal;
    const bool fileIsUrl = getPathTests(s.loginMessageFile).isURL;
    if (s.maxLogins && trimmed(s.allowOnly).empty()) {
        return MiscRefusal{exclamation(std::string("To allow only certain number of logins per ") +
                                       kCrLf + "IP address, you must specify that number."),
                           MiscField::AllowOnly};
    }
    if (fileIsUrl) {
        return MiscRefusal{exclamation(std::string("The path specified is not valid.") + kCrLf +
                                       "Please check your path and try again."),
                           MiscField::LoginMessageFile};
    }
    if (s.expires && trimmed(s.expiryDate).empty()) {
        return MiscRefusal{
            information("If expiration option is enabled you must select an expiration date."),
            MiscField::None};
    }
    if (s.disableOn && trimmed(s.disableDate).empty()) {
        return MiscRefusal{information("If disable on date option is enabled you must select a "
                                       "date to disable the account on."),
                           MiscField::None};
    }
    return dateOrderRefusal(s);
}

std::string miscUpdate(const MiscSettings& s, const std::string& user) {
    const auto orNone = [](const std::string& text) {
        const std::string value = trimmed(text);
        return value.empty() ? std::string("-1") : value;
    };
    const bool withFile = !trimmed(s.loginMessageFile).empty();
    std::string sql =
        "update users set disable_user=" + std::to_string(s.disableAccount) +
        ", rel_path=" + std::to_string(s.relativePaths) +
        ", hide_hidden_files=" + std::to_string(s.hideHidden) +
        ", always_login=" + std::to_string(s.alwaysLogin) +
        ", one_login_per_ip=" + std::to_string(s.oneLogin) +
        ", max_logins_per_ip=" + (s.maxLogins ? trimmed(s.allowOnly) : "0") +
        ", speed_limit_value=" + sqlText(s.maxSpeed) + ", timeout=" + orNone(s.idleTimeout) +
        ", session_timeout=" + orNone(s.sessionTimeout) + ", max_concurrent=" + orNone(s.maxUsers);
    if (withFile) sql += ",login_msg_file=" + sqlText(s.loginMessageFile);
    // Dates are stored in the one form every program reads alike.
    sql += ", expires=" + sqlText(s.expires ? storedDateText(trimmed(s.expiryDate)) : "");
    sql += ", disableon=" + sqlText(s.disableOn ? storedDateText(trimmed(s.disableDate)) : "");
    return sql + "  WHERE username=" + sqlText(user);
}

std::optional<Message> pastDateQuestion(const MiscSettings& before, const MiscSettings& after) {
    std::string text;
    if (const auto date =
            newDueDate(before.expires, before.expiryDate, after.expires, after.expiryDate)) {
        text = "The expiration date " + formatShortDate(*date) +
               " has come: the account will be deleted at the next daily run.";
    }
    if (const auto date = after.disableAccount ? std::nullopt
                                               : newDueDate(before.disableOn, before.disableDate,
                                                            after.disableOn, after.disableDate)) {
        if (!text.empty()) text += kCrLf;
        text += "The disable date " + formatShortDate(*date) +
                " has come: the account will be disabled at the next daily run.";
    }
    if (text.empty()) return std::nullopt;
    return titledMessage(text + kCrLf + kCrLf + "Store this date?", MessageIcon::Question,
                         MessageButtons::YesNo, 2);
}

MiscAccess readMiscSettings(const std::string& user, MiscSettings& settings, std::string& failure) {
    Database db;
    if (!openDatabase(db, 0)) return MiscAccess::Unavailable;
    auto rows = db.query(miscSelect(user));
    if (!rows) {
        failure = db.lastError();
        return MiscAccess::Refused;
    }
    MiscAccess outcome = MiscAccess::Missing;
    for (; !rows->eof(); rows->moveNext()) {
        settings = loadMiscSettings(*rows);
        outcome = MiscAccess::Done;
    }
    closeDatabase(db);
    return outcome;
}

UserParts miscParts() {
    return UserParts{{"disable_user", "rel_path", "hide_hidden_files", "always_login",
                      "one_login_per_ip", "max_logins_per_ip", "speed_limit_value", "timeout",
                      "session_timeout", "max_concurrent", "login_msg_file", "Expires",
                      "DisableOn"}};
}

MiscAccess writeMiscSettings(const MiscSettings& settings, const std::string& user,
                             std::string& failure, const std::optional<std::string>& loaded) {
    writeLog("save data");
    Database db;
    if (!openDatabase(db, 0)) return MiscAccess::Unavailable;
    std::vector<TextColumn> texts{
        {"maximum speed", "users", "speed_limit_value", settings.maxSpeed},
        {"Expiration date", "users", "Expires", settings.expires ? settings.expiryDate : ""},
        {"Disable on date", "users", "DisableOn", settings.disableOn ? settings.disableDate : ""},
    };
    if (!trimmed(settings.loginMessageFile).empty())
        texts.insert(texts.begin(),
                     {"login message file", "users", "login_msg_file", settings.loginMessageFile});
    if (auto tooWide = tooWideText(db, texts)) {
        failure = *tooWide;
        closeDatabase(db);
        return MiscAccess::TooWide;
    }
    switch (holdGuard(db, WriteGuard{WriteLock::user(user), user, miscParts(), loaded})) {
        case GuardResult::Held:
            break;
        case GuardResult::Changed:
            return MiscAccess::Changed;
        case GuardResult::Failed:
            failure = lockFailure(db);
            return failure == userGoneMessage(user) ? MiscAccess::Missing : MiscAccess::Refused;
    }
    long long changed = 0;
    const bool written = db.execute(miscUpdate(settings, user), &changed) && db.commit();
    failure = db.lastError();
    if (!written) db.rollback();
    closeDatabase(db);
    if (!written) return MiscAccess::Refused;
    return changed == 0 ? MiscAccess::Missing : MiscAccess::Done;
}

namespace {

// Every setting with its name as the question lists it.
struct SettingField {
    const char* name;
    bool MiscSettings::*flag;
    std::string MiscSettings::*text;
    bool date;
};

constexpr SettingField kMiscFields[] = {
    {"disabled", &MiscSettings::disableAccount, nullptr, false},
    {"relative paths", &MiscSettings::relativePaths, nullptr, false},
    {"hide hidden files", &MiscSettings::hideHidden, nullptr, false},
    {"always login", &MiscSettings::alwaysLogin, nullptr, false},
    {"one login per address", &MiscSettings::oneLogin, nullptr, false},
    {"logins per address on", &MiscSettings::maxLogins, nullptr, false},
    {"logins per address", nullptr, &MiscSettings::allowOnly, false},
    {"maximum speed", nullptr, &MiscSettings::maxSpeed, false},
    {"idle timeout", nullptr, &MiscSettings::idleTimeout, false},
    {"session timeout", nullptr, &MiscSettings::sessionTimeout, false},
    {"maximum users", nullptr, &MiscSettings::maxUsers, false},
    {"login message file", nullptr, &MiscSettings::loginMessageFile, false},
    {"disable on set", &MiscSettings::disableOn, nullptr, false},
    {"disable on", nullptr, &MiscSettings::disableDate, true},
    {"expires set", &MiscSettings::expires, nullptr, false},
    {"expires", nullptr, &MiscSettings::expiryDate, true},
};

MiscSettings withFields(MiscSettings settings, const FieldValues& fields) {
    for (const SettingField& field : kMiscFields) {
        const auto found = fields.find(field.name);
        const std::string value =
            found != fields.end() && found->second ? *found->second : std::string();
        if (field.flag != nullptr)
            settings.*field.flag = value == "1";
        else
            settings.*field.text = value;
    }
    return settings;
}

}  // namespace

FieldValues miscFields(const MiscSettings& settings) {
    FieldValues fields;
    for (const SettingField& field : kMiscFields) {
        if (field.flag != nullptr)
            fields[field.name] = settings.*field.flag ? "1" : "0";
        else if (field.date)
            fields[field.name] = storedDateText(trimmed(settings.*field.text));
        else
            fields[field.name] = settings.*field.text;
    }
    return fields;
}

MiscAccess keepBothMisc(const MiscSettings& loaded, const MiscSettings& mine,
                        const std::string& user, std::string& failure,
                        const std::function<Answer(const Message&)>& ask) {
    const FieldValues mineFields = miscFields(mine);
    for (int attempt = 0; attempt < 5; ++attempt) {
        const auto version = loadedVersion(user, miscParts(), failure);
        if (!version) return failure.empty() ? MiscAccess::Unavailable : MiscAccess::Refused;
        MiscSettings stored;
        const MiscAccess read = readMiscSettings(user, stored, failure);
        if (read != MiscAccess::Done) return read;
        const FieldValues theirs = miscFields(stored);
        ThreeWayMerge merge = mergeThreeWay(miscFields(loaded), mineFields, theirs);
        if (!merge.bothChanged.empty()) {
            const Answer answer =
                ask(bothChangedQuestion(user, describeBothChanged(merge, mineFields, theirs)));
            if (answer == Answer::No)
                keepTheirs(merge, theirs);
            else if (answer != Answer::Yes)
                return MiscAccess::Changed;
        }
        const MiscSettings merged = withFields(stored, merge.merged);
        // Two sound changes can make an unsound pair (an expiry before the
        // new disable date): the checks hold for the merge too.
        if (const auto refusal = checkMiscSettings(merged)) {
            failure = refusal->message.text;
            return MiscAccess::TooWide;
        }
        const MiscAccess written = writeMiscSettings(merged, user, failure, version);
        if (written != MiscAccess::Changed) return written;
    }
    return MiscAccess::Changed;
}

Message miscWriteRefusal(MiscAccess outcome, const std::string& user, const std::string& failure) {
    if (outcome == MiscAccess::TooWide) return exclamation(failure);
    if (outcome == MiscAccess::Changed) return exclamation(changedBySomeoneElse(user));
    if (outcome == MiscAccess::Missing) {
        return exclamation("The user " + user +
                           " no longer exists in the database. Nothing was saved.");
    }
    return exclamation("Saving the settings of user " + user + " failed:\r\n\r\n" + failure);
}

std::string describeMiscChange(const MiscSettings& before, const MiscSettings& after) {
    std::string line;
    const auto add = [&line](const char* name, const std::string& value) {
        line += (line.empty() ? "" : "; ") + std::string(name) + " " + value;
    };
    const auto onOff = [](bool on) { return std::string(on ? "on" : "off"); };
    const auto text = [](const std::string& value) { return value.empty() ? "none" : value; };
    if (before.disableAccount != after.disableAccount) add("disabled", onOff(after.disableAccount));
    if (before.relativePaths != after.relativePaths)
        add("relative paths", onOff(after.relativePaths));
    if (before.hideHidden != after.hideHidden) add("hide hidden files", onOff(after.hideHidden));
    if (before.alwaysLogin != after.alwaysLogin) add("always login", onOff(after.alwaysLogin));
    if (before.oneLogin != after.oneLogin) add("one login per address", onOff(after.oneLogin));
    if (before.maxLogins != after.maxLogins ||
        (after.maxLogins && before.allowOnly != after.allowOnly))
        add("logins per address", after.maxLogins ? text(after.allowOnly) : "off");
    if (before.maxSpeed != after.maxSpeed) add("maximum speed", text(after.maxSpeed));
    if (before.idleTimeout != after.idleTimeout) add("idle timeout", text(after.idleTimeout));
    if (before.sessionTimeout != after.sessionTimeout)
        add("session timeout", text(after.sessionTimeout));
    if (before.maxUsers != after.maxUsers) add("maximum users", text(after.maxUsers));
    if (before.loginMessageFile != after.loginMessageFile)
        add("login message file", text(after.loginMessageFile));
    if (before.expires != after.expires || (after.expires && before.expiryDate != after.expiryDate))
        add("expires", after.expires ? text(after.expiryDate) : "never");
    if (before.disableOn != after.disableOn ||
        (after.disableOn && before.disableDate != after.disableDate))
        add("disable on", after.disableOn ? text(after.disableDate) : "never");
    return line.empty() ? "nothing changed" : line;
}

}  // namespace kestrix::policies
