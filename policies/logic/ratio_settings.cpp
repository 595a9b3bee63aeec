#include "policies/logic/ratio_settings.h"

#include <array>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <iterator>

#include "core/sql_literal.h"
#include "core/text_routines.h"
#include "policies/logic/byte_units.h"
#include "policies/logic/number_checks.h"
#include "policies/logic/policy_database.h"

namespace kestrix::policies {

namespace {

std::string trimmed(std::string_view text) {
    const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

double creditFactor(bool kilobytes) {
    return kilobytes ? kKilobyte : kMegabyte;
}

}  // namespace

bool countsBytes(RatioKind kind) {
    return kind == RatioKind::BytesPerSession || kind == RatioKind::BytesOverall;
}

std::string_view ratioTypeName(RatioKind kind) {
    switch (kind) {
        case RatioKind::FilesPerSession:
            return "FilesPerSession";
        case RatioKind::BytesPerSession:
            return "BytesPerSession";
        case RatioKind::FilesOverall:
            return "FilesOverall";
        case RatioKind::BytesOverall:
            return "BytesOverall";
    }
    return {};
}

std::string_view unitCaption(CreditUnit unit) {
    switch (unit) {
        case CreditUnit::Files:
            return "files";
        case CreditUnit::Kb:
            return "Kb";
        case CreditUnit::Mb:
            return "Mb";
    }
    return {};
}

std::string ratioSelect(const std::string& user) {
    return "SELECT ratio_type, ratio_down, ratio_up, ratio_current_credit FROM users WHERE "
           "username=" +
           sqlText(user);
}

UserParts ratioParts() {
    // Not the credit: the plug-in moves it with every transfer.
    return UserParts{{"ratio_type", "ratio_down", "ratio_up"}};
}

std::optional<StoredRatios> readRatios(const std::string& user, std::string& failure) {
    const auto rows =
        readRows(ratioSelect(user),
                 {"ratio_type", "ratio_down", "ratio_up", "ratio_current_credit"}, failure);
    if (!rows) return std::nullopt;
    StoredRatios stored;
    for (const FieldRow& row : *rows)
        stored = {row[0].value_or(""), row[1].value_or(""), row[2].value_or(""),
                  row[3].value_or("")};
    return stored;
}

void showStored(RatioForm& form, const StoredRatios& stored) {
    form.download = stored.down;
    form.upload = stored.up;
    form.credit = stored.credit;
    form.unit = CreditUnit::Files;
    const std::string type = lowered(trimmed(stored.type));
    if (type.empty()) {
        form.enabled = false;
        return;
    }
    for (RatioKind kind : {RatioKind::FilesPerSession, RatioKind::FilesOverall,
                           RatioKind::BytesPerSession, RatioKind::BytesOverall}) {
        if (type != lowered(std::string(ratioTypeName(kind)))) continue;
        form.enabled = true;
        form.kind = kind;
        if (countsBytes(kind)) {
            form.credit = decimalText(roundTo3(leadingNumber(stored.credit) / kMegabyte));
            form.kilobytesChosen = false;
            form.unit = CreditUnit::Mb;
        }
        return;
    }
}

void switchRatios(RatioForm& form, bool on) {
    form.enabled = on;
    if (on) selectKind(form, RatioKind::BytesOverall);
}

void selectKind(RatioForm& form, RatioKind kind) {
    form.kind = kind;
    if (countsBytes(kind)) {
        if (form.unit == CreditUnit::Files) form.credit.clear();
        form.unit = form.kilobytesChosen ? CreditUnit::Kb : CreditUnit::Mb;
    } else {
        if (form.unit != CreditUnit::Files) form.credit.clear();
        form.unit = CreditUnit::Files;
    }
}

void chooseUnit(RatioForm& form, bool kilobytes) {
    form.kilobytesChosen = kilobytes;
    const double value = leadingNumber(form.credit);
    if (kilobytes) {
        if (form.unit == CreditUnit::Mb) form.credit = decimalText(roundTo3(value * kKilobyte));
        form.unit = CreditUnit::Kb;
    } else {
        if (form.unit == CreditUnit::Kb) form.credit = decimalText(roundTo3(value / kKilobyte));
        form.unit = CreditUnit::Mb;
    }
}

std::array<NumberRange, 3> ratioRanges(const RatioForm& form) {
    // The two parts are whole numbers in the database; 65535 is the largest
    // part the server takes. Credit is files, or bytes in the chosen unit.
    const bool bytes = form.kind && countsBytes(*form.kind);
    const double unit = creditFactor(form.kilobytesChosen);
    return {
        NumberRange{"Uploads", 1, 65535},
        NumberRange{"Downloads", 1, 65535},
        bytes ? NumberRange{"Credit", 0, std::floor(kLargestByteCount / unit), false,
                            form.kilobytesChosen ? "Kb" : "Mb"}
              : NumberRange{"Credit", 0, 2147483647, true, "files"},
    };
}

std::optional<Message> checkRatios(const RatioForm& form) {
    if (!form.enabled) return std::nullopt;
    const std::pair<const std::string*, const char*> fields[] = {
        {&form.upload, "Uploads"}, {&form.download, "Downloads"}, {&form.credit, "Credit"}};
    for (const auto& [text, name] : fields) {
        if (trimmed(*text).empty())
            return titledMessage("Please make sure all fields are correct.",
                                 MessageIcon::Exclamation, MessageButtons::OK);
    }
    for (const auto& [text, name] : fields) {
        if (!isDecimalNumber(trimmed(*text))) return notANumber(name);
    }
    const std::array<NumberRange, 3> ranges = ratioRanges(form);
    for (std::size_t i = 0; i < std::size(ranges); ++i) {
        if (auto refusal = outOfRange(trimmed(*fields[i].first), ranges[i])) return refusal;
    }
    return std::nullopt;
}

std::string ratioUpdate(const RatioForm& form, const std::string& user) {
    std::string type = "NULL";
    double credit = 0;
    if (form.enabled && form.kind) {
        type = sqlText(ratioTypeName(*form.kind));
        credit = leadingNumber(trimmed(form.credit));
        if (countsBytes(*form.kind)) credit = roundTo3(credit * creditFactor(form.kilobytesChosen));
    }
    return "update users set ratio_type=" + type +
           ", ratio_down=" + decimalText(leadingNumber(form.download)) +
           ", ratio_up=" + decimalText(leadingNumber(form.upload)) +
           ", ratio_current_credit=" + decimalText(credit) + " WHERE username=" + sqlText(user);
}

namespace {

// The four columns as ratioUpdate writes them.
FieldValues ratioFields(const RatioForm& form) {
    const std::string update = ratioUpdate(form, "");
    FieldValues fields;
    const std::pair<const char*, const char*> columns[] = {{"ratio type", "ratio_type="},
                                                           {"download", ", ratio_down="},
                                                           {"upload", ", ratio_up="},
                                                           {"credit", ", ratio_current_credit="}};
    for (std::size_t i = 0; i < std::size(columns); ++i) {
        const std::size_t from = update.find(columns[i].second) + std::strlen(columns[i].second);
        const std::size_t to = i + 1 < std::size(columns) ? update.find(columns[i + 1].second)
                                                          : update.find(" WHERE ");
        fields[columns[i].first] = update.substr(from, to - from);
    }
    return fields;
}

}  // namespace

WriteOutcome keepBothRatios(const std::string& user, const RatioForm& loaded, const RatioForm& mine,
                            std::string& failure,
                            const std::function<Answer(const Message&)>& ask) {
    return keepBothFields(
        user, ratioFields(loaded), ratioFields(mine),
        [&](WriteOutcome& why) -> std::optional<FieldsNow> {
            auto version = loadedVersion(user, ratioParts(), failure);
            const auto stored = version ? readRatios(user, failure) : std::nullopt;
            if (!stored) {
                why = failure.empty() ? WriteOutcome::Unavailable : WriteOutcome::Refused;
                return std::nullopt;
            }
            // Read as the dialog would show it, so that a value stored in
            // another spelling is no change.
            RatioForm shown;
            showStored(shown, *stored);
            return FieldsNow{std::move(*version), ratioFields(shown)};
        },
        [&](const FieldValues& merged, const std::string& version) {
            const auto value = [&merged](const char* name) {
                const auto found = merged.find(name);
                return found != merged.end() && found->second ? *found->second : std::string("0");
            };
            const std::string update =
                "update users set ratio_type=" + value("ratio type") +
                ", ratio_down=" + value("download") + ", ratio_up=" + value("upload") +
                ", ratio_current_credit=" + value("credit") + " WHERE username=" + sqlText(user);
            return writeAll({update}, failure, {},
                            WriteGuard{WriteLock::user(user), user, ratioParts(), version});
        },
        ask);
}

std::string describeRatios(const RatioForm& form) {
    if (!form.enabled || !form.kind) return "ratios off";
    return "ratio " + std::string(ratioTypeName(*form.kind)) + ", upload " + trimmed(form.upload) +
           ", download " + trimmed(form.download) + ", credit " + trimmed(form.credit) + " " +
           std::string(unitCaption(form.unit));
}

}  // namespace kestrix::policies
