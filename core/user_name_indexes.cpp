#include "core/user_name_indexes.h"

#include <string>

#include "core/activity_log.h"
#include "core/database.h"
#include "core/schema.h"

namespace kestrix {

bool addUserNameIndexes(Database& db) {
    bool all = true;
    for (const std::string& statement : dialectFor(db.engine()).indexStatements()) {
        if (!db.execute(statement)) {
            writeLog("could not add an index on user names: " + db.lastError());
            all = false;
        }
    }
    return all;
}

void addUserNameIndexes() {
    Database db;
    // Silent: the account rules run next and report a database that cannot be opened.
    if (!openDatabase(db, 1)) return;
    (void)addUserNameIndexes(db);
}

}  // namespace kestrix
