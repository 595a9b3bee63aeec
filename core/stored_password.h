#pragma once

#include <string>
#include <string_view>

namespace kestrix {

// How a password is kept in users.password. Hashes taken over from the FTP
// server's own account file carry a tag; anything else is the plain text.
enum class PasswordForm {
    Plain,
    SaltedMd5,  // "{SMD5}" + 2 salt letters + 32 hex digits of MD5(salt + password)
    DesCrypt,   // "{CRYPT}" + 13 characters of the C library's DES crypt
    SlowCrypt,  // "{CRYPT}$" + a crypt hash with its own prefix ($y$ yescrypt, $6$ ...)
};

inline constexpr std::string_view kSaltedMd5Tag = "{SMD5}";
inline constexpr std::string_view kDesCryptTag = "{CRYPT}";

PasswordForm storedPasswordForm(std::string_view stored);

// The text to store for a password value of the server's account file:
// recognised hashes get their tag, any other value stays as it is.
std::string storedFromAccountFile(std::string_view value);

// True when the given password matches the stored text: a tagged hash by
// hashing the given password, plain text by exact comparison in constant
// time.
bool passwordMatches(std::string_view stored, std::string_view given);

// Upper-case hex MD5 of salt + password, prefixed by the salt (34 characters
// for a two-letter salt), as the FTP server writes it.
std::string saltedMd5(std::string_view salt, std::string_view password);

}  // namespace kestrix
