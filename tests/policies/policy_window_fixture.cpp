#include "tests/policies/policy_window_fixture.h"

#include <QPushButton>
#include <QTest>

#include "core/database.h"
#include "core/sql_literal.h"

namespace kestrix::test {

void PolicyWindowTest::SetUp() {
    ShellFixture::SetUp();
    scratch_ = makeScratchDatabase(GetParam());
    configureStore(scratch_->connectionString());
}

Rows PolicyWindowTest::rows(const std::string& sql, const std::vector<std::string>& columns) {
    return rowsOn(scratch_->connectionString(), sql, columns);
}

void PolicyWindowTest::refuseInsert(const std::string& table, const std::string& column,
                                    const std::string& value) {
    const std::string when = "NEW." + column + "=" + sqlText(value);
    if (GetParam() == Engine::SQLite) {
        run("CREATE TRIGGER refuse BEFORE INSERT ON " + table + " WHEN " + when +
            " BEGIN SELECT RAISE(ABORT, 'injected failure'); END");
        return;
    }
    run("CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF " + when +
        " THEN RAISE EXCEPTION 'injected failure'; END IF; RETURN NEW; END $$");
    run("CREATE TRIGGER refuse BEFORE INSERT ON " + table +
        " FOR EACH ROW EXECUTE FUNCTION refuse()");
}

void PolicyWindowTest::click(QWidget* window, const char* button) {
    auto* target = childOf<QPushButton>(window, button);
    ASSERT_TRUE(target->isEnabled()) << button;
    QTest::mouseClick(target, Qt::LeftButton);
}

void PolicyWindowTest::clickBox(QAbstractButton* box) {
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

Message appMessage(std::string text) {
    return Message{std::move(text), "Tavix2", MessageIcon::Exclamation, MessageButtons::OK, 1};
}

}  // namespace kestrix::test
