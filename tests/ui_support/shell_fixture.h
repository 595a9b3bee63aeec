#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/connection_string.h"
#include "tests/support/scratch.h"
#include "tests/ui_support/scripted_shell.h"

class QWidget;

namespace kestrix::test {

// A widget test: a fresh settings store, scripted message and input boxes
// and folder browser, a recorded end of the program, a desktop that has a
// notification area. Every scripted answer must have been used.
class ShellFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Stores what a committed configuration dialog stores.
    void configureStore(const std::string& connectionString, const std::string& servuPath = "/",
                        const std::string& ftpDirectory = "/");

    // Shows the window and waits until it is the active window.
    static void activate(QWidget* window);

    ScopedRegistry registry_;
    ScriptedMessageBoxes boxes_;
    ScriptedInputBoxes inputs_;
    ScriptedFolderChooser folders_;
    ScriptedFileChooser files_;
    RecordedProgramEnd end_;
    RecordedDesktopOpener desktop_;
};

// Runs a statement on the database (test data); fails the test when refused.
void executeOn(const std::string& connectionString, const std::string& sql);

using Row = std::vector<std::optional<std::string>>;
using Rows = std::vector<Row>;
// The named columns of every row of a query; fails the test when refused.
Rows rowsOn(const std::string& connectionString, const std::string& sql,
            const std::vector<std::string>& columns);

}  // namespace kestrix::test
