// update: replaces the program file of Kestrix with the downloaded package
// once Kestrix has ended, keeps the old one as Tavix.bak and starts the new one.
#include <QApplication>
#include <QDeadlineTimer>
#include <QLockFile>
#include <QMessageBox>
#include <QTimer>

#include "maintenance/program_swap.h"
#include "maintenance/update/updater_window.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::filesystem::path directory = QCoreApplication::applicationDirPath().toStdString();
    // Held until the program is started again: a copy of Kestrix started
    // meanwhile sees it, ends at once and leaves this file in place.
    QLockFile running(kestrix::updaterLockPath(directory));
    running.setStaleLockTime(0);
    running.tryLock(5000);

    kestrix::UpdaterWindow window;
    window.show();
    QTimer poll;
    poll.setInterval(250);
    QDeadlineTimer deadline;
    const auto attempt = [&] {
        const kestrix::SwapReport report =
            kestrix::swapProgram(directory, kestrix::programLockPath(), 0);
        if (report.outcome == kestrix::SwapOutcome::StillRunning && !deadline.hasExpired())
            return;  // again at the next tick, the window answering meanwhile
        poll.stop();
        if (report.outcome == kestrix::SwapOutcome::StillRunning) {
            QMessageBox::warning(&window, QStringLiteral("Kestrix"),
                                 QStringLiteral("Kestrix is still running, so the update was not "
                                                "installed. Nothing has been changed."));
        } else if (report.outcome == kestrix::SwapOutcome::Failed) {
            QMessageBox::warning(&window, QStringLiteral("Kestrix"),
                                 QStringLiteral("The update could not be installed: %1")
                                     .arg(QString::fromStdString(report.detail)));
        }
        running.unlock();
        // The program file is the old or the new one: start whichever it is.
        if (report.outcome == kestrix::SwapOutcome::Swapped ||
            report.outcome == kestrix::SwapOutcome::Failed)
            kestrix::startProgram(directory);
        app.quit();
    };
    QObject::connect(&poll, &QTimer::timeout, &app, attempt);
    QObject::connect(&window, &kestrix::UpdaterWindow::waited, &app, [&] {
        // Kestrix may still be on its way out: give it up to a minute.
        deadline.setRemainingTime(60000);
        poll.start();
        attempt();
    });
    return app.exec();
}
