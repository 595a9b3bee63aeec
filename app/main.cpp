// Tavix: the Kestrix administration program.
#include <QApplication>

#include "app/main_window.h"
#include "app/program.h"
#include "app/standard_commands.h"
#include "app/termination_signal.h"
#include "core/activity_log.h"
#include "core/short_date.h"
#include "shell/shell.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavix"));
    // The program lives in the notification area while its window is hidden.
    QApplication::setQuitOnLastWindowClosed(false);
    // Dates and times in the machine's short forms, read as kestrix reads them.
    kestrix::takeLocaleFromEnvironment();

    kestrix::ProgramOptions options;
    options.programDirectory = QCoreApplication::applicationDirPath().toStdString();
    options.commands = kestrix::standardCommands(options.programDirectory);
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
