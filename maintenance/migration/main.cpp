// migration: moves the FTP server's user accounts from its own account file
// into the user database. "--batch" runs without a window and prints the
// report; the exit status is 1 when nothing could be migrated.
#include <QApplication>
#include <QScreen>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "maintenance/migration/migration_run.h"
#include "maintenance/migration/migration_window.h"

namespace {

// This build's server generation: the domain form fills the domain tables.
constexpr bool kWithDomains = KESTRIX_MIGRATION_DOMAINS != 0;

int runBatch() {
    using namespace kestrix::migration;
    const MigrationSource source = storedSource();
    const MigrationResult result =
        writePlan(source, loadAccounts(source.accountFilePath), kWithDomains);
    std::fputs(reportText(result).c_str(), stdout);
    return result.migratedAny() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--batch") == 0) return runBatch();
    QApplication app(argc, argv);
    const std::filesystem::path directory = QCoreApplication::applicationDirPath().toStdString();
    kestrix::migration::MigrationWindow window(kestrix::migration::storedSource(), kWithDomains,
                                               directory);
    // Centred on the screen, not where the window manager would drop it.
    window.adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        window.move(screen->availableGeometry().center() - window.rect().center());
    window.show();
    return app.exec();
}
