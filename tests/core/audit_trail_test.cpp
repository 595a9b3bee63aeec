// The audit trail's lines and where they go.
#include "core/audit_trail.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/support/syslog_socket.h"

namespace kestrix::audit {
namespace {

TEST(AuditTrail, ValuesCannotEndTheLineOrForgeAField) {
    EXPECT_EQ(quotedValue("bob"), "\"bob\"");
    EXPECT_EQ(quotedValue("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(quotedValue("one\ntwo\r\tthree"), "\"one\\ntwo\\r\\tthree\"");
    EXPECT_EQ(quotedValue(std::string("nul\0bell\a del\x7f", 14)),
              "\"nul\\x00bell\\x07 del\\x7F\"");
    // NEL and the line separator end lines for some readers; other text stays.
    EXPECT_EQ(quotedValue("a\xC2\x85z \xE2\x80\xA8 Jürgen"), "\"a\\u0085z \\u2028 Jürgen\"");
    // Bytes that are no UTF-8: a lone continuation, a cut sequence, overlong.
    EXPECT_EQ(quotedValue("\x80x\xE2\x82"), "\"\\x80x\\xE2\\x82\"");
    EXPECT_EQ(quotedValue("\xC0\xAF"), "\"\\xC0\\xAF\"");

    const std::string notes(5000, 'n');
    const std::string cut = quotedValue(notes);
    EXPECT_LT(cut.size(), 1100u);
    EXPECT_NE(cut.find("...(3976 more bytes)\""), std::string::npos) << cut;
    // A cut never splits a character.
    const std::string umlauts = quotedValue(std::string(1023, 'x') + "ü");
    EXPECT_NE(umlauts.find("xx...(2 more bytes)\""), std::string::npos) << umlauts;
}

TEST(AuditTrail, LineNamesWhoWhatAndTheOutcome) {
    Change change;
    change.origin = "kestrix user set";
    change.ftpUser = "bob";
    change.what = "--home /srv/bob";
    EXPECT_EQ(auditLine(change, {"root", "ann"}),
              "by=\"root\" sudo_user=\"ann\" origin=\"kestrix user set\" ftp_user=\"bob\" "
              "change=\"--home /srv/bob\" outcome=\"done\"");
    change.ftpUser.clear();
    change.what.clear();
    change.result = Result::Refused;
    change.reason = "The Home Directory must be a full path starting with /.\r\n\r\nPlease check.";
    EXPECT_EQ(auditLine(change, {"ann", ""}),
              "by=\"ann\" origin=\"kestrix user set\" outcome=\"refused: The Home Directory must "
              "be a full path starting with /. Please check.\"");
    change.result = Result::Failed;
    change.reason = "disk I/O error";
    EXPECT_EQ(auditLine(change, {"ann", ""}),
              "by=\"ann\" origin=\"kestrix user set\" outcome=\"failed: disk I/O error\"");
}

TEST(AuditTrail, ActorIsTheEffectiveUserAndTheSudoCaller) {
    ::unsetenv("SUDO_USER");
    const Actor plain = currentActor();
    EXPECT_FALSE(plain.user.empty());
    EXPECT_EQ(plain.sudoUser, "");
    if (::geteuid() == 0) {
        EXPECT_EQ(plain.user, "root");
    }
    ::setenv("SUDO_USER", "ann", 1);
    EXPECT_EQ(currentActor().sudoUser, "ann");
    ::unsetenv("SUDO_USER");
}

TEST(AuditTrail, RecordedOnlyOnceTheProgramIsKnownAndWindowWritesOnlyInTheWindow) {
    test::SyslogSocket socket;
    Change change;
    change.origin = "Tavix main window";
    change.ftpUser = "bob";
    change.what = "user deleted";

    setProgram(Program::None);
    record(change);
    recordWindowChange(change);
    EXPECT_TRUE(socket.take().empty());

    // kestrix shares the window's write paths and records its commands itself.
    setProgram(Program::CommandLine);
    recordWindowChange(change);
    EXPECT_TRUE(socket.take().empty());
    record(change);
    EXPECT_EQ(socket.take(), (std::vector<std::string>{auditLine(change, currentActor())}));

    setProgram(Program::Window);
    change.result = Result::Failed;
    change.reason = "the database\nsaid no";
    recordWindowChange(change);
    const auto lines = socket.take();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(test::auditField(lines[0], "outcome"), "failed: the database said no");
    setProgram(Program::None);
}

}  // namespace
}  // namespace kestrix::audit
