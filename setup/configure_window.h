#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "setup/configuration_commit.h"
#include "setup/designer_defaults.h"

class QTimer;

namespace Ui {
class ConfigureWindow;
}

namespace kestrix {

// What the configuration dialog needs of the rest of the program.
struct ConfigureLinks {
    // Refills the main window's user list (after a commit).
    std::function<void()> popMain;
    // The activity log window.
    std::function<QWidget*()> statusWindow;
    // Red icon, the critical message, then the end: the database named at
    // the failed opening stays unreachable.
    std::function<void()> endForUnreachableDatabase;
    // Opens the server-wide IP rule list (modal).
    std::function<void()> globalIpRules;
    // The database wizard's PostgreSQL connection dialog; unset: the
    // program's own.
    std::function<std::optional<std::string>(const std::string& server)> askConnection;
};

class DatabaseWizard;

// Marks the dialog as opened because the database could not be opened.
inline const QString kTagCheckDatabase = QStringLiteral("CDB");

// frmConfigure: the FTP server's program directory, the default FTP root and
// the connection string, with their commit.
class ConfigureWindow : public QDialog {
    Q_OBJECT
  public:
    ConfigureWindow(DesignerDefaults defaults, ConfigureLinks links, QWidget* parent = nullptr);
    ~ConfigureWindow() override;

    // Form_Load: reads whether server-wide IP rules exist.
    void formLoad();

    QString tag() const { return tag_; }
    void setTag(const QString& tag) { tag_ = tag; }

    // How every opener shows the dialog: tmrEnableCommit on, then modal.
    void showModally();

    // The connection string is the real one whether its password is shown
    // or masked.
    ConfigureFields fields() const;
    void setFields(const ConfigureFields& fields);
    // Shows the connection string's password, or masks it again.
    void showPassword(bool shown);

    QTimer* enableCommitTimer() const { return tmrEnableCommit_; }
    // frmDatabaseWizard1, made once and reused.
    DatabaseWizard& wizard();

  public slots:
    void cmdCommitChanges_Click();
    void cmdCancel_Click();
    void cmdBrowseProgramPath_Click();
    void cmdBrowseServerPath_Click();
    void tmrEnableCommit_Timer();
    void cmdGlobalIPAccess_Click();
    void cmdConnectionString_Click();
    void checkLabelStatus();
    // Escape and the close box cancel, as the Cancel button does.
    void reject() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void txtServuPath_Validate();
    void setConnectionText(const std::string& text);
    std::string connectionText() const;

    std::unique_ptr<Ui::ConfigureWindow> ui_;
    ConfigureLinks links_;
    std::string defaultConnectionString_;
    // The connection string as last put into the box, with its password.
    std::string connectionString_;
    bool passwordShown_ = false;
    QTimer* tmrEnableCommit_ = nullptr;
    QString tag_;
    DatabaseWizard* wizard_ = nullptr;
};

}  // namespace kestrix
