#pragma once

#include <string>
#include <string_view>

namespace kestrix::audit {

// The audit trail: one line in the system journal (identifier "kestrix")
// for every change made to the accounts, saying who made it, from where,
// to which FTP user, what changed and how it ended. Passwords never appear.

// The program this process is. Nothing is recorded until a program says
// which it is, so tests and benchmarks of the shared code stay silent.
enum class Program { None, Window, CommandLine, Migration };
void setProgram(Program program);
Program program();

enum class Result { Done, Refused, Failed };

struct Change {
    std::string origin;   // "kestrix user set", "Tavix main window", "apply-dates", "migration"
    std::string ftpUser;  // empty: the change is not one user's
    std::string what;     // the change in one line; empty: the origin says it
    Result result = Result::Done;
    std::string reason;  // why it was refused or failed; line breaks become blanks
};

// The Unix user making the change, and the one who called sudo, if any.
struct Actor {
    std::string user;
    std::string sudoUser;
};
Actor currentActor();

// A value as it appears in a line: in double quotes, with backslash,
// double quote, control characters, line separators and bytes that are no
// UTF-8 escaped, so that a value can neither end the line nor forge a field.
// Very long values are cut.
std::string quotedValue(std::string_view value);

// The line of one change, without the syslog header:
// by="root" sudo_user="ann" origin="kestrix user set" ftp_user="bob"
// change="--home /srv/bob" outcome="done"
std::string auditLine(const Change& change, const Actor& actor);

// Writes the change: to syslog(3) (facility authpriv), or, when the
// environment names a datagram socket in KESTRIX_SYSLOG_SOCKET, to that
// socket as an RFC 3164 message. Does nothing while the program is None.
void record(const Change& change);

// For the write paths the window shares with kestrix: recorded only in the
// window, since kestrix records each of its commands once as a whole.
void recordWindowChange(const Change& change);

// The change as the log window shows it: who it concerns, what it was, in
// which database, and whether it was done (and if not, why).
std::string windowLogLine(const Change& change);

}  // namespace kestrix::audit
