#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QTimer>

#include "app/about_box.h"
#include "app/leftover_updater.h"
#include "core/activity_log.h"
#include "core/password_storage.h"
#include "policies/disk_quota_window.h"
#include "policies/ip_access_window.h"
#include "policies/misc_setup_window.h"
#include "policies/ratios_window.h"
#include "setup/configure_window.h"
#include "setup/load_settings.h"
#include "setup/wizard_random.h"
#include "shell/app_title.h"
#include "shell/artwork.h"
#include "shell/qt_text.h"
#include "shell/shell.h"
#include "shell/status_window.h"
#include "ui_main_window.h"
#include "users/check_access_window.h"
#include "users/user_panel.h"

namespace kestrix {

namespace {

const std::string kTip(kProductName);

void run(const std::function<void()>& command) {
    if (command) command();
}

}  // namespace

MainWindow::MainWindow(MainWindowLinks links, QWidget* parent)
    : QMainWindow(parent), ui_(std::make_unique<Ui::MainWindow>()), links_(std::move(links)) {
    ui_->setupUi(this);
    nameSeparators();
    setWindowIcon(QIcon(emblem(kIconBlue, 32)));
    ui_->picIconBlue32->setPixmap(emblem(kIconBlue, 32));
    ui_->picIconGreen32->setPixmap(emblem(kIconGreen, 32));
    ui_->picIconRed32->setPixmap(emblem(kIconRed, 32));
    ui_->iconMenu1->setDefaultAction(ui_->icon_restore1);

    users_ = new UserPanel(ui_->centralwidget);
    ui_->layoutMain->insertWidget(0, users_, 1);

    tmrTime_ = new QTimer(this);
    tmrTime_->setObjectName(QStringLiteral("tmrTime"));
    tmrTime_->setInterval(60000);
    connect(tmrTime_, &QTimer::timeout, this, &MainWindow::tmrTime_Timer);
    timer1_ = new QTimer(this);
    timer1_->setObjectName(QStringLiteral("Timer1"));
    timer1_->setInterval(10000);
    connect(timer1_, &QTimer::timeout, this, &MainWindow::Timer1_Timer);

    connect(ui_->cmdOK, &QPushButton::clicked, this, &MainWindow::cmdOK_Click);
    connect(ui_->cmdRestore, &QPushButton::clicked, this, &MainWindow::cmdRestore_Click);
    connect(ui_->cmdExit, &QPushButton::clicked, this, &MainWindow::cmdExit_Click);
    connect(ui_->cmdHelp, &QPushButton::clicked, this, &MainWindow::cmdHelp_Click);
    connect(ui_->mnuConfigure, &QAction::triggered, this, &MainWindow::mnuConfigure_Click);
    connect(ui_->mnuExit, &QAction::triggered, this, &MainWindow::mnuExit_Click);
    connect(ui_->edit1_cut, &QAction::triggered, this, &MainWindow::edit1_cut_Click);
    connect(ui_->edit1_copy, &QAction::triggered, this, &MainWindow::edit1_copy_Click);
    connect(ui_->edit1_paste, &QAction::triggered, this, &MainWindow::edit1_paste_Click);
    connect(ui_->tools1_migrate, &QAction::triggered, this, &MainWindow::tools1_migrate_Click);
    connect(ui_->tools1_copyUser, &QAction::triggered, users_, &UserPanel::startCopy);
    connect(ui_->tools1_checkAccess, &QAction::triggered, this,
            &MainWindow::tools1_checkAccess_Click);
    connect(ui_->mnuItemHelp, &QAction::triggered, this, &MainWindow::mnuItemHelp_Click);
    connect(ui_->ShowLog, &QAction::triggered, this, &MainWindow::ShowLog_Click);
    // The log is always a menu away; the About gesture stays a second way.
    connect(ui_->mnuViewLog, &QAction::triggered, this, &MainWindow::ShowLog_Click);
    connect(ui_->checkUpdates, &QAction::triggered, this, &MainWindow::checkUpdates_Click);
    connect(ui_->help_web, &QAction::triggered, this, &MainWindow::help_web_Click);
    connect(ui_->mnuItemAbout, &QAction::triggered, this, &MainWindow::mnuItemAbout_Click);
    connect(ui_->icon_restore1, &QAction::triggered, this, &MainWindow::icon_restore1_Click);
    connect(ui_->icon_about1, &QAction::triggered, this, &MainWindow::icon_about1_Click);
    connect(ui_->icon_exit1, &QAction::triggered, this, &MainWindow::icon_exit1_Click);
    connect(&Shell::instance().tray(), &TrayIcon::activated, this, &MainWindow::trayActivated);
    connect(users_, &UserPanel::miscRequested, this, &MainWindow::openMiscSetup);
    connect(users_, &UserPanel::ratiosRequested, this, &MainWindow::openRatios);
    connect(users_, &UserPanel::quotaRequested, this, &MainWindow::openDiskQuota);
    connect(users_, &UserPanel::ipAccessRequested, this, &MainWindow::openIpAccess);
    // Exit, and every later hand-over that ends the program, first offers
    // to save the user being edited.
    Shell::instance().setLeaveGuard([this] { return users_->confirmLeavingUser(); });
}

MainWindow::~MainWindow() {
    Shell::instance().setLeaveGuard(nullptr);
    setClearTextNoticeHandler(nullptr);
}

void MainWindow::nameSeparators() {
    // Separators carry the names of the lines they stand for.
    const std::pair<QMenu*, std::vector<const char*>> named[] = {
        {ui_->edit1, {"edit1_dash1"}},
        {ui_->mnuHelp, {"mnuhyphen", "mnudashhelp2"}},
        {ui_->iconMenu1, {"icon_dash1", "icon_dash2"}},
    };
    for (const auto& [menu, names] : named) {
        std::size_t next = 0;
        for (QAction* action : menu->actions()) {
            if (action->isSeparator() && next < names.size())
                action->setObjectName(QString::fromLatin1(names[next++]));
        }
    }
}

QLabel* MainWindow::picIconBlue32() const {
    return ui_->picIconBlue32;
}
QLabel* MainWindow::picIconGreen32() const {
    return ui_->picIconGreen32;
}
QLabel* MainWindow::picIconRed32() const {
    return ui_->picIconRed32;
}
QMenu* MainWindow::iconMenu() const {
    return ui_->iconMenu1;
}

void MainWindow::addSecurityNotice(const std::string& text) {
    QString shown = ui_->lblSecurityNotice->text();
    if (!shown.isEmpty()) shown += QLatin1Char('\n');
    ui_->lblSecurityNotice->setText(shown + toQt(text));
    ui_->lblSecurityNotice->setVisible(true);
}

QString MainWindow::securityNotices() const {
    return ui_->lblSecurityNotice->text();
}

void MainWindow::formLoad() {
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    tmrTime_->start();
    timer1_->setSingleShot(true);
    timer1_->start();

    addTrayIcon(ui_->picIconBlue32, kTip, ui_->iconMenu1);
    loadSettings(links_.configureWindow);
    writeLog("populate data from database into this form");
    setClearTextNoticeHandler([this](const std::string& text) { addSecurityNotice(text); });
    if (links_.commands.securityNotices) {
        for (const std::string& notice : links_.commands.securityNotices())
            addSecurityNotice(notice);
    }
    run(links_.commands.addUserNameIndexes);
    // After the window is shown: a long run must not keep it from appearing.
    QTimer::singleShot(0, this, [this] { applyAccountDates(); });
    // Empty in the program: stored paths keep their case on this platform.
    run(links_.commands.lowerCasePaths);
    users_->popMain();
    // popMain has already selected the first entry of a non-empty list.
    if (users_->userCount() > 1) users_->selectUserRow(0);
    seedWizardRandomAtStart();
}

// ---- hiding and showing ----

void MainWindow::hideToTray() {
    setTrayIcon(ui_->picIconGreen32, kTip);
    if (Shell::instance().tray().shown()) {
        hideWindow(this);
    } else {
        // With no notification area a hidden window could never come back.
        showMinimized();
    }
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange) return;
    if (isMinimized()) {
        // After the event: showMinimized() itself shows the window again
        // once the state has changed.
        QMetaObject::invokeMethod(this, &MainWindow::Form_Resize, Qt::QueuedConnection);
    } else if (Shell::instance().tray().currentPicture() == ui_->picIconGreen32 && isVisible()) {
        // Brought back from the task bar (no notification area).
        setTrayIcon(ui_->picIconBlue32, kTip);
    }
}

