#include "tests/support/scratch.h"

#include <sched.h>
#include <soci/postgresql/soci-postgresql.h>
#include <soci/soci.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
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

namespace {

bool makeReadOnly(const fs::path& dir) {
    if (::geteuid() != 0) {
        std::error_code ec;
        const auto readOnly =
            fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
        fs::permissions(dir, readOnly, fs::perm_options::remove, ec);
        for (auto it = fs::recursive_directory_iterator(dir, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_directory()) fs::permissions(it->path(), readOnly, fs::perm_options::remove);
        }
        return !ec;
    }
    return ::unshare(CLONE_NEWNS) == 0 &&
           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
           ::mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
}

}  // namespace

std::string inReadOnlyDirectory(const fs::path& dir, const std::function<std::string()>& action) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) return "!pipe failed";
    const pid_t child = ::fork();
    if (child < 0) return "!fork failed";
    if (child == 0) {
        ::close(pipeEnds[0]);
        const std::string out =
            makeReadOnly(dir) ? action() : "!could not make " + dir.string() + " read-only";
        std::string_view rest(out);
        while (!rest.empty()) {
            const ssize_t n = ::write(pipeEnds[1], rest.data(), rest.size());
            if (n < 0 && errno != EINTR) ::_exit(1);
            if (n > 0) rest.remove_prefix(static_cast<size_t>(n));
        }
        // Past gtest's and Qt's exit handlers: they belong to the parent.
        ::_exit(0);
    }
    ::close(pipeEnds[1]);
    std::string out;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(pipeEnds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.append(buffer, static_cast<size_t>(n));
    }
    ::close(pipeEnds[0]);
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "!the child did not end normally";
    return out;
}

std::string readOnlyReason() {
    return ::geteuid() == 0 ? "Read-only file system" : "Permission denied";
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
