// update: replaces the program file of Kestrix with the downloaded package
// once Kestrix has ended, keeps the old one as Tavix.bak and starts the new one.
#include <QApplication>
#include <QMessageBox>

#include "maintenance/program_swap.h"
#include "maintenance/update/updater_window.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::filesystem::path directory = QCoreApplication::applicationDirPath().toStdString();
    kestrix::UpdaterWindow window;
    window.show();
    QObject::connect(&window, &kestrix::UpdaterWindow::waited, &app, [&] {
        // Kestrix may still be on its way out: give it up to a minute.
        const kestrix::SwapReport report =
            kestrix::swapProgram(directory, kestrix::programLockPath(), 60000);
        if (report.outcome == kestrix::SwapOutcome::StillRunning) {
            QMessageBox::warning(&window, QStringLiteral("Kestrix"),
                                 QStringLiteral("Kestrix is still running, so the update was not "
                                                "installed. Nothing has been changed."));
        } else if (report.outcome == kestrix::SwapOutcome::Failed) {
            QMessageBox::warning(&window, QStringLiteral("Kestrix"),
                                 QStringLiteral("The update could not be installed: %1")
                                     .arg(QString::fromStdString(report.detail)));
        }
        // The program file is the old or the new one: start whichever it is.
        if (report.outcome == kestrix::SwapOutcome::Swapped ||
            report.outcome == kestrix::SwapOutcome::Failed)
            kestrix::startProgram(directory);
        app.quit();
    });
    return app.exec();
}
