#pragma once

#include <QMainWindow>
#include <QSystemTrayIcon>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/program_commands.h"
#include "policies/user_dialog_links.h"

class QLabel;
class QMenu;
class QTimer;

namespace Ui {
class MainWindow;
}

namespace kestrix {

class AboutBox;
class ConfigureWindow;
class DiskQuotaWindow;
class CheckAccessWindow;
class IpAccessWindow;
class MiscSetupWindow;
class RatiosWindow;
class StatusWindow;
class UserPanel;

// The web page of the product, opened by Help, Kestrix Website.
inline constexpr const char* kProductWebPage = "https://www.orvane.com/servu/";

struct MainWindowLinks {
    std::function<ConfigureWindow&()> configureWindow;
    std::function<StatusWindow&()> statusWindow;
    std::function<AboutBox&()> aboutBox;
    ProgramCommands commands;
    std::filesystem::path programDirectory;
};

// frmMain: the menus, the window buttons, the timers, the notification-area
// icon and the user editing area. Closing or minimizing only hides it in the
// notification area; the program ends through Exit.
class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit MainWindow(MainWindowLinks links, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Form_Load: the icon, the settings, the account rules, the user list.
    void formLoad();

    UserPanel& users() { return *users_; }
    QLabel* picIconBlue32() const;
    QLabel* picIconGreen32() const;
    QLabel* picIconRed32() const;
    QMenu* iconMenu() const;

    int minuteCounter() const { return minuteCounter_; }

    // A line of the notices about how passwords and settings are kept,
    // shown above the window's work area.
    void addSecurityNotice(const std::string& text);
    QString securityNotices() const;

    // The per-user dialogs, made on first use; nullptr before.
    MiscSetupWindow* miscSetupWindow() const { return misc_; }
    CheckAccessWindow* checkAccessWindow() const { return checkAccess_; }

  public slots:
    void cmdOK_Click();
    void cmdRestore_Click();
    void cmdExit_Click();
    void cmdHelp_Click();

    void mnuConfigure_Click();
    void mnuExit_Click();
    void edit1_cut_Click();
    void edit1_copy_Click();
    void edit1_paste_Click();
    void tools1_migrate_Click();
    // Check access for the user being edited.
    void tools1_checkAccess_Click();
    void mnuItemHelp_Click();
    void ShowLog_Click();
    void checkUpdates_Click();
    void help_web_Click();
    void mnuItemAbout_Click();
    void icon_restore1_Click();
    void icon_about1_Click();
    void icon_exit1_Click();

    // A mouse event on the notification-area icon.
    void trayActivated(QSystemTrayIcon::ActivationReason reason);
    void tmrTime_Timer();
    void Timer1_Timer();
    // The session ends or the process is told to terminate: end at once.
    void sessionShutdown();
    // The about box's gesture: the Show Log item stays visible from now on.
    void revealShowLog();

  private slots:
    // The window has just been minimized: into the notification area.
    void Form_Resize();

  protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void nameSeparators();
    // The daily account rules, the list read again when they changed it.
    void applyAccountDates();
    // Into the notification area (or, without one, onto the task bar).
    void hideToTray();
    void sendKeystroke(Qt::Key key);
    // What every per-user dialog is given: the user being edited, and the
    // re-reading of that user after the dialog's OK.
    UserDialogLinks userDialogLinks();
    // Each made on first use, then only hidden; loaded with the user being
    // edited, then shown modeless.
    void openMiscSetup();
    void openRatios();
    void openDiskQuota();
    void openIpAccess();

    std::unique_ptr<Ui::MainWindow> ui_;
    MainWindowLinks links_;
    UserPanel* users_ = nullptr;
    QTimer* tmrTime_ = nullptr;
    QTimer* timer1_ = nullptr;
    MiscSetupWindow* misc_ = nullptr;
    RatiosWindow* ratios_ = nullptr;
    DiskQuotaWindow* diskQuota_ = nullptr;
    IpAccessWindow* ipAccess_ = nullptr;
    CheckAccessWindow* checkAccess_ = nullptr;
    int minuteCounter_ = 0;
};

}  // namespace kestrix
