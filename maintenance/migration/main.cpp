// migration: moves the FTP server's user accounts from its own account file
// into the user database. "--batch" runs without a window and prints the
// report; the exit status is 1 when nothing could be migrated.
#include <QApplication>
#include <QScreen>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "core/audit_trail.h"
#include "core/core_dumps.h"
#include "core/program_places.h"
#include "maintenance/migration/migration_run.h"
#include "maintenance/migration/migration_window.h"

namespace {

// This build's server generation: the domain form fills the domain tables.
constexpr bool kWithDomains = KESTRIX_MIGRATION_DOMAINS != 0;

}  // namespace

int main(int argc, char** argv) {
    // It holds the database's password, and passwords typed for accounts.
    kestrix::keepOutOfCoreDumps();
    kestrix::audit::setProgram(kestrix::audit::Program::Migration);
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--batch") == 0) return kestrix::migration::runBatch(kWithDomains);
    QApplication app(argc, argv);
    // Kestrix names its own directory when it writes the utility elsewhere;
    // started by hand, the program is the installed one or the one beside it.
    std::filesystem::path directory =
        kestrix::programDirectoryOf(QCoreApplication::applicationDirPath().toStdString());
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--program-directory") == 0) directory = argv[i + 1];
    kestrix::migration::MigrationWindow window(kestrix::migration::storedSource(), kWithDomains,
                                               directory);
    // Centred on the screen, not where the window manager would drop it.
    window.adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        window.move(screen->availableGeometry().center() - window.rect().center());
    window.show();
    return app.exec();
}
