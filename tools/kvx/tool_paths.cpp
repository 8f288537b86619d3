// Paths relative to the running tool.
#include "tools/kvx/tool_paths.h"

#include <filesystem>

namespace kvx::cli {

std::string defaultPluginPath() {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return "ADSR.kvx";
    return (self.parent_path() / "ADSR.kvx").string();
}

}  // namespace kvx::cli
