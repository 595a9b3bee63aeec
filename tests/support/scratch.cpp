#include "tests/support/scratch.h"

#include <fcntl.h>
#include <sched.h>
#include <soci/postgresql/soci-postgresql.h>
#include <soci/soci.h>
#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <stdexcept>
#include <utility>
#include <vector>

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

const auto kWriteBits = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;

// Takes the write bits off the directory and every directory below it, and
// gives them back as they were.
class WriteBitsRemoved {
  public:
    explicit WriteBitsRemoved(const fs::path& dir) {
        std::error_code ec;
        take(dir, ec);
        for (auto it = fs::recursive_directory_iterator(dir, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_directory(ec)) take(it->path(), ec);
        }
        ok_ = !ec;
    }
    ~WriteBitsRemoved() {
        std::error_code ec;
        for (auto it = taken_.rbegin(); it != taken_.rend(); ++it)
            fs::permissions(it->first, it->second, fs::perm_options::replace, ec);
    }
    bool ok() const { return ok_; }

  private:
    void take(const fs::path& dir, std::error_code& ec) {
        const fs::perms before = fs::status(dir, ec).permissions();
        if (ec) return;
        taken_.emplace_back(dir, before);
        fs::permissions(dir, kWriteBits, fs::perm_options::remove, ec);
    }

    std::vector<std::pair<fs::path, fs::perms>> taken_;
    bool ok_ = false;
};

// Root is not bound by permission bits: this thread moves into a mount
// namespace of its own in which the directory is a read-only bind mount, and
// back again afterwards. Threads it starts meanwhile share that view; the
// process's other threads never see it.
class ReadOnlyView {
  public:
    explicit ReadOnlyView(const fs::path& dir) {
        std::error_code ec;
        cwd_ = fs::current_path(ec);
        home_ = ::open("/proc/thread-self/ns/mnt", O_RDONLY | O_CLOEXEC);
        if (home_ < 0 || ::unshare(CLONE_NEWNS) != 0) return;
        moved_ = true;
        ok_ =
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
            ::mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
            ::mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    }
    ~ReadOnlyView() {
        // Threads started meanwhile (Qt's network and pool threads) share
        // this thread's filesystem context, which a namespace change refuses:
        // this thread takes a copy of its own first. They stay in the private
        // namespace, which ends with the last of them.
        if (moved_ && (::unshare(CLONE_FS) != 0 || ::setns(home_, CLONE_NEWNS) != 0)) std::abort();
        if (home_ >= 0) ::close(home_);
        // Entering a namespace moves to its root directory.
        std::error_code ec;
        if (moved_ && !cwd_.empty()) fs::current_path(cwd_, ec);
    }
    bool ok() const { return ok_; }

  private:
    fs::path cwd_;
    int home_ = -1;
    bool moved_ = false;
    bool ok_ = false;
};

}  // namespace

std::string inReadOnlyDirectory(const fs::path& dir, const std::function<std::string()>& action) {
    const std::string refused = "!could not make " + dir.string() + " read-only";
    if (::geteuid() != 0) {
        WriteBitsRemoved readOnly(dir);
        return readOnly.ok() ? action() : refused;
    }
    ReadOnlyView readOnly(dir);
    return readOnly.ok() ? action() : refused;
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
