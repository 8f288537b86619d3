// kvx validate: to be written.
#include "tools/commands.h"

namespace kvx::tool {

void addValidateCommand(CLI::App&, int&) {}

}  // namespace kvx::tool
