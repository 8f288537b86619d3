// The report order of the check groups.
#include "tools/validate/checks/groups.h"

namespace kvx::validate {

std::vector<Group> allGroups() {
    return {loadingChecks(),  factoryChecks(),  instanceChecks(), processingChecks(),
            accuracyChecks(), realtimeChecks(), hostileChecks(),  descriptionChecks()};
}

}  // namespace kvx::validate
