#include "tests/plugin/loaded_plugin.h"

#include <dlfcn.h>

#include <stdexcept>

namespace kestrix::plugin::test {

std::string LoadedPlugin::libraryPath() {
    return QUELLIN_LIBRARY;
}

LoadedPlugin::LoadedPlugin() {
    const auto copy = dir_.path() / "Quellin.so";
    std::filesystem::copy_file(libraryPath(), copy);
    handle_ = ::dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw std::runtime_error(std::string("dlopen: ") + ::dlerror());
    entry_ = reinterpret_cast<int (*)(ClientEvent*)>(::dlsym(handle_, "HandleClientEvent"));
    if (entry_ == nullptr) throw std::runtime_error("Quellin.so exports no HandleClientEvent");
}

LoadedPlugin::~LoadedPlugin() {
    if (handle_ != nullptr) ::dlclose(handle_);
}

}  // namespace kestrix::plugin::test