void MainWindow::Form_Resize() {
    if (!isMinimized()) return;
    if (Shell::instance().tray().shown()) {
        hideWindow(this);
        setWindowState(windowState() & ~Qt::WindowMinimized);
    }
    setTrayIcon(ui_->picIconGreen32, kTip);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (Shell::instance().ending()) {
        event->accept();
        return;
    }
    event->ignore();
    if (qApp->isSavingSession()) {
        sessionShutdown();
        return;
    }
    hideToTray();
}

void MainWindow::sessionShutdown() {
    exitProgram(1);
}

void MainWindow::trayActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason != QSystemTrayIcon::DoubleClick)
        return;  // the right button's menu is the icon's own
    Shell& shell = Shell::instance();
    QLabel* current = shell.tray().currentPicture();
    if (current == ui_->picIconBlue32) {
        if (shell.openDialogs().empty()) {
            raise();
            activateWindow();
        }
    } else if (current == ui_->picIconGreen32) {
        icon_restore1_Click();
    } else if (current == ui_->picIconRed32) {
        // the program is about to end
    } else {
        writeLog("the current hwnd is " +
                 std::to_string(current != nullptr ? current->winId() : 0));
    }
}

void MainWindow::icon_restore1_Click() {
    // While a modal window is open the main window stays hidden, and so
    // does the green picture that says so.
    if (!Shell::instance().openDialogs().empty()) return;
    setTrayIcon(ui_->picIconBlue32, kTip);
    showWindow(this, 0);
}

