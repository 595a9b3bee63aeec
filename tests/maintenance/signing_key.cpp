#include "tests/maintenance/signing_key.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace kestrix::test {

SigningKey::SigningKey() : key_(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519")) {
    if (!key_) throw std::runtime_error("no Ed25519 key");
}

SigningKey::~SigningKey() {
    EVP_PKEY_free(key_);
}

std::string SigningKey::publicKeyHex() const {
    unsigned char raw[32];
    size_t length = sizeof raw;
    if (EVP_PKEY_get_raw_public_key(key_, raw, &length) != 1) throw std::runtime_error("no key");
    return QByteArray(reinterpret_cast<const char*>(raw), static_cast<int>(length))
        .toHex()
        .toStdString();
}

QByteArray SigningKey::sign(const QByteArray& message) const {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    QByteArray signature(64, '\0');
    size_t length = static_cast<size_t>(signature.size());
    const bool ok =
        EVP_DigestSignInit(context, nullptr, nullptr, nullptr, key_) == 1 &&
        EVP_DigestSign(context, reinterpret_cast<unsigned char*>(signature.data()), &length,
                       reinterpret_cast<const unsigned char*>(message.constData()),
                       static_cast<size_t>(message.size())) == 1;
    EVP_MD_CTX_free(context);
    if (!ok) throw std::runtime_error("signing failed");
    return signature;
}

}  // namespace kestrix::test
