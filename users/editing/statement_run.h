#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kestrix {
class Database;
}

namespace kestrix::users {

// One step of a write: a log line, then the statement (none for a step that
// only logs).
struct WriteStep {
    std::string log;
    std::string sql;
};

// Runs the steps in one transaction: all of them take effect or none. False
// with the provider's description when a statement is refused.
bool runInTransaction(Database& db, const std::vector<WriteStep>& steps, std::string* error);

// Whether a user of that name is stored (the database's own comparison of
// names). No value when the database could not be opened.
std::optional<bool> userNameInUse(const std::string& name);

}  // namespace kestrix::users
