#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kestrix {

enum class Engine { SQLite, PostgreSQL };

// What a connection string names, once parsed.
struct ConnectionTarget {
    Engine engine = Engine::SQLite;
    std::string path;  // SQLite: the database file
    // PostgreSQL: the servers' hosts and ports, in libpq's form: several
    // servers (a replicated cluster) as comma-separated lists of the same
    // length. An empty host means the local socket, an empty port the
    // default one.
    std::string host;
    std::string port;
    // libpq's target_session_attrs: "read-write" when several servers are
    // named, so that only the one that accepts writes (the primary) is used.
    std::string sessionAttributes;
    std::string database;
    std::string user;
    std::string password;
    bool integratedSecurity = false;
};

struct ParsedConnection {
    std::optional<ConnectionTarget> target;
    std::string error;  // why there is no target
};

// The key=value pairs of a ';'-separated connection string: keys trimmed and
// lower-cased, empty pairs ignored, a value in double quotes may hold ';'
// (and "" stands for one double quote inside it).
std::map<std::string, std::string> splitConnectionString(std::string_view text);

// PostgreSQL's servers may be named in the keyed form (Data Source= or
// Server=, "host[:port]" each, comma-separated) or in libpq's (Host=a,b and
// Port=p or Port=p,q; Database=, User=, target_session_attrs=).
ParsedConnection parseConnectionString(std::string_view text);

// The servers of a PostgreSQL target as Data Source names them:
// "host:port", comma-separated.
std::string dataSource(const ConnectionTarget& target);

// Why a connection string cannot serve every program that reads it: no
// known provider, or a SQLite file named by a relative path (which each
// program would look for in its own working directory). Empty when usable.
std::string connectionStringProblem(std::string_view text);

// The text shown in place of a connection string's password.
inline constexpr std::string_view kMaskedPassword = "***";

// The connection string with its password value (Password=, Pwd=) shown as
// "***": for the log, error boxes and the screen.
std::string maskedConnectionString(std::string_view text);

// A connection string edited while shown masked: a password still "***" is
// the one of `original` again.
std::string unmaskedConnectionString(std::string_view edited, std::string_view original);

// How long a database may keep its caller waiting. The program waits for
// its administrator's commands; the plug-in keeps an FTP server waiting and
// takes short limits.
struct TimeLimits {
    int connectSeconds = 5;         // PostgreSQL's connect time-out (2 at least)
    int busySeconds = 5;            // SQLite: waiting for another writer's lock
    int statementMilliseconds = 0;  // PostgreSQL's statement_timeout; 0 none
};

// The connect string SOCI's backend takes for the target. PostgreSQL
// connections send TCP keep-alives, so a server whose host is gone is
// noticed within seconds rather than the system's two hours.
[[nodiscard]] std::string sociConnectString(const ConnectionTarget& target,
                                            const TimeLimits& limits = {});

}  // namespace kestrix
