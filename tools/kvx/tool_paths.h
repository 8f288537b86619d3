// Where the tool finds things: the module library built next to it.
#pragma once

#include <string>

namespace kvx::cli {

// The ADSR.kvx in the tool's own folder (the top of the build tree).
std::string defaultPluginPath();

}  // namespace kvx::cli
