#include "app/standard_commands.h"

#include "app/version.h"

#include <QApplication>
#include <QTimer>

#include <memory>

#include "core/account_dates.h"
#include "core/database.h"
#include "core/password_storage.h"
#include "core/settings.h"
#include "core/user_name_indexes.h"
#include "generated/update_key.h"
#include "maintenance/download_dialog.h"
#include "maintenance/manual.h"
#include "maintenance/migrate_window.h"
#include "maintenance/update_check.h"
#include "shell/shell.h"

namespace kestrix {

namespace {

// One batch per turn of the event loop: the windows stay live through a
// run of thousands of users.
void nextAccountDatesStep(std::shared_ptr<AccountDatesSteps> steps,
                          std::function<void()> accountsChanged) {
    if (steps->next()) {
        QTimer::singleShot(
            0, qApp, [steps, accountsChanged] { nextAccountDatesStep(steps, accountsChanged); });
        return;
    }
    if (steps->changedAccounts() && accountsChanged) accountsChanged();
    const auto run = steps->outcome();
    if (run == AccountDatesRun::TablesFailed || run == AccountDatesRun::Busy) {
        Shell::instance().ask(titledMessage(
            run == AccountDatesRun::Busy ? kDatabaseBusyMessage : kAccountTablesMessage,
            MessageIcon::Exclamation, MessageButtons::OK));
    }
}

}  // namespace

void applyAccountDatesInSteps(const std::function<void()>& accountsChanged) {
    nextAccountDatesStep(std::make_shared<AccountDatesSteps>(), accountsChanged);
}

ProgramCommands standardCommands(const ProgramPlaces& places) {
    ProgramCommands commands;
    commands.addUserNameIndexes = [] { addUserNameIndexes(); };
    commands.securityNotices = [] { return startupSecurityNotices(); };
    commands.applyAccountDates = [](const std::function<void()>& accountsChanged) {
        applyAccountDatesInSteps(accountsChanged);
    };
    commands.checkUpdates = [places] {
        UpdateCheckSetup setup;
        setup.serverBase = getRegSettings(kUpdateServerValue);
        setup.own = {kVersionMajor, kVersionMinor, kVersionRevision};
        setup.publicKeyHex = KESTRIX_UPDATE_PUBLIC_KEY;
        setup.programDirectory = places.programDirectory;
        setup.packaged = places.installed;
        std::unique_ptr<DownloadDialog> download;
        UpdateHandOver handOver;
        // A server that does not answer shows that it is waited for, with
        // Cancel, from the start.
        handOver.asking = [&download](FetchControl& control) {
            download =
                std::make_unique<DownloadDialog>(control, nullptr, DownloadDialog::askingHeading());
        };
        handOver.answered = [&download] { download.reset(); };
        // Shown from the start of the download, so that Cancel is there
        // before the first byte.
        handOver.downloading = [&download](FetchControl& control) {
            download = std::make_unique<DownloadDialog>(control);
        };
        // Its messages and the hand-over come without the progress dialog.
        handOver.downloaded = [&download] { download.reset(); };
        handOver.mayLeave = [] { return Shell::instance().mayLeave(); };
        handOver.leave = [] { exitProgram(1); };
        ShellMessageBoxes boxes;
        checkForUpdates(setup, boxes, handOver);
    };
    commands.openManual = [places] {
        ShellMessageBoxes boxes;
        openManual(places.dataDirectory, boxes,
                   [](const std::string& url) { return Shell::instance().openUrl(url); });
    };
    // Made on first use, afterwards only hidden: it keeps the chosen build.
    auto migrateWindow = std::make_shared<std::unique_ptr<MigrateWindow>>();
    commands.migrationUtility = [places, migrateWindow] {
        ShellMessageBoxes boxes;
        if (!askToRunMigration(boxes)) return;
        if (!*migrateWindow) {
            MigrationHandOver handOver;
            handOver.mayLeave = [] { return Shell::instance().mayLeave(); };
            handOver.leave = [] { exitProgram(1); };
            *migrateWindow = std::make_unique<MigrateWindow>(
                MigrationPlaces{migrationCacheDirectory(), places.programDirectory}, handOver);
        }
        showWindow(migrateWindow->get(), 1);
    };
    // lowerCasePaths stays empty: file names keep their case here, so a
    // lower-cased directory would be another directory.
    return commands;
}

}  // namespace kestrix
