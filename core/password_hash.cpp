#include "core/password_hash.h"

#include <crypt.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/database.h"

namespace kestrix {
namespace {

// yescrypt, at libxcrypt's default cost: the hash Debian 12 gives its own
// accounts.
constexpr const char* kHashPrefix = "$y$";

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};

// A fresh salt and cost setting; empty when libxcrypt has no randomness.
std::string newSetting() {
    std::unique_ptr<char, FreeDeleter> setting(crypt_gensalt_ra(kHashPrefix, 0, nullptr, 0));
    if (!setting || setting.get()[0] == '*') return {};
    return setting.get();
}

// crypt_r's result for the password and setting; empty for a failure (the
// password holds a NUL, the setting is not one libxcrypt knows).
std::string cryptText(std::string_view setting, std::string_view password) {
    if (password.find('\0') != std::string_view::npos) return {};
    const std::string key(password);
    const std::string salt(setting);
    auto data = std::make_unique<crypt_data>();
    std::memset(data.get(), 0, sizeof(crypt_data));
    const char* result = crypt_r(key.c_str(), salt.c_str(), data.get());
    if (!result || result[0] == '*') return {};
    return result;
}

const std::string& dummySetting() {
    // A setting made like every new hash's, so that it costs the same; the
    // fixed one stands in only when the system gives no randomness.
    static const std::string setting = [] {
        std::string fresh = newSetting();
        return fresh.empty() ? std::string("$y$j9T$2Ezq3sHxc1Uyv5FYUaU8y/") : fresh;
    }();
    return setting;
}

bool digest(std::string_view text, unsigned char* out) {
    unsigned int length = 0;
    return EVP_Digest(text.data(), text.size(), out, &length, EVP_sha256(), nullptr) == 1;
}

}  // namespace

std::optional<std::string> hashPassword(std::string_view password) {
    const std::string setting = newSetting();
    if (setting.empty()) return std::nullopt;
    const std::string hash = cryptText(setting, password);
    if (hash.empty()) return std::nullopt;
    return std::string(kCryptTag) + hash;
}

std::optional<std::string_view> slowCryptHash(std::string_view stored) {
    if (!stored.starts_with(kCryptTag)) return std::nullopt;
    const std::string_view hash = stored.substr(kCryptTag.size());
    if (!hash.starts_with('$')) return std::nullopt;
    return hash;
}

// Every form but the current hash: plain text, {SMD5}, DES, MD5-crypt,
// SHA-crypt. Some check faster than a fresh hash, so their refusals spend
// one too; all are replaced at the next good login.
bool isWeakPasswordForm(std::string_view stored) {
    const auto hash = slowCryptHash(stored);
    return !hash || !hash->starts_with(kHashPrefix);
}

bool cryptMatches(std::string_view setting, std::string_view password) {
    const std::string result = cryptText(setting, password);
    return !result.empty() && result.size() == setting.size() &&
           CRYPTO_memcmp(result.data(), setting.data(), setting.size()) == 0;
}

void spendPasswordCheck(std::string_view password) {
    (void)cryptText(dummySetting(), password);
}

bool equalInConstantTime(std::string_view a, std::string_view b) {
    // Digests of equal length: the time tells neither the length nor the
    // place of the first difference.
    unsigned char da[EVP_MAX_MD_SIZE];
    unsigned char db[EVP_MAX_MD_SIZE];
    if (!digest(a, da) || !digest(b, db)) return false;
    return CRYPTO_memcmp(da, db, 32) == 0 && a.size() == b.size();
}

std::size_t hashedPasswordCharacters() {
    static const std::size_t size = [] {
        const auto hash = hashPassword("x");
        // yescrypt at the default cost: "$y$j9T$", 22 of salt, "$", 43.
        return hash ? hash->size() : kCryptTag.size() + 73;
    }();
    return size;
}

std::optional<PasswordToStore> passwordToStore(std::string_view password,
                                               std::size_t columnCharacters) {
    if (columnCharacters < hashedPasswordCharacters())
        return PasswordToStore{std::string(password), false};
    auto hash = hashPassword(password);
    if (!hash) return std::nullopt;
    return PasswordToStore{std::move(*hash), true};
}

std::optional<std::size_t> passwordColumnWidth(Database& db) {
    if (db.engine() == Engine::PostgreSQL) {
        auto rows = db.query(
            "select data_type, character_maximum_length from information_schema.columns "
            "where table_schema=current_schema() and table_name='users' and "
            "column_name='password'");
        if (!rows || rows->eof()) return std::nullopt;
        const auto length = rows->integer("character_maximum_length");
        return length ? static_cast<std::size_t>(*length) : kUnlimitedWidth;
    }
    auto rows = db.query("pragma table_info(users)");
    if (!rows) return std::nullopt;
    for (; !rows->eof(); rows->moveNext()) {
        if (rows->text("name") != "password") continue;
        // SQLite keeps any text but the program keeps to the declared width,
        // so that the file moves to a server engine as it is.
        const std::string type = rows->text("type");
        const auto open = type.find('(');
        if (open == std::string::npos) return kUnlimitedWidth;
        const std::size_t width = std::strtoul(type.c_str() + open + 1, nullptr, 10);
        return width ? width : kUnlimitedWidth;
    }
    return std::nullopt;
}

}  // namespace kestrix
