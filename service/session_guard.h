#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "service/quellind_wire.h"

namespace kestrix::service {

// What one session's connection may ask. Before its login only the
// connection and login questions; after a password check answered yes the
// connection belongs to that account, and every question is asked about it
// and nothing else. The client's address is the one the first request gave.
class SessionGuard {
  public:
    // Makes the record ask what this session may ask: the pinned address,
    // the bound account's name. False: the request is refused.
    [[nodiscard]] bool admit(quellind_record& record);
    // The plug-in's answer to an admitted record: a password check
    // answered yes binds the connection to the name the plug-in left.
    void answered(const quellind_record& record);

    [[nodiscard]] bool bound() const { return account_.has_value(); }
    [[nodiscard]] const std::string& account() const { return *account_; }
    [[nodiscard]] const std::string& address() const { return address_; }

    // The FTP server's process on the other end of the connection.
    void setProcess(long long process) { process_ = process; }
    [[nodiscard]] long long process() const { return process_; }
    // The session's registration among every host's, 0 for none.
    void setRegistration(long long id) { registration_ = id; }
    [[nodiscard]] long long registration() const { return registration_; }

    // How long a password check waits before it is asked: the more checks
    // failed on this connection, the longer, so that a session cannot try
    // passwords faster than the FTP server lets a client.
    [[nodiscard]] std::chrono::milliseconds passwordDelay() const;

    static bool isPasswordCheck(int32_t code) { return code == 3 || code == 34; }

  private:
    std::optional<std::string> account_;
    std::string address_;
    bool addressPinned_ = false;
    int failedChecks_ = 0;
    long long process_ = 0;
    long long registration_ = 0;
};

}  // namespace kestrix::service
