#pragma once

#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace kestrix {

class Database;

// Passwords are stored as salted yescrypt hashes from libxcrypt, tagged
// "{CRYPT}" like the DES hashes taken over from the FTP server's file, so
// that one check (crypt_r) verifies both whatever the hash's own prefix.
inline constexpr std::string_view kCryptTag = "{CRYPT}";

// "{CRYPT}$y$..." for the password; no value when libxcrypt could not make
// a salt or a hash (no randomness, out of memory).
std::optional<std::string> hashPassword(std::string_view password);

// The stored text of a slow crypt hash ("{CRYPT}$y$...", "{CRYPT}$6$..."):
// no value for any other stored text.
std::optional<std::string_view> slowCryptHash(std::string_view stored);

// True when the stored form is weaker than a fresh hash and a login that
// proved the password should replace it: plain text, {SMD5}, DES.
bool isWeakPasswordForm(std::string_view stored);

// crypt_r of the password with the setting (a whole stored hash); true when
// it gives the setting back.
bool cryptMatches(std::string_view setting, std::string_view password);

// Spends what one check of a fresh hash costs, against a fixed hash no
// password matches: a refusal for a missing user then takes as long as one
// for a wrong password.
void spendPasswordCheck(std::string_view password);

// Plain texts compared without stopping at the first difference.
bool equalInConstantTime(std::string_view a, std::string_view b);

// What users.password holds for a new password: its hash when the column
// takes the hash, otherwise the password itself. No value when the column
// takes a hash and none could be made: never plain text in its place.
struct PasswordToStore {
    std::string text;
    bool hashed = false;
};
std::optional<PasswordToStore> passwordToStore(std::string_view password,
                                               std::size_t columnCharacters);

// The characters a hash takes in users.password (the tag included).
std::size_t hashedPasswordCharacters();

// The declared width of users.password in the open database: unlimited for
// an unsized text column, no value when it could not be read.
inline constexpr std::size_t kUnlimitedWidth = std::numeric_limits<std::size_t>::max();
std::optional<std::size_t> passwordColumnWidth(Database& db);

}  // namespace kestrix
