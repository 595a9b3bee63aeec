#pragma once

#include <functional>
#include <string>

#include "core/database.h"

namespace kestrix {

class ConfigureWindow;

inline constexpr const char* kOpenFailureQuestion =
    "There was an error connecting to the database. The list below contains possible "
    "cause:\r\n\r\n"
    "    \u00b7 Connection string has an incorrect path\r\n"
    "    \u00b7 The database is locked\r\n"
    "    \u00b7 You do not have rights\r\n"
    "    \u00b7 The connection might be slow\r\n\r\n"
    "Would you like to verify your connection string settings now?\r\n";

// The question with what actually went wrong, after the list of causes.
std::string openFailureQuestion(const std::string& cause);

inline constexpr const char* kCriticalCaption = "Kestrix CRITICAL ERROR";
inline constexpr const char* kCriticalText =
    "We could not connect to the database specified. \r\nTo reconfigure the program settings, "
    "please run Kestrix again.\r\n\r\nKestrix will now close. ";

// The interactive failure of a database opening: asks whether to check the
// connection string. Yes opens the configuration dialog marked "CDB" and
// waits until a commit clears the mark; No ends the program.
class OpenFailureDialogue final : public OpenFailureHandler {
  public:
    OpenFailureDialogue(std::function<ConfigureWindow&()> configureWindow,
                        std::function<void()> endForUnreachableDatabase);

    void interactiveOpenFailed(const std::string& description) override;

  private:
    std::function<ConfigureWindow&()> configureWindow_;
    std::function<void()> endForUnreachableDatabase_;
    // The question or the dialog it opens is showing.
    bool active_ = false;
};

}  // namespace kestrix
