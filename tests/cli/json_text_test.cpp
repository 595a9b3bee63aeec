// The JSON the program writes must parse whatever bytes the database holds.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>

#include "cli/json_text.h"

namespace kestrix::cli {
namespace {

TEST(JsonText, AnyBytesBecomeAStringThatParsesBack) {
    const std::string texts[] = {"plain",
                                 "quote \" and \\ slash",
                                 "line\r\nbreak\ttab\x01",
                                 "caf\xc3\xa9 \xe2\x82\xac",
                                 "bad \xff\xfe byte",
                                 "cut \xe2\x82",
                                 "surrogate \xed\xa0\x80",
                                 std::string("nul\0in", 6)};
    std::vector<std::string> quoted;
    for (const std::string& text : texts)
        quoted.push_back(jsonString(text));
    const std::string json = jsonArray(quoted);
    QJsonParseError error;
    const QJsonArray parsed =
        QJsonDocument::fromJson(QByteArray::fromStdString(json), &error).array();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << json;
    ASSERT_EQ(parsed.size(), 8);
    EXPECT_EQ(parsed[1].toString(), QStringLiteral("quote \" and \\ slash"));
    EXPECT_EQ(parsed[2].toString(), QStringLiteral("line\r\nbreak\ttab\x01"));
    EXPECT_EQ(parsed[3].toString(), QString::fromUtf8("caf\xc3\xa9 \xe2\x82\xac"));
    EXPECT_EQ(parsed[4].toString(), QString::fromUtf8("bad \xef\xbf\xbd\xef\xbf\xbd byte"));
    EXPECT_EQ(parsed[5].toString(), QString::fromUtf8("cut \xef\xbf\xbd\xef\xbf\xbd"));
    EXPECT_EQ(parsed[7].toString(), QString::fromUtf8("nul\0in", 6));
}

}  // namespace
}  // namespace kestrix::cli
