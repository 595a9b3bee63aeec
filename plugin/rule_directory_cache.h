#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "plugin/path_rules.h"

namespace kestrix::plugin {

using Clock = std::function<std::chrono::steady_clock::time_point()>;

// The resolved directories of rules, kept across the checks of one
// connection: a user with many rules is checked again and again, and
// resolving each rule on disk every time costs more than reading it. An
// entry is trusted for a short while only, so a directory replaced by a
// link (or created, or removed) is seen within that time.
class RuleDirectoryCache {
  public:
    static constexpr std::chrono::milliseconds kLifetime{1000};
    // Beyond this many entries the cache starts again empty.
    static constexpr std::size_t kMaxEntries = 20000;

    explicit RuleDirectoryCache(Clock clock) : clock_(std::move(clock)) {}

    // What a check resolves: the directory rules' directories, or the file
    // rules' names. Each comes in its own order.
    enum class Rows { Directories, Files };

    // Resolves the rule directories of one check in the letter's form.
    class Check {
      public:
        Check(RuleDirectoryCache& cache, PathForm form, Rows rows = Rows::Directories);
        // The normalised directory, kept in the cache: valid until the next
        // resolve.
        const std::optional<std::string>& resolve(std::string_view directory);

      private:
        RuleDirectoryCache& cache_;
        PathForm form_;
        Rows rows_;
        std::chrono::steady_clock::time_point now_;
        std::size_t place_ = 0;                  // of the next directory asked for
        std::optional<LongNameResolver> fresh_;  // made at the first miss
    };

    // How many times a name had to be looked up by its hash rather than
    // found at its place in the order of the check before.
    [[nodiscard]] std::size_t lookups() const { return lookups_; }

  private:
    struct Entry {
        std::optional<std::string> resolved;
        std::chrono::steady_clock::time_point at;
    };
    // Looked up by a view of the row's text, without a copy.
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const {
            return std::hash<std::string_view>{}(name);
        }
    };
    using Entries = std::unordered_map<std::string, Entry, NameHash, std::equal_to<>>;
    struct Table {
        Entries entries;
        // The entries in the order the last check asked for them: a user's
        // rules come in the same order check after check, so the entry at
        // the same place is compared first and the name is hashed only when
        // it differs. Elements of the map stay where they are until it is
        // cleared, and these with it. One order for each kind of rows.
        std::array<std::vector<Entries::value_type*>, 2> lastOrders;
    };
    Table& table(PathForm form) { return form == PathForm::LongName ? longName_ : fullPath_; }

    Clock clock_;
    std::size_t lookups_ = 0;
    Table longName_;
    Table fullPath_;
};

}  // namespace kestrix::plugin
