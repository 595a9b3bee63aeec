#pragma once

#include <string>

#include "service/quellind_wire.h"

namespace kestrix::service {

// Quellin.so, loaded once; its answers come from its own pool of database
// connections, shared by every session.
class PluginLibrary {
  public:
    // Throws std::runtime_error when the file cannot be loaded or lacks the
    // service's entry point.
    explicit PluginLibrary(const std::string& path);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    struct Answer {
        bool answered;        // the code is one the plug-in answers
        bool databaseFailed;  // the answer is that of a database not reached
    };
    // Safe on any thread, many at once.
    Answer ask(quellind_record& record) const;

  private:
    void* handle_ = nullptr;
    int (*entry_)(void*, int*) = nullptr;
};

}  // namespace kestrix::service
