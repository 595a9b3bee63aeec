// The migration utility's run on an account file of 60,000 users, on SQLite
// and PostgreSQL, beside its floor: the same rows written through the
// engine's own C API in one transaction (SQLite: one prepared INSERT per
// row; PostgreSQL: COPY, its fastest way in). Each iteration starts from an
// empty database. Run through bench/run.
#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <soci/postgresql/soci-postgresql.h>
#include <soci/soci.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_report.h"
#include "bench/bench_setup.h"
#include "core/database.h"
#include "core/pg_native.h"
#include "core/schema.h"
#include "maintenance/migration/account_writer.h"
#include "maintenance/migration/migration_run.h"

namespace kestrix::bench {
namespace {

namespace fs = std::filesystem;
using migration::AccountPlan;
using migration::MigratedUser;

constexpr int kUsers = 60000;

// The domain form as the server writes it: CR LF, a salted MD5 password,
// a home, limits, a note, two directory rules and a blocked address each.
std::string accountFile() {
    std::string text =
        "[GLOBAL]\r\nVersion=6.4.0.6\r\n[DOMAINS]\r\n"
        "Domain1=0.0.0.0||21|Main site|1|0|0\r\n[Domain1]\r\n";
    char name[16];
    for (int i = 0; i < kUsers; ++i) {
        std::snprintf(name, sizeof name, "user%05d", i);
        text += "User" + std::to_string(i + 1) + "=" + name + "|1|0\r\n";
    }
    for (int i = 0; i < kUsers; ++i) {
        std::snprintf(name, sizeof name, "user%05d", i);
        const std::string home = std::string("/srv/ftp/") + name;
        text += std::string("[USER=") + name + "|1]\r\n" +
                "Password=cb8EA58F0751BAA5AF391253F7DADD3D46\r\nHomeDir=" + home +
                "\r\nRelPaths=1\r\nMaxNrUsers=2\r\nTimeOut=600\r\nDiskQuota=1|104857600|" +
                std::to_string(i) + "\r\nNote1=\"account " + std::to_string(i) +
                "\"\r\nAccess1=" + home + "|RWAMLCDP\r\nAccess2=" + home + "/pub|RLP\r\n" +
                "IPAccess1=D|10." + std::to_string(i / 65536) + "." +
                std::to_string(i / 256 % 256) + "." + std::to_string(i % 256) + "\r\n";
    }
    return text;
}

using Row = std::vector<std::optional<std::string>>;

struct Table {
    std::string name;
    std::vector<std::string> columns;
    std::vector<Row> rows;
};

std::string n(long long value) {
    return std::to_string(value);
}

// The rows the utility writes for the plan, as the floor writes them.
std::vector<Table> rowsOf(const AccountPlan& plan, bool domains) {
    Table users{"users",
                {"username", "homedir", "login_msg_file", "password", "hide_hidden_files",
                 "rel_path", "use_quota", "quota_max", "quota_current", "always_login",
                 "one_login_per_ip", "speed_limit_value", "timeout", "session_timeout",
                 "max_concurrent", "max_logins_per_ip", "disable_user", "comments"},
                {}};
    if (domains) users.columns.push_back("domainID");
    Table rules{"dir_rights", {"username", "directory", "dir_rights", "inherit_subdirs"}, {}};
    Table blocked{"blocked_ips_by_user", {"username", "ip"}, {}};
    for (const MigratedUser& u : plan.users) {
        Row row{u.name,
                u.homedir,
                u.loginMessageFile,
                u.password,
                n(u.hideHiddenFiles),
                n(u.relPath),
                n(u.useQuota),
                n(static_cast<long long>(u.quotaMax.value_or(0))),
                n(static_cast<long long>(u.quotaCurrent)),
                n(u.alwaysLogin),
                n(0),
                u.speedLimitKbps,
                n(u.timeoutMinutes),
                n(u.sessionTimeoutMinutes),
                n(u.maxConcurrent),
                n(u.maxLoginsPerIp),
                n(u.disabled),
                u.comments};
        if (domains) row.push_back(n(*u.domainNumber));
        users.rows.push_back(std::move(row));
        for (const auto& rule : u.rules)
            rules.rows.push_back({u.name, rule.directory, rule.rights, n(rule.inheritSubdirs)});
        for (const auto& ip : u.blockedIps)
            blocked.rows.push_back({u.name, ip});
    }
    std::vector<Table> tables{std::move(users), std::move(rules), std::move(blocked)};
    if (domains) {
        Table domainRows{"domains",
                         {"DOMAINIDENTITY", "IPADDRESS", "IMPERCEPTUS", "PORT", "DOMAINNAME",
                          "DOMAINID", "NUSQUAM"},
                         {}};
        for (const auto& d : plan.domains)
            domainRows.rows.push_back(
                {d.identity, d.address, d.second, d.port, d.name, n(d.number), d.rest});
        Table members{"domainDetails",
                      {"DOMAINIDENTITY", "USERIDENTITY", "USERNAME", "DOMAINID", "NUSQUAM"},
                      {}};
        for (const auto& m : plan.members)
            members.rows.push_back(
                {m.domainIdentity, m.userIdentity, m.userName, n(m.domainNumber), m.flags});
        tables.push_back(std::move(domainRows));
        tables.push_back(std::move(members));
    }
    return tables;
}

void sqliteFloor(const std::string& path, const std::vector<Table>& tables) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        throw std::runtime_error("sqlite3_open_v2 failed: " + path);
    const auto exec = [&](const char* sql) {
        if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            throw std::runtime_error(std::string(sql) + ": " + sqlite3_errmsg(db));
    };
    exec("BEGIN");
    for (const Table& table : tables) {
        std::string sql = "INSERT INTO " + table.name + " (";
        std::string places;
        for (std::size_t c = 0; c < table.columns.size(); ++c) {
            sql += (c ? ", " : "") + table.columns[c];
            places += c ? ", ?" : "?";
        }
        sql += ") VALUES (" + places + ")";
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
            throw std::runtime_error(std::string("prepare: ") + sqlite3_errmsg(db));
        for (const Row& row : table.rows) {
            for (std::size_t c = 0; c < row.size(); ++c) {
                const int place = static_cast<int>(c) + 1;
                if (row[c])
                    sqlite3_bind_text(statement, place, row[c]->data(),
                                      static_cast<int>(row[c]->size()), SQLITE_STATIC);
                else
                    sqlite3_bind_null(statement, place);
            }
            if (sqlite3_step(statement) != SQLITE_DONE)
                throw std::runtime_error(std::string("step: ") + sqlite3_errmsg(db));
            sqlite3_reset(statement);
        }
        sqlite3_finalize(statement);
    }
    exec("COMMIT");
    sqlite3_close(db);
}

void postgresFloor(const std::string& conninfo, const std::vector<Table>& tables) {
    PGconn* conn = PQconnectdb(conninfo.c_str());
    if (PQstatus(conn) != CONNECTION_OK) {
        const std::string error = PQerrorMessage(conn);
        PQfinish(conn);
        throw std::runtime_error("PQconnectdb: " + error);
    }
    const auto exec = [&](const std::string& sql, ExecStatusType wanted) {
        PGresult* result = PQexec(conn, sql.c_str());
        const bool ok = PQresultStatus(result) == wanted;
        PQclear(result);
        if (!ok) throw std::runtime_error(sql.substr(0, 80) + ": " + PQerrorMessage(conn));
    };
    exec("BEGIN", PGRES_COMMAND_OK);
    std::string buffer;
    for (const Table& table : tables) {
        std::string sql = "COPY " + table.name + " (";
        for (std::size_t c = 0; c < table.columns.size(); ++c)
            sql += (c ? ", " : "") + table.columns[c];
        exec(sql + ") FROM STDIN", PGRES_COPY_IN);
        for (const Row& row : table.rows) {
            for (std::size_t c = 0; c < row.size(); ++c) {
                if (c) buffer += '\t';
                pg::appendCopyValue(buffer, row[c]);
            }
            buffer += '\n';
            if (buffer.size() > 65536) {
                PQputCopyData(conn, buffer.data(), static_cast<int>(buffer.size()));
                buffer.clear();
            }
        }
        if (!buffer.empty()) PQputCopyData(conn, buffer.data(), static_cast<int>(buffer.size()));
        buffer.clear();
        PQputCopyEnd(conn, nullptr);
        PGresult* result = PQgetResult(conn);
        const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
        PQclear(result);
        while ((result = PQgetResult(conn)) != nullptr)
            PQclear(result);
        if (!ok) throw std::runtime_error("COPY " + table.name + ": " + PQerrorMessage(conn));
    }
    exec("COMMIT", PGRES_COMMAND_OK);
    PQfinish(conn);
}

// One engine's empty database, emptied again before each iteration.
class EmptyDatabase {
  public:
    EmptyDatabase(Engine engine, const fs::path& work) : engine_(engine) {
        if (engine == Engine::SQLite) {
            file_ = (work / "migration.db").string();
        } else {
            name_ = "kx_migration_bench_" + std::to_string(::getpid());
            soci::session admin(*soci::factory_postgresql(), admin_ + "postgres");
            for (const auto& statement :
                 dialectFor(Engine::PostgreSQL).createDatabaseStatements(name_))
                admin << statement;
            Database db;
            if (!db.open(connectionString()) || !createSchema(db))
                throw std::runtime_error(db.lastError());
        }
    }
    ~EmptyDatabase() {
        if (engine_ != Engine::PostgreSQL) return;
        try {
            soci::session admin(*soci::factory_postgresql(), admin_ + "postgres");
            admin << "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)";
        } catch (const std::exception&) {
            // The server goes away with the run.
        }
    }

