#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/connection_string.h"

namespace kestrix::bench {

// The same SELECTs the plug-in runs, straight through the engine's own C
// API (sqlite3_step, PQexecPrepared): the floor the plug-in is measured
// against. Statements are prepared once; a parameter is bound as text.
class NativeFloor {
  public:
    virtual ~NativeFloor() = default;
    // sql names its one parameter, if any, as :u, or several as :v1, :v2...
    virtual int prepare(const std::string& sql) = 0;
    // Runs a statement, reads every column of the first row (firstOnly) or
    // of every row, and returns the number of rows read.
    virtual int run(int statement, const std::string& parameter, bool firstOnly) = 0;
    // The same with every row read and as many text values as it names.
    virtual int run(int statement, const std::vector<std::string>& values) = 0;
    // A statement without values or rows (BEGIN, COMMIT).
    virtual void execute(const std::string& sql) = 0;
};

std::unique_ptr<NativeFloor> openSqliteFloor(const std::string& path);
std::unique_ptr<NativeFloor> openPostgresFloor(const std::string& conninfo);

}  // namespace kestrix::bench
