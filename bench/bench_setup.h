#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/connection_string.h"
#include "plugin/client_event.h"

namespace kestrix::bench {

// The data both the program or plug-in and the floor read: 100,000
// neighbours with a directory rule, a file rule and a blocked address each;
// a user for the login and single reads; and users with 1, 100 and 1,000
// directory rules on directories that exist (the rights checks resolve them
// on disk): 100,005 users (userCount) and 301,102 rows in the per-user
// tables.
class BenchDatabase {
  public:
    BenchDatabase(Engine engine, const std::filesystem::path& workDir);
    ~BenchDatabase();

    std::string connectionString() const;
    // SQLite: the file. PostgreSQL: a libpq conninfo.
    std::string nativeTarget() const;
    // The directory a user with that many rules checks (the first rule's).
    std::string checkedDirectory(int rules) const;

    static const std::vector<int>& ruleCounts();
    static constexpr int kNeighbours = 100000;
    // Every user the set-up stores: the neighbours, the login user, the
    // cheap user and the users with rules.
    static int userCount() { return kNeighbours + 2 + static_cast<int>(ruleCounts().size()); }
    // That count as the rows' names give it: "100,005".
    static std::string userCountText();
    // The name of neighbour i (0 to kNeighbours - 1), in name order.
    static std::string neighbourName(int i);
    // The directory that holds the users' own directories.
    const std::filesystem::path& directory() const { return dir_; }
    // The password of the login user and the users with rules, and its
    // stored yescrypt hash (as the program stores it).
    static constexpr const char* kPassword = "secret";
    const std::string& passwordHash() const { return passwordHash_; }
    // The user whose password is stored in a cheap form (MD5-crypt), for
    // measuring a login apart from the cost of a slow hash, and that form.
    static constexpr const char* kCheapUser = "cheapuser";
    const std::string& cheapPasswordHash() const { return cheapPasswordHash_; }

  private:
    void fill();

    Engine engine_;
    std::filesystem::path dir_;
    std::string file_;
    std::string database_;
    std::string passwordHash_;
    std::string cheapPasswordHash_;
};

// The built Quellin.so, loaded from its own copy so that each engine's
// instance reads its own connection string at its first event.
class LoadedLibrary {
  public:
    // Loads the library and sends it a first event with KESTRIX_REGISTRY
    // pointing at a store that holds the connection string.
    LoadedLibrary(const std::filesystem::path& workDir, const std::string& connectionString);
    ~LoadedLibrary();
    int operator()(ClientEvent* event) const { return entry_(event); }

  private:
    void* handle_ = nullptr;
    int (*entry_)(ClientEvent*) = nullptr;
};

// The PostgreSQL server the run script started (KESTRIX_PG_ENV).
struct PgServerAddress {
    std::string host;
    std::string port;
};
PgServerAddress pgServerFromEnvironment();

}  // namespace kestrix::bench
