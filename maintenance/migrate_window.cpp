#include "maintenance/migrate_window.h"

#include <QGuiApplication>
#include <QScreen>

#include "shell/app_title.h"
#include "shell/artwork.h"
#include "shell/shell.h"
#include "ui_migrate_window.h"

namespace kestrix {

MigrateWindow::MigrateWindow(MigrationPlaces places, MigrationHandOver handOver, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::MigrateWindow>()),
      places_(std::move(places)),
      handOver_(std::move(handOver)) {
    ui_->setupUi(this);
    connect(ui_->cmdOK, &QPushButton::clicked, this, &MigrateWindow::cmdOK_Click);
    connect(ui_->cmdCancel, &QPushButton::clicked, this, &MigrateWindow::cmdCancel_Click);
    Form_Load();
}

MigrateWindow::~MigrateWindow() = default;

void MigrateWindow::Form_Load() {
    setWindowTitle(QString::fromUtf8(kAppTitle.data(), static_cast<int>(kAppTitle.size())));
    setWindowIcon(QIcon(emblem(kIconBlue, 32)));
    ui_->optVersion1->setChecked(true);
    // Without an owner it would open wherever the window manager puts it.
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void MigrateWindow::cmdOK_Click() {
    const MigrationBuild build =
        ui_->optVersion0->isChecked() ? MigrationBuild::Server2To3 : MigrationBuild::Server4Up;
    ShellMessageBoxes boxes;
    // The program ends on a hand-over; otherwise it stays with the dialog
    // closed.
    hideWindow(this);
    startedPid_ = 0;
    lastLaunch_ = launchMigration(places_, build, boxes, handOver_, &startedPid_);
}

void MigrateWindow::cmdCancel_Click() {
    hideWindow(this);
}

void MigrateWindow::reject() {
    cmdCancel_Click();
}

}  // namespace kestrix
