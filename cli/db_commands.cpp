// db upgrade: makes an existing database hold password hashes.
#include <iostream>

#include "cli/cli_prompts.h"
#include "cli/commands.h"
#include "cli/loaded_user.h"
#include "core/database.h"
#include "core/password_storage.h"

namespace kestrix::cli {

namespace {

std::string widthText(std::size_t width) {
    return width == kUnlimitedWidth ? std::string("unlimited") : std::to_string(width);
}

}  // namespace

int dbUpgrade(const Invocation& in) {
    Database db;
    if (!openDatabase(db, 0)) return kExitRefused;
    const PasswordUpgrade upgrade = upgradePasswordColumn(db, in.has("--hash-passwords"));
    closeDatabase(db);
    if (upgrade.widened) {
        std::cout << "users.password widened from " << upgrade.widthBefore << " to "
                  << passwordColumnTarget() << " characters.\n";
    } else if (upgrade.failure.empty() || upgrade.widthBefore != 0) {
        std::cout << "users.password already holds " << widthText(upgrade.widthBefore)
                  << " characters.\n";
    }
    if (!upgrade.failure.empty()) return refuse(terminalText(upgrade.failure));
    if (in.has("--hash-passwords")) {
        std::cout << "Passwords hashed: " << upgrade.hashed << '\n'
                  << "Already hashed: " << upgrade.strong << '\n'
                  << "Older hashes, replaced at their next login: " << upgrade.olderHashes << '\n'
                  << "Empty, nothing to hash: " << upgrade.empty << '\n';
    }
    return kExitDone;
}

}  // namespace kestrix::cli
