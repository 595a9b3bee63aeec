// Every window at the smallest size it can be given: each control shows
// whole, inside the window, apart from every other one.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

#include <memory>

#include "app/about_box.h"
#include "app/main_window.h"
#include "core/activity_log.h"
#include "policies/disk_quota_window.h"
#include "policies/ip_access_window.h"
#include "policies/misc_setup_window.h"
#include "policies/ratios_window.h"
#include "setup/configure_window.h"
#include "setup/database_wizard.h"
#include "shell/status_window.h"
#include "tests/app/app_fixture.h"
#include "users/add_edit_dir_window.h"
#include "users/check_access_window.h"
#include "users/new_name_window.h"

namespace kestrix {
namespace {

bool isControl(const QWidget* widget) {
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        return !label->text().isEmpty() || !label->pixmap().isNull();
    return qobject_cast<const QAbstractButton*>(widget) || qobject_cast<const QLineEdit*>(widget) ||
           qobject_cast<const QAbstractItemView*>(widget) ||
           qobject_cast<const QPlainTextEdit*>(widget) || qobject_cast<const QComboBox*>(widget);
}

// Shrinks the window as far as it goes and reports every control that
// leaves it or overlaps another.
void expectControlsApart(QWidget* window, const std::string& what) {
    window->show();
    window->resize(1, 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(window->size(), window->minimumSize()) << what;
    std::vector<std::pair<QWidget*, QRect>> controls;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (!isControl(widget) || !widget->isVisibleTo(window) || widget->window() != window)
            continue;
        // Parts of a composite control (a combo box's list, a view's bars).
        if (widget->parentWidget() != nullptr && !widget->parentWidget()->objectName().isEmpty() &&
            isControl(widget->parentWidget()))
            continue;
        controls.emplace_back(widget, QRect(widget->mapTo(window, QPoint(0, 0)), widget->size()));
    }
    EXPECT_GT(controls.size(), 1u) << what;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const auto& [widget, rect] = controls[i];
        const std::string name = what + ": " + widget->objectName().toStdString();
        EXPECT_TRUE(window->rect().contains(rect)) << name << " leaves the window";
        // A layout short of room squeezes its controls rather than overlap them.
        // (Views and text boxes scroll instead.)
        const QSize least = widget->minimumSizeHint()
                                .expandedTo(widget->minimumSize())
                                .boundedTo(widget->maximumSize());
        const bool scrolls = qobject_cast<QAbstractItemView*>(widget) != nullptr ||
                             qobject_cast<QPlainTextEdit*>(widget) != nullptr;
        EXPECT_TRUE(scrolls ||
                    (widget->width() >= least.width() && widget->height() >= least.height()))
            << name << " is squeezed to " << widget->width() << "x" << widget->height() << " from "
            << least.width() << "x" << least.height();
        for (std::size_t j = i + 1; j < controls.size(); ++j) {
            const auto& [other, otherRect] = controls[j];
            if (widget->isAncestorOf(other) || other->isAncestorOf(widget)) continue;
            EXPECT_FALSE(rect.intersects(otherRect))
                << name << " overlaps " << other->objectName().toStdString();
        }
    }
    window->hide();
}

class WindowLayoutTest : public test::AppFixture {};

// The rights boxes beside a rule list that holds a rule, and the list of
// users, in the smallest main window.
TEST_F(WindowLayoutTest, TheMainWindowAtItsMinimumSizeShowsItsControlsApart) {
    auto scratch = test::makeScratchDatabase(Engine::SQLite);
    configureStore(scratch->connectionString(), servuPath(), ftpRoot());
    addUser(scratch->connectionString(), "bob");
    addRule(scratch->connectionString(), "bob", "/srv/ftp/bob/a/rather/long/upload/folder", "RL");
    program_ = makeProgram();
    MainWindow& main = program_->mainWindow();
    expectControlsApart(&main, "frmMain");
}

TEST_F(WindowLayoutTest, EveryDialogAtItsMinimumSizeShowsItsControlsApart) {
    UserDialogLinks links{[] { return std::string("bob"); }, [](const std::string&) {}};
    ConfigureWindow configure(defaults(), ConfigureLinks{});
    expectControlsApart(&configure, "frmConfigure");
    DatabaseWizard wizard(WizardLinks{});
    for (int page : {0, 1, 2, 3, 4}) {
        wizard.showFormFace(page);
        expectControlsApart(&wizard, "frmDatabaseWizard1 page " + std::to_string(page));
    }
    NewNameWindow newName([](const std::string&, const std::string&) {});
    expectControlsApart(&newName, "frmNewName");
    AddEditDirWindow addEditDir(AddEditDirLinks{});
    expectControlsApart(&addEditDir, "frmAddEditDir");
    CheckAccessWindow checkAccess([](int) {});
    expectControlsApart(&checkAccess, "frmCheckAccess");
    IpAccessWindow ipAccess(IpListOwner::User);
    expectControlsApart(&ipAccess, "frmIPAccess");
    DiskQuotaWindow quota;
    expectControlsApart(&quota, "frmDiskQuota");
    RatiosWindow ratios;
    expectControlsApart(&ratios, "frmUDRatios");
    MiscSetupWindow misc(links);
    expectControlsApart(&misc, "frmMiscSetup");
    StatusWindow status(programLog());
    expectControlsApart(&status, "frmStatus");
    AboutBox about;
    expectControlsApart(&about, "about box");
}

}  // namespace
}  // namespace kestrix
