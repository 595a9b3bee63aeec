#include "bench/native_floor.h"

#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <stdexcept>
#include <vector>

namespace kestrix::bench {

namespace {

class SqliteFloor final : public NativeFloor {
  public:
    explicit SqliteFloor(const std::string& path) {
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            throw std::runtime_error("sqlite3_open_v2 failed: " + path);
    }
    ~SqliteFloor() override {
        for (sqlite3_stmt* statement : statements_)
            sqlite3_finalize(statement);
        sqlite3_close(db_);
    }

    int prepare(const std::string& sql) override {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
            throw std::runtime_error(std::string("prepare: ") + sqlite3_errmsg(db_));
        statements_.push_back(statement);
        return static_cast<int>(statements_.size()) - 1;
    }

    int run(int index, const std::string& parameter, bool firstOnly) override {
        sqlite3_stmt* statement = statements_[static_cast<std::size_t>(index)];
        if (sqlite3_bind_parameter_count(statement) > 0) {
            sqlite3_bind_text(statement, 1, parameter.data(), static_cast<int>(parameter.size()),
                              SQLITE_STATIC);
        }
        return step(statement, firstOnly);
    }

    int run(int index, const std::vector<std::string>& values) override {
        sqlite3_stmt* statement = statements_[static_cast<std::size_t>(index)];
        for (std::size_t i = 0; i < values.size(); ++i) {
            sqlite3_bind_text(statement, static_cast<int>(i) + 1, values[i].data(),
                              static_cast<int>(values[i].size()), SQLITE_STATIC);
        }
        return step(statement, false);
    }

    void execute(const std::string& sql) override {
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
            throw std::runtime_error(sql + ": " + sqlite3_errmsg(db_));
    }

  private:
    int step(sqlite3_stmt* statement, bool firstOnly) {
        int rows = 0;
        const int columns = sqlite3_column_count(statement);
        while (sqlite3_step(statement) == SQLITE_ROW) {
            ++rows;
            for (int c = 0; c < columns; ++c)
                benchmark::DoNotOptimize(sqlite3_column_text(statement, c));
            if (firstOnly) break;
        }
        if (sqlite3_reset(statement) != SQLITE_OK)
            throw std::runtime_error(std::string("step: ") + sqlite3_errmsg(db_));
        return rows;
    }

    sqlite3* db_ = nullptr;
    std::vector<sqlite3_stmt*> statements_;
};

class PostgresFloor final : public NativeFloor {
  public:
    explicit PostgresFloor(const std::string& conninfo) : conn_(PQconnectdb(conninfo.c_str())) {
        if (PQstatus(conn_) != CONNECTION_OK)
            throw std::runtime_error(std::string("PQconnectdb: ") + PQerrorMessage(conn_));
    }
    ~PostgresFloor() override { PQfinish(conn_); }

    int prepare(const std::string& sql) override {
        std::string text = sql;
        int count = 0;
        if (const auto at = text.find(":u"); at != std::string::npos) {
            text.replace(at, 2, "$1");
            count = 1;
        }
        for (std::size_t at = text.find(":v"); at != std::string::npos; at = text.find(":v")) {
            text.replace(at, 2, "$");
            ++count;
        }
        const std::string name = "floor" + std::to_string(names_.size());
        PGresult* result = PQprepare(conn_, name.c_str(), text.c_str(), count, nullptr);
        const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
        PQclear(result);
        if (!ok) throw std::runtime_error(std::string("PQprepare: ") + PQerrorMessage(conn_));
        names_.push_back(name);
        parameters_.push_back(count);
        return static_cast<int>(names_.size()) - 1;
    }

    int run(int index, const std::string& parameter, bool firstOnly) override {
        const auto i = static_cast<std::size_t>(index);
        const char* values[1] = {parameter.c_str()};
        PGresult* result =
            PQexecPrepared(conn_, names_[i].c_str(), parameters_[i], values, nullptr, nullptr, 0);
        if (PQresultStatus(result) != PGRES_TUPLES_OK) {
            PQclear(result);
            return -1;
        }
        return readAndClear(result, firstOnly);
    }

    int run(int index, const std::vector<std::string>& values) override {
        const auto i = static_cast<std::size_t>(index);
        std::vector<const char*> texts;
        for (const std::string& value : values)
            texts.push_back(value.c_str());
        PGresult* result = PQexecPrepared(conn_, names_[i].c_str(), parameters_[i], texts.data(),
                                          nullptr, nullptr, 0);
        const ExecStatusType status = PQresultStatus(result);
        if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
            PQclear(result);
            throw std::runtime_error(std::string("PQexecPrepared: ") + PQerrorMessage(conn_));
        }
        return readAndClear(result, false);
    }

    void execute(const std::string& sql) override {
        PGresult* result = PQexec(conn_, sql.c_str());
        const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
        PQclear(result);
        if (!ok) throw std::runtime_error(sql + ": " + PQerrorMessage(conn_));
    }

  private:
    // Touches every column of the rows (the first only), then frees them.
    static int readAndClear(PGresult* result, bool firstOnly) {
        int rows = PQntuples(result);
        if (firstOnly && rows > 1) rows = 1;
        const int columns = PQnfields(result);
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < columns; ++c)
                benchmark::DoNotOptimize(PQgetvalue(result, r, c));
        }
        PQclear(result);
        return rows;
    }

    PGconn* conn_;
    std::vector<std::string> names_;
    std::vector<int> parameters_;
};

}  // namespace

std::unique_ptr<NativeFloor> openSqliteFloor(const std::string& path) {
    return std::make_unique<SqliteFloor>(path);
}

std::unique_ptr<NativeFloor> openPostgresFloor(const std::string& conninfo) {
    return std::make_unique<PostgresFloor>(conninfo);
}

}  // namespace kestrix::bench
