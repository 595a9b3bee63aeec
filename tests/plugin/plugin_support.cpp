#include <gtest/gtest.h>

#include "tests/plugin/plugin_support.h"

#include <stdexcept>

#include "core/sql_literal.h"

namespace kestrix::plugin::test {

namespace {

template <std::size_t N>
void copyField(char (&field)[N], std::string_view text) {
    if (!text.empty()) std::memcpy(field, text.data(), std::min(text.size(), N));
}

}  // namespace

ClientEvent makeEvent(int32_t code, std::string_view user, std::string_view data,
                      std::string_view address) {
    ClientEvent event;
    std::memset(&event, 0, sizeof event);
    event.code = code;
    event.flag = kServerFlag;
    copyField(event.userName, user);
    copyField(event.data, data);
    copyField(event.address, address);
    return event;
}

void exec(Database& db, const std::string& sql) {
    if (!db.execute(sql)) throw std::runtime_error(sql + ": " + db.lastError());
}

void insertUser(Database& db, std::string_view name, std::string_view homedir,
                std::string_view password) {
    exec(db,
         "insert into users (username, homedir, password, max_concurrent, max_logins_per_ip, "
         "quota_current) values (" +
             sqlText(name) + ", " + sqlText(homedir) + ", " + sqlText(password) + ", 1, 1, 0)");
}

void insertDirRule(Database& db, std::string_view user, std::string_view directory,
                   std::string_view rights, int inherit) {
    exec(db, "insert into dir_rights (username, directory, dir_rights, inherit_subdirs) values (" +
                 sqlText(user) + ", " + sqlText(directory) + ", " + sqlText(rights) + ", " +
                 std::to_string(inherit) + ")");
}

void EventTest::SetUp() {
    scratch_ = kestrix::test::makeScratchDatabase(GetParam());
    ASSERT_TRUE(db_.open(scratch_->connectionString())) << db_.lastError();
    const std::string connectionString = scratch_->connectionString();
    dispatcher_ = std::make_unique<EventDispatcher>(
        [this, connectionString] {
            ++connectionStringReads_;
            return connectionString;
        },
        clock_.function());
}

EventTest::Reply EventTest::send(int32_t code, std::string_view user, std::string_view data,
                                 std::string_view address) {
    Reply reply{0, makeEvent(code, user, data, address)};
    reply.result = dispatcher_->handle(&reply.event);
    return reply;
}

std::string EventTest::path(std::string_view relative) const {
    return (files_.path() / relative).string();
}

std::string engineTestName(const ::testing::TestParamInfo<Engine>& info) {
    return kestrix::test::engineName(info.param);
}

}  // namespace kestrix::plugin::test
