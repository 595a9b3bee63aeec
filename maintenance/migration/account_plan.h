#pragma once

#include <optional>
#include <string>
#include <vector>

#include "maintenance/migration/account_file.h"

namespace kestrix::migration {

// A directory rule as the database keeps it.
struct MigratedRule {
    std::string directory;
    std::string rights;  // letters R W A M E L C D as the file has them
    int inheritSubdirs = 0;
};

// One account of the file, in the database's terms. Optional values are
// written as NULL.
struct MigratedUser {
    std::string name;
    std::optional<long> domainNumber;  // N of [USER=name|N]
    std::string homedir;
    std::optional<std::string> password;  // absent: the section has no Password key
    // The server's hash form the password was taken as ("salted MD5", "DES
    // crypt"); absent when it is kept as plain text.
    std::optional<std::string> passwordHash;
    std::optional<std::string> loginMessageFile;
    int hideHiddenFiles = 0;
    int relPath = 0;
    int alwaysLogin = 0;
    int disabled = 0;
    long maxConcurrent = -1;  // -1: no limit
    long maxLoginsPerIp = 0;  // 0: no limit
    long timeoutMinutes = -1;
    long sessionTimeoutMinutes = -1;
    std::string speedLimitKbps = "0";  // "0": no limit
    int useQuota = 0;
    std::optional<double> quotaMax;
    double quotaCurrent = 0;
    std::optional<std::string> comments;
    std::vector<MigratedRule> rules;      // already in the database's order
    std::vector<std::string> blockedIps;  // in the file's order
    // What the file holds for this user and the database cannot take.
    std::vector<std::string> notCarried;
    // Things the administrator has to look at after the migration.
    std::vector<std::string> warnings;
};

// A domain of the file's [DOMAINS] section.
struct MigratedDomain {
    std::string identity;  // the key, e.g. Domain1
    std::string address;
    std::string second;  // field kept as it stands
    std::string port;
    std::string name;
    long number = 0;
    std::string rest;  // the remaining fields, kept as they stand
};

// A domain's user list entry ([DomainN] UserK=name|1|0).
struct DomainMember {
    std::string domainIdentity;
    std::string userIdentity;  // UserK
    std::string userName;
    long domainNumber = 0;
    std::string flags;
};

struct AccountPlan {
    TextEncoding encoding = TextEncoding::Windows1252;
    bool byteOrderMark = false;
    // The file uses the domain form ([USER=name|N] sections or [DOMAINS]).
    bool domainForm = false;
    std::vector<MigratedUser> users;
    std::vector<MigratedDomain> domains;
    std::vector<DomainMember> members;
    // Lines of the file that could not be read, each with its line number
    // and what became of it; a user whose section holds one is not migrated.
    std::vector<std::string> unreadLines;
};

// Reads the users, their rules and the domains out of the account file.
AccountPlan planMigration(const AccountFile& file);

}  // namespace kestrix::migration
