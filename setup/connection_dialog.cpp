#include "setup/connection_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

#include "core/database.h"
#include "setup/database_creation.h"
#include "shell/qt_text.h"
#include "shell/shell.h"

namespace kestrix {

ConnectionDialog::ConnectionDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmConnection"));
    setWindowTitle(QStringLiteral("PostgreSQL Connection"));
    auto* form = new QFormLayout(this);
    auto box = [this](const char* name) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(name));
        return edit;
    };
    server_ = box("txtServer");
    port_ = box("txtPort");
    database_ = box("txtDatabase");
    user_ = box("txtUser");
    password_ = box("txtPassword");
    password_->setEchoMode(QLineEdit::Password);
    integrated_ = new QCheckBox(QStringLiteral("Use this computer's login"), this);
    integrated_->setObjectName(QStringLiteral("chkIntegrated"));
    form->addRow(QStringLiteral("Server:"), server_);
    form->addRow(QStringLiteral("Port:"), port_);
    form->addRow(QStringLiteral("Database:"), database_);
    form->addRow(integrated_);
    form->addRow(QStringLiteral("User name:"), user_);
    auto* show = new QPushButton(QStringLiteral("Show"), this);
    show->setObjectName(QStringLiteral("cmdShowPassword"));
    show->setCheckable(true);
    auto* passwordRow = new QHBoxLayout;
    passwordRow->addWidget(password_);
    passwordRow->addWidget(show);
    form->addRow(QStringLiteral("Password:"), passwordRow);
    connect(show, &QPushButton::toggled, this, [this, show](bool shown) {
        password_->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password);
        show->setText(shown ? QStringLiteral("Hide") : QStringLiteral("Show"));
    });
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* test =
        buttons->addButton(QStringLiteral("Test connection"), QDialogButtonBox::ActionRole);
    test->setObjectName(QStringLiteral("cmdTest"));
    form->addRow(buttons);
    connect(test, &QPushButton::clicked, this, &ConnectionDialog::testConnection);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(integrated_, &QCheckBox::toggled, this, [this] { updateLogin(); });
}

void ConnectionDialog::setServer(const std::string& server) {
    const QString text = toQt(server);
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    server_->setText(colon < 0 ? text : text.left(colon));
    port_->setText(colon < 0 ? QString() : text.mid(colon + 1));
}

void ConnectionDialog::setDatabase(const std::string& database) {
    database_->setText(toQt(database));
}

void ConnectionDialog::updateLogin() {
    user_->setEnabled(!integrated_->isChecked());
    password_->setEnabled(!integrated_->isChecked());
}

std::optional<std::string> ConnectionDialog::connectionString() const {
    const std::string host = fromQt(server_->text().trimmed());
    const std::string database = fromQt(database_->text());
    if (host.empty() || database.empty()) return std::nullopt;
    const std::string port = fromQt(port_->text().trimmed());
    std::string out = "Provider=PostgreSQL;Data Source=" +
                      connectionValue(port.empty() ? host : host + ":" + port) +
                      ";Initial Catalog=" + connectionValue(database);
    if (integrated_->isChecked()) return out + ";Integrated Security=SSPI";
    return out + ";User ID=" + connectionValue(fromQt(user_->text())) +
           ";Password=" + connectionValue(fromQt(password_->text()));
}

void ConnectionDialog::testConnection() {
    const auto text = connectionString();
    Database db;
    TimeLimits limits;
    limits.connectSeconds = 10;
    if (text && db.open(*text, limits)) {
        Shell::instance().ask(titledMessage("Test connection succeeded.", MessageIcon::Information,
                                            MessageButtons::OK));
        return;
    }
    const std::string why = text ? db.lastError() : "Please give a server and a database.";
    Shell::instance().ask(titledMessage("Test connection failed:\r\n" + why,
                                        MessageIcon::Exclamation, MessageButtons::OK));
}

std::optional<std::string> askServerConnection(QWidget* owner, const std::string& server,
                                               const std::string& database) {
    ConnectionDialog dialog(owner);
    dialog.setServer(server);
    dialog.setDatabase(database);
    while (dialog.exec() == QDialog::Accepted) {
        if (auto text = dialog.connectionString()) return text;
    }
    return std::nullopt;
}

}  // namespace kestrix
