#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/address_pattern.h"
#include "core/database.h"
#include "plugin/deadline_watch.h"
#include "plugin/path_rules.h"
#include "plugin/rule_directory_cache.h"

namespace kestrix::plugin {

// The columns of a users row that a question reads on its own.
enum class UserColumn {
    Password,
    LoginMessageFile,
    HideHiddenFiles,
    RelPath,
    RatioType,
    RatioDown,
    RatioUp,
    RatioCredit,
    UseQuota,
    QuotaCurrent,
    QuotaMax,
    AlwaysLogin,
    OneLoginPerIp,
    SpeedLimit,
    Timeout,
    Maintenance,
    SessionTimeout,
    MaxConcurrent,
    MaxLoginsPerIp,
    Expires,
    DisableOn,
};
inline constexpr std::size_t kUserColumnCount = 21;

// Rows of a list read; complete is false when the read failed part way.
template <class Row>
struct ReadList {
    std::vector<Row> rows;
    bool complete = true;
};

// An address list as read, ready to match; complete is false when the read
// failed part way.
struct ReadAddresses {
    AddressList list;
    bool complete = true;
};

// The users row as a login reads it, whole: every column a later event of
// the same login asks about.
struct UserRow {
    std::optional<std::string> name;
    std::optional<std::string> homedir;
    std::optional<std::string> disabled;
    std::array<std::optional<std::string>, kUserColumnCount> columns;
};

// One sign_files row.
struct SignFiles {
    std::optional<std::string> signOn;
    std::optional<std::string> signOff;
};

// One database connection of the plug-in and every statement it runs.
// Statements are prepared on first use and kept for the connection's life.
// When a statement fails because the connection broke, the connection is
// opened again once and the statement repeated. A connection that could not
// be opened is tried again at most once per retry interval; one whose server
// did not answer in time is replaced at the next use. Every wait on the
// database is limited, and an event's waits together stay within its
// deadline, so that an event never keeps the FTP server waiting longer than
// a few seconds. Not thread-safe: one event at a time uses a store.
class PreparedQuery;

class AccountStore {
  public:
    // Short, so that answers return soon after the database does; an
    // attempt on a server that refuses costs next to nothing.
    static constexpr std::chrono::milliseconds kRetryInterval{500};
    // Connecting, waiting for a lock, and a statement on the server.
    static constexpr TimeLimits kTimeLimits{3, 3, 3000};
    // A round trip the server does not answer at all is cut off after this;
    // it is also the whole time an event may wait, its queue included.
    static constexpr std::chrono::milliseconds kRoundTripLimit{4000};
    using Deadline = std::chrono::steady_clock::time_point;
    // How long the row a login read answers the login's later events.
    static constexpr std::chrono::milliseconds kRowLifetime{1000};
    // How long the server-wide lists are kept on PostgreSQL without a
    // notification: an edit by other SQL sends none.
    static constexpr std::chrono::milliseconds kListLifetime{1000};
    // Beyond this many kept rows the store starts again with none.
    static constexpr std::size_t kMaxKeptRows = 1000;

    AccountStore(Clock clock, DeadlineWatch& watch);
    ~AccountStore();
    AccountStore(const AccountStore&) = delete;
    AccountStore& operator=(const AccountStore&) = delete;

    // Keeps the connection string and opens the database. An empty string
    // is no database: the store never becomes ready.
    void start(std::string connectionString);
    // True when the connection is open, after an attempt to open it when
    // it is not and the retry interval has passed since the last attempt.
    [[nodiscard]] bool ready();

    // The time by which the current event must be answered: a statement
    // waits no longer than what is left of it, and none starts after it.
    // Without one, each round trip has kRoundTripLimit.
    void setDeadline(std::optional<Deadline> deadline) { deadline_ = deadline; }

    // Whether a read or write since the last call could not reach the
    // database (no connection, a broken or stalled one, a busy file, the
    // event's time gone): its no-value answer then says nothing about the
    // account. Clears the mark.
    [[nodiscard]] bool takeDatabaseFailure() { return std::exchange(databaseFailed_, false); }

