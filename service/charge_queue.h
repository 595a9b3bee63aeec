#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

namespace kestrix::service {

// A quota or credit change (code 18 or 21 with its amount) for an account.
struct Charge {
    int32_t code = 0;
    std::string user;
    std::string amount;
};

// The changes the database could not take when they came, kept in a file
// until they are written: each is on disk before it is counted as done,
// and the file is read again when the service starts.
class ChargeQueue {
  public:
    // Reads what an earlier run left; throws std::runtime_error when the
    // file is there and cannot be read.
    explicit ChargeQueue(std::filesystem::path file);

    // False when the change could not be made durable.
    [[nodiscard]] bool add(const Charge& charge);
    [[nodiscard]] std::size_t size() const;

    // Offers the changes in their order to store, which returns false when
    // the database still cannot take one; the rest then waits. The file is
    // rewritten whole with what is left. Returns how many were taken.
    std::size_t replay(const std::function<bool(const Charge&)>& store);

  private:
    bool rewrite() const;

    std::filesystem::path file_;
    mutable std::mutex mutex_;
    // Only one replay at a time.
    std::mutex replaying_;
    std::deque<Charge> charges_;
};

}  // namespace kestrix::service
