#include "bench/bench_setup.h"

#include <crypt.h>

#include <dlfcn.h>
#include <soci/postgresql/soci-postgresql.h>
#include <soci/soci.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <stdexcept>

#include "core/database.h"
#include "core/password_hash.h"
#include "core/schema.h"
#include "core/settings_store.h"
#include "core/sql_literal.h"

namespace kestrix::bench {

namespace fs = std::filesystem;

PgServerAddress pgServerFromEnvironment() {
    const char* file = std::getenv("KESTRIX_PG_ENV");
    if (file == nullptr)
        throw std::runtime_error("KESTRIX_PG_ENV is not set: run the benchmark through bench/run");
    std::ifstream in(file);
    std::map<std::string, std::string> values;
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    if (values["KESTRIX_PG_PORT"].empty())
        throw std::runtime_error(std::string("no PostgreSQL server described in ") + file);
    return {values["KESTRIX_PG_HOST"], values["KESTRIX_PG_PORT"]};
}

namespace {

std::string adminConninfo(const std::string& database) {
    const PgServerAddress server = pgServerFromEnvironment();
    return "host=" + server.host + " port=" + server.port + " user=postgres dbname=" + database;
}

void run(Database& db, const std::string& sql) {
    if (!db.execute(sql)) throw std::runtime_error(sql.substr(0, 200) + ": " + db.lastError());
}

// Rows gathered into one INSERT of many rows.
class Batch {
  public:
    Batch(Database& db, std::string head) : db_(db), head_(std::move(head)) {}
    void add(const std::string& row) {
        sql_ += (count_ == 0 ? head_ : std::string(", ")) + row;
        if (++count_ == 500) flush();
    }
    void flush() {
        if (count_ > 0) run(db_, sql_);
        sql_.clear();
        count_ = 0;
    }

  private:
    Database& db_;
    std::string head_;
    std::string sql_;
    int count_ = 0;
};

}  // namespace

std::string BenchDatabase::userCountText() {
    std::string digits = std::to_string(userCount());
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), ",");
    return digits;
}

std::string BenchDatabase::neighbourName(int i) {
    char name[16];
    std::snprintf(name, sizeof name, "user%06d", i);
    return name;
}

const std::vector<int>& BenchDatabase::ruleCounts() {
    static const std::vector<int> counts = {1, 100, 1000};
    return counts;
}

BenchDatabase::BenchDatabase(Engine engine, const fs::path& workDir)
    : engine_(engine), dir_(workDir / (engine == Engine::SQLite ? "sqlite" : "postgres")) {
    fs::create_directories(dir_);
    if (engine == Engine::SQLite) {
        file_ = (dir_ / "servu.db").string();
        std::string error;
        if (!createSqliteDatabaseFile(file_, &error)) throw std::runtime_error(error);
    } else {
        database_ = "kx_bench_" + std::to_string(::getpid());
        soci::session admin(*soci::factory_postgresql(), adminConninfo("postgres"));
        for (const auto& statement :
             dialectFor(Engine::PostgreSQL).createDatabaseStatements(database_)) {
            admin << statement;
        }
    }
    fill();
}

BenchDatabase::~BenchDatabase() {
    if (engine_ != Engine::PostgreSQL) return;
    try {
        soci::session admin(*soci::factory_postgresql(), adminConninfo("postgres"));
        admin << "DROP DATABASE IF EXISTS " + database_ + " WITH (FORCE)";
    } catch (const std::exception&) {
        // The server goes away with the run.
    }
}

std::string BenchDatabase::connectionString() const {
    if (engine_ == Engine::SQLite) return "Provider=SQLite;Data Source=" + file_;
    const PgServerAddress server = pgServerFromEnvironment();
    return "Provider=PostgreSQL;Data Source=" + server.host + ":" + server.port +
           ";Initial Catalog=" + database_ + ";User ID=postgres";
}

std::string BenchDatabase::nativeTarget() const {
    return engine_ == Engine::SQLite ? file_ : adminConninfo(database_);
}

std::string BenchDatabase::checkedDirectory(int rules) const {
    return (dir_ / ("rules" + std::to_string(rules)) / "d0").string();
}

