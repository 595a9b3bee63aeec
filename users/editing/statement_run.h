#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/write_lock.h"
#include "users/editing/prompts.h"

namespace kestrix {
class Database;
}

namespace kestrix::users {

// One step of a write: a log line, then the statement (none for a step that
// only logs).
struct WriteStep {
    std::string log;
    std::string sql;
    // The statement as the activity log may show it (a password masked);
    // empty when sql may be logged as it stands.
    std::string loggedSql = {};
    // The statement must change exactly one row, or the write is undone:
    // an UPDATE of a user that someone else removed matches none.
    bool changesOneRow = false;
    // The same statement with placeholders (:v1, :v2, ...) for its values,
    // and the values. When set, it runs in place of sql, prepared once per
    // connection and bound; sql stays the statement the log shows.
    std::string boundSql = {};
    std::vector<std::optional<std::string>> values = {};
    // When set, the statement is made inside the transaction, under its
    // lock, from what is stored then (no value: the read was refused), in
    // place of sql: for values that someone else may move meanwhile.
    std::function<std::optional<std::string>(Database&)> madeUnderLock = {};
    // When set, a look at what the steps before have made of the rows,
    // under the lock, before this step's statement: false undoes the write.
    std::function<bool(Database&)> goOn = {};
};

// Why a write was undone.
struct WriteFailure {
    std::string description;  // the provider's, without the statement
    bool rowMissing = false;  // a one-row statement matched no row (or several)
    bool changed = false;     // the guarded parts are not as loaded
    bool nameTaken = false;   // the name to be free is stored already
    bool declined = false;    // a step's look under the lock said no
};

// A name a write is about to give a user, which must still be free once
// the write holds its lock (besides: the user being renamed).
struct FreeName {
    std::string name;
    std::string besides;
};

// Runs the steps in one transaction: all of them take effect or none. A
// refused statement is logged (as loggedSql) with the provider's description.
// With a guard, the transaction holds its lock and runs only while the
// guarded parts are as loaded and the free name is free.
[[nodiscard]] std::optional<WriteFailure> runInTransaction(
    Database& db, const std::vector<WriteStep>& steps, const WriteGuard& guard = {},
    const std::optional<FreeName>& free = {});

// Whether a user of that name is stored (the database's own comparison of
// names), other than the user named `besides` when that is given. No value
// when the database could not answer: a failed opening has been reported by
// the opening routine, a refused query here, through the prompts.
[[nodiscard]] std::optional<bool> userNameInUse(const std::string& name, UserPrompts& prompts,
                                                const std::string& besides = {});

// "<what> failed:" and the provider's description, as a refusal.
Message failureMessage(const std::string& what, const std::string& description);

// Passes every box on to the prompts it wraps and keeps the text of the
// last refusal shown (a box with OK alone): the reason the audit trail
// gives for a write that did not happen.
class RefusalCopy final : public UserPrompts {
  public:
    explicit RefusalCopy(UserPrompts& target) : target_(target) {}

    Answer show(const Message& message) override;
    std::optional<std::string> show(const InputRequest& request) override {
        return target_.show(request);
    }

    const std::string& refusal() const { return refusal_; }

  private:
    UserPrompts& target_;
    std::string refusal_;
};

}  // namespace kestrix::users