// ---- the window buttons ----

void MainWindow::cmdOK_Click() {
    const EditMode mode = users_->state().editMode;
    if (mode == EditMode::NewUser || mode == EditMode::Copy) {
        const Answer answer = Shell::instance().ask(
            titledMessage("Would you like to save your changes?", MessageIcon::Question,
                          MessageButtons::YesNoCancel));
        if (answer == Answer::Yes) users_->cmdStore_Click();
    }
    hideToTray();
}

void MainWindow::cmdRestore_Click() {
    writeLog("restore");
    if (!users_->popMain()) return;
    users_->loadUserData(users_->state().selectedUser);
}

void MainWindow::cmdExit_Click() {
    exitProgram(0);
}

void MainWindow::mnuExit_Click() {
    exitProgram(0);
}

void MainWindow::icon_exit1_Click() {
    exitProgram(0);
}

void MainWindow::cmdHelp_Click() {
    run(links_.commands.openManual);
}

void MainWindow::mnuItemHelp_Click() {
    run(links_.commands.openManual);
}

// ---- the menus ----

void MainWindow::mnuConfigure_Click() {
    links_.configureWindow().showModally();
}

void MainWindow::sendKeystroke(Qt::Key key) {
    QWidget* target = QApplication::focusWidget();
    if (target == nullptr) return;
    QKeyEvent press(QEvent::KeyPress, key, Qt::ControlModifier);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::ControlModifier);
    QApplication::sendEvent(target, &press);
    QApplication::sendEvent(target, &release);
}

