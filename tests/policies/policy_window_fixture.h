#pragma once

#include <QAbstractButton>
#include <QString>
#include <QWidget>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/ui_support/shell_fixture.h"

namespace kestrix::test {

// A per-user dialog on a real database of either engine, with scripted
// message boxes.
class PolicyWindowTest : public ShellFixture, public ::testing::WithParamInterface<Engine> {
  protected:
    void SetUp() override;

    void run(const std::string& sql) { executeOn(scratch_->connectionString(), sql); }
    Rows rows(const std::string& sql, const std::vector<std::string>& columns);
    // A trigger that refuses to store the value in table.column.
    void refuseInsert(const std::string& table, const std::string& column,
                      const std::string& value);

    template <typename T>
    static T* childOf(QWidget* window, const char* name) {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    static void click(QWidget* window, const char* button);
    // Clicks a check box or option on its box, where a click takes effect
    // however wide the layout made the control.
    static void clickBox(QAbstractButton* box);

    std::unique_ptr<ScratchDatabase> scratch_;
};

Message appMessage(std::string text);

}  // namespace kestrix::test
