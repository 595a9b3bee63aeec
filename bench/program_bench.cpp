// The program's own work on a database of 100,005 users, on SQLite and
// PostgreSQL, each beside its floor: the same statements through the
// engine's own C API, prepared. Run through bench/run.
#include <benchmark/benchmark.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_report.h"
#include "bench/bench_setup.h"
#include "bench/native_floor.h"
#include "core/account_dates.h"
#include "core/database.h"
#include "core/settings.h"
#include "core/short_date.h"
#include "shell/shell.h"
#include "users/editing/password_placeholder.h"
#include "users/editing/user_save.h"
#include "users/user_panel.h"
#include "users/user_record_loader.h"

namespace kestrix::bench {
namespace {

namespace fs = std::filesystem;

constexpr int kSavedRules = 500;
constexpr const char* kLoadedUser = "rules1000";

// Any box the program shows means the measured work went wrong.
class FailingBoxes final : public users::UserPrompts {
  public:
    Answer show(const Message& message) override {
        failure = message.text;
        return Answer::Cancel;
    }
    std::optional<std::string> show(const InputRequest&) override {
        failure = "an input box";
        return std::nullopt;
    }
    std::string failure;
};

// Loading into nothing but memory.
class KeptRecord final : public UserRecordView {
  public:
    void clearRules() override { rules.clear(); }
    void showRecord(const std::string& name, const std::string&, const std::string&) override {
        username = name;
    }
    void addRule(const std::string& directory) override { rules.push_back(directory); }
    void showDisableLine(const StatusLine&) override {}
    void showExpiryLine(const StatusLine&) override {}
    void statementFailed(const std::string& description) override { failure = description; }
    std::string username;
    std::vector<std::string> rules;
    std::string failure;
};

struct EngineRun {
    Engine engine;
    std::string name;
    std::unique_ptr<BenchDatabase> database;
    fs::path registry;  // the settings store naming the database
};

std::vector<Pair> gPairs;
FailingBoxes gBoxes;

std::unique_ptr<NativeFloor> openFloor(const EngineRun& run) {
    return run.engine == Engine::SQLite ? openSqliteFloor(run.database->nativeTarget())
                                        : openPostgresFloor(run.database->nativeTarget());
}

void useDatabaseOf(const EngineRun& run) {
    ::setenv("KESTRIX_REGISTRY", run.registry.c_str(), 1);
}

void registerPair(EngineRun& run, const std::string& label,
                  std::function<void(benchmark::State&)> measured,
                  std::function<void(benchmark::State&)> floor) {
    const std::string name = run.name + "/program/" + label;
    const std::string floorName = run.name + "/floor/" + label;
    benchmark::RegisterBenchmark(name.c_str(), [&run, measured](benchmark::State& state) {
        useDatabaseOf(run);
        gBoxes.failure.clear();
        measured(state);
        if (!gBoxes.failure.empty()) state.SkipWithError(gBoxes.failure.c_str());
    });
    benchmark::RegisterBenchmark(floorName.c_str(), floor);
    gPairs.push_back({run.name + " " + label, name, floorName, 1});
}

// Loading a user as the program does, through the engine's own API: two
// connections, as loading opens them, and its four SELECTs. The rules read.
int loadFloor(const EngineRun& run, const std::string& user) {
    auto first = openFloor(run);
    const int record =
        first->prepare("SELECT username, homedir, comments FROM users WHERE username=:v1");
    const int rules = first->prepare(
        "SELECT directory, dir_rights, inherit_subdirs FROM dir_rights WHERE username=:v1");
    const int dates = first->prepare("SELECT Expires, DisableOn FROM users WHERE username=:v1");
    first->run(record, {user});
    const int read = first->run(rules, {user});
    first->run(dates, {user});
    auto second = openFloor(run);
    second->run(second->prepare("SELECT disable_user FROM users WHERE username=:v1"), {user});
    return read;
}

// The name the list shows first, as the database orders names.
std::string firstListedUser(const EngineRun& run) {
    Database db;
    std::string first;
    if (!db.open(run.database->connectionString()) ||
        !db.readColumn("select username from users order by username limit 1", {},
                       [&](Database::ValueView name) { first = name.value_or(""); }) ||
        first.empty())
        throw std::runtime_error("no first user: " + db.lastError());
    return first;
}

// The names as the list holds them, for the filter's floor.
std::vector<std::string> listedNames(const EngineRun& run) {
    Database db;
    std::vector<std::string> names;
    if (!db.open(run.database->connectionString()) ||
        !db.readColumn("select username from users order by username", {},
                       [&](Database::ValueView name) { names.emplace_back(name.value_or("")); }))
        throw std::runtime_error("no names: " + db.lastError());
    return names;
}

void registerUserList(EngineRun& run) {
    // Every user the set-up made, as the database counts them.
    const auto users = static_cast<int>(listedNames(run).size());
    registerPair(
        run, "user list of " + BenchDatabase::userCountText() + " (popMain, shown)",
        [](benchmark::State& state) {
            UserPanel panel;
            panel.resize(900, 600);
            panel.show();
            QApplication::processEvents();
            for (auto _ : state) {
                panel.popMain();
                // The list as it appears: laid out and painted.
                QApplication::processEvents();
            }
            const auto* list = panel.findChild<QAbstractItemView*>("lstUsers");
            if (list->model()->rowCount() != BenchDatabase::userCount() ||
                list->currentIndex().row() != 0)
                state.SkipWithError("the list is not complete");
        },
        [&run, users, first = firstListedUser(run)](benchmark::State& state) {
            for (auto _ : state) {
                auto floor = openFloor(run);
                const int names =
                    floor->run(floor->prepare("select username, disable_user, Expires from "
                                              "users order by username"),
                               std::vector<std::string>{});
                if (names != BenchDatabase::userCount()) state.SkipWithError("names missing");
                // popMain selects the first user, which loads it while the
                // list's connection is still open.
                loadFloor(run, first);
            }
        });
}

// A panel on the whole list, shown, its first user loaded.
std::unique_ptr<UserPanel> shownPanel() {
    auto panel = std::make_unique<UserPanel>();
    panel->resize(900, 600);
    panel->show();
    panel->popMain();
    QApplication::processEvents();
    return panel;
}

constexpr const char* kFilterTyped = "r09";  // every user, then user0..., then user09...

void registerFilter(EngineRun& run) {
    const std::vector<std::string> names = listedNames(run);
    const auto matches =
        static_cast<int>(std::count_if(names.begin(), names.end(), [](const std::string& name) {
            return name.find(kFilterTyped) != std::string::npos;
        }));
    registerPair(
        run, "filter typed, 3 letters, every user (shown)",
        [matches](benchmark::State& state) {
            const auto panel = shownPanel();
            auto* filter = panel->findChild<QLineEdit*>("txtFilter");
            const auto* list = panel->findChild<QAbstractItemView*>("lstUsers");
            for (auto _ : state) {
                state.PauseTiming();
                filter->clear();
                QApplication::processEvents();
                state.ResumeTiming();
                // As typed: a key, then the list as it appears, three times.
                for (const char* key = kFilterTyped; *key != '\0'; ++key) {
                    filter->insert(QString(QLatin1Char(*key)));
                    QApplication::processEvents();
                }
            }
            if (list->model()->rowCount() != matches)
                state.SkipWithError("the filter missed names");
        },
        [names, matches](benchmark::State& state) {
            // The same narrowing over names in memory, without a window.
            const auto lower = [](char c) {
                return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            };
            std::size_t kept = 0;
            for (auto _ : state) {
                std::string typed;
                for (const char* key = kFilterTyped; *key != '\0'; ++key) {
                    typed += *key;
                    std::vector<int> shown;
                    for (std::size_t i = 0; i < names.size(); ++i) {
                        const std::string& name = names[i];
                        if (std::search(name.begin(), name.end(), typed.begin(), typed.end(),
                                        [&](char a, char b) { return lower(a) == lower(b); }) !=
                            name.end())
                            shown.push_back(static_cast<int>(i));
                    }
                    kept = shown.size();
                    benchmark::DoNotOptimize(shown.data());
                }
            }
            if (kept != static_cast<std::size_t>(matches))
                state.SkipWithError("the floor missed names");
        });
}

// 100 arrow presses in a row through the list: the time from the last one
// until the user it stopped at is loaded (the record and its rules shown).
void registerArrowPresses(EngineRun& run) {
    registerPair(
        run, "100 arrow presses, last press to loaded",
        [](benchmark::State& state) {
            const auto panel = shownPanel();
            auto* list = panel->findChild<QAbstractItemView*>("lstUsers");
            list->setFocus();
            const auto press = [&](Qt::Key key) {
                QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
                QApplication::sendEvent(list, &down);
                QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier);
                QApplication::sendEvent(list, &up);
                QApplication::processEvents();
            };
            const auto settled = [&] {
                const int row = list->currentIndex().row();
                return row >= 0 && panel->state().selectedUser ==
                                       list->model()->index(row, 0).data().toString().toStdString();
            };
            for (auto _ : state) {
                state.PauseTiming();
                press(Qt::Key_Home);
                while (!settled())
                    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
                for (int i = 0; i < 99; ++i)
                    press(Qt::Key_Down);
                state.ResumeTiming();
                press(Qt::Key_Down);
                while (!settled())
                    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
            }
            if (list->currentIndex().row() != 100) state.SkipWithError("the list did not move");
        },
        [&run, user = BenchDatabase::neighbourName(100)](benchmark::State& state) {
            // Loading the one user it stops at.
            for (auto _ : state)
                loadFloor(run, user);
        });
}

std::vector<DirRule> savedRules(const EngineRun& run) {
    std::vector<DirRule> rules;
    for (int i = 0; i < kSavedRules; ++i) {
        rules.push_back({(run.database->directory() / "saved" / ("d" + std::to_string(i))).string(),
                         i % 2 ? "RL" : "RWLCD", i % 3 ? "1" : "0"});
    }
    return rules;
}

void registerSave(EngineRun& run) {
    const std::string user = BenchDatabase::neighbourName(BenchDatabase::kNeighbours / 2);
    const fs::path home = run.database->directory() / "saved";
    fs::create_directories(home);
    registerPair(
        run, "Save of a user with 500 rules",
        [&run, user, home](benchmark::State& state) {
            const users::SaveForm form{user, home.string(), std::string(kPasswordPlaceholder),
                                       "saved by the benchmark"};
            const users::SaveContext context{user, EditMode::Stored, savedRules(run)};
            for (auto _ : state) {
                if (users::saveUser(form, context, gBoxes) != users::SaveOutcome::Written) {
                    state.SkipWithError("not written");
                    break;
                }
            }
        },
        [&run, user, home](benchmark::State& state) {
            const std::vector<DirRule> rules = savedRules(run);
            for (auto _ : state) {
                auto floor = openFloor(run);
                const int update = floor->prepare(
                    "UPDATE users SET username=:v1, homedir=:v2, comments=:v3 WHERE username=:v4");
                const int remove = floor->prepare("DELETE FROM dir_rights WHERE username=:v1");
                const int insert = floor->prepare(
                    "INSERT INTO dir_rights (username, directory, dir_rights, inherit_subdirs) "
                    "VALUES (:v1, :v2, :v3, :v4)");
                floor->execute("BEGIN");
                floor->run(update, {user, home.string(), "saved by the benchmark", user});
                floor->run(remove, {user});
                for (const DirRule& rule : rules)
                    floor->run(insert, {user, rule.directory, rule.rights, rule.inherit});
                floor->execute("COMMIT");
            }
        });
}

void registerLoad(EngineRun& run) {
    registerPair(
        run, "loading a user with 1,000 rules",
        [](benchmark::State& state) {
            EditingState editing;
            KeptRecord view;
            for (auto _ : state) {
                if (!loadUserData(kLoadedUser, editing, view) || view.rules.size() != 1000) {
                    state.SkipWithError(view.failure.empty() ? "rules missing"
                                                             : view.failure.c_str());
                    break;
                }
            }
        },
        [&run](benchmark::State& state) {
            for (auto _ : state) {
                if (loadFloor(run, kLoadedUser) != 1000) state.SkipWithError("rules missing");
            }
        });
}

// The date run: users whose expiry date has come and users whose disable
// date has come, among the 100,005, each made afresh (with a directory
// rule, a file rule and a blocked address) before every iteration.
void addDatedUsers(const EngineRun& run, int expired, int disabled) {
    Database db;
    if (!db.open(run.database->connectionString()) || !db.begin())
        throw std::runtime_error("dated users: " + db.lastError());
    // Stored as the program stores dates.
    const std::string yesterday = "'" +
                                  formatIsoDate(std::chrono::year_month_day{
                                      std::chrono::sys_days{today()} - std::chrono::days{1}}) +
                                  "'";
    const auto run500 = [&db](const std::string& head, std::vector<std::string>& rows) {
        if (rows.empty()) return;
        std::string sql = head;
        for (std::size_t i = 0; i < rows.size(); ++i)
            sql += (i ? "," : "") + rows[i];
        rows.clear();
        if (!db.execute(sql)) throw std::runtime_error("dated users: " + db.lastError());
    };
    std::vector<std::string> users, dirs, files, ips;
    for (int i = 0; i < expired + disabled; ++i) {
        const std::string name = "'dated" + std::to_string(100000 + i) + "'";
        const bool expires = i < expired;
        users.push_back("(" + name + ", '/srv/ftp/dated', 1, 1, 0, " +
                        (expires ? yesterday : "NULL") + ", " + (expires ? "NULL" : yesterday) +
                        ")");
        dirs.push_back("(" + name + ", '/srv/ftp/dated', 'RL', 1)");
        files.push_back("(" + name + ", '/srv/ftp/dated/a', 'RWMDA')");
        ips.push_back("(" + name + ", '10.0.0.1')");
        if (users.size() == 500 || i + 1 == expired + disabled) {
            run500(
                "INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip, "
                "disable_user, Expires, DisableOn) VALUES ",
                users);
            run500(
                "INSERT INTO dir_rights (username, directory, dir_rights, inherit_subdirs) "
                "VALUES ",
                dirs);
            run500("INSERT INTO file_rights (username, filename, file_rights) VALUES ", files);
            run500("INSERT INTO blocked_ips_by_user (username, ip) VALUES ", ips);
        }
    }
    if (!db.commit()) throw std::runtime_error("dated users: " + db.lastError());
}

// What an iteration left: the disabled users and anything of the deleted.
void removeDatedUsers(const EngineRun& run) {
    Database db;
    if (!db.open(run.database->connectionString()))
        throw std::runtime_error("dated users: " + db.lastError());
    for (const char* table : {"users", "dir_rights", "file_rights", "blocked_ips_by_user"}) {
        if (!db.execute(std::string("DELETE FROM ") + table +
                        " WHERE username >= 'dated' AND username < 'datee'"))
            throw std::runtime_error("dated users: " + db.lastError());
    }
}

int datedUsersLeft(const EngineRun& run) {
    Database db;
    int left = -1;
    if (db.open(run.database->connectionString()))
        (void)db.readColumn(
            "SELECT COUNT(*) FROM users WHERE username >= 'dated' AND username < 'datee' AND "
            "disable_user = 0",
            {}, [&](Database::ValueView n) { left = n ? std::stoi(std::string(*n)) : -1; });
    return left;
}

void registerDateRun(EngineRun& run, int expired, int disabled) {
    const std::string label = "date run, " + std::to_string(expired) + " expired and " +
                              std::to_string(disabled) + " to disable among " +
                              BenchDatabase::userCountText();
    registerPair(
        run, label,
        [&run, expired, disabled](benchmark::State& state) {
            for (auto _ : state) {
                state.PauseTiming();
                removeDatedUsers(run);
                addDatedUsers(run, expired, disabled);
                state.ResumeTiming();
                if (applyAccountDates() != AccountDatesRun::Done) {
                    state.SkipWithError("the date run failed");
                    break;
                }
            }
            if (datedUsersLeft(run) != 0) state.SkipWithError("due users left");
            removeDatedUsers(run);
        },
        [&run, expired, disabled](benchmark::State& state) {
            for (auto _ : state) {
                state.PauseTiming();
                removeDatedUsers(run);
                addDatedUsers(run, expired, disabled);
                state.ResumeTiming();
                auto floor = openFloor(run);
                // The same reading and the same statements, prepared, in one
                // transaction.
                std::vector<std::string> due;
                const int dated = floor->prepare(
                    "SELECT username, Expires, DisableOn FROM users WHERE (Expires IS NOT NULL "
                    "AND Expires <> '') OR (DisableOn IS NOT NULL AND DisableOn <> '')");
                floor->run(dated, std::vector<std::string>{});
                const int deleteUser = floor->prepare(
                    "DELETE FROM users WHERE username=:v1 AND Expires=:v2 AND NOT EXISTS "
                    "(SELECT 1 FROM users other WHERE other.username=:v3 AND (other.Expires IS "
                    "NULL OR other.Expires<>:v4))");
                std::vector<int> deleteRows;
                for (const char* table :
                     {"blocked_ips_by_user", "dir_rights", "file_rights", "ratio_free_files"})
                    deleteRows.push_back(floor->prepare(std::string("DELETE FROM ") + table +
                                                        " WHERE username=:v1"));
                const int disable = floor->prepare(
                    "UPDATE users SET disable_user=1, disableon='' WHERE username=:v1 AND "
                    "DisableOn=:v2");
                const std::string yesterday = formatIsoDate(std::chrono::year_month_day{
                    std::chrono::sys_days{today()} - std::chrono::days{1}});
                const char* begin = run.engine == Engine::SQLite ? "BEGIN IMMEDIATE" : "BEGIN";
                for (int i = 0; i < expired + disabled; ++i) {
                    if (i == 0) floor->execute(begin);
                    const std::string name = "dated" + std::to_string(100000 + i);
                    if (i < expired) {
                        floor->run(deleteUser, {name, yesterday, name, yesterday});
                        for (int statement : deleteRows)
                            floor->run(statement, {name});
                    } else {
                        floor->run(disable, {name, yesterday});
                    }
                    if (i + 1 == expired + disabled) floor->execute("COMMIT");
                }
            }
            if (datedUsersLeft(run) != 0) state.SkipWithError("due users left");
            removeDatedUsers(run);
        });
}

}  // namespace
}  // namespace kestrix::bench

