#include "app/program.h"

#include <QApplication>
#include <QIcon>

#include "app/about_box.h"
#include "app/main_window.h"
#include "app/open_failure_dialogue.h"
#include "app/single_instance.h"
#include "app/splash_window.h"
#include "core/activity_log.h"
#include "maintenance/program_swap.h"
#include "policies/ip_access_window.h"
#include "setup/configure_window.h"
#include "shell/app_title.h"
#include "shell/artwork.h"
#include "shell/qt_text.h"
#include "shell/shell.h"
#include "shell/status_window.h"
#include "users/user_panel.h"

namespace kestrix {

namespace {
// The program whose dialogue answers failed openings.
Program* gCurrent = nullptr;
}  // namespace

Program::Program(ProgramOptions options) : options_(std::move(options)) {
    instance_ = std::make_unique<SingleInstance>(
        options_.lockPath.empty() ? SingleInstance::defaultLockPath() : toQt(options_.lockPath));
    openFailure_ = std::make_unique<OpenFailureDialogue>(
        [this]() -> ConfigureWindow& { return configureWindow(); },
        [this] { endForUnreachableDatabase(); });
    setOpenFailureHandler(openFailure_.get());
    gCurrent = this;
}

Program::~Program() {
    // A newer program may already have put its own dialogue in place.
    if (gCurrent == this) {
        setOpenFailureHandler(nullptr);
        gCurrent = nullptr;
    }
    // The windows that call into the others go first.
    splash_.reset();
    main_.reset();
    globalIpAccess_.reset();
    about_.reset();
    configure_.reset();
    status_.reset();
}

void Program::start() {
    // Every window and box of the program carries its icon.
    QApplication::setWindowIcon(QIcon(emblem(kIconBlue, 32)));
    SplashWindow& splash = splashWindow();
    splash.formLoad();
    showWindow(&splash, 0);
}

SplashWindow& Program::splashWindow() {
    if (!splash_) {
        splash_ = std::make_unique<SplashWindow>(SplashLinks{
            // A running updater is about to replace the program file: this
            // copy goes without taking the lock the updater waits for.
            [this] {
                return updaterRunning(options_.programDirectory) || instance_->anotherCopyRunning();
            },
            [this] { showWindow(&mainWindow(), 0); },
        });
    }
    return *splash_;
}

MainWindow& Program::mainWindow() {
    if (!main_) {
        MainWindowLinks links;
        links.configureWindow = [this]() -> ConfigureWindow& { return configureWindow(); };
        links.statusWindow = [this]() -> StatusWindow& { return statusWindow(); };
        links.aboutBox = [this]() -> AboutBox& { return aboutBox(); };
        links.commands = options_.commands;
        links.programDirectory = options_.programDirectory;
        main_ = std::make_unique<MainWindow>(std::move(links));
        // Loading may come back here (the configuration commit refills the
        // list), so the window is in place before it loads.
        main_->formLoad();
    }
    return *main_;
}

ConfigureWindow& Program::configureWindow() {
    if (!configure_) {
        ConfigureLinks links;
        links.popMain = [this] {
            if (main_) main_->users().popMain();
        };
        links.statusWindow = [this]() -> QWidget* { return &statusWindow(); };
        links.endForUnreachableDatabase = [this] { endForUnreachableDatabase(); };
        links.globalIpRules = [this] { openGlobalIpAccess(); };
        configure_ = std::make_unique<ConfigureWindow>(options_.defaults, std::move(links));
        configure_->formLoad();
    }
    return *configure_;
}

StatusWindow& Program::statusWindow() {
    if (!status_) status_ = std::make_unique<StatusWindow>(programLog());
    return *status_;
}

AboutBox& Program::aboutBox() {
    if (!about_) {
        about_ = std::make_unique<AboutBox>();
        QObject::connect(about_.get(), &AboutBox::showLogGesture, [this] {
            if (main_) main_->revealShowLog();
        });
    }
    return *about_;
}

IpAccessWindow& Program::globalIpAccessWindow() {
    if (!globalIpAccess_) {
        // The configuration dialog's label follows the stored list.
        globalIpAccess_ = std::make_unique<IpAccessWindow>(
            IpListOwner::Server, [this] { configureWindow().checkLabelStatus(); });
    }
    return *globalIpAccess_;
}

void Program::openGlobalIpAccess() {
    IpAccessWindow& dialog = globalIpAccessWindow();
    dialog.popList();
    showWindow(&dialog, 1);
}

void Program::endForUnreachableDatabase() {
    if (main_) setTrayIcon(main_->picIconRed32(), std::string(kProductName));
    Shell::instance().ask(
        Message{kCriticalText, kCriticalCaption, MessageIcon::Critical, MessageButtons::OK, 1});
    removeTrayIcon();
    exitProgram(1);
}

}  // namespace kestrix
