// kvx render: to be written.
#include "tools/commands.h"

namespace kvx::tool {

void addRenderCommand(CLI::App&, int&) {}

}  // namespace kvx::tool
