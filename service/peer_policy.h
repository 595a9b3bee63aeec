#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kestrix {
class SettingsStore;
}

namespace kestrix::service {

// Which processes may connect: by the user or group the kernel reports for
// the connecting process (SO_PEERCRED). The FTP server connects as root
// when a session starts, and as the sessions' user when it reconnects.
struct PeerPolicy {
    std::vector<uid_t> users;
    std::vector<gid_t> groups;

    [[nodiscard]] bool allows(uid_t uid, gid_t gid) const;

    // From the settings store: key "Software\Kestrix\Quellind", values
    // PeerUsers (default "root,ftp") and PeerGroups (default none), each a
    // list of names or numbers separated by commas. A name that does not
    // exist is left out and reported in problems.
    static PeerPolicy fromSettings(const SettingsStore& store, std::vector<std::string>& problems);
};

}  // namespace kestrix::service
