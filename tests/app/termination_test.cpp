#include <QTest>

#include <csignal>

#include <gtest/gtest.h>

#include "app/termination_signal.h"
#include "tests/ui_support/scripted_shell.h"

namespace kestrix {
namespace {

// A terminating process (session end, shutdown, task manager) runs the
// action on the user-interface thread instead of dying mid-handler.
TEST(TerminationSignalTest, SigtermRunsTheActionOnTheEventLoop) {
    test::ensureApplication();
    QObject context;
    int runs = 0;
    onTerminationSignal(&context, [&] { ++runs; });
    ASSERT_EQ(std::raise(SIGTERM), 0);
    EXPECT_EQ(runs, 0);  // not inside the signal handler
    EXPECT_TRUE(QTest::qWaitFor([&] { return runs == 1; }, 10000));
}

}  // namespace
}  // namespace kestrix