void MainWindow::edit1_cut_Click() {
    sendKeystroke(Qt::Key_X);
}

void MainWindow::edit1_copy_Click() {
    sendKeystroke(Qt::Key_C);
}

void MainWindow::edit1_paste_Click() {
    sendKeystroke(Qt::Key_V);
}

void MainWindow::tools1_migrate_Click() {
    run(links_.commands.migrationUtility);
}

void MainWindow::ShowLog_Click() {
    showWindow(&links_.statusWindow(), 1);
}

void MainWindow::checkUpdates_Click() {
    run(links_.commands.checkUpdates);
}

void MainWindow::help_web_Click() {
    Shell::instance().openUrl(kProductWebPage);
}

void MainWindow::mnuItemAbout_Click() {
    showWindow(&links_.aboutBox(), 0);
}

void MainWindow::icon_about1_Click() {
    showWindow(&links_.aboutBox(), 0);
}

void MainWindow::revealShowLog() {
    ui_->ShowLog->setVisible(true);
}

// ---- the per-user dialogs ----

UserDialogLinks MainWindow::userDialogLinks() {
    UserDialogLinks links;
    links.selectedUser = [this] { return users_->state().selectedUser; };
    links.userSaved = [this](const std::string& user) {
        // Unsaved edits of the record are not thrown away for a reload.
        const EditingState& state = users_->state();
        if (state.selectedUser != user || state.editMode != EditMode::Stored) return;
        // The status lines show the new dates at once either way.
        if (state.unsavedChanges)
            users_->loadStatusLines(user);
        else
            users_->loadUserData(user);
    };
    return links;
}

void MainWindow::openMiscSetup() {
    if (misc_ == nullptr) {
        misc_ = new MiscSetupWindow(userDialogLinks(), this);
        // Enter or Escape in its date grid closes it for good.
        connect(misc_, &MiscSetupWindow::closedForGood, this, [this] {
            misc_->deleteLater();
            misc_ = nullptr;
        });
    }
    misc_->popInfo(users_->state().selectedUser);
    showWindow(misc_, 0);
}

void MainWindow::openRatios() {
    if (ratios_ == nullptr) ratios_ = new RatiosWindow(this);
    ratios_->thisFormLoadData(users_->state().selectedUser);
    showWindow(ratios_, 0);
}

void MainWindow::openDiskQuota() {
    if (diskQuota_ == nullptr) diskQuota_ = new DiskQuotaWindow(this);
    diskQuota_->popQuota(users_->state().selectedUser);
    showWindow(diskQuota_, 0);
}

void MainWindow::tools1_checkAccess_Click() {
    // Only a stored user has rules the FTP server would apply.
    const EditingState& state = users_->state();
    if (state.selectedUser.empty() || state.editMode != EditMode::Stored) return;
    if (checkAccess_ == nullptr) {
        checkAccess_ =
            new CheckAccessWindow([this](int rule) { users_->selectRuleRow(rule); }, this);
    }
    checkAccess_->checkFor(state.selectedUser);
    showWindow(checkAccess_, 0);
}

void MainWindow::openIpAccess() {
    if (ipAccess_ == nullptr) ipAccess_ = new IpAccessWindow(IpListOwner::User, {}, this);
    ipAccess_->popList(users_->state().selectedUser);
    showWindow(ipAccess_, 0);
}

// ---- the timers ----

void MainWindow::tmrTime_Timer() {
    ++minuteCounter_;
    if (minuteCounter_ > 1439) {
        minuteCounter_ = 0;
        applyAccountDates();
    }
}

void MainWindow::applyAccountDates() {
    if (!links_.commands.applyAccountDates) return;
    links_.commands.applyAccountDates([this] { users_->refreshAfterAccountRules(); });
}

void MainWindow::Timer1_Timer() {
    timer1_->stop();
    removeLeftoverUpdater(links_.programDirectory);
}

}  // namespace kestrix
