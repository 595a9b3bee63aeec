#include "users/status_lines.h"

#include <string>

#include "core/short_date.h"
#include "core/text_routines.h"

namespace kestrix {

StatusLine expiryLine(std::string_view expires) {
    if (!expires.empty())
        return {"This user's account will expire on " + shownDateText(expires), LineColour::Red};
    return {"This account is not set to expire. Click Here to set date.", LineColour::ButtonText};
}

StatusLine disableLine(std::string_view disableOn) {
    if (!disableOn.empty()) {
        return {"This user's account has been set to disable on " + shownDateText(disableOn),
                LineColour::Red};
    }
    return {"This account is not set to be disabled. Click Here to set date.",
            LineColour::ButtonText};
}

StatusLine disabledLine() {
    return {"This user's account has been disabled", LineColour::Red};
}

bool disableUserSet(std::string_view disableUser) {
    return leadingNumber(disableUser) == 1.0;
}

}  // namespace kestrix
