#pragma once

#include <string>
#include <string_view>

namespace kestrix {

// The two status lines under the rule list: a text, in red or in the
// button-text colour.
enum class LineColour { Red, ButtonText };

struct StatusLine {
    std::string text;
    LineColour colour = LineColour::ButtonText;

    bool operator==(const StatusLine&) const = default;
};

// The captions the two labels carry before the first user is loaded.
inline constexpr std::string_view kExpiresCaption = "This user's account will expire on";
inline constexpr std::string_view kDisabledCaption = "This user's account will be disabled on";

// The stored date texts are shown as they stand, whatever their form.
StatusLine expiryLine(std::string_view expires);
StatusLine disableLine(std::string_view disableOn);
// The line that overrides the disable date while disable_user is 1.
StatusLine disabledLine();

// disable_user read as text (NULL as "0"), taken as the number its leading
// numeric part forms (nothing numeric counts as 0); true when that is 1.
bool disableUserSet(std::string_view disableUser);

}  // namespace kestrix
