#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "service/quellind_wire.h"
#include "tests/support/scratch.h"

namespace kestrix::service::test {

namespace fs = std::filesystem;

// A settings store, a socket path and a state directory for one service.
class ServicePlace {
  public:
    explicit ServicePlace(const std::string& connectionString);
    void setValue(const std::string& key, const std::string& name, const std::string& value);
    fs::path settings() const { return dir_.path() / "registry"; }
    fs::path socket() const { return dir_.path() / "quellind.sock"; }
    fs::path state() const { return dir_.path() / "state"; }

  private:
    kestrix::test::TempDir dir_;
};

// The built quellind, run as the service manager runs it; stopped at the end.
class RunningService {
  public:
    explicit RunningService(const ServicePlace& place);
    ~RunningService();
    RunningService(const RunningService&) = delete;
    RunningService& operator=(const RunningService&) = delete;

    // Ends it at once, as a crash would.
    void kill();
    // Everything it has logged so far.
    std::string log();
    // Whether it logs the text (within a limit that only ends a failing test).
    bool logs(const std::string& text);

  private:
    void readLog(int fd);

    pid_t pid_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string log_;
    bool ended_ = false;
};

// One session's connection to the service.
class ServiceClient {
  public:
    // Connects; connected() tells whether it could.
    explicit ServiceClient(const fs::path& socket);
    ~ServiceClient();
    ServiceClient(const ServiceClient&) = delete;
    ServiceClient& operator=(const ServiceClient&) = delete;
    bool connected() const { return fd_ >= 0; }

    struct Reply {
        uint32_t status;
        quellind_record record;
        int32_t flag() const { return record.flag; }
        std::string data() const;
        std::string user() const;
    };
    // No value when the service closed the connection or is gone.
    std::optional<Reply> ask(int32_t code, const std::string& user = {},
                             const std::string& data = {}, const std::string& address = "10.0.0.1");
    std::optional<Reply> stillAllowed();
    std::optional<Reply> admit();
    std::optional<Reply> send(const quellind_request& request);

  private:
    int fd_ = -1;
};

quellind_request requestOf(uint32_t kind, int32_t code, const std::string& user,
                           const std::string& data, const std::string& address);

}  // namespace kestrix::service::test
