#include "tests/ui_support/scripted_shell.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

#include <gtest/gtest.h>

namespace kestrix::test {

void ScriptedMessageBoxes::answer(Answer answer, std::function<void(const Message&)> during) {
    script_.push_back({answer, std::move(during)});
}

Answer ScriptedMessageBoxes::show(const Message& message) {
    shown_.push_back(message);
    if (script_.empty()) {
        ADD_FAILURE() << "message box without a scripted answer: \"" << message.text << "\"";
        // The last button: Cancel where there is one, the safe way out.
        const int count = message.buttons == MessageButtons::OK                              ? 1
                          : message.buttons == MessageButtons::ReloadKeepBothOverwriteCancel ? 4
                          : message.buttons == MessageButtons::YesNoCancel ||
                                  message.buttons == MessageButtons::ReloadOverwriteCancel
                              ? 3
                              : 2;
        return answerOfButton(message.buttons, count);
    }
    Step step = std::move(script_.front());
    script_.pop_front();
    if (step.during) step.during(message);
    return step.answer;
}

std::optional<std::string> ScriptedInputBoxes::show(const InputRequest& request) {
    shown_.push_back(request);
    if (script_.empty()) {
        ADD_FAILURE() << "input box without a scripted answer: \"" << request.prompt << "\"";
        return std::nullopt;
    }
    auto text = std::move(script_.front());
    script_.pop_front();
    return text;
}

std::optional<std::string> ScriptedFolderChooser::chooseFolder(QWidget* owner,
                                                               const std::string& title,
                                                               const std::string& startAt) {
    calls_.push_back({owner, title, startAt});
    if (script_.empty()) {
        ADD_FAILURE() << "folder browser without a scripted choice: \"" << title << "\"";
        return std::nullopt;
    }
    auto folder = std::move(script_.front());
    script_.pop_front();
    return folder;
}

std::optional<std::string> ScriptedFileChooser::chooseOpenFile(QWidget*,
                                                               const FileRequest& request) {
    return next(request, false);
}

std::optional<std::string> ScriptedFileChooser::chooseSaveFile(QWidget*,
                                                               const FileRequest& request) {
    return next(request, true);
}

std::optional<std::string> ScriptedFileChooser::next(const FileRequest& request, bool save) {
    requests_.push_back(request);
    saving_.push_back(save);
    if (script_.empty()) {
        ADD_FAILURE() << "file dialog without a scripted choice: \"" << request.title << "\"";
        return std::nullopt;
    }
    auto file = std::move(script_.front());
    script_.pop_front();
    return file;
}

namespace {

class ShownHook : public QObject {
  public:
    ShownHook(QString name, std::function<void()> action)
        : name_(std::move(name)), action_(std::move(action)) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->isWindow() && watched->objectName() == name_) {
            qApp->removeEventFilter(this);
            auto action = std::move(action_);
            QMetaObject::invokeMethod(
                qApp, [action] { action(); }, Qt::QueuedConnection);
            deleteLater();
        }
        return false;
    }

  private:
    QString name_;
    std::function<void()> action_;
};

}  // namespace

void whenWindowShown(const QString& objectName, std::function<void()> action) {
    qApp->installEventFilter(new ShownHook(objectName, std::move(action)));
}

void ensureApplication() {
    if (QApplication::instance() != nullptr) return;
    static int argc = 1;
    static char name[] = "kestrix-tests";
    static char* argv[] = {name, nullptr};
    // Lives as long as the test process.
    new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
}

}  // namespace kestrix::test
