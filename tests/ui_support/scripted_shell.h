#pragma once

#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "shell/folder_chooser.h"
#include "shell/input_boxes.h"
#include "shell/message_boxes.h"
#include "shell/program_end.h"
#include "shell/shell.h"

namespace kestrix::test {

// Answers message boxes from a script, in order, and keeps every box shown.
// A box without a scripted answer fails the test.
class ScriptedMessageBoxes final : public MessageBoxes {
  public:
    // The next box gets this answer; `during` runs while it is showing.
    void answer(Answer answer, std::function<void(const Message&)> during = {});
    Answer show(const Message& message) override;

    const std::vector<Message>& shown() const { return shown_; }
    std::size_t unanswered() const { return script_.size(); }

  private:
    struct Step {
        Answer answer;
        std::function<void(const Message&)> during;
    };
    std::deque<Step> script_;
    std::vector<Message> shown_;
};

// Types answers into input boxes from a script, in order (no value stands
// for Cancel), and keeps every box shown. A box without a scripted answer
// fails the test.
class ScriptedInputBoxes final : public InputBoxes {
  public:
    void type(std::optional<std::string> text) { script_.push_back(std::move(text)); }
    std::optional<std::string> show(const InputRequest& request) override;

    const std::vector<InputRequest>& shown() const { return shown_; }
    std::size_t unanswered() const { return script_.size(); }

  private:
    std::deque<std::optional<std::string>> script_;
    std::vector<InputRequest> shown_;
};

// Picks folders from a script; no value stands for Cancel.
class ScriptedFolderChooser final : public FolderChooser {
  public:
    void pick(std::optional<std::string> folder) { script_.push_back(std::move(folder)); }
    std::optional<std::string> chooseFolder(QWidget* owner, const std::string& title,
                                            const std::string& startAt) override;

    struct Call {
        QWidget* owner;
        std::string title;
        std::string startAt;
    };
    const std::vector<Call>& calls() const { return calls_; }
    std::size_t unanswered() const { return script_.size(); }

  private:
    std::deque<std::optional<std::string>> script_;
    std::vector<Call> calls_;
};

// Picks files, to open or to save, from one script; no value stands for
// Cancel.
class ScriptedFileChooser final : public FileChooser {
  public:
    void pick(std::optional<std::string> file) { script_.push_back(std::move(file)); }
    std::optional<std::string> chooseOpenFile(QWidget* owner, const FileRequest& request) override;
    std::optional<std::string> chooseSaveFile(QWidget* owner, const FileRequest& request) override;

    const std::vector<FileRequest>& requests() const { return requests_; }
    // For each request: whether it was the save dialog.
    const std::vector<bool>& saving() const { return saving_; }
    std::size_t unanswered() const { return script_.size(); }

  private:
    std::optional<std::string> next(const FileRequest& request, bool save);
    std::deque<std::optional<std::string>> script_;
    std::vector<FileRequest> requests_;
    std::vector<bool> saving_;
};

// Counts the ends of the program instead of ending the test process.
class RecordedProgramEnd final : public ProgramEnd {
  public:
    void end() override { ++ends; }
    int ends = 0;
};

// Keeps every URL handed to the desktop; `opens` false stands for a desktop
// with no program for it.
class RecordedDesktopOpener final : public DesktopOpener {
  public:
    bool openUrl(const std::string& url) override {
        urls.push_back(url);
        return opens;
    }
    std::vector<std::string> urls;
    bool opens = true;
};

// Runs the action once, right after a window of that name has been shown
// (inside a modal window's own wait, when it is shown modally).
void whenWindowShown(const QString& objectName, std::function<void()> action);

// The QApplication of the test process (offscreen), made on first use.
void ensureApplication();

}  // namespace kestrix::test
