#include "service/plugin_library.h"

#include <dlfcn.h>

#include <stdexcept>

#include "plugin/client_event.h"

namespace kestrix::service {

static_assert(sizeof(ClientEvent) == sizeof(quellind_record));
static_assert(offsetof(ClientEvent, userName) == offsetof(quellind_record, user_name));
static_assert(offsetof(ClientEvent, data) == offsetof(quellind_record, data));
static_assert(offsetof(ClientEvent, address) == offsetof(quellind_record, address));

PluginLibrary::PluginLibrary(const std::string& path) {
    handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw std::runtime_error(std::string("cannot load ") + ::dlerror());
    entry_ = reinterpret_cast<int (*)(void*, int*)>(::dlsym(handle_, "QuellinAnswerEvent"));
    if (entry_ == nullptr) {
        ::dlclose(handle_);
        throw std::runtime_error(path + " is not a plug-in this service can ask");
    }
}

PluginLibrary::~PluginLibrary() {
    ::dlclose(handle_);
}

PluginLibrary::Answer PluginLibrary::ask(quellind_record& record) const {
    int failed = 0;
    const int answered = entry_(&record, &failed);
    return {answered != 0, failed != 0};
}

}  // namespace kestrix::service
