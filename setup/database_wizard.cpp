#include "setup/database_wizard.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QRadioButton>
#include <QScrollBar>
#include <QStandardPaths>

#include <thread>

#include "core/activity_log.h"
#include "setup/connection_dialog.h"
#include "setup/database_creation.h"
#include "shell/qt_text.h"
#include "shell/shell.h"
#include "ui_database_wizard.h"

namespace kestrix {

namespace {

// The hourglass while the server or the file is being worked on.
class WaitCursor {
  public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

DatabaseWizard::DatabaseWizard(WizardLinks links, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::DatabaseWizard>()), links_(std::move(links)) {
    ui_->setupUi(this);
    ui_->txtLog->setPlainText(toQt(wizardLog().text()));
    logListener_ = wizardLog().attach([this](const std::string& line) {
        // Lines may come from another thread: appended on the window's.
        QMetaObject::invokeMethod(
            this,
            [this, text = toQt(line)] {
                ui_->txtLog->moveCursor(QTextCursor::End);
                ui_->txtLog->insertPlainText(text);
                ui_->txtLog->verticalScrollBar()->setValue(
                    ui_->txtLog->verticalScrollBar()->maximum());
            },
            Qt::AutoConnection);
    });
    connect(ui_->cmdPage1Next, &QPushButton::clicked, this, &DatabaseWizard::cmdPage1Next_Click);
    connect(ui_->cmdPage2Next, &QPushButton::clicked, this, &DatabaseWizard::cmdPage2Next_Click);
    connect(ui_->cmdPage4Next, &QPushButton::clicked, this, &DatabaseWizard::cmdPage4Next_Click);
    connect(ui_->cmdPage0Next, &QPushButton::clicked, this, &DatabaseWizard::cmdPage0Next_Click);
    connect(ui_->cmdBack, &QPushButton::clicked, this, &DatabaseWizard::cmdBack_Click);
    for (QRadioButton* engine : {ui_->optAccess, ui_->optSQL})
        connect(engine, &QRadioButton::toggled, this, &DatabaseWizard::engineChosen);
    for (QPushButton* exit : {ui_->cmdPage0Cancel, ui_->cmdPage1Cancel, ui_->cmdPage2Cancel,
                              ui_->cmdPage4Cancel, ui_->cmdFinish})
        connect(exit, &QPushButton::clicked, this, &DatabaseWizard::leave);
    showFormFace(0);  // Form_Load
}

DatabaseWizard::~DatabaseWizard() {
    wizardLog().detach(logListener_);
}

bool DatabaseWizard::showFormFace(int page) {
    writeLog("Hide All Other Pages");
    QWidget* const all[] = {ui_->lblPage0,     ui_->fraChoice,      ui_->cmdPage0Cancel,
                            ui_->cmdPage0Next, ui_->lblPage1,       ui_->optAccess,
                            ui_->optSQL,       ui_->cmdPage1Cancel, ui_->cmdPage1Next,
                            ui_->lblPage2,     ui_->cmdPage2Next,   ui_->cmdPage2Cancel,
                            ui_->txtLog,       ui_->cmdFinish,      ui_->lblPage4,
                            ui_->cmdPage4Next, ui_->cmdPage4Cancel, ui_->cmdBack};
    for (QWidget* control : all)
        control->hide();
    std::vector<QWidget*> shown;
    switch (page) {
        case 0:
            shown = {ui_->lblPage0, ui_->fraChoice, ui_->cmdPage0Cancel, ui_->cmdPage0Next};
            break;
        case 1:
            shown = {ui_->lblPage1,       ui_->optAccess,    ui_->optSQL,
                     ui_->cmdPage1Cancel, ui_->cmdPage1Next, ui_->cmdBack};
            break;
        case 2:
            shown = {ui_->lblPage2, ui_->cmdPage2Cancel, ui_->cmdPage2Next, ui_->cmdBack};
            break;
        case 3:
            shown = {ui_->txtLog, ui_->cmdFinish};
            break;
        default:
            shown = {ui_->lblPage4,       ui_->optAccess,    ui_->optSQL,
                     ui_->cmdPage4Cancel, ui_->cmdPage4Next, ui_->cmdBack};
            page = 4;
            break;
    }
    for (QWidget* control : shown)
        control->show();
    // Enter goes on to the next page (or ends on the last one).
    QPushButton* const forward[] = {ui_->cmdPage0Next, ui_->cmdPage1Next, ui_->cmdPage2Next,
                                    ui_->cmdFinish, ui_->cmdPage4Next};
    for (QPushButton* button : forward)
        button->setDefault(button == forward[page]);
    page_ = page;
    engineChosen();
    // The keys stay with the page: hiding the control that had the focus
    // would leave it on a hidden one, where Tab and Space reach nothing.
    QWidget* first = forward[page];
    if (page == 0) first = ui_->optExisting->isChecked() ? ui_->optExisting : ui_->optCreate;
    if (page == 1 || page == 4) first = ui_->optSQL->isChecked() ? ui_->optSQL : ui_->optAccess;
    first->setFocus(Qt::OtherFocusReason);
    return true;
}

void DatabaseWizard::engineChosen() {
    // Which engine is a choice to make, not a default to fall into.
    const bool chosen = ui_->optAccess->isChecked() || ui_->optSQL->isChecked();
    ui_->cmdPage1Next->setEnabled(chosen);
    ui_->cmdPage4Next->setEnabled(chosen);
}

void DatabaseWizard::cmdPage0Next_Click() {
    showFormFace(ui_->optExisting->isChecked() ? 4 : 1);
}

void DatabaseWizard::cmdBack_Click() {
    showFormFace(page_ == 2 ? 1 : 0);
}

void DatabaseWizard::cmdPage1Next_Click() {
    showFormFace(2);
}

std::optional<std::string> DatabaseWizard::askConnection(const std::string& server) {
    if (links_.askConnection) return links_.askConnection(server);
    return askServerConnection(this, server, server.empty() ? std::string() : "postgres");
}

void DatabaseWizard::stored(const std::string& connectionString) {
    if (links_.setConnectionString) links_.setConnectionString(connectionString);
}

void DatabaseWizard::cmdPage2Next_Click() {
    CreationLinks links;
    links.owner = this;
    links.askLogin = [this](const std::string& server) { return askConnection(server); };
    links.startDirectory = fileStartDirectory();
    links.wait = [this](const std::string& step, const std::function<void()>& work) {
        waitFor(step, work);
    };
    const auto created = DatabaseCreation(links).create(ui_->optSQL->isChecked());
    if (!created) return;
    stored(*created);
    showFormFace(3);
}

void DatabaseWizard::cmdPage4Next_Click() {
    std::optional<std::string> chosen;
    if (ui_->optSQL->isChecked()) {
        writeWizardLog("get connnection string");
        chosen = askConnection({});
        if (!chosen) {
            Shell::instance().ask(
                {"There was an error creating your connection string.\r\n"
                 "Please try again.",
                 "Error: No Connection string", MessageIcon::Exclamation, MessageButtons::OK});
            return;
        }
    } else {
        CreationLinks links;
        links.owner = this;
        links.startDirectory = fileStartDirectory();
        chosen = DatabaseCreation(links).selectExistingFile();
        if (!chosen) return;
    }
    stored(*chosen);
    leave();
}

void DatabaseWizard::waitFor(const std::string& step, const std::function<void()>& work) {
    WaitCursor hourglass;
    busy_ = true;
    ui_->lblBusy->setText(toQt(step) + QStringLiteral(" ..."));
    ui_->lblBusy->show();
    ui_->prgBusy->show();
    const QList<QPushButton*> buttons = findChildren<QPushButton*>();
    for (QPushButton* button : buttons)
        button->setEnabled(false);
    QEventLoop loop;
    std::thread worker([&] {
        work();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    for (QPushButton* button : buttons)
        button->setEnabled(true);
    ui_->lblBusy->hide();
    ui_->prgBusy->hide();
    busy_ = false;
}

void DatabaseWizard::leave() {
    // The next run starts with the choice, and with no engine chosen yet.
    for (QRadioButton* engine : {ui_->optAccess, ui_->optSQL}) {
        engine->setAutoExclusive(false);
        engine->setChecked(false);
        engine->setAutoExclusive(true);
    }
    ui_->optCreate->setChecked(true);
    showFormFace(0);
    hideWindow(this);
}

std::string DatabaseWizard::fileStartDirectory() const {
    // Where the default database lives, when that folder is there to write
    // in; else the user's documents. Never the program's own directory,
    // which an installed program cannot write.
    if (!links_.defaultDatabaseFile.empty()) {
        const QFileInfo folder(QFileInfo(toQt(links_.defaultDatabaseFile)).absolutePath());
        if (folder.isDir() && folder.isWritable()) return fromQt(folder.absoluteFilePath());
    }
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty() || !QFileInfo(documents).isDir()) documents = QDir::homePath();
    return fromQt(documents);
}

void DatabaseWizard::reject() {
    // The step under way finishes first; its outcome decides the page.
    if (busy_) return;
    leave();
}

}  // namespace kestrix
