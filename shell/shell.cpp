#include "shell/shell.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QLabel>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include "shell/qt_message_boxes.h"
#include "shell/qt_text.h"

namespace kestrix {

namespace {

class QtDesktopOpener final : public DesktopOpener {
  public:
    bool openUrl(const std::string& url) override {
        return QDesktopServices::openUrl(QUrl(toQt(url)));
    }
};

// Ends a modal wait when its window is hidden or destroyed.
class HideWatcher : public QObject {
  public:
    HideWatcher(QWidget* window, QEventLoop& loop) : loop_(loop) {
        window->installEventFilter(this);
        connect(window, &QObject::destroyed, &loop, &QEventLoop::quit);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Hide && static_cast<QWidget*>(watched)->isHidden())
            loop_.quit();
        return false;
    }

  private:
    QEventLoop& loop_;
};

std::string windowName(const QWidget* window) {
    return fromQt(window->objectName());
}

}  // namespace

Shell& Shell::instance() {
    static Shell shell;
    return shell;
}

Answer Shell::ask(const Message& message) {
    if (ending_) return answerOfButton(message.buttons, message.defaultButton);
    if (boxes_ != nullptr) return boxes_->show(message);
    QtMessageBoxes platform;
    return platform.show(message);
}

void Shell::setMessageBoxes(MessageBoxes* boxes) {
    boxes_ = boxes;
}

std::optional<std::string> Shell::inputBox(const InputRequest& request) {
    if (ending_) return std::nullopt;
    if (inputs_ != nullptr) return inputs_->show(request);
    QtInputBoxes platform;
    return platform.show(request);
}

void Shell::setInputBoxes(InputBoxes* boxes) {
    inputs_ = boxes;
}

std::optional<std::string> Shell::chooseFolder(QWidget* owner, const std::string& title,
                                               const std::string& startAt) {
    if (ending_) return std::nullopt;
    if (chooser_ != nullptr) return chooser_->chooseFolder(owner, title, startAt);
    QtFolderChooser platform;
    return platform.chooseFolder(owner, title, startAt);
}

void Shell::setFolderChooser(FolderChooser* chooser) {
    chooser_ = chooser;
}

std::optional<std::string> Shell::chooseOpenFile(QWidget* owner, const FileRequest& request) {
    if (ending_) return std::nullopt;
    if (files_ != nullptr) return files_->chooseOpenFile(owner, request);
    QtFileChooser platform;
    return platform.chooseOpenFile(owner, request);
}

std::optional<std::string> Shell::chooseSaveFile(QWidget* owner, const FileRequest& request) {
    if (ending_) return std::nullopt;
    if (files_ != nullptr) return files_->chooseSaveFile(owner, request);
    QtFileChooser platform;
    return platform.chooseSaveFile(owner, request);
}

void Shell::setFileChooser(FileChooser* chooser) {
    files_ = chooser;
}

bool Shell::openUrl(const std::string& url) {
    if (opener_ != nullptr) return opener_->openUrl(url);
    QtDesktopOpener platform;
    return platform.openUrl(url);
}

void Shell::setDesktopOpener(DesktopOpener* opener) {
    opener_ = opener;
}

void Shell::setProgramEnd(ProgramEnd* end) {
    end_ = end;
}

ProgramEnd& Shell::programEnd() {
    static ImmediateProgramEnd immediate;
    return end_ != nullptr ? *end_ : immediate;
}

TrayIcon& Shell::tray() {
    if (tray_ == nullptr) {
        tray_ = new TrayIcon(qApp);
        // The platform icon must go before the application does.
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, tray_, &TrayIcon::remove);
        QObject::connect(tray_, &QObject::destroyed, [this] { tray_ = nullptr; });
    }
    return *tray_;
}

void Shell::reset() {
    boxes_ = nullptr;
    inputs_ = nullptr;
    chooser_ = nullptr;
    files_ = nullptr;
    opener_ = nullptr;
    end_ = nullptr;
    if (tray_ != nullptr) tray_->reset();
    openDialogs_.clear();
    leaveGuard_ = nullptr;
    ending_ = false;
}

void showWindow(QWidget* window, int mode) {
    Shell& shell = Shell::instance();
    if (window == nullptr || shell.ending()) return;
    if (mode != 1) {
        if (!shell.openDialogs().empty()) return;
        window->show();
        window->raise();
        window->activateWindow();
        return;
    }
    const std::string name = windowName(window);
    QPointer<QWidget> opener = QApplication::activeWindow();
    if (window->isVisible()) window->hide();
    shell.openDialogs()[name] = std::to_string(static_cast<unsigned long long>(window->winId()));
    window->setWindowModality(Qt::ApplicationModal);
    QPointer<QWidget> guard(window);
    QEventLoop loop;
    HideWatcher watcher(window, loop);
    window->show();
    window->raise();
    window->activateWindow();
    loop.exec(QEventLoop::DialogExec);
    if (guard) {
        guard->removeEventFilter(&watcher);
        guard->setWindowModality(Qt::NonModal);
    }
    // A window hidden some other way than hideWindow must not stay in the
    // list, or the main window could never be brought back.
    shell.openDialogs().erase(name);
    // The keys go back to the window the dialog was opened from; without a
    // window manager to do it, they would go nowhere.
    const QWidget* active = QApplication::activeWindow();
    if (opener && opener != window && opener->isVisible() &&
        (active == nullptr || active == window || !active->isVisible()))
        opener->activateWindow();
}

void hideWindow(QWidget* window) {
    if (window == nullptr) return;
    Shell::instance().openDialogs().erase(windowName(window));
    const bool hadKeys = window->isActiveWindow();
    window->hide();
    // A modeless window hands the keys back to the window it belongs to.
    QWidget* owner = window->parentWidget() != nullptr ? window->parentWidget()->window() : nullptr;
    if (hadKeys && owner != nullptr && owner->isVisible()) owner->activateWindow();
}

bool addTrayIcon(QLabel* picture, const std::string& tip, QMenu* menu) {
    return Shell::instance().tray().add(picture, tip, menu);
}

void setTrayIcon(QLabel* picture, const std::string& tip) {
    Shell::instance().tray().set(picture, tip);
}

void removeTrayIcon() {
    Shell::instance().tray().remove();
}

void createOpenDialogList() {
    Shell::instance().openDialogs().clear();
}

void releaseOpenDialogList() {
    Shell::instance().openDialogs().clear();
}

void exitProgram(int mode) {
    Shell& shell = Shell::instance();
    if (shell.ending()) return;
    if (mode != 1) {
        const Answer answer = shell.ask(titledMessage(
            "Your users can still log onto your ftp system while Kestrix is closed.\r\n"
            "Only the daily run that disables and deletes accounts whose dates\r\n"
            "have come stops until Kestrix runs again, unless the\r\n"
            "kestrix-apply-dates timer does that job on this computer.\r\n\r\n"
            "Are you sure you want to exit Kestrix?",
            MessageIcon::Exclamation, MessageButtons::YesNoCancel, 2));
        if (answer != Answer::Yes || !shell.mayLeave()) return;
    }
    releaseOpenDialogList();
    removeTrayIcon();
    shell.markEnding();
    // All windows go without their own questions.
    for (QWidget* window : QApplication::topLevelWidgets())
        window->hide();
    shell.programEnd().end();
}

void reportStatementFailure(const std::string& description) {
    Shell::instance().ask(titledMessage(description, MessageIcon::Exclamation, MessageButtons::OK));
}

}  // namespace kestrix
