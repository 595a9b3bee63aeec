#pragma once

#include <QByteArray>

#include <memory>
#include <string>

typedef struct evp_pkey_st EVP_PKEY;

namespace kestrix::test {

// An Ed25519 key pair made for one test.
class SigningKey {
  public:
    SigningKey();
    ~SigningKey();
    std::string publicKeyHex() const;
    QByteArray sign(const QByteArray& message) const;

  private:
    EVP_PKEY* key_;
};

}  // namespace kestrix::test
