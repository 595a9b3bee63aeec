#include "tests/support/scratch.h"

#include <soci/postgresql/soci-postgresql.h>
#include <soci/soci.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <stdexcept>

#include "core/database.h"
#include "core/schema.h"

namespace kestrix::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "kestrix-test.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may leave read-only directories behind; open them up first.
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(path_, ec);
}

ScopedRegistry::ScopedRegistry() {
    if (const char* old = std::getenv("KESTRIX_REGISTRY")) {
        previous_ = old;
        hadPrevious_ = true;
    }
    ::setenv("KESTRIX_REGISTRY", dir_.path().c_str(), 1);
}

ScopedRegistry::~ScopedRegistry() {
    if (hadPrevious_) {
        ::setenv("KESTRIX_REGISTRY", previous_.c_str(), 1);
    } else {
        ::unsetenv("KESTRIX_REGISTRY");
    }
}

const PgServer& pgServer() {
    static const PgServer server = [] {
        const char* file = std::getenv("KESTRIX_PG_ENV");
        if (file == nullptr) {
            throw std::runtime_error(
                "KESTRIX_PG_ENV is not set: run the tests through ctest, which starts the "
                "PostgreSQL test server");
        }
        std::ifstream in(file);
        if (!in) {
            throw std::runtime_error(std::string("no PostgreSQL test server: ") + file +
                                     " is missing (tools/pgtest start failed?)");
        }
        std::map<std::string, std::string> values;
        std::string line;
        while (std::getline(in, line)) {
            const auto eq = line.find('=');
            if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
        }
        return PgServer{values["KESTRIX_PG_HOST"], values["KESTRIX_PG_PORT"],
                        values["KESTRIX_PG_SOCKET"], values["KESTRIX_PG_DIR"] + "/data",
                        values["KESTRIX_PG_BIN"]};
    }();
    return server;
}

namespace {

std::string uniqueName(const char* prefix) {
    static std::atomic<int> counter{0};
    static const unsigned salt = std::random_device{}();
    return std::string(prefix) + std::to_string(::getpid()) + "_" + std::to_string(salt % 100000) +
           "_" + std::to_string(counter++);
}

void createSchemaOrThrow(const std::string& connectionString) {
    Database db;
    if (!db.open(connectionString) || !createSchema(db)) {
        throw std::runtime_error("could not create the schema: " + db.lastError());
    }
}

class SqliteScratch final : public ScratchDatabase {
  public:
    explicit SqliteScratch(bool withSchema) {
        path_ = (dir_.path() / "servu.db").string();
        std::string error;
        if (withSchema) {
            if (!createSqliteDatabaseFile(path_, &error)) throw std::runtime_error(error);
        } else {
            std::ofstream(path_).flush();
        }
    }
    Engine engine() const override { return Engine::SQLite; }
    std::string connectionString() const override { return "Provider=SQLite;Data Source=" + path_; }

  private:
    TempDir dir_;
    std::string path_;
};

std::string adminConnect(const std::string& database) {
    const PgServer& server = pgServer();
    return "host=" + server.host + " port=" + server.port + " user=postgres dbname=" + database +
           " connect_timeout=10";
}

class PostgresScratch final : public ScratchDatabase {
  public:
    explicit PostgresScratch(bool withSchema) : name_(uniqueName("kx_")) {
        soci::session admin(*soci::factory_postgresql(), adminConnect("postgres"));
        for (const auto& statement :
             dialectFor(Engine::PostgreSQL).createDatabaseStatements(name_)) {
            admin << statement;
        }
        if (withSchema) createSchemaOrThrow(connectionString());
    }
    ~PostgresScratch() override {
        try {
            soci::session admin(*soci::factory_postgresql(), adminConnect("postgres"));
            admin << "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)";
        } catch (const std::exception&) {
            // The server is gone with its directory at the end of the run.
        }
    }
    Engine engine() const override { return Engine::PostgreSQL; }
    std::string connectionString() const override {
        const PgServer& server = pgServer();
        return "Provider=PostgreSQL;Data Source=" + server.host + ":" + server.port +
               ";Initial Catalog=" + name_ + ";User ID=postgres;Password=unused";
    }

  private:
    std::string name_;
};

}  // namespace

std::unique_ptr<ScratchDatabase> makeScratchDatabase(Engine engine, bool withSchema) {
    if (engine == Engine::SQLite) return std::make_unique<SqliteScratch>(withSchema);
    return std::make_unique<PostgresScratch>(withSchema);
}

std::string engineName(Engine engine) {
    return engine == Engine::SQLite ? "SQLite" : "Postgres";
}

}  // namespace kestrix::test
