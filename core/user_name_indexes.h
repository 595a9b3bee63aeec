#pragma once

namespace kestrix {

class Database;

// Gives an existing database the indexes on its user-name columns when it
// lacks them. A database that refuses (no rights, a read-only file) is left
// as it is, with a line in the activity log: the program works without
// them, only slower. False when any statement was refused.
bool addUserNameIndexes(Database& db);

// The same on a connection of its own, made as the program's other
// start-up work makes it.
void addUserNameIndexes();

}  // namespace kestrix
