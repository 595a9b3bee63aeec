#pragma once

#include <filesystem>
#include <string>

#include "plugin/client_event.h"
#include "tests/support/scratch.h"

namespace kestrix::plugin::test {

// The built Quellin.so, loaded the way the server loads it. Each instance
// loads its own copy of the file, so each starts with fresh state (the
// connection string is read at its first event).
class LoadedPlugin {
  public:
    LoadedPlugin();
    ~LoadedPlugin();
    LoadedPlugin(const LoadedPlugin&) = delete;
    LoadedPlugin& operator=(const LoadedPlugin&) = delete;

    int handle(ClientEvent* event) const { return entry_(event); }
    static std::string libraryPath();

  private:
    kestrix::test::TempDir dir_;
    void* handle_ = nullptr;
    int (*entry_)(ClientEvent*) = nullptr;
};

}  // namespace kestrix::plugin::test
