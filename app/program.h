#pragma once

#include <filesystem>
#include <memory>

#include "app/program_commands.h"
#include "setup/designer_defaults.h"

namespace kestrix {

class AboutBox;
class ConfigureWindow;
class IpAccessWindow;
class MainWindow;
class OpenFailureDialogue;
class SingleInstance;
class SplashWindow;
class StatusWindow;

struct ProgramOptions {
    DesignerDefaults defaults = designerDefaults();
    ProgramCommands commands;
    std::filesystem::path programDirectory;
    // The single-instance lock; empty: the one for this settings store.
    std::string lockPath;
};

// The program's windows. Each is created on first use (which loads it) and
// afterwards only hidden, so its controls keep their contents.
class Program {
  public:
    explicit Program(ProgramOptions options = {});
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Start-up: the splash window, whose timers go on from there.
    void start();

    SplashWindow& splashWindow();
    MainWindow& mainWindow();
    MainWindow* loadedMainWindow() const { return main_.get(); }
    ConfigureWindow& configureWindow();
    StatusWindow& statusWindow();
    AboutBox& aboutBox();
    IpAccessWindow& globalIpAccessWindow();

    // The database stays unreachable: red icon, the critical message, the
    // icon removed, and the end without the exit question.
    void endForUnreachableDatabase();

  private:
    // The server-wide IP list of the configuration dialog.
    void openGlobalIpAccess();

    ProgramOptions options_;
    std::unique_ptr<SingleInstance> instance_;
    std::unique_ptr<OpenFailureDialogue> openFailure_;
    std::unique_ptr<StatusWindow> status_;
    std::unique_ptr<ConfigureWindow> configure_;
    std::unique_ptr<AboutBox> about_;
    std::unique_ptr<IpAccessWindow> globalIpAccess_;
    std::unique_ptr<MainWindow> main_;
    std::unique_ptr<SplashWindow> splash_;
};

}  // namespace kestrix
