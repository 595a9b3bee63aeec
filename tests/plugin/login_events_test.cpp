// Logins, addresses and the per-user settings answered from one column.
#include <gtest/gtest.h>

#include "core/sql_literal.h"
#include "tests/plugin/plugin_support.h"

namespace kestrix::plugin::test {
namespace {

using LoginEvents = EventTest;

TEST_P(LoginEvents, PasswordCheckComparesExactlyAndLowerCasesTheName) {
    insertUser(db_, "Bob", "/srv/ftp/bob", "Secret");
    for (int32_t code : {code::kPasswordCheck, code::kPasswordCheckToo}) {
        SCOPED_TRACE(code);
        auto right = send(code, "BOB", "Secret");
        EXPECT_EQ(right.result, 1);
        EXPECT_EQ(right.flag(), 1);
        // The server sees the name lower-cased; the lookup still finds the
        // user stored with a capital.
        EXPECT_EQ(right.user(), "bob");
        EXPECT_EQ(send(code, "bob", "secret").flag(), 0);
        EXPECT_EQ(send(code, "bob", "Secret ").flag(), 0);
        EXPECT_EQ(send(code, "nobody", "Secret").flag(), 0);
    }
}

TEST_P(LoginEvents, EmptyPasswordNeverLogsIn) {
    insertUser(db_, "empty", "/srv/ftp/empty", "");
    exec(db_,
         "insert into users (username, homedir, max_concurrent, max_logins_per_ip) values "
         "('nopass', '/srv/ftp/n', 1, 1)");
    auto reply = send(code::kPasswordCheck, "empty", "");
    EXPECT_EQ(reply.result, 1);
    EXPECT_EQ(reply.flag(), 0);
    EXPECT_EQ(send(code::kPasswordCheck, "nopass", "x").flag(), 0);
    EXPECT_EQ(send(code::kPasswordCheck, "nopass", "").flag(), 0);
}

TEST_P(LoginEvents, ApostrophesInNamesPasswordsAndAddresses) {
    insertUser(db_, "o'brien", "/srv/ftp/o'brien", "it's");
    exec(db_, "insert into blocked_ips_by_user (username, ip) values ('o''brien', '10.0.0.1')");
    exec(db_, "insert into blocked_ips_by_user (username, ip) values ('o''brien', '10.0.0.''2')");
    exec(db_, "insert into sign_files (ip, signon_msg_file) values ('1''2', '/msg/o''on.txt')");
    EXPECT_EQ(send(code::kPasswordCheck, "O'Brien", "it's").flag(), 1);
    EXPECT_EQ(send(code::kPasswordCheck, "o'brien", "its").flag(), 0);
    EXPECT_EQ(send(code::kPasswordCheck, "x' or '1'='1", "it's").flag(), 0);
    auto home = send(code::kHomeDirectory, "o'brien");
    EXPECT_EQ(home.flag(), 1);
    EXPECT_EQ(home.data(), "/srv/ftp/o'brien");
    EXPECT_EQ(send(code::kAddressAllowed, "o'brien", "10.0.0.1").flag(), 0);
    EXPECT_EQ(send(code::kAddressAllowed, "x' or '1'='1", "10.0.0.1").flag(), 1);
    // An apostrophe makes no address: the row blocks nobody, not even its own text.
    EXPECT_EQ(send(code::kAddressAllowed, "o'brien", "10.0.0.'2").flag(), 1);
    EXPECT_EQ(send(code::kAddressAllowed, "o'brien", "10.0.0.2").flag(), 1);
    EXPECT_EQ(send(code::kSignOnFile, "", "", "1'2").data(), "/msg/o'on.txt");

    EXPECT_EQ(send(code::kPasswordChange, "o'brien", "new'one").flag(), 1);
    EXPECT_EQ(send(code::kPasswordCheck, "o'brien", "new'one").flag(), 1);
}

TEST_P(LoginEvents, PasswordChangeStoresTheDataTextForAnExistingUser) {
    insertUser(db_, "carol", "/srv/ftp/carol", "old");
    auto changed = send(code::kPasswordChange, "Carol", "n3w");
    EXPECT_EQ(changed.result, 1);
    EXPECT_EQ(changed.flag(), 1);
    // The name is used as given, not lower-cased.
    EXPECT_EQ(changed.user(), "Carol");
    EXPECT_EQ(send(code::kPasswordCheck, "carol", "old").flag(), 0);
    EXPECT_EQ(send(code::kPasswordCheck, "carol", "n3w").flag(), 1);
    EXPECT_EQ(send(code::kPasswordChange, "nobody", "x").flag(), 0);
}

TEST_P(LoginEvents, HomeDirectoryIsRefusedToDisabledAndUnknownUsers) {
    insertUser(db_, "dave", "/srv/ftp/dave", "p");
    insertUser(db_, "erin", "/srv/ftp/erin", "p");
    exec(db_, "update users set disable_user=0 where username='dave'");
    exec(db_, "update users set disable_user=1 where username='erin'");

    auto home = send(code::kHomeDirectory, "DAVE");
    EXPECT_EQ(home.result, 1);
    EXPECT_EQ(home.flag(), 1);
    EXPECT_EQ(home.data(), "/srv/ftp/dave");

    auto disabled = send(code::kHomeDirectory, "erin", "before");
    EXPECT_EQ(disabled.flag(), 0);
    EXPECT_EQ(disabled.data(), "before");
    EXPECT_EQ(send(code::kHomeDirectory, "nobody").flag(), 0);

    // disable_user NULL is not disabled.
    exec(db_, "update users set disable_user=null where username='erin'");
    EXPECT_EQ(send(code::kHomeDirectory, "erin").flag(), 1);
}

TEST_P(LoginEvents, TextAnswersLeaveTheRecordAloneWithoutAValue) {
    insertUser(db_, "fay", "/srv/ftp/fay", "p");
    for (int32_t code : {code::kLoginMessageFile, code::kSpeedLimit}) {
        auto none = send(code, "fay", "as sent");
        EXPECT_EQ(none.result, 1);
        EXPECT_EQ(none.flag(), kServerFlag);
        EXPECT_EQ(none.data(), "as sent");
    }
    exec(db_,
         "update users set login_msg_file='/msg/fay.txt', speed_limit_value='512' "
         "where username='fay'");
    auto message = send(code::kLoginMessageFile, "fay");
    EXPECT_EQ(message.flag(), 1);
    EXPECT_EQ(message.data(), "/msg/fay.txt");
    EXPECT_EQ(send(code::kSpeedLimit, "fay").data(), "512");
    EXPECT_EQ(send(code::kLoginMessageFile, "nobody", "as sent").flag(), kServerFlag);
}

TEST_P(LoginEvents, SwitchesAreOnOnlyForExactlyOne) {
    insertUser(db_, "gus", "/srv/ftp/gus", "p");
    const std::pair<int32_t, const char*> switches[] = {
        {code::kHideHiddenFiles, "hide_hidden_files"},
        {code::kRelativePaths, "rel_path"},
        {code::kUseQuota, "use_quota"},
        {code::kAlwaysLogin, "always_login"},
        {code::kOneLoginPerAddress, "one_login_per_ip"}};
    for (const auto& [code, column] : switches) {
        SCOPED_TRACE(column);
        auto none = send(code, "gus", "xyz");
        EXPECT_EQ(none.flag(), 1);
        EXPECT_EQ(none.event.data[0], 0);
        EXPECT_EQ(none.event.data[1], 'y');  // only the first byte is the answer
        for (const auto& [stored, expected] : {std::pair{"1", 1}, {"0", 0}, {"2", 0}, {"-1", 0}}) {
            exec(db_, std::string("update users set ") + column + "=" + stored);
            auto reply = send(code, "gus", "xyz");
            EXPECT_EQ(reply.result, 1);
            EXPECT_EQ(reply.flag(), 1);
            EXPECT_EQ(reply.event.data[0], expected) << stored;
        }
        auto unknown = send(code, "nobody", "xyz");
        EXPECT_EQ(unknown.flag(), 1);
        EXPECT_EQ(unknown.event.data[0], 0);
    }
}

TEST_P(LoginEvents, RatioTypeAnswersOnlyTheFourKnownTexts) {
    insertUser(db_, "hal", "/srv/ftp/hal", "p");
    EXPECT_EQ(send(code::kRatioType, "hal", "keep").flag(), kServerFlag);
    for (const char* type :
         {"FilesPerSession", "BytesPerSession", "BytesOverall", "FilesOverall"}) {
        exec(db_, std::string("update users set ratio_type='") + type + "'");
        auto reply = send(code::kRatioType, "hal");
        EXPECT_EQ(reply.flag(), 1);
        EXPECT_EQ(reply.data(), type);
    }
    exec(db_, "update users set ratio_type='bytesoverall'");
    auto lower = send(code::kRatioType, "hal", "keep");
    EXPECT_EQ(lower.flag(), kServerFlag);
    EXPECT_EQ(lower.data(), "keep");
}

TEST_P(LoginEvents, NumbersWithTheirNoValueMarkers) {
    insertUser(db_, "ida", "/srv/ftp/ida", "p");
    struct Case {
        int32_t code;
        const char* column;
        const char* marker;
    };
    const Case cases[] = {{code::kRatioDown, "ratio_down", "65535"},
                          {code::kRatioUp, "ratio_up", "65535"},
                          {code::kIdleTimeout, "timeout", "2147483647"},
                          {code::kSessionTimeout, "session_timeout", "2147483647"},
                          {code::kQuotaMax, "quota_max", "2147483647"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.column);
        EXPECT_EQ(send(c.code, "ida").flag(), 0);  // NULL
        exec(db_, std::string("update users set ") + c.column + "=" + c.marker);
        auto marked = send(c.code, "ida", "keep");
        EXPECT_EQ(marked.flag(), 0);
        EXPECT_EQ(marked.data(), "keep");
        exec(db_, std::string("update users set ") + c.column + "=-25");
        auto negative = send(c.code, "ida");
        EXPECT_EQ(negative.flag(), 1);
        EXPECT_EQ(negative.data(), "-25");
        exec(db_, std::string("update users set ") + c.column + "=300");
        EXPECT_EQ(send(c.code, "ida").data(), "300");
        EXPECT_EQ(send(c.code, "nobody").flag(), 0);
    }
}

TEST_P(LoginEvents, QuotaMaximumIsASixtyFourBitNumber) {
    insertUser(db_, "jan", "/srv/ftp/jan", "p");
    exec(db_, "update users set quota_max=10737418240");
    auto reply = send(code::kQuotaMax, "jan");
    EXPECT_EQ(reply.flag(), 1);
    EXPECT_EQ(reply.data(), "10737418240");
}

TEST_P(LoginEvents, LoginCountsAnswerMinusOneWithoutAValue) {
    insertUser(db_, "kim", "/srv/ftp/kim", "p");
    exec(db_, "update users set max_concurrent=3, max_logins_per_ip=2");
    for (auto [code, expected] :
         {std::pair{code::kMaxConcurrent, "3"}, std::pair{code::kMaxLoginsPerAddress, "2"}}) {
        auto reply = send(code, "KIM");
        EXPECT_EQ(reply.flag(), 1);
        EXPECT_EQ(reply.data(), expected);
        auto none = send(code, "nobody");
        EXPECT_EQ(none.result, 1);
        EXPECT_EQ(none.flag(), 1);
        EXPECT_EQ(none.data(), "-1");
    }
}

TEST_P(LoginEvents, MaintenanceLevelIsOneOfFourOrFlagZero) {
    insertUser(db_, "lou", "/srv/ftp/lou", "p");
    auto none = send(code::kMaintenance, "lou", "keep");
    EXPECT_EQ(none.flag(), 0);
    EXPECT_EQ(none.data(), "keep");
    for (const char* level : {"SYSTEM", "DOMAIN", "GROUP", "READONLY"}) {
        exec(db_, std::string("update users set maintenance='") + level + "'");
        auto reply = send(code::kMaintenance, "lou");
        EXPECT_EQ(reply.flag(), 1);
        EXPECT_EQ(reply.data(), level);
    }
    exec(db_, "update users set maintenance='readonly'");
    EXPECT_EQ(send(code::kMaintenance, "lou", "keep").flag(), 0);
}

TEST_P(LoginEvents, AddressCheckUsesTheServerListBeforeLoginAndTheUserListAfter) {
    insertUser(db_, "max", "/srv/ftp/max", "p");
    exec(db_, "insert into blocked_ips (ip) values ('10.1.1.1')");
    exec(db_, "insert into blocked_ips (ip) values ('10.2')");
    exec(db_, "insert into blocked_ips_by_user (username, ip) values ('MAX', '10.3.3.3')");
    exec(db_, "insert into blocked_ips_by_user (username, ip) values ('*', '10.4.4.4')");
    insertUser(db_, "other", "/srv/ftp/other", "p");
    exec(db_, "insert into blocked_ips_by_user (username, ip) values ('other', '10.5.5.5')");

    auto blocked = send(code::kAddressAllowed, "", "10.1.1.1");
    EXPECT_EQ(blocked.result, 1);
    EXPECT_EQ(blocked.flag(), 0);
    EXPECT_EQ(send(code::kAddressAllowed, "", "10.9.9.9").flag(), 1);
    // A stored partial address is no entry: it blocks nobody, not even its own text.
    EXPECT_EQ(send(code::kAddressAllowed, "", "10.2.0.1").flag(), 1);
    EXPECT_EQ(send(code::kAddressAllowed, "", "10.2").flag(), 1);
    // The client's address is read as a number, however it is written.
    EXPECT_EQ(send(code::kAddressAllowed, "", "::ffff:10.1.1.1").flag(), 0);
    EXPECT_EQ(send(code::kAddressAllowed, "", "010.1.1.001").flag(), 0);
    // Before login the per-user lists do not count.
    EXPECT_EQ(send(code::kAddressAllowed, "", "10.3.3.3").flag(), 1);

    EXPECT_EQ(send(code::kAddressAllowed, "max", "10.3.3.3").flag(), 0);
    EXPECT_EQ(send(code::kAddressAllowed, "max", "10.4.4.4").flag(), 0);
    EXPECT_EQ(send(code::kAddressAllowed, "max", "10.5.5.5").flag(), 1);
    // With a user name the server-wide list is not consulted.
    EXPECT_EQ(send(code::kAddressAllowed, "max", "10.1.1.1").flag(), 1);
}

TEST_P(LoginEvents, AddressPatternsAndBlocksRefuseWhatTheyName) {
    insertUser(db_, "max", "/srv/ftp/max", "p");
    for (const char* row : {"127.0.0.*", "1..2.3", "", "1.2.3.4'--"})
        exec(db_, "insert into blocked_ips (ip) values (" + sqlText(row) + ")");
    exec(db_, "insert into blocked_ips_by_user (username, ip) values ('max', '10.0.5-9.*')");
    exec(db_, "insert into blocked_ips_by_user (username, ip) values ('*', '172.16.0.0/12')");
    for (const char* refused : {"127.0.0.1", "::ffff:127.0.0.9", "0:0:0:0:0:ffff:7f00:1"})
        EXPECT_EQ(send(code::kAddressAllowed, "", refused).flag(), 0) << refused;
    // Stored rows that are no entry block nobody, whatever the client sends.
    for (const char* allowed : {"127.0.1.1", "1.0.2.3", "1..2.3", "", "1.2.3.4'--"})
        EXPECT_EQ(send(code::kAddressAllowed, "", allowed).flag(), 1) << allowed;
    for (const char* refused : {"10.0.5.1", "::ffff:10.0.9.7", "172.31.255.255", "172.020.1.1"})
        EXPECT_EQ(send(code::kAddressAllowed, "max", refused).flag(), 0) << refused;
    for (const char* allowed : {"10.0.4.1", "10.0.10.1", "172.32.0.1"})
        EXPECT_EQ(send(code::kAddressAllowed, "max", allowed).flag(), 1) << allowed;
    EXPECT_EQ(send(code::kAddressAllowed, "ann", "10.0.5.1").flag(), 1);
    EXPECT_EQ(send(code::kAddressAllowed, "ann", "172.16.9.9").flag(), 0);
}

TEST_P(LoginEvents, AddressListAndSignFiles) {
    exec(db_, "insert into log_ips (ip) values ('192.168.1.9')");
    exec(db_,
         "insert into sign_files (ip, signon_msg_file, signoff_msg_file) values "
         "('127.0.0.1', '/msg/on.txt', '/msg/off.txt')");
    exec(db_, "insert into sign_files (ip, signon_msg_file) values ('127.0.0.2', '/msg/on2.txt')");
    EXPECT_EQ(send(code::kAddressListed, "", "192.168.1.9").flag(), 1);
    EXPECT_EQ(send(code::kAddressListed, "", "192.168.1.90").flag(), 0);
    exec(db_, "insert into log_ips (ip) values ('10.8.*.*')");
    // SQL of its own sends no notification: the change is seen once the
    // kept list has had its time (at once on SQLite).
    clock_.advance(AccountStore::kListLifetime);
    EXPECT_EQ(send(code::kAddressListed, "", "::ffff:10.8.3.4").flag(), 1);
    EXPECT_EQ(send(code::kAddressListed, "", "10.9.3.4").flag(), 0);

    // Keyed by the address text, not the data text.
    auto on = send(code::kSignOnFile, "anyone", "10.0.0.1", "127.0.0.1");
    EXPECT_EQ(on.flag(), 1);
    EXPECT_EQ(on.data(), "/msg/on.txt");
    EXPECT_EQ(send(code::kSignOffFile, "", "", "127.0.0.1").data(), "/msg/off.txt");
    auto noOff = send(code::kSignOffFile, "", "keep", "127.0.0.2");
    EXPECT_EQ(noOff.flag(), kServerFlag);
    EXPECT_EQ(noOff.data(), "keep");
    EXPECT_EQ(send(code::kSignOnFile, "", "keep", "127.0.0.3").flag(), kServerFlag);
}

TEST_P(LoginEvents, CodesNotAnsweredLeaveTheRecordUntouched) {
    insertUser(db_, "ned", "/srv/ftp/ned", "p");
    for (int32_t code : {0, 8, 30, 31, 32, 40, 41, 1000, -1, -2147483647 - 1}) {
        SCOPED_TRACE(code);
        const ClientEvent before = makeEvent(code, "NED", "data", "127.0.0.1");
        ClientEvent event = before;
        EXPECT_EQ(dispatcher_->handle(&event), 0);
        EXPECT_EQ(std::memcmp(&event, &before, sizeof event), 0);
    }
    EXPECT_EQ(dispatcher_->handle(nullptr), 0);
}

TEST_P(LoginEvents, TextLongerThanTheFieldIsCutAtACharacterBoundaryButAHomeIsRefused) {
    // 254 two-byte characters and a three-byte one: 512 bytes in all.
    std::string text = "/";
    for (int i = 0; i < 254; ++i)
        text += "\xc3\xa9";  // é
    text += "\xe2\x82\xac";  // €
    ASSERT_EQ(text.size(), 512u);
    insertUser(db_, "olga", text, "p");
    exec(db_, "update users set login_msg_file=" + sqlText(text) + " where username='olga'");
    auto reply = send(code::kLoginMessageFile, "olga", "", "127.0.0.1");
    EXPECT_EQ(reply.flag(), 1);
    // 511 bytes would split the euro sign: the answer stops before it.
    EXPECT_EQ(reply.data(), text.substr(0, 509));
    EXPECT_EQ(fieldText(reply.event.address), "127.0.0.1");

    std::string odd = "/" + std::string(509, 'a') + "\xc3\xa9";  // 512 bytes
    exec(db_, "update users set login_msg_file=" + sqlText(odd) + " where username='olga'");
    EXPECT_EQ(send(code::kLoginMessageFile, "olga").data(), "/" + std::string(509, 'a'));

    // A home directory cut short would be another directory.
    auto home = send(code::kHomeDirectory, "olga");
    EXPECT_EQ(home.flag(), 0);
    EXPECT_EQ(home.data(), "");
    exec(db_, "update users set homedir=" + sqlText(text.substr(0, 509)));
    EXPECT_EQ(send(code::kHomeDirectory, "olga").data(), text.substr(0, 509));
}

TEST_P(LoginEvents, HashedPasswordsTakenOverFromTheServerFileLogIn) {
    // Salted MD5: salt "cb", password "TestPassword"; the hex compares
    // without regard to case, the password itself exactly.
    insertUser(db_, "md5user", "/srv/ftp/m", "{SMD5}cb8EA58F0751BAA5AF391253F7DADD3D46");
    insertUser(db_, "md5lower", "/srv/ftp/l", "{SMD5}cb8ea58f0751baa5af391253f7dadd3d46");
    insertUser(db_, "desuser", "/srv/ftp/d", "{CRYPT}xYSVpu6KN/ldI");
    // An untagged hash is plain text: only the hash itself logs in.
    insertUser(db_, "untagged", "/srv/ftp/u", "cb8EA58F0751BAA5AF391253F7DADD3D46");
    for (int32_t code : {code::kPasswordCheck, code::kPasswordCheckToo}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(send(code, "MD5User", "TestPassword").flag(), 1);
        EXPECT_EQ(send(code, "md5lower", "TestPassword").flag(), 1);
        EXPECT_EQ(send(code, "md5user", "testpassword").flag(), 0);
        EXPECT_EQ(send(code, "md5user", "cb8EA58F0751BAA5AF391253F7DADD3D46").flag(), 0);
        EXPECT_EQ(send(code, "desuser", "Old!Pass").flag(), 1);
        EXPECT_EQ(send(code, "desuser", "old!pass").flag(), 0);
        EXPECT_EQ(send(code, "desuser", "{CRYPT}xYSVpu6KN/ldI").flag(), 0);
        EXPECT_EQ(send(code, "untagged", "TestPassword").flag(), 0);
        EXPECT_EQ(send(code, "untagged", "cb8EA58F0751BAA5AF391253F7DADD3D46").flag(), 1);
    }
}

KESTRIX_ON_BOTH_ENGINES(LoginEvents);

}  // namespace
}  // namespace kestrix::plugin::test
