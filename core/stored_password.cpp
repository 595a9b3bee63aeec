#include "core/stored_password.h"

#include <openssl/evp.h>

#include <algorithm>

#include "core/password_hash.h"

namespace kestrix {
namespace {

constexpr std::size_t kSaltedMd5Length = 34;
constexpr std::size_t kDesCryptLength = 13;

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isCryptCharacter(char c) {
    return c == '.' || c == '/' || (c >= '0' && c <= '9') || isLetter(c);
}

bool looksLikeSaltedMd5(std::string_view text) {
    return text.size() == kSaltedMd5Length && isLetter(text[0]) && isLetter(text[1]) &&
           std::all_of(text.begin() + 2, text.end(), isHex);
}

bool looksLikeDesCrypt(std::string_view text) {
    return text.size() == kDesCryptLength &&
           std::all_of(text.begin(), text.end(), isCryptCharacter);
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

bool saltedMd5Matches(std::string_view hash, std::string_view given) {
    return equalIgnoringCase(saltedMd5(hash.substr(0, 2), given), hash);
}

}  // namespace

PasswordForm storedPasswordForm(std::string_view stored) {
    if (stored.starts_with(kSaltedMd5Tag) &&
        looksLikeSaltedMd5(stored.substr(kSaltedMd5Tag.size())))
        return PasswordForm::SaltedMd5;
    if (stored.starts_with(kDesCryptTag) && looksLikeDesCrypt(stored.substr(kDesCryptTag.size())))
        return PasswordForm::DesCrypt;
    if (slowCryptHash(stored)) return PasswordForm::SlowCrypt;
    return PasswordForm::Plain;
}

std::string storedFromAccountFile(std::string_view value) {
    if (looksLikeSaltedMd5(value)) return std::string(kSaltedMd5Tag) + std::string(value);
    if (looksLikeDesCrypt(value)) return std::string(kDesCryptTag) + std::string(value);
    return std::string(value);
}

bool passwordMatches(std::string_view stored, std::string_view given) {
    switch (storedPasswordForm(stored)) {
        case PasswordForm::SaltedMd5:
            return saltedMd5Matches(stored.substr(kSaltedMd5Tag.size()), given);
        case PasswordForm::DesCrypt:
        case PasswordForm::SlowCrypt:
            // crypt_r wants NUL-terminated texts: a password holding a NUL
            // cannot match.
            return cryptMatches(stored.substr(kDesCryptTag.size()), given);
        case PasswordForm::Plain:
            break;
    }
    return equalInConstantTime(stored, given);
}

std::string saltedMd5(std::string_view salt, std::string_view password) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const std::string input = std::string(salt) + std::string(password);
    if (!EVP_Digest(input.data(), input.size(), digest, &length, EVP_md5(), nullptr)) return {};
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out(salt);
    for (unsigned int i = 0; i < length; ++i) {
        out += kHex[digest[i] >> 4];
        out += kHex[digest[i] & 0x0f];
    }
    return out;
}

}  // namespace kestrix
