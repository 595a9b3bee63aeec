#pragma once

#include <string>
#include <string_view>

namespace kestrix {

// Why the downloaded package must not be installed, or the empty text when it
// may: it must be non-empty, a program (ELF) for this machine, and carry a
// valid Ed25519 signature by the key given as 64 hex digits.
std::string packageProblem(std::string_view package, std::string_view signature,
                           std::string_view publicKeyHex);

// Why the bytes are not a program this computer can run, or the empty text:
// they must be an ELF program (not an object file, core dump or library) of
// the running program's class, byte order and processor.
std::string programMismatch(std::string_view bytes);

// True when the signature is a valid Ed25519 signature of the message by the
// key (64 hex digits); an ill-formed key verifies nothing.
bool signatureValid(std::string_view message, std::string_view signature,
                    std::string_view publicKeyHex);

}  // namespace kestrix
