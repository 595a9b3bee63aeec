#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/connection_string.h"
#include "plugin/client_event.h"

namespace kestrix::bench {

// The data both the plug-in and the floor read: a user for the login and
// single reads, and users with 1, 100 and 1,000 directory rules on
// directories that exist (the rights checks resolve them on disk).
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

  private:
    void fill();

    Engine engine_;
    std::filesystem::path dir_;
    std::string file_;
    std::string database_;
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
