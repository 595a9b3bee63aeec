#include "maintenance/package_check.h"

#include <elf.h>
#include <openssl/evp.h>

#include <array>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>

namespace kestrix {

namespace {

// The identifying bytes of an ELF header: class, byte order, machine.
struct ElfIdentity {
    unsigned char elfClass;
    unsigned char byteOrder;
    std::uint16_t machine;
    bool operator==(const ElfIdentity&) const = default;
};

std::optional<ElfIdentity> elfIdentity(std::string_view bytes) {
    if (bytes.size() < sizeof(Elf32_Ehdr) || bytes.substr(0, SELFMAG) != ELFMAG)
        return std::nullopt;
    ElfIdentity identity{static_cast<unsigned char>(bytes[EI_CLASS]),
                         static_cast<unsigned char>(bytes[EI_DATA]), 0};
    std::uint16_t type = 0;
    // e_type and e_machine sit at the same place in both classes.
    std::memcpy(&type, bytes.data() + offsetof(Elf32_Ehdr, e_type), sizeof type);
    std::memcpy(&identity.machine, bytes.data() + offsetof(Elf32_Ehdr, e_machine),
                sizeof identity.machine);
    if (type != ET_EXEC && type != ET_DYN) return std::nullopt;
    return identity;
}

const std::optional<ElfIdentity>& ownIdentity() {
    static const std::optional<ElfIdentity> own = [] {
        std::ifstream self("/proc/self/exe", std::ios::binary);
        std::array<char, sizeof(Elf64_Ehdr)> header{};
        self.read(header.data(), header.size());
        return elfIdentity(std::string_view(header.data(), static_cast<size_t>(self.gcount())));
    }();
    return own;
}

std::optional<std::array<unsigned char, 32>> keyBytes(std::string_view hex) {
    std::array<unsigned char, 32> key{};
    if (hex.size() != key.size() * 2) return std::nullopt;
    for (std::size_t i = 0; i < key.size(); ++i) {
        unsigned value = 0;
        for (char c : hex.substr(i * 2, 2)) {
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                value |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                value |= static_cast<unsigned>(c - 'A' + 10);
            else
                return std::nullopt;
        }
        key[i] = static_cast<unsigned char>(value);
    }
    return key;
}

}  // namespace

bool isProgramForThisMachine(std::string_view bytes) {
    const std::optional<ElfIdentity> identity = elfIdentity(bytes);
    return identity && ownIdentity() && *identity == *ownIdentity();
}

bool signatureValid(std::string_view message, std::string_view signature,
                    std::string_view publicKeyHex) {
    const auto key = keyBytes(publicKeyHex);
    if (!key) return false;
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key->data(), key->size()),
        &EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free);
    if (!pkey || !context) return false;
    if (EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, pkey.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                            signature.size(),
                            reinterpret_cast<const unsigned char*>(message.data()),
                            message.size()) == 1;
}

std::string packageProblem(std::string_view package, std::string_view signature,
                           std::string_view publicKeyHex) {
    if (package.empty()) return "the package is empty";
    if (!isProgramForThisMachine(package)) return "the package is not a program for this computer";
    if (!signatureValid(package, signature, publicKeyHex))
        return "the package's signature is not valid";
    return {};
}

}  // namespace kestrix
