#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "policies/logic/policy_database.h"
#include "shell/message_boxes.h"
#include "shell/number_rules.h"

namespace kestrix::policies {

// What a ratio counts; each has its option button in the ratio dialog.
enum class RatioKind { FilesPerSession, BytesPerSession, FilesOverall, BytesOverall };
// The unit the credit box holds, shown beside it.
enum class CreditUnit { Files, Kb, Mb };

bool countsBytes(RatioKind kind);
std::string_view ratioTypeName(RatioKind kind);  // as stored in ratio_type
std::string_view unitCaption(CreditUnit unit);   // "files", "Kb", "Mb"

// The ratio dialog's controls as plain values.
struct RatioForm {
    bool enabled = false;
    std::optional<RatioKind> kind;  // none selected before the first load
    std::string upload = "1";
    std::string download = "1";
    std::string credit = "100";
    CreditUnit unit = CreditUnit::Files;
    bool kilobytesChosen = false;  // "In KiloBytes" rather than "In Megabytes"
};

// The ratio columns of users as text, NULL as the empty text.
struct StoredRatios {
    std::string type;
    std::string down;
    std::string up;
    std::string credit;
};

std::string ratioSelect(const std::string& user);
// No value when the database could not be opened or the query was refused
// (failure set); a user without a row reads as empty columns.
std::optional<StoredRatios> readRatios(const std::string& user, std::string& failure);

// The load: byte credits are shown in megabytes. A type of another name
// leaves the switch and the options as they were.
void showStored(RatioForm& form, const StoredRatios& stored);

// Ticking the switch always starts from "Count bytes all sessions".
void switchRatios(RatioForm& form, bool on);
// An option click: going from files to bytes or back empties the credit.
void selectKind(RatioForm& form, RatioKind kind);
// A unit chosen in the combo box: the credit is converted from Mb or Kb.
void chooseUnit(RatioForm& form, bool kilobytes);

// OK's checks; no value when the form may be written.
// What the Uploads, Downloads and Credit boxes take for the form's kind
// and unit.
std::array<NumberRange, 3> ratioRanges(const RatioForm& form);
std::optional<Message> checkRatios(const RatioForm& form);
// The UPDATE that OK runs for the user the dialog loaded.
std::string ratioUpdate(const RatioForm& form, const std::string& user);
// What an administrator may have changed meanwhile: the kind and the ratio.
UserParts ratioParts();

// Keep both: the ratio settings this dialog changed since it showed
// `loaded` are written over what is stored now; the others stay as stored
// (the credit the plug-in counts among them, unless this dialog set it).
WriteOutcome keepBothRatios(const std::string& user, const RatioForm& loaded, const RatioForm& mine,
                            std::string& failure, const std::function<Answer(const Message&)>& ask);

// The ratio the form saves, in one line for the audit trail.
std::string describeRatios(const RatioForm& form);

}  // namespace kestrix::policies