void BenchDatabase::fill() {
    Database db;
    if (!db.open(connectionString())) throw std::runtime_error(db.lastError());
    if (engine_ == Engine::PostgreSQL && !createSchema(db))
        throw std::runtime_error(db.lastError());
    if (!db.begin()) throw std::runtime_error(db.lastError());
    const auto hash = hashPassword(kPassword);
    if (!hash) throw std::runtime_error("no password hash");
    passwordHash_ = *hash;
    {
        crypt_data data{};
        const char* cheap = crypt_r(kPassword, "$1$benchslt$", &data);
        if (cheap == nullptr || cheap[0] != '$') throw std::runtime_error("no MD5-crypt hash");
        cheapPasswordHash_ = std::string("{CRYPT}") + cheap;
    }
    auto addUser = [&](const std::string& name, const fs::path& home, const std::string& password) {
        fs::create_directories(home);
        run(db,
            "insert into users (username, homedir, password, max_concurrent, max_logins_per_ip, "
            "quota_current, quota_max, use_quota, timeout, session_timeout, speed_limit_value, "
            "hide_hidden_files, rel_path, ratio_type, ratio_down, ratio_up, ratio_current_credit, "
            "login_msg_file, one_login_per_ip, always_login, disable_user) values (" +
                sqlText(name) + ", " + sqlText(home.string()) + ", " + sqlText(password) +
                ", 2, 1, 0, 1048576, 1, 10, 60, '0', 1, 1, 'BytesOverall', 1, 3, 100, "
                "'/msg/welcome.txt', 0, 0, 0)");
    };
    // The neighbours: a database of 100,000 users with three rule rows
    // each, written many rows to a statement.
    const std::string homes = (dir_ / "homes").string();
    Batch users(db,
                "insert into users (username, homedir, password, max_concurrent, "
                "max_logins_per_ip, quota_current) values ");
    Batch dirRules(db,
                   "insert into dir_rights (username, directory, dir_rights, inherit_subdirs) "
                   "values ");
    Batch fileRules(db, "insert into file_rights (username, filename, file_rights) values ");
    Batch blocked(db, "insert into blocked_ips_by_user (username, ip) values ");
    for (int i = 0; i < kNeighbours; ++i) {
        const std::string name = sqlText(neighbourName(i));
        const std::string home = sqlText(homes + "/" + neighbourName(i));
        users.add("(" + name + ", " + home + ", 'secret', 1, 1, 0)");
        dirRules.add("(" + name + ", " + home + ", 'RL', 1)");
        fileRules.add("(" + name + ", " + sqlText(homes + "/" + neighbourName(i) + "/a.txt") +
                      ", 'RWMDA')");
        blocked.add("(" + name + ", '10.1." + std::to_string(i / 250) + "." +
                    std::to_string(i % 250) + "')");
    }
    users.flush();
    dirRules.flush();
    fileRules.flush();
    blocked.flush();
    addUser("benchuser", dir_ / "benchuser", passwordHash_);
    addUser(kCheapUser, dir_ / kCheapUser, cheapPasswordHash_);
    for (int i = 0; i < 20; ++i)
        run(db, "insert into blocked_ips (ip) values ('10.9.0." + std::to_string(i) + "')");
    run(db, "insert into blocked_ips_by_user (username, ip) values ('*', '10.8.0.1')");
    run(db, "insert into log_ips (ip) values ('10.7.0.1')");
    for (int count : ruleCounts()) {
        const std::string name = "rules" + std::to_string(count);
        const fs::path home = dir_ / name;
        addUser(name, home, passwordHash_);
        for (int i = 0; i < count; ++i) {
            const fs::path ruleDir = home / ("d" + std::to_string(i));
            fs::create_directories(ruleDir);
            run(db,
                "insert into dir_rights (username, directory, dir_rights, inherit_subdirs) "
                "values (" +
                    sqlText(name) + ", " + sqlText(ruleDir.string()) + ", 'RL', 1)");
        }
    }
    if (!db.commit()) throw std::runtime_error(db.lastError());
    if (engine_ == Engine::PostgreSQL) run(db, "analyze");
}

LoadedLibrary::LoadedLibrary(const fs::path& workDir, const std::string& connectionString) {
    static int instances = 0;
    const fs::path dir = workDir / ("library" + std::to_string(instances++));
    fs::create_directories(dir);
    const fs::path copy = dir / "Quellin.so";
    fs::copy_file(QUELLIN_LIBRARY, copy);
    const fs::path registry = dir / "registry";
    const SettingsStore store(registry);
    const std::string key = "software\\Orvane\\serv-u\\connectionstring";
    const WriteResult written = store.createKey(key) == SettingsStore::kSuccess
                                    ? store.writeValue(key, "", connectionString, 0640)
                                    : WriteResult::failed("cannot create the key");
    if (!written)
        throw std::runtime_error("cannot write the benchmark's settings store: " + written.error());
    ::setenv("KESTRIX_REGISTRY", registry.c_str(), 1);
    handle_ = ::dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw std::runtime_error(std::string("dlopen: ") + ::dlerror());
    entry_ = reinterpret_cast<int (*)(ClientEvent*)>(::dlsym(handle_, "HandleClientEvent"));
    if (entry_ == nullptr) throw std::runtime_error("no HandleClientEvent");
    // The first event reads the connection string and opens the database.
    ClientEvent first{};
    first.code = 8;
    entry_(&first);
}

LoadedLibrary::~LoadedLibrary() {
    if (handle_ != nullptr) ::dlclose(handle_);
}

}  // namespace kestrix::bench
