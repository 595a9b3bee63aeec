#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/rights.h"

namespace kestrix::users {

// What an FTP client may be asked about, each as the FTP server asks the
// plug-in: login, listing, download, upload, append, delete, rename, and
// making and removing directories.
enum class CheckAction { Login, List, Download, Upload, Append, Delete, Rename, Mkdir, Rmdir };

// The path as the FTP server presents it to the plug-in: resolved as the
// kernel resolves it (every link followed where it stands, so ".." after a
// link climbs from the link's target), with no doubled or trailing "/".
// Names below the first one that does not exist are kept as written; a ".."
// among them is kept too, as such a path names nothing the server serves.
std::string presentedPath(std::string_view path);

// The actions by their command-line names, in menu order.
const std::vector<std::string_view>& checkActionNames();
std::optional<CheckAction> parseCheckAction(std::string_view name);
std::string_view checkActionName(CheckAction action);

// What decided an answer.
enum class Decider {
    DatabaseUnavailable,  // the plug-in would refuse everything
    ServerAddressList,    // the server-wide blocked addresses
    UserAddressList,      // the user's (or everyone's) blocked addresses
    UserMissing,
    UserDisabled,
    NoUsableHome,       // none, or not a full path
    NotFullPath,        // the path asked about
    DestinationExists,  // a rename onto a name that is taken
    DirectoryRule,
    FileRule,
    HomeDirectory,  // at or below the home directory, no rule applied
    NoRule,         // outside the home directory, no rule applied
    LoginPassed,
};

// The decider as a short word, for scripts.
std::string_view deciderName(Decider decider);

struct AccessAnswer {
    bool allowed = false;
    Decider decider = Decider::DatabaseUnavailable;
    // The deciding directory rule: its place in the user's rules as listed
    // (0-based), and the rule itself; -1 when no rule decided.
    int rule = -1;
    DirRule ruleShown;
    char letter = 0;          // the right asked, 0 for login
    std::string explanation;  // one sentence for the administrator
    // Every directory rule that applied to the path asked about, in order
    // (the last of them decided unless a file rule or the address did).
    struct MatchedRule {
        int place = 0;  // 0-based, as listed
        DirRule rule;
    };
    std::vector<MatchedRule> matched;
};

// What keeps a question from being asked at all: a path or a new name that
// is missing or not a full path. No value when the question can be asked.
std::optional<std::string> questionMistake(CheckAction action, const std::string& path,
                                           const std::string& newPath);

// Answers as the FTP server would: it puts the questions the server puts
// for the command, on the paths the server presents, to the plug-in's own
// decision code on its own reads of the database, and tells why.
class AccessExplainer {
  public:
    explicit AccessExplainer(const std::string& connectionString);
    ~AccessExplainer();
    AccessExplainer(const AccessExplainer&) = delete;
    AccessExplainer& operator=(const AccessExplainer&) = delete;

    // address: the client's address; empty leaves the address lists out.
    // newPath: the new name, for a rename. The paths are full paths as the
    // client names them; they are asked about as the FTP server presents
    // them. The password is not asked: the answer is the one a client that
    // gave the right one would get.
    AccessAnswer explain(const std::string& user, CheckAction action, const std::string& path,
                         const std::string& address, const std::string& newPath = {});

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kestrix::users
