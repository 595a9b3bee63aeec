#pragma once

namespace kestrix {

class Database;

// The PostgreSQL channel the plug-in listens on for changes of the
// server-wide lists (blocked_ips, log_ips, sign_files).
inline constexpr const char* kListsChannel = "kestrix_lists";

// Tells the plug-in's connections that a server-wide list changed. On
// PostgreSQL a notification, sent when the transaction commits, and so in
// the same transaction as the change; a SQLite connection sees the file
// change by itself. False when the database refused it.
bool announceListChange(Database& db);

}  // namespace kestrix