    // Reads of one value; no value for a missing row, a NULL, or a failure.
    // complete, when given, tells a failure from the other two.
    [[nodiscard]] std::optional<std::string> userValue(UserColumn column, std::string_view user,
                                                       bool* complete = nullptr);
    // The sign-on or sign-off file of the address, from the kept list.
    [[nodiscard]] std::optional<std::string> signFile(bool signOn, std::string_view address);

    // The whole row a login read, for its later events once it passes.
    struct KeptLogin;
    // The row a login is checked against: the stored name and password.
    struct LoginRow {
        std::optional<std::string> name;
        std::optional<std::string> password;
        // The account's expiry and disable dates as stored.
        std::optional<std::string> expires;
        std::optional<std::string> disableOn;
        // Carried with the answer rather than kept in the store: the store
        // serves other events while this login's password is hashed.
        std::shared_ptr<const KeptLogin> whole;
    };
    // Reads the whole row; once keepLoginRow is called with it, it answers
    // the reads of that user's single values and home for kRowLifetime: the
    // login's later events.
    [[nodiscard]] std::optional<LoginRow> loginRow(std::string_view user);
    // The row loginRow read belongs to a login that passed.
    void keepLoginRow(const LoginRow& login);

    struct HomeRow {
        std::optional<std::string> homedir;
        std::optional<std::string> disabled;
    };
    [[nodiscard]] std::optional<HomeRow> homeRow(std::string_view user);

    struct QuotaRow {
        std::optional<std::string> current;
        std::optional<std::string> maximum;
    };
    // No value for a missing row or a failure; complete tells them apart.
    [[nodiscard]] std::optional<QuotaRow> quotaRow(std::string_view user, bool* complete = nullptr);

    // The server-wide lists are read once and kept while they are
    // unchanged: on SQLite while the file's data version stays, on
    // PostgreSQL until a notification on kListsChannel or kListLifetime.
    [[nodiscard]] const ReadAddresses& blockedAddresses();
    [[nodiscard]] ReadAddresses blockedAddressesOfUser(std::string_view user);
    [[nodiscard]] const ReadAddresses& listedAddresses();
    [[nodiscard]] ReadList<DirRuleRow> directoryRules(std::string_view user);
    [[nodiscard]] ReadList<FileRuleRow> fileRules(std::string_view user);
    // A dir_rights row while it is read: each column (nullptr for a NULL)
    // is read when first asked for and stays valid during the visit, so a
    // rule whose directory does not cover the path costs one column.
    class DirRuleColumns {
      public:
        DirRuleColumns(const PreparedQuery& query, std::size_t first)
            : query_(query), first_(first) {}
        [[nodiscard]] std::optional<std::string_view> directory() const;
        [[nodiscard]] const std::string* rights() const;
        [[nodiscard]] const std::string* inherit() const;

      private:
        const PreparedQuery& query_;
        std::size_t first_;
    };
    // The directory rules as they are read, without keeping them. A read
    // repeated on a fresh connection calls restart first. False when the
    // read failed part way.
    using DirRuleVisit = std::function<void(const DirRuleColumns& row)>;
    bool visitDirectoryRules(std::string_view user, const std::function<void()>& restart,
                             const DirRuleVisit& visit);
    // The same, with the user's home row read in the same statement: home
    // is called with the first home row, in whatever place it comes.
    using HomeVisit = std::function<void(const HomeRow& row)>;
    bool visitHomeAndDirectoryRules(std::string_view user, const std::function<void()>& restart,
                                    const HomeVisit& home, const DirRuleVisit& visit);
    // The home row a login read within kRowLifetime; no value otherwise.
    [[nodiscard]] std::optional<HomeRow> keptHomeRow(std::string_view user);
    [[nodiscard]] ReadList<std::string> ratioFreeFiles(std::string_view user);

