#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "core/connection_string.h"

namespace kestrix::test {

// A temporary directory, removed with everything in it at the end.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// Points KESTRIX_REGISTRY at a fresh, empty settings store for its lifetime.
class ScopedRegistry {
  public:
    ScopedRegistry();
    ~ScopedRegistry();
    const std::filesystem::path& root() const { return dir_.path(); }

  private:
    TempDir dir_;
    std::string previous_;
    bool hadPrevious_ = false;
};

// Runs the action, in this process and on this thread, while the directory
// and everything below it is read-only: for root (whom permission bits do not
// bind) through a read-only bind mount that only this thread and the threads
// it starts see, for anyone else through the permission bits, which are given
// back afterwards. Returns the action's text, or a text starting with "!"
// when the directory could not be made read-only. No child process: a fork of
// a process with Qt's threads can block on a lock one of them held.
std::string inReadOnlyDirectory(const std::filesystem::path& dir,
                                const std::function<std::string()>& action);

// The system's reason for a write refused there.
std::string readOnlyReason();

// The PostgreSQL server that the test run started (tools/pgtest). Throws
// std::runtime_error when there is none: PostgreSQL tests fail, never skip.
struct PgServer {
    std::string host;
    std::string port;
    std::string socketDir;
    std::string dataDir;
    std::string binDir;
};
const PgServer& pgServer();

// A database of its own for one test: a SQLite file or a PostgreSQL
// database, with the user tables or empty, gone at the end.
class ScratchDatabase {
  public:
    virtual ~ScratchDatabase() = default;
    virtual Engine engine() const = 0;
    virtual std::string connectionString() const = 0;
};

std::unique_ptr<ScratchDatabase> makeScratchDatabase(Engine engine, bool withSchema = true);

// "SQLite" or "Postgres", for test names.
std::string engineName(Engine engine);

}  // namespace kestrix::test

namespace kestrix {
// Lets gtest print an engine parameter by name.
inline void PrintTo(Engine engine, std::ostream* out) {
    *out << test::engineName(engine);
}
}  // namespace kestrix
