#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/stored_dates.h"

class QWidget;

namespace kestrix {

// The connection string the server route opens with before the database
// exists: this computer's login on the named server.
[[nodiscard]] std::string creatingConnectionString(std::string_view server);
// The connection string with its Initial Catalog set to the database (added,
// or put in place of one the string already names).
[[nodiscard]] std::string withInitialCatalog(std::string_view connectionString,
                                             std::string_view database);
[[nodiscard]] std::string sqliteConnectionString(std::string_view path);
// A connection-string value, in double quotes when it would not read back.
[[nodiscard]] std::string connectionValue(std::string_view value);
[[nodiscard]] std::string withoutSpacesAndDashes(std::string_view name);
// One of the default database names, drawn from the wizard's numbers.
[[nodiscard]] std::string defaultDatabaseName();

// True when the file is a database whose users table holds rows.
[[nodiscard]] bool fileHoldsUsers(const std::string& path);

// What the wizard window supplies to the creation besides the shell's boxes.
struct CreationLinks {
    QWidget* owner = nullptr;
    // The connection dialog, filled with the server, for a login the server
    // refused: a complete connection string, or nothing when cancelled.
    std::function<std::optional<std::string>(const std::string& server)> askLogin;
    // A server that does not answer is given up after this long.
    int connectSeconds = 60;
    // Where the save dialog opens.
    std::string startDirectory;
    // Runs a slow database step (the work touches no window), telling which
    // step it is; unset: the work runs at once on the caller's thread.
    std::function<void(const std::string& step, const std::function<void()>& work)> wait;
};

struct CopiedTable {
    std::string table;
    long long rows = 0;
};
struct CopyResult {
    bool ok = false;
    std::string error;
    std::vector<CopiedTable> tables;
    // Account dates copied as they stood: they read two ways, or as none.
    std::vector<UnclearDate> datesLeft;
};

// Copies every row of the user tables from one database into another, in
// one transaction on the target; the source is only read. Account dates an
// earlier version stored in a short form arrive as YYYY-MM-DD.
[[nodiscard]] CopyResult copyUsers(std::string_view from, std::string_view to);

// The wizard's create and select steps, with the messages they show. Each
// returns the connection string for the configuration dialog's field (the
// commit stores it), or nothing when the run ended early (its message shown).
class DatabaseCreation {
  public:
    explicit DatabaseCreation(CreationLinks links) : links_(std::move(links)) {}

    // Page 2's Next: a new database on a server or in a file, the offer to
    // carry the current users over, then Store.
    std::optional<std::string> create(bool onServer);
    // Page 4's Next for a file: an existing database chosen and stored.
    std::optional<std::string> selectExistingFile();

    std::optional<std::string> createOnServer();
    std::optional<std::string> createFile();

  private:
    bool openServer(class Database& db, std::string& connecting);
    void during(const std::string& step, const std::function<void()>& work);
    void offerUserCopy(const std::string& previous, const std::string& created);

    CreationLinks links_;
};

}  // namespace kestrix
