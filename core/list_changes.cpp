#include "core/list_changes.h"

#include <string>

#include "core/database.h"

namespace kestrix {

bool announceListChange(Database& db) {
    if (db.engine() != Engine::PostgreSQL) return true;
    return db.execute(std::string("notify ") + kListsChannel);
}

}  // namespace kestrix
