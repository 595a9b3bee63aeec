// Tavix: the Kestrix administration program.
#include <QApplication>

#include "app/main_window.h"
#include "app/program.h"
#include "app/standard_commands.h"
#include "app/termination_signal.h"
#include "core/activity_log.h"
#include "core/audit_trail.h"
#include "core/core_dumps.h"
#include "core/short_date.h"
#include "shell/shell.h"

int main(int argc, char** argv) {
    // It holds the database's password, and passwords typed for accounts.
    kestrix::keepOutOfCoreDumps();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavix"));
    // The program lives in the notification area while its window is hidden.
    QApplication::setQuitOnLastWindowClosed(false);
    // Dates and times in the machine's short forms, read as kestrix reads them.
    kestrix::takeLocaleFromEnvironment();
    kestrix::audit::setProgram(kestrix::audit::Program::Window);

    kestrix::ProgramOptions options;
    const kestrix::ProgramPlaces places =
        kestrix::programPlaces(QCoreApplication::applicationDirPath().toStdString());
    // An installed program never runs an updater of its own, so there is
    // none to wait for or to remove in its directory.
    if (!places.installed) options.programDirectory = places.programDirectory;
    options.commands = kestrix::standardCommands(places);
    kestrix::Program program(options);
    kestrix::onTerminationSignal(&app, [&program] {
        if (kestrix::MainWindow* main = program.loadedMainWindow())
            main->sessionShutdown();
        else
            kestrix::exitProgram(1);
    });
    program.start();
    return app.exec();
}
