#include <gtest/gtest.h>

#include "core/connection_string.h"

namespace kestrix {
namespace {

TEST(ConnectionStringTest, SplitsPairsTrimmingKeysAndHonouringQuotes) {
    const auto pairs = splitConnectionString(
        " Provider = SQLite ;; Data Source=\"/srv/a;b/servu.db\" ;Extra=\"say \"\"hi\"\"\";junk;");
    ASSERT_EQ(pairs.size(), 3u);
    EXPECT_EQ(pairs.at("provider"), "SQLite");
    EXPECT_EQ(pairs.at("data source"), "/srv/a;b/servu.db");
    EXPECT_EQ(pairs.at("extra"), "say \"hi\"");
}

TEST(ConnectionStringTest, SqliteNamesItsFile) {
    const auto parsed =
        parseConnectionString("provider=sqlite;DATA SOURCE=/var/lib/kestrix/servu.db");
    ASSERT_TRUE(parsed.target) << parsed.error;
    EXPECT_EQ(parsed.target->engine, Engine::SQLite);
    EXPECT_EQ(parsed.target->path, "/var/lib/kestrix/servu.db");

    EXPECT_FALSE(parseConnectionString("Provider=SQLite").target);
}

TEST(ConnectionStringTest, PostgresWithHostPortAndCredentials) {
    const auto parsed = parseConnectionString(
        "Provider=PostgreSQL;Data Source=db.local:5433;Initial Catalog=servu;User ID=ftp;"
        "Password=it's \\secret;Persist Security Info=False");
    ASSERT_TRUE(parsed.target) << parsed.error;
    const ConnectionTarget& target = *parsed.target;
    EXPECT_EQ(target.engine, Engine::PostgreSQL);
    EXPECT_EQ(target.host, "db.local");
    EXPECT_EQ(target.port, "5433");
    EXPECT_EQ(target.database, "servu");
    EXPECT_EQ(target.user, "ftp");
    EXPECT_EQ(target.password, "it's \\secret");
    // libpq's own quoting keeps blanks, apostrophes and backslashes intact.
    EXPECT_EQ(sociConnectString(target),
              "connect_timeout=5 keepalives=1 keepalives_idle=5 keepalives_interval=2 "
              "keepalives_count=3 host='db.local' port='5433' dbname='servu' user='ftp' "
              "password='it\\'s \\\\secret'");
    // The plug-in's short limits: connecting and every statement.
    EXPECT_EQ(sociConnectString(target, {3, 3, 2500}),
              "connect_timeout=3 keepalives=1 keepalives_idle=5 keepalives_interval=2 "
              "keepalives_count=3 options='-c statement_timeout=2500' "
              "host='db.local' port='5433' dbname='servu' user='ftp' password='it\\'s \\\\secret'");
}

TEST(ConnectionStringTest, IntegratedSecurityOnLocalhostUsesTheSocket) {
    for (const char* value : {"SSPI", "true"}) {
        const auto parsed = parseConnectionString(
            std::string("Provider=PostgreSQL;Data Source=LocalHost;Initial Catalog=servu;"
                        "User ID=ignored;Password=ignored;Integrated Security=") +
            value);
        ASSERT_TRUE(parsed.target) << parsed.error;
        EXPECT_TRUE(parsed.target->integratedSecurity);
        EXPECT_EQ(parsed.target->host, "");
        EXPECT_EQ(parsed.target->user, "");
        EXPECT_EQ(parsed.target->password, "");
        EXPECT_EQ(sociConnectString(*parsed.target),
                  "connect_timeout=5 keepalives=1 keepalives_idle=5 keepalives_interval=2 "
                  "keepalives_count=3 dbname='servu'");
    }
    const auto remote = parseConnectionString(
        "Provider=PostgreSQL;Data Source=db.local;Initial Catalog=servu;Integrated Security=SSPI");
    ASSERT_TRUE(remote.target);
    EXPECT_EQ(remote.target->host, "db.local");
}

TEST(ConnectionStringTest, SeveralServersInEitherFormConnectOnlyToTheOneThatWrites) {
    const char* forms[] = {
        "Provider=PostgreSQL;Data Source=db1:5433, [2001:db8::7]:5434 ,db3;Initial "
        "Catalog=servu;User ID=ftp",
        "Provider=PostgreSQL;Server=db1:5433,[2001:db8::7]:5434,db3;Database=servu;User ID=ftp;"
        "target_session_attrs=read-write",
        "Provider=PostgreSQL;host=db1,2001:db8::7,db3;port=5433,5434,;dbname=servu;user=ftp;"
        "target_session_attrs=read-write"};
    for (const char* text : forms) {
        const auto parsed = parseConnectionString(text);
        ASSERT_TRUE(parsed.target) << text << ": " << parsed.error;
        EXPECT_EQ(dataSource(*parsed.target), "db1:5433,[2001:db8::7]:5434,db3") << text;
        EXPECT_EQ(sociConnectString(*parsed.target),
                  "connect_timeout=5 keepalives=1 keepalives_idle=5 keepalives_interval=2 "
                  "keepalives_count=3 host='db1,2001:db8::7,db3' port='5433,5434,' "
                  "target_session_attrs='read-write' dbname='servu' user='ftp'")
            << text;
    }
    // One port for every host.
    const auto shared = parseConnectionString(
        "Provider=PostgreSQL;Host=a,b;Port=6000;Initial Catalog=d;Target Session Attrs=primary");
    ASSERT_TRUE(shared.target) << shared.error;
    EXPECT_EQ(dataSource(*shared.target), "a:6000,b:6000");
    EXPECT_EQ(shared.target->sessionAttributes, "primary");

    // Kestrix writes: a standby is never a server it may settle on.
    for (const char* refused :
         {"Provider=PostgreSQL;Host=a,b;Port=1,2,3;Initial Catalog=d",
          "Provider=PostgreSQL;Data Source=a,b;Host=a;Initial Catalog=d",
          "Provider=PostgreSQL;Data Source=a,,b;Initial Catalog=d",
          "Provider=PostgreSQL;Data Source=a,b:x;Initial Catalog=d",
          "Provider=PostgreSQL;Data Source=a,b;Initial Catalog=d;target_session_attrs=any",
          "Provider=PostgreSQL;Data Source=a;Initial Catalog=d;target_session_attrs=standby"}) {
        const auto parsed = parseConnectionString(refused);
        EXPECT_FALSE(parsed.target) << refused;
        EXPECT_FALSE(parsed.error.empty()) << refused;
    }
}

TEST(ConnectionStringTest, PostgresNeedsADatabaseAndANumericPort) {
    EXPECT_FALSE(parseConnectionString("Provider=PostgreSQL;Data Source=localhost").target);
    const auto parsed =
        parseConnectionString("Provider=PostgreSQL;Data Source=h:abc;Initial Catalog=d");
    EXPECT_FALSE(parsed.target);
    EXPECT_NE(parsed.error.find("abc"), std::string::npos);
}

TEST(ConnectionStringTest, OtherProvidersFailNamingThemAndTheTwoEngines) {
    for (const char* provider : {"SQLOLEDB", "SQLOLEDB.1", "Microsoft.Jet.OLEDB.4.0", "MSDASQL"}) {
        const auto parsed =
            parseConnectionString(std::string("Provider=") + provider + ";Data Source=x");
        EXPECT_FALSE(parsed.target);
        EXPECT_NE(parsed.error.find(std::string("\"") + provider + "\""), std::string::npos)
            << parsed.error;
        EXPECT_NE(parsed.error.find("SQLite"), std::string::npos);
        EXPECT_NE(parsed.error.find("PostgreSQL"), std::string::npos);
    }
    const auto none = parseConnectionString("");
    EXPECT_FALSE(none.target);
    EXPECT_FALSE(none.error.empty());
}

}  // namespace
}  // namespace kestrix
