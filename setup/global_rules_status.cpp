#include "setup/global_rules_status.h"

#include "core/database.h"

namespace kestrix {

std::optional<std::string> globalRulesCaption(std::string* failure) {
    Database db;
    if (!openDatabase(db, 1)) return std::nullopt;
    std::string lastIp;
    std::string error;
    if (auto rows = db.query("select ip from blocked_ips")) {
        for (; !rows->eof(); rows->moveNext())
            lastIp = rows->text("ip");
        error = rows->error();
    } else {
        error = db.lastError();
    }
    closeDatabase(db);
    if (!error.empty()) {
        if (failure != nullptr) *failure = error;
        return std::nullopt;
    }
    if (!lastIp.empty())
        return "Access rules exist. Click Modify IP Rules button for more information.";
    // Unlike the designer caption, this one has no final full stop.
    return "No IP rules are set. Server is available to everyone";
}

}  // namespace kestrix
