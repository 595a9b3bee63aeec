// quellind: answers the FTP server's sessions from the plug-in, so that the
// sessions themselves never open the account database.
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include "core/settings_store.h"
#include "service/answering_service.h"
#include "service/charge_queue.h"
#include "service/peer_policy.h"
#include "service/plugin_library.h"
#include "service/quellind_wire.h"
#include "service/service_log.h"
#include "service/socket_server.h"

namespace {

using namespace kestrix::service;
namespace fs = std::filesystem;

struct Options {
    std::string settings = "/etc/kestrix/registry";
    std::string socket = QUELLIND_DEFAULT_SOCKET;
    std::string stateDir = "/var/lib/kestrix/quellind";
    std::string library;
};

constexpr const char* kUsage =
    "usage: quellind [--settings DIR] [--socket PATH] [--state-dir DIR] [--library FILE]\n"
    "  --settings DIR   the settings store (default /etc/kestrix/registry)\n"
    "  --socket PATH    the socket the FTP server asks on (default " QUELLIND_DEFAULT_SOCKET
    ")\n"
    "  --state-dir DIR  where changes the database could not take wait\n"
    "                   (default /var/lib/kestrix/quellind)\n"
    "  --library FILE   the plug-in (default: Quellin.so beside quellind)\n";

std::optional<Options> parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) return false;
            into = argv[++i];
            return true;
        };
        bool ok = false;
        if (arg == "--settings")
            ok = value(options.settings);
        else if (arg == "--socket")
            ok = value(options.socket);
        else if (arg == "--state-dir")
            ok = value(options.stateDir);
        else if (arg == "--library")
            ok = value(options.library);
        if (!ok) return std::nullopt;
    }
    return options;
}

std::string besideProgram(const char* name) {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return (error ? fs::path(".") : self.parent_path()) / name;
}

}  // namespace

int main(int argc, char** argv) {
    const auto options = parse(argc, argv);
    if (!options) {
        std::cerr << kUsage;
        return 2;
    }
    openServiceLog();
    // Signals are taken by the main thread alone, below.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    // The plug-in reads its connection string from the same store.
    ::setenv("KESTRIX_REGISTRY", options->settings.c_str(), 1);
    const kestrix::SettingsStore settings(options->settings);
    std::vector<std::string> problems;
    PeerPolicy peers = PeerPolicy::fromSettings(settings, problems);
    for (const std::string& problem : problems)
        logWarning(problem);

    try {
        std::error_code error;
        fs::create_directories(options->stateDir, error);
        if (error)
            throw std::runtime_error("cannot create " + options->stateDir + ": " + error.message());
        ChargeQueue charges(fs::path(options->stateDir) / "charges");
        if (charges.size() > 0)
            logInfo(std::to_string(charges.size()) +
                    " quota or credit change(s) kept by an earlier run wait for the database");
        const std::string libraryPath =
            options->library.empty() ? besideProgram("Quellin.so") : options->library;
        PluginLibrary library(libraryPath);
        SessionRegister sessions(SessionRegister::fromSettings(settings));
        AnsweringService service(library, charges, sessions);
        SocketServer server(options->socket, std::move(peers), service);
        std::thread([&server] { server.run(); }).detach();
        logInfo("listening on " + server.path() + " with " + libraryPath);

        int signal = 0;
        sigwait(&signals, &signal);
        ::unlink(options->socket.c_str());
        sessions.leaveAll();
        logInfo(std::string("stopped by ") + ::strsignal(signal));
        // Sessions' threads may be inside the plug-in: no destructor runs
        // under them. Every kept change is already on disk.
        std::fflush(nullptr);
        ::_exit(0);
    } catch (const std::exception& failure) {
        logError(failure.what());
        return 1;
    }
}