    // Writes, each one statement. True when a row was changed.
    // Changes the password of the rows whose name is exactly storedName
    // (as loginRow gave it), not of every name the collation finds equal.
    [[nodiscard]] bool changePassword(std::string_view storedName, std::string_view password);
    // Replaces the stored password of that row only while it still holds
    // `stored`: of two logins at once, one writes.
    [[nodiscard]] bool replacePassword(std::string_view storedName, std::string_view stored,
                                       std::string_view replacement);
    // The declared width of users.password, read once per connection; no
    // value when it could not be read.
    [[nodiscard]] std::optional<std::size_t> passwordWidth();
    // Adds the amount unless the credit would leave the range of a double:
    // the rows changed, no value when the statement failed.
    [[nodiscard]] std::optional<long long> addCredit(std::string_view user, double amount);
    // Takes the amount off the remaining quota (bytes stored; negative for
    // bytes freed) as applyQuotaAmount does, in the database itself, so
    // that charges at the same moment all count.
    [[nodiscard]] bool chargeQuota(std::string_view user, long long amount);

    // The rule directories this connection's checks have resolved.
    RuleDirectoryCache& ruleDirectories() { return ruleDirectories_; }

  private:
    struct Statements;
    enum class Outcome { Ran, Failed, Broken, Stalled };

    bool open();
    void close();
    bool connectionBroken() const;
    // The SQLite file was locked by another connection past the busy time.
    bool fileBusy(std::string_view failure) const;
    // Runs op (which may throw) on the open connection, repeating it once
    // on a fresh connection when the first run broke the connection.
    template <class Op>
    bool attempt(Op&& op);
    template <class Op>
    Outcome runOnce(Op& op);
    // The first row of a two-column read of one user.
    template <class Row>
    std::optional<Row> firstRow(int query, std::string_view user, bool* complete = nullptr);
    // What is left of the event's deadline for one round trip; none when
    // it has passed.
    std::optional<std::chrono::milliseconds> roundTripLimit() const;
    template <class Row, class MakeRow>
    ReadList<Row> readList(int query, std::string_view parameter, MakeRow&& makeRow);
    ReadAddresses readAddresses(int query, std::string_view parameter);
    // The stored name and password alone.
    std::optional<LoginRow> passwordRow(std::string_view user);
    // The row a login read, while it may still answer; nullptr otherwise.
    const UserRow* keptRow(std::string_view user);
    // Forgets the kept rows: this connection changed one.
    void forgetRows();
    // Drops the kept lists when they may have changed since they were read.
    void checkLists();
    void forgetLists();
    // Starts the lists' lifetime at the first list read after they were
    // forgotten.
    void listsRead();

    // The server-wide lists as last read, with when they were read.
    struct Lists {
        std::optional<ReadAddresses> blocked;
        std::optional<ReadAddresses> listed;
        std::optional<std::unordered_map<std::string, SignFiles>> signFiles;
        std::optional<std::chrono::steady_clock::time_point> readAt;
        std::optional<long long> dataVersion;
    };
    struct KeptRow {
        UserRow row;
        std::chrono::steady_clock::time_point readAt;
    };

  public:
    struct KeptLogin {
        std::string key;
        KeptRow kept;
        // forgetRows has run this many times before the read.
        unsigned long long forgotten;
    };

  private:
    Clock clock_;
    DeadlineWatch& watch_;
    std::string connectionString_;
    std::optional<std::chrono::steady_clock::time_point> lastAttempt_;
    std::optional<Deadline> deadline_;
    // The busy time the SQLite connection has now.
    std::chrono::milliseconds sqliteBusy_{0};
    Database db_;
    std::unique_ptr<Statements> statements_;
    RuleDirectoryCache ruleDirectories_;
    std::unordered_map<std::string, KeptRow> rows_;
    unsigned long long rowsForgotten_ = 0;
    Lists lists_;
    // LISTEN has been sent on this connection.
    bool listening_ = false;
    bool databaseFailed_ = false;
};

}  // namespace kestrix::plugin