    void empty() {
        if (engine_ == Engine::SQLite) {
            std::error_code ignored;
            fs::remove(file_, ignored);
            std::string error;
            if (!createSqliteDatabaseFile(file_, &error)) throw std::runtime_error(error);
            return;
        }
        Database db;
        if (!db.open(connectionString()) ||
            !db.execute("truncate users, dir_rights, blocked_ips_by_user"))
            throw std::runtime_error(db.lastError());
    }

    long long users() {
        Database db;
        long long count = -1;
        if (!db.open(connectionString()) ||
            !db.readColumn("select count(*) from users", {}, [&](Database::ValueView v) {
                count = v ? std::stoll(std::string(*v)) : -1;
            }))
            throw std::runtime_error(db.lastError());
        return count;
    }

    std::string connectionString() const {
        if (engine_ == Engine::SQLite) return "Provider=SQLite;Data Source=" + file_;
        const PgServerAddress server = pgServerFromEnvironment();
        return "Provider=PostgreSQL;Data Source=" + server.host + ":" + server.port +
               ";Initial Catalog=" + name_ + ";User ID=postgres";
    }
    std::string nativeTarget() const { return engine_ == Engine::SQLite ? file_ : admin_ + name_; }

  private:
    Engine engine_;
    std::string file_;
    std::string name_;
    std::string admin_ = [] {
        const PgServerAddress server = pgServerFromEnvironment();
        return "host=" + server.host + " port=" + server.port + " user=postgres dbname=";
    }();
};

std::vector<Pair> gPairs;

struct EngineRun {
    Engine engine;
    std::string name;
    std::unique_ptr<EmptyDatabase> database;
    std::vector<Table> floorRows;
};

void registerMigration(EngineRun& run, const std::string& file) {
    const std::string label = "migration of 60,000 users";
    const std::string name = run.name + "/utility/" + label;
    const std::string floorName = run.name + "/floor/" + label;
    // The whole run as the utility does it: the file read and understood,
    // the database opened, the rows written and committed, the report made.
    benchmark::RegisterBenchmark(name.c_str(), [&run, file](benchmark::State& state) {
        for (auto _ : state) {
            state.PauseTiming();
            run.database->empty();
            state.ResumeTiming();
            const migration::MigrationResult result = migration::writePlan(
                {run.database->connectionString(), file}, migration::loadAccounts(file), true);
            benchmark::DoNotOptimize(migration::reportText(result).size());
            if (result.outcome.written.size() != kUsers) {
                state.SkipWithError(
                    ("not written: " + result.problem + result.outcome.failure).c_str());
                break;
            }
        }
    })->UseRealTime();
    benchmark::RegisterBenchmark(floorName.c_str(), [&run](benchmark::State& state) {
        for (auto _ : state) {
            state.PauseTiming();
            run.database->empty();
            state.ResumeTiming();
            if (run.engine == Engine::SQLite)
                sqliteFloor(run.database->nativeTarget(), run.floorRows);
            else
                postgresFloor(run.database->nativeTarget(), run.floorRows);
        }
        if (run.database->users() != kUsers) state.SkipWithError("the floor wrote too few users");
    })->UseRealTime();
    gPairs.push_back({run.name + " " + label, name, floorName, 1});
}

}  // namespace
}  // namespace kestrix::bench

int main(int argc, char** argv) {
    using namespace kestrix::bench;
    benchmark::Initialize(&argc, argv);
    return runBenchmarks(
        "migration_bench",
        [](const fs::path& work) {
            const std::string file = (work / "ServUDaemon.ini").string();
            std::ofstream(file, std::ios::binary) << accountFile();
            const AccountPlan plan = kestrix::migration::loadAccounts(file).plan;
            auto runs = std::make_shared<std::vector<std::unique_ptr<EngineRun>>>();
            for (auto engine : {kestrix::Engine::SQLite, kestrix::Engine::PostgreSQL}) {
                auto run = std::make_unique<EngineRun>();
                run->engine = engine;
                run->name = engine == kestrix::Engine::SQLite ? "SQLite" : "Postgres";
                run->database = std::make_unique<EmptyDatabase>(engine, work);
                // The PostgreSQL tables have no domain columns: the utility
                // leaves the domains out there, and so does the floor.
                run->floorRows = rowsOf(plan, engine == kestrix::Engine::SQLite);
                registerMigration(*run, file);
                runs->push_back(std::move(run));
            }
            return std::shared_ptr<void>(runs);
        },
        gPairs, "run");
}
