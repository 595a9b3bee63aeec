#include "setup/database_creation.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "core/activity_log.h"
#include "core/database.h"
#include "core/file_write.h"
#include "core/owner_keys.h"
#include "core/private_files.h"
#include "core/schema.h"
#include "core/settings.h"
#include "core/sql_literal.h"
#include "core/stored_dates.h"
#include "core/text_routines.h"
#include "setup/database_template.h"
#include "setup/wizard_random.h"
#include "shell/app_title.h"
#include "shell/shell.h"

namespace kestrix {

namespace {

namespace fs = std::filesystem;

const char* const kStructureFailed =
    "There was an error creating database structure.\r\nPlease check your connection string and "
    "try again.";
const char* const kFileFailed =
    "There was an error creating database structure.\r\nPlease check and try again.";
const char* const kCommandsFailed = "Error: Commands Failed";
// The administrative database every PostgreSQL server has.
const char* const kMaintenanceDatabase = "postgres";

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

Answer show(const char* text, const char* caption, MessageIcon icon,
            MessageButtons buttons = MessageButtons::OK) {
    Message message{text, caption, icon, buttons};
    return Shell::instance().ask(message);
}

// A refusal of the login itself, as opposed to a server out of reach.
bool loginRefused(const std::string& description) {
    const std::string text = lower(description);
    return text.find("authentication failed") != std::string::npos ||
           text.find("no password supplied") != std::string::npos ||
           (text.find("role \"") != std::string::npos &&
            text.find("does not exist") != std::string::npos);
}

TimeLimits serverLimits(int connectSeconds) {
    TimeLimits limits;
    limits.connectSeconds = std::max(2, connectSeconds);
    return limits;
}

}  // namespace

std::string creatingConnectionString(std::string_view server) {
    return "Provider=PostgreSQL;Integrated Security=SSPI;Persist Security Info=False;Data Source=" +
           std::string(server);
}

std::string connectionValue(std::string_view value) {
    const bool plain =
        value.find_first_of(";\"") == std::string_view::npos && trimmed(value) == value;
    if (plain) return std::string(value);
    std::string out = "\"";
    for (char c : value) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string withInitialCatalog(std::string_view connectionString, std::string_view database) {
    std::string out(connectionString);
    const std::string value = connectionValue(database);
    const size_t at = lower(out).find("initial catalog");
    if (at == std::string::npos) {
        if (trimmed(out).empty() || trimmed(out).back() != ';') out += ";";
        return out + "Initial Catalog=" + value + ";";
    }
    const size_t eq = out.find('=', at);
    if (eq == std::string::npos) return out + "=" + value + ";";
    const size_t end = out.find(';', eq);
    return out.replace(eq + 1, end == std::string::npos ? std::string::npos : end - eq - 1, value);
}

std::string sqliteConnectionString(std::string_view path) {
    return "Provider=SQLite;Data Source=" + connectionValue(trimmed(path)) +
           ";Persist Security Info=False";
}

std::string withoutSpacesAndDashes(std::string_view name) {
    std::string out;
    for (char c : name)
        if (c != ' ' && c != '-') out += c;
    return out;
}

std::string defaultDatabaseName() {
    static const char* const names[] = {"Kestrix", "Tavix", "TavixDB", "Tavex"};
    const int pick = std::min(3, static_cast<int>(wizardRandom() * 4));
    return names[pick];
}

bool fileHoldsUsers(const std::string& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return false;
    Database db;
    if (!db.open(sqliteConnectionString(path))) return false;
    auto rows = db.query("SELECT COUNT(*) AS n FROM users");
    return rows && !rows->eof() && rows->integer("n").value_or(0) > 0;
}

CopyResult copyUsers(std::string_view from, std::string_view to) {
    CopyResult result;
    Database source;
    Database target;
    if (!source.open(from)) {
        result.error = source.lastError();
        return result;
    }
    if (!target.open(to) || !target.begin()) {
        result.error = target.lastError();
        return result;
    }
    for (const TableDef& table : userTables()) {
        std::string columns;
        for (const ColumnDef& column : table.columns)
            columns += (columns.empty() ? "" : ", ") + std::string(column.name);
        std::string sql = "SELECT " + columns + " FROM " + table.name;
        // Rows whose user is gone stay behind: the new database's keys
        // would refuse them, and with them the whole copy.
        if (const OwnedTable* owned = ownedTable(table.name)) {
            sql += std::string(" WHERE EXISTS (SELECT 1 FROM users WHERE users.username=") +
                   table.name + ".username)";
            if (std::string_view(owned->keyColumn) == "owner") sql += " OR username='*'";
        }
        auto rows = source.query(sql);
        if (!rows) {
            result.error = source.lastError();
            target.rollback();
            return result;
        }
        CopiedTable copied{table.name, 0};
        const bool accounts = std::string_view(table.name) == "users";
        for (; !rows->eof(); rows->moveNext()) {
            std::string values;
            for (const ColumnDef& column : table.columns) {
                auto value = rows->field(column.name);
                const std::string_view name = column.name;
                if (accounts && value && (name == "Expires" || name == "DisableOn")) {
                    // As every other route stores a date; one that reads two
                    // ways stays as it was, for the administrator to set.
                    const std::string user = rows->field("username").value_or("");
                    if (auto stored =
                            dateInStoredForm(user, std::string(name), *value, result.datesLeft))
                        value = std::move(stored);
                }
                values += (values.empty() ? "" : ", ") + (value ? sqlText(*value) : "NULL");
            }
            if (!target.execute("INSERT INTO " + std::string(table.name) + " (" + columns +
                                ") VALUES (" + values + ")")) {
                result.error = target.lastError();
                target.rollback();
                return result;
            }
            ++copied.rows;
        }
        if (!rows->error().empty()) {
            result.error = rows->error();
            target.rollback();
            return result;
        }
        result.tables.push_back(copied);
    }
    if (!target.commit()) {
        result.error = target.lastError();
        return result;
    }
    result.ok = true;
    return result;
}

std::optional<std::string> DatabaseCreation::create(bool onServer) {
    const std::string previous = readConnectionString();
    const auto created = onServer ? createOnServer() : createFile();
    if (!created) return std::nullopt;
    offerUserCopy(previous, *created);
    // The configuration dialog's commit stores it; until then the program
    // and the plug-in keep working on the current database.
    writeWizardLog("Finish database creation");
    return created;
}

bool DatabaseCreation::openServer(Database& db, std::string& connecting) {
    for (;;) {
        bool opened = false;
        during("Wait for database to be opened", [&] {
            opened = db.open(withInitialCatalog(connecting, kMaintenanceDatabase),
                             serverLimits(links_.connectSeconds));
        });
        if (opened) return true;
        const std::string description = db.lastError();
        writeWizardLog(description);
        if (loginRefused(description) && links_.askLogin) {
            const auto target = parseConnectionString(withInitialCatalog(connecting, "x")).target;
            const std::string server = target ? dataSource(*target) : std::string();
            if (auto other = links_.askLogin(server)) {
                writeWizardLog("connect with another login");
                connecting = *other;
                continue;
            }
        }
        show("There was an error while connecting to your database. \r\nPlease Try again",
             "Error: Database unreachable", MessageIcon::Exclamation);
        return false;
    }
}

void DatabaseCreation::during(const std::string& step, const std::function<void()>& work) {
    if (links_.wait)
        links_.wait(step, work);
    else
        work();
}

std::optional<std::string> DatabaseCreation::createOnServer() {
    writeWizardLog("get connnection string");
    const std::string fallback = defaultDatabaseName();
    Shell& shell = Shell::instance();
    const auto server = shell.inputBox(
        {"What is the name of the PostgreSQL server\r\nyou would like to use.\r\n\r\nThe "
         "PostgreSQL server must be on your network and have proper user rights.",
         std::string(kAppTitle), "LOCALHOST"});
    std::string name;
    for (;;) {
        const auto typed = shell.inputBox(
            {"What would you like to call the database?\r\nThe name of the database must be "
             "unique to the server and not have spaces or dashes.",
             std::string(kAppTitle), fallback});
        if (!server || server->empty() || !typed || typed->empty()) return std::nullopt;
        if (typed->find_first_of(" -") == std::string::npos) {
            name = *typed;
            break;
        }
        if (shell.ask(titledMessage("The database name you have selected has spaces and/or "
                                    "dashes.\r\n\r\nWould you like to retype the database name?",
                                    MessageIcon::Question, MessageButtons::YesNo)) == Answer::Yes)
            continue;
        const std::string cleaned = withoutSpacesAndDashes(*typed);
        if (shell.ask(titledMessage(
                "Since you decided to not retype your database name without dashes or \r\n"
                "spaces we have done it for you.\r\n\r\nThe database will be called \"" +
                    cleaned + "\"\r\n\r\nWould you like to use this database name?",
                MessageIcon::Information, MessageButtons::YesNoCancel)) == Answer::Yes) {
            name = cleaned;
            break;
        }
    }

    std::string connecting = creatingConnectionString(*server);
    writeWizardLog("create database");
    Database admin;
    writeWizardLog("Wait for database to be opened");
    if (!openServer(admin, connecting)) return std::nullopt;

    const Dialect& dialect = dialectFor(Engine::PostgreSQL);
    bool created = true;
    during("create database", [&] {
        for (const std::string& statement : dialect.createDatabaseStatements(name))
            created = created && admin.execute(statement);
    });
    if (!created) writeWizardLog(admin.lastError());
    writeWizardLog("modify connection string");
    const std::string target = withInitialCatalog(connecting, name);
    bool ok = created;
    if (ok) {
        writeWizardLog("create tables");
        during("create tables", [&] {
            Database fresh;
            ok = fresh.open(target, serverLimits(links_.connectSeconds));
            // One transaction: a table that fails leaves none of the others.
            ok = ok && fresh.begin() && createSchema(fresh) && fresh.commit();
            if (!ok) {
                writeWizardLog(fresh.lastError());
                fresh.rollback();
            }
        });
    }
    if (!ok) {
        if (created) {
            writeWizardLog("remove the new database again");
            during("remove the new database again", [&] {
                for (const std::string& statement : dialect.dropDatabaseStatements(name))
                    if (!admin.execute(statement)) writeWizardLog(admin.lastError());
            });
        }
        show(kStructureFailed, kCommandsFailed, MessageIcon::Critical);
        return std::nullopt;
    }
    return target;
}

std::optional<std::string> DatabaseCreation::createFile() {
    writeWizardLog("create SQLite database");
    const auto chosen = Shell::instance().chooseSaveFile(
        links_.owner,
        {"Save SQLite Database", "SQLite DB (*.db)", "servu.db", links_.startDirectory});
    std::string path;
    if (chosen) {
        for (char c : *chosen)
            if (c != '\0') path += c;
        path = trimmed(path);
    }
    const std::string lowered = lower(path);
    if (path.empty()) {
        show(kFileFailed, kCommandsFailed, MessageIcon::Critical);
        return std::nullopt;
    }
    if (lowered.size() < 3 || lowered.compare(lowered.size() - 3, 3, ".db") != 0) {
        show(("The database file \"" + path +
              "\" was not created: its name must end in \".db\".\r\nPlease choose the file "
              "again.")
                 .c_str(),
             kCommandsFailed, MessageIcon::Critical);
        return std::nullopt;
    }
    if (fileHoldsUsers(path)) {
        writeWizardLog("the file holds users and is kept: " + path);
        show(("The file \"" + path +
              "\" already holds users and is not replaced.\r\nTo use it, select an existing "
              "database instead.")
                 .c_str(),
             kCommandsFailed, MessageIcon::Critical);
        return std::nullopt;
    }
    const std::string bytes = templateDatabaseBytes();
    const WriteResult written =
        bytes.empty() ? WriteResult::failed("the program carries no database template")
                      : replacePrivateFile(fs::path(path), bytes, PrivateKind::Database);
    if (!written) {
        writeWizardLog("could not write " + path + ": " + written.error());
        show(("There was an error creating database structure: the file \"" + path +
              "\" could not be written.\r\n" + written.error())
                 .c_str(),
             kCommandsFailed, MessageIcon::Critical);
        return std::nullopt;
    }
    return sqliteConnectionString(path);
}

std::optional<std::string> DatabaseCreation::selectExistingFile() {
    const auto chosen = Shell::instance().chooseOpenFile(
        links_.owner,
        {"Open SQLite Database", "SQLite DB (*.db)", "servu.db", links_.startDirectory});
    if (!chosen) return std::nullopt;
    const std::string path = trimmed(*chosen);
    Database db;
    const bool usable = db.open(sqliteConnectionString(path)) &&
                        std::filesystem::is_regular_file(path) &&
                        db.query("SELECT COUNT(*) AS n FROM users").has_value();
    if (!usable) {
        show(("The file \"" + path + "\" is not a user database.\r\nPlease select another file.")
                 .c_str(),
             kCommandsFailed, MessageIcon::Exclamation);
        return std::nullopt;
    }
    return sqliteConnectionString(path);
}

void DatabaseCreation::offerUserCopy(const std::string& previous, const std::string& created) {
    if (!parseConnectionString(previous).target) return;
    if (Shell::instance().ask(
            titledMessage("Copy the users of the current database into the new one?",
                          MessageIcon::Question, MessageButtons::YesNo)) != Answer::Yes)
        return;
    writeWizardLog("copy the users");
    CopyResult copied;
    during("copy the users", [&] { copied = copyUsers(previous, created); });
    if (!copied.ok) {
        writeWizardLog("the users could not be copied: " + copied.error);
        reportStatementFailure(copied.error);
        return;
    }
    for (const CopiedTable& table : copied.tables)
        writeWizardLog(table.table + ": " + std::to_string(table.rows) + " rows copied");
    if (copied.datesLeft.empty()) return;
    std::string list;
    for (const UnclearDate& date : copied.datesLeft) {
        writeWizardLog("date copied as it stood: " + describeUnclearDate(date));
        list += "\r\n" + describeUnclearDate(date);
    }
    Shell::instance().ask(titledMessage(
        "These account dates could be read more than one way (or not at all), so they were "
        "copied as they stood. Set each of them again:" +
            list,
        MessageIcon::Exclamation, MessageButtons::OK));
}

}  // namespace kestrix
