#include "service/peer_policy.h"

#include <grp.h>
#include <pwd.h>

#include <algorithm>
#include <charconv>
#include <optional>
#include <sstream>

#include "core/settings_store.h"

namespace kestrix::service {

namespace {

constexpr const char* kServiceKey = "Software\\Kestrix\\Quellind";
constexpr const char* kDefaultPeerUsers = "root,ftp";

std::vector<std::string> listOf(const std::string& text) {
    std::vector<std::string> items;
    std::istringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        const auto first = item.find_first_not_of(" \t");
        const auto last = item.find_last_not_of(" \t");
        if (first != std::string::npos) items.push_back(item.substr(first, last - first + 1));
    }
    return items;
}

template <class Id>
std::optional<Id> number(const std::string& text) {
    unsigned long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return static_cast<Id>(value);
}

}  // namespace

bool PeerPolicy::allows(uid_t uid, gid_t gid) const {
    return std::find(users.begin(), users.end(), uid) != users.end() ||
           std::find(groups.begin(), groups.end(), gid) != groups.end();
}

PeerPolicy PeerPolicy::fromSettings(const SettingsStore& store,
                                    std::vector<std::string>& problems) {
    PeerPolicy policy;
    std::string users = store.readValue(kServiceKey, "PeerUsers");
    if (users.empty()) users = kDefaultPeerUsers;
    for (const std::string& name : listOf(users)) {
        if (auto uid = number<uid_t>(name)) {
            policy.users.push_back(*uid);
        } else if (const passwd* entry = ::getpwnam(name.c_str())) {
            policy.users.push_back(entry->pw_uid);
        } else {
            problems.push_back("PeerUsers: no user \"" + name + "\"");
        }
    }
    for (const std::string& name : listOf(store.readValue(kServiceKey, "PeerGroups"))) {
        if (auto gid = number<gid_t>(name)) {
            policy.groups.push_back(*gid);
        } else if (const group* entry = ::getgrnam(name.c_str())) {
            policy.groups.push_back(entry->gr_gid);
        } else {
            problems.push_back("PeerGroups: no group \"" + name + "\"");
        }
    }
    return policy;
}

}  // namespace kestrix::service
