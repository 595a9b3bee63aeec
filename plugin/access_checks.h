#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrix::plugin {

class AccountStore;

// What decided an access answer, for explaining it: the places of the last
// applying directory and file rules in the rows read, -1 for none.
struct AccessTrace {
    int directoryRule = -1;
    int fileRule = -1;
};

// The questions answered from a user's home directory and access rules.
class AccessChecks {
  public:
    explicit AccessChecks(AccountStore& store) : store_(store) {}

    // The user's home directory; no value when the user is missing, has
    // none, or is disabled.
    [[nodiscard]] std::optional<std::string> homeDirectory(std::string_view user);

    // May the user act on the directory (letters L, D, C)?
    [[nodiscard]] bool directoryCheck(std::string_view user, std::string_view path, char letter,
                                      AccessTrace* trace = nullptr);
    // May the user act on the file (letters R, W, A, M)?
    [[nodiscard]] bool fileCheck(std::string_view user, std::string_view path, char letter,
                                 AccessTrace* trace = nullptr);
    // Is the file free of the user's ratio?
    [[nodiscard]] bool ratioFree(std::string_view user, std::string_view path);

  private:
    // The home directory's answer for the normalised target, overwritten by
    // every directory rule that covers it (a file: its directory); no value
    // when the user has no home to answer from.
    std::optional<bool> directoryCheckFrom(std::string_view user,
                                           const std::optional<std::string>& target, bool isFile,
                                           char letter, AccessTrace* trace);

    AccountStore& store_;
};

}  // namespace kestrix::plugin
