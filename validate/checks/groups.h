// SPDX-License-Identifier: MIT
// The validator's check groups, one file each, in the order the report lists them.
#pragma once

#include <vector>

#include "validate/check.h"

namespace kvx::validate {

Group loadingChecks();
Group factoryChecks();
Group instanceChecks();
Group processingChecks();
Group accuracyChecks();
Group realtimeChecks();
Group hostileChecks();
// The module description against the library (skipped without one).
Group descriptionChecks();

// Every group above, in report order.
std::vector<Group> allGroups();

}  // namespace kvx::validate