int main(int argc, char** argv) {
    using namespace kestrix::bench;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    kestrix::Shell::instance().setMessageBoxes(&gBoxes);
    kestrix::Shell::instance().setInputBoxes(&gBoxes);
    return runBenchmarks(
        "program_bench",
        [](const fs::path& work) {
            auto runs = std::make_shared<std::vector<std::unique_ptr<EngineRun>>>();
            for (auto engine : {kestrix::Engine::SQLite, kestrix::Engine::PostgreSQL}) {
                auto run = std::make_unique<EngineRun>();
                run->engine = engine;
                run->name = engine == kestrix::Engine::SQLite ? "SQLite" : "Postgres";
                run->database = std::make_unique<BenchDatabase>(engine, work);
                run->registry = work / (run->name + "-registry");
                useDatabaseOf(*run);
                if (!kestrix::writeConnectionString(run->database->connectionString()))
                    throw std::runtime_error("cannot store the connection string");
                registerUserList(*run);
                registerFilter(*run);
                registerArrowPresses(*run);
                registerSave(*run);
                registerLoad(*run);
                registerDateRun(*run, 1000, 1000);
                registerDateRun(*run, 10000, 0);
                runs->push_back(std::move(run));
            }
            return std::shared_ptr<void>(runs);
        },
        gPairs, "op");
}
