#pragma once

#include <functional>
#include <map>
#include <string>

#include "shell/file_chooser.h"
#include "shell/folder_chooser.h"
#include "shell/input_boxes.h"
#include "shell/message_boxes.h"
#include "shell/program_end.h"
#include "shell/tray_icon.h"

class QLabel;
class QWidget;

namespace kestrix {

// Opens a web page or a file through the desktop.
class DesktopOpener {
  public:
    virtual ~DesktopOpener() = default;
    virtual bool openUrl(const std::string& url) = 0;
};

// The services every window of the program shares: message and input boxes,
// folder browser, the notification-area icon, the list of open modal windows
// and the way the program ends. Tests replace the platform parts.
class Shell {
  public:
    static Shell& instance();

    // A message box; once the program is ending nothing is shown any more and
    // the box's default answer comes back.
    Answer ask(const Message& message);
    void setMessageBoxes(MessageBoxes* boxes);  // nullptr: the platform's boxes

    // An input box; no value when cancelled, and once the program is ending.
    std::optional<std::string> inputBox(const InputRequest& request);
    void setInputBoxes(InputBoxes* boxes);  // nullptr: the platform's boxes

    std::optional<std::string> chooseFolder(QWidget* owner, const std::string& title,
                                            const std::string& startAt = {});
    void setFolderChooser(FolderChooser* chooser);  // nullptr: the platform's browser

    std::optional<std::string> chooseOpenFile(QWidget* owner, const FileRequest& request);
    std::optional<std::string> chooseSaveFile(QWidget* owner, const FileRequest& request);
    void setFileChooser(FileChooser* chooser);  // nullptr: the platform's dialog

    bool openUrl(const std::string& url);
    void setDesktopOpener(DesktopOpener* opener);  // nullptr: the desktop's

    void setProgramEnd(ProgramEnd* end);  // nullptr: end the process
    ProgramEnd& programEnd();

    TrayIcon& tray();

    // Window name -> window handle (decimal text) of each window shown
    // modally at the moment.
    std::map<std::string, std::string>& openDialogs() { return openDialogs_; }

    // Asked before the program ends at the administrator's request: false
    // keeps it running (unsaved changes the administrator stays with).
    void setLeaveGuard(std::function<bool()> guard) { leaveGuard_ = std::move(guard); }
    bool mayLeave() const { return !leaveGuard_ || leaveGuard_(); }

    bool ending() const { return ending_; }
    void markEnding() { ending_ = true; }

    // Back to the state of a program that has just started (tests).
    void reset();

  private:
    Shell() = default;
    MessageBoxes* boxes_ = nullptr;
    InputBoxes* inputs_ = nullptr;
    FolderChooser* chooser_ = nullptr;
    FileChooser* files_ = nullptr;
    DesktopOpener* opener_ = nullptr;
    ProgramEnd* end_ = nullptr;
    TrayIcon* tray_ = nullptr;
    std::map<std::string, std::string> openDialogs_;
    std::function<bool()> leaveGuard_;
    bool ending_ = false;
};

// Message boxes through the shell: what a window hands to its logic.
class ShellMessageBoxes final : public MessageBoxes {
  public:
    Answer show(const Message& message) override { return Shell::instance().ask(message); }
};

// The window routines: mode 0 shows modeless, but only while no modal window
// is open; mode 1 enters the window in the open-dialog list and shows it
// modally, returning when it has been hidden.
void showWindow(QWidget* window, int mode);
void hideWindow(QWidget* window);

// The notification-area routines.
bool addTrayIcon(QLabel* picture, const std::string& tip, QMenu* menu = nullptr);
void setTrayIcon(QLabel* picture, const std::string& tip);
void removeTrayIcon();

// The open-dialog list is created at start and released at exit.
void createOpenDialogList();
void releaseOpenDialogList();

// Mode 1 ends at once; any other mode asks first, then lets the leave guard
// save or keep unsaved changes.
void exitProgram(int mode);

// A statement the database refused: the provider's description, shown with
// the application title.
void reportStatementFailure(const std::string& description);

}  // namespace kestrix
