#pragma once

#include <string>
#include <vector>

#include "tests/support/scratch.h"

namespace kestrix::test {

// A datagram socket standing in for the system's syslog socket: while it
// lives, KESTRIX_SYSLOG_SOCKET names it, so this process and the programs it
// starts send their audit lines here.
class SyslogSocket {
  public:
    SyslogSocket();
    ~SyslogSocket();
    SyslogSocket(const SyslogSocket&) = delete;
    SyslogSocket& operator=(const SyslogSocket&) = delete;

    // The audit lines received since the last call, each without its
    // RFC 3164 header, which is checked (facility authpriv, identifier
    // kestrix, the sender's process id). A sent datagram is queued here
    // before sendto returns, so nothing needs waiting for.
    std::vector<std::string> take();

  private:
    TempDir dir_;
    int fd_ = -1;
    std::string previous_;
    bool hadPrevious_ = false;
};

// The value of a field (origin, ftp_user, change, outcome...) of an audit
// line, unescaped; empty when the line has none.
std::string auditField(const std::string& line, const std::string& name);

}  // namespace kestrix::test
