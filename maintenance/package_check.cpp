#include "maintenance/package_check.h"

#include <elf.h>
#include <openssl/evp.h>

#include <array>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

namespace kestrix {

namespace {

// The identifying fields of an ELF header.
struct ElfHeader {
    unsigned char elfClass = 0;
    unsigned char byteOrder = 0;
    std::uint16_t type = ET_NONE;
    std::uint16_t machine = EM_NONE;
    std::uint64_t entry = 0;
};

template <typename T>
T fieldAt(std::string_view bytes, std::size_t offset) {
    T value{};
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

// The header in this machine's byte order; no value for a file that is not
// ELF or too short for its class's header.
std::optional<ElfHeader> elfHeader(std::string_view bytes) {
    if (bytes.size() < EI_NIDENT || bytes.substr(0, SELFMAG) != ELFMAG) return std::nullopt;
    ElfHeader header;
    header.elfClass = static_cast<unsigned char>(bytes[EI_CLASS]);
    header.byteOrder = static_cast<unsigned char>(bytes[EI_DATA]);
    if (header.elfClass == ELFCLASS64 && bytes.size() >= sizeof(Elf64_Ehdr)) {
        header.type = fieldAt<std::uint16_t>(bytes, offsetof(Elf64_Ehdr, e_type));
        header.machine = fieldAt<std::uint16_t>(bytes, offsetof(Elf64_Ehdr, e_machine));
        header.entry = fieldAt<std::uint64_t>(bytes, offsetof(Elf64_Ehdr, e_entry));
    } else if (header.elfClass == ELFCLASS32 && bytes.size() >= sizeof(Elf32_Ehdr)) {
        header.type = fieldAt<std::uint16_t>(bytes, offsetof(Elf32_Ehdr, e_type));
        header.machine = fieldAt<std::uint16_t>(bytes, offsetof(Elf32_Ehdr, e_machine));
        header.entry = fieldAt<std::uint32_t>(bytes, offsetof(Elf32_Ehdr, e_entry));
    } else {
        return std::nullopt;
    }
    return header;
}

const std::optional<ElfHeader>& ownHeader() {
    static const std::optional<ElfHeader> own = [] {
        std::ifstream self("/proc/self/exe", std::ios::binary);
        std::array<char, sizeof(Elf64_Ehdr)> header{};
        self.read(header.data(), header.size());
        return elfHeader(std::string_view(header.data(), static_cast<size_t>(self.gcount())));
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

std::string programMismatch(std::string_view bytes) {
    const std::optional<ElfHeader> header = elfHeader(bytes);
    const std::optional<ElfHeader>& own = ownHeader();
    if (!header || !own) return "it is not an ELF program";
    if (header->elfClass != own->elfClass || header->byteOrder != own->byteOrder)
        return "it is a program of another word size or byte order";
    // A program: fixed (ET_EXEC) or position-independent (ET_DYN with an
    // entry point, which a plain shared library lacks); an object file
    // (ET_REL) or a core dump (ET_CORE) is none.
    if (header->type != ET_EXEC && !(header->type == ET_DYN && header->entry != 0))
        return "it is an ELF file of type " + std::to_string(header->type) + ", not a program";
    if (header->machine != own->machine)
        return "it is a program for another processor (ELF machine " +
               std::to_string(header->machine) + ")";
    return {};
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
    if (const std::string mismatch = programMismatch(package); !mismatch.empty())
        return "the package is not a program for this computer: " + mismatch;
    if (!signatureValid(package, signature, publicKeyHex))
        return "the package's signature is not valid";
    return {};
}

}  // namespace kestrix
