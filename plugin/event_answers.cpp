#include "plugin/event_answers.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

#include "core/password_hash.h"
#include "core/short_date.h"
#include "core/stored_password.h"
#include "core/unicode_text.h"
#include "plugin/event_record.h"
#include "plugin/number_text.h"
#include "plugin/quota_ratio.h"

namespace kestrix::plugin {

namespace {

constexpr std::array<std::string_view, 4> kRatioTypes = {"FilesPerSession", "BytesPerSession",
                                                         "BytesOverall", "FilesOverall"};
constexpr std::array<std::string_view, 4> kMaintenanceLevels = {"SYSTEM", "DOMAIN", "GROUP",
                                                                "READONLY"};

template <std::size_t N>
bool isOneOf(const std::string& value, const std::array<std::string_view, N>& choices) {
    return std::find(choices.begin(), choices.end(), value) != choices.end();
}

std::optional<long long> wholeValue(const std::optional<std::string>& text) {
    return text ? storedWhole(*text) : std::nullopt;
}

// A quota column value, 2147483647 counting as none.
std::optional<long long> quotaValue(const std::optional<std::string>& text) {
    const auto value = wholeValue(text);
    if (value == kNoValue) return std::nullopt;
    return value;
}

// A stored expiry or disable date that has come: the account no longer
// logs in, whether or not the daily run has deleted or disabled it yet. A
// text that is not a date is never acted on, as the daily run does.
bool dateHasCome(const std::optional<std::string>& stored) {
    if (!stored || stored->empty()) return false;
    const auto date = parseShortDate(*stored);
    return date && *date <= today();
}

std::string lowerCaseAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// The longest password the password change takes, in characters; only
// its stored form grows.
constexpr std::size_t kMaxChangedPassword = 50;

// The width the stored form of a new password may take: a width that could
// not be read does not hold the hash back (the database still refuses what
// does not fit).
std::size_t storableWidth(AccountStore& store) {
    return store.passwordWidth().value_or(kUnlimitedWidth);
}

}  // namespace

void EventAnswers::answer(EventRecord& record) {
    const std::string user = record.userName();
    switch (record.code()) {
        case code::kLoginMessageFile:
            return textAnswer(record, UserColumn::LoginMessageFile);
        case code::kHomeDirectory:
            return homeDirectory(record);
        case code::kPasswordCheck:
        case code::kPasswordCheckToo:
            return passwordCheck(record);
        case code::kAddressAllowed:
            return addressCheck(record);
        case code::kFileWrite:
            return record.setFlag(checks_.fileCheck(user, record.data(), 'W'));
        case code::kFileRead:
            return record.setFlag(checks_.fileCheck(user, record.data(), 'R'));
        case code::kFileDelete:
            // Deleting or renaming a file is the Delete right alone.
            return record.setFlag(checks_.fileCheck(user, record.data(), 'M'));
        case code::kFileAppend:
            return record.setFlag(checks_.fileCheck(user, record.data(), 'A'));
        case code::kListDirectory:
        case code::kListDirectoryToo:
            return record.setFlag(checks_.directoryCheck(user, record.data(), 'L'));
        case code::kRemoveDirectory:
            return record.setFlag(checks_.directoryCheck(user, record.data(), 'D'));
        case code::kMakeDirectory:
            return record.setFlag(checks_.directoryCheck(user, record.data(), 'C'));
        case code::kHideHiddenFiles:
            return switchAnswer(record, UserColumn::HideHiddenFiles);
        case code::kRelativePaths:
            return switchAnswer(record, UserColumn::RelPath);
        case code::kRatioType:
            return ratioTypeAnswer(record);
        case code::kRatioDown:
            return limitAnswer(record, UserColumn::RatioDown, kNoRatioPart);
        case code::kRatioUp:
            return limitAnswer(record, UserColumn::RatioUp, kNoRatioPart);
        case code::kRatioCredit:
            return ratioCredit(record);
        case code::kRatioFree:
            return record.setFlag(checks_.ratioFree(user, record.data()));
        case code::kUseQuota:
            return switchAnswer(record, UserColumn::UseQuota);
        case code::kQuotaCurrent:
            return quota(record);
        case code::kQuotaMax:
            return limitAnswer(record, UserColumn::QuotaMax, kNoValue);
        case code::kAlwaysLogin:
            return switchAnswer(record, UserColumn::AlwaysLogin);
        case code::kOneLoginPerAddress:
            return switchAnswer(record, UserColumn::OneLoginPerIp);
        case code::kAddressListed:
            return addressListed(record);
        case code::kSpeedLimit:
            return textAnswer(record, UserColumn::SpeedLimit);
        case code::kPasswordChange:
            return passwordChange(record);
        case code::kIdleTimeout:
            return limitAnswer(record, UserColumn::Timeout, kNoValue);
        case code::kMaxConcurrent:
            return countAnswer(record, UserColumn::MaxConcurrent);
        case code::kMaxLoginsPerAddress:
            return countAnswer(record, UserColumn::MaxLoginsPerIp);
        case code::kSignOnFile:
            return signFile(record, true);
        case code::kSignOffFile:
            return signFile(record, false);
        case code::kMaintenance:
            return maintenanceAnswer(record);
        case code::kSessionTimeout:
            return limitAnswer(record, UserColumn::SessionTimeout, kNoValue);
        default:
            return;
    }
}

// Text: the value and flag 1; no value leaves the record as it was.
void EventAnswers::textAnswer(EventRecord& record, UserColumn column) {
    const auto value = store_.userValue(column, record.userName());
    if (!value) return;
    record.setDataText(*value);
    record.setFlag(true);
}

// Switch: on only for exactly 1; the flag is always 1.
void EventAnswers::switchAnswer(EventRecord& record, UserColumn column) {
    const auto value = wholeValue(store_.userValue(column, record.userName()));
    record.setDataSwitch(value == 1);
    record.setFlag(true);
}

// Number and flag 1; flag 0 for no value or the column's no-value marker.
void EventAnswers::limitAnswer(EventRecord& record, UserColumn column, long long noValue) {
    const auto value = wholeValue(store_.userValue(column, record.userName()));
    if (!value || *value == noValue) return record.setFlag(false);
    record.setDataNumber(*value);
    record.setFlag(true);
}

// Number, -1 for no value; the flag is 1. A limit that cannot be read
// refuses the login: flag 0, which the server takes as a refusal, with the
// tightest limit it could honour (1) for a server that reads only the number.
void EventAnswers::countAnswer(EventRecord& record, UserColumn column) {
    bool complete = false;
    const auto value = wholeValue(store_.userValue(column, record.userName(), &complete));
    record.setDataNumber(complete ? value.value_or(-1) : 1);
    record.setFlag(complete);
}

void EventAnswers::ratioTypeAnswer(EventRecord& record) {
    const auto value = store_.userValue(UserColumn::RatioType, record.userName());
    if (!value || !isOneOf(*value, kRatioTypes)) return;
    record.setDataText(*value);
    record.setFlag(true);
}

void EventAnswers::maintenanceAnswer(EventRecord& record) {
    record.setFlag(false);
    const auto value = store_.userValue(UserColumn::Maintenance, record.userName());
    if (!value || !isOneOf(*value, kMaintenanceLevels)) return;
    record.setDataText(*value);
    record.setFlag(true);
}

// A home directory that does not fit the data text is refused: cut short,
// it would name another directory. So is a relative one, which the server
// would take from its own working directory.
void EventAnswers::homeDirectory(EventRecord& record) {
    const std::string user = record.userName();
    const auto home = checks_.homeDirectory(user);
    record.setFlag(home && home->starts_with('/') && !pastItsDate(user) &&
                   record.setDataTextWhole(*home));
}

bool EventAnswers::pastItsDate(const std::string& user) {
    return dateHasCome(store_.userValue(UserColumn::Expires, user)) ||
           dateHasCome(store_.userValue(UserColumn::DisableOn, user));
}

void EventAnswers::passwordCheck(EventRecord& record) {
    record.setFlag(false);
    if (record.code() == code::kPasswordCheck && !store_.ready()) return;
    const std::string given = record.data();
    // An empty password never logs in, even against an empty stored one.
    if (given.empty()) return;
    record.lowerCaseUserName();
    // Invisible characters make names that look alike and are not.
    if (holdsControlOrFormat(record.userName())) return;
    const auto row = store_.loginRow(record.userName());
    const bool found = row && row->name && row->password;
    // A missing account and a stored form cheaper than a hash cost one hash
    // check too: the time of a refusal tells nothing about the account.
    const bool weak = !found || isWeakPasswordForm(*row->password);
    bool matches = false;
    const bool storeBack = offStore_([&] {
        if (weak) spendPasswordCheck(given);
        matches = found && passwordMatches(*row->password, given);
    });
    if (!storeBack || !matches) return;
    if (dateHasCome(row->expires) || dateHasCome(row->disableOn)) return;
    // The server counts sessions by the name it is handed back: every
    // spelling the database takes for this account must come back as one.
    const std::string identity = lowerCaseAscii(*row->name);
    if (holdsControlOrFormat(identity)) return;
    const bool accepted = record.setUserName(identity);
    const bool storeHeld =
        !(accepted && weak) || upgradeStoredPassword(*row->name, *row->password, given);
    // The login's later events answer from the row just read (an upgrade
    // above has made it stale, and the store will not keep it).
    if (accepted && storeHeld) store_.keepLoginRow(*row);
    record.setFlag(accepted);
}

// The password just proved replaces a weaker stored form by its hash, when
// the column has room for it. A failed write leaves the old form, which
// still logs in. False only when the store could not be had back.
bool EventAnswers::upgradeStoredPassword(const std::string& storedName, const std::string& stored,
                                         const std::string& given) {
    if (storableWidth(store_) < hashedPasswordCharacters()) return true;
    std::optional<std::string> hash;
    if (!offStore_([&] { hash = hashPassword(given); })) return false;
    if (hash) (void)store_.replacePassword(storedName, stored, *hash);
    return true;
}

// Changes the account that logged in: the row the password check found,
// by its stored name compared exactly.
void EventAnswers::passwordChange(EventRecord& record) {
    record.setFlag(false);
    const std::string password = record.data();
    const auto length = utf8Length(password);
    if (!length || *length > kMaxChangedPassword) return;
    const auto row = store_.loginRow(record.userName());
    if (!row || !row->name) return;
    const auto width = storableWidth(store_);
    std::optional<PasswordToStore> stored;
    if (!offStore_([&] { stored = passwordToStore(password, width); })) return;
    if (!stored) return;
    record.setFlag(store_.changePassword(*row->name, stored->text));
}

// Refused when the address matches a blocked entry: the server-wide list
// before login (no user name), the user's and everyone's after. A list
// that cannot be read refuses, as a store that is not ready does.
void EventAnswers::addressCheck(EventRecord& record) {
    record.setFlag(false);
    if (!store_.ready()) return;
    const std::string user = record.userName();
    const auto refuses = [&](const ReadAddresses& blocked) {
        return !blocked.complete || blocked.list.matches(record.data());
    };
    record.setFlag(!(user.empty() ? refuses(store_.blockedAddresses())
                                  : refuses(store_.blockedAddressesOfUser(user))));
}

void EventAnswers::addressListed(EventRecord& record) {
    const ReadAddresses& listed = store_.listedAddresses();
    record.setFlag(listed.list.matches(record.data()));
}

void EventAnswers::signFile(EventRecord& record, bool signOn) {
    const auto file = store_.signFile(signOn, record.address());
    if (!file) return;
    record.setDataText(*file);
    record.setFlag(true);
}

void EventAnswers::ratioCredit(EventRecord& record) {
    const std::string user = record.userName();
    const std::string data = record.data();
    if (data == "0") {
        const auto stored = store_.userValue(UserColumn::RatioCredit, user);
        const auto credit = stored ? storedReal(*stored) : std::nullopt;
        // The stored marker for none reads as no value.
        if (!credit || *credit == kNoCredit) return record.setFlag(false);
        record.setDataText(formatCredit(*credit));
        return record.setFlag(true);
    }
    // A credit that would become infinite could never be spent or read
    // back: the write refuses it. A refused write answers flag 0; a user
    // without a row, or without a credit to add to, changes nothing and
    // answers 1. Only a write that changed nothing is told apart by a read.
    const auto changed = store_.addCredit(user, leadingReal(data));
    if (!changed) return record.setFlag(false);
    if (*changed > 0) return record.setFlag(true);
    bool complete = false;
    const auto stored = store_.userValue(UserColumn::RatioCredit, user, &complete);
    record.setFlag(complete && !stored);
}

void EventAnswers::quota(EventRecord& record) {
    const std::string user = record.userName();
    const std::string data = record.data();
    record.setFlag(false);
    if (data == "0") {
        bool complete = false;
        const auto row = store_.quotaRow(user, &complete);
        // A quota that cannot be read has no room: no number would be no
        // limit at all.
        if (!complete) {
            record.setDataNumber(0);
            return record.setFlag(true);
        }
        if (!row) return;
        const auto remaining = readableQuota(quotaValue(row->current), quotaValue(row->maximum));
        if (!remaining) return;
        record.setDataNumber(*remaining);
        return record.setFlag(true);
    }
    const auto amount = leadingWhole(data);
    if (!amount) return;
    record.setFlag(store_.chargeQuota(user, *amount));
}

}  // namespace kestrix::plugin
