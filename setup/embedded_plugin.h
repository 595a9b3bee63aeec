#pragma once

#include <string>

namespace kestrix {

// The plug-in of this program's own build, byte for byte; empty if the
// program was built without it.
std::string embeddedPluginBytes();

}  // namespace kestrix
