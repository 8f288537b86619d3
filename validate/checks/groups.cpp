// SPDX-License-Identifier: MIT
// The report order of the check groups.
#include "validate/checks/groups.h"

namespace kvx::validate {

std::vector<Group> allGroups() {
    return {loadingChecks(),  factoryChecks(),  instanceChecks(), processingChecks(),
            accuracyChecks(), realtimeChecks(), hostileChecks(),  descriptionChecks()};
}

}  // namespace kvx::validate
