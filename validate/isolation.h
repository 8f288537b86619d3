// SPDX-License-Identifier: MIT
// Runs the checks of one group in child processes, so that a module that crashes or hangs in
// one check is reported as that check's failure and the remaining checks still run.
#pragma once

#include <vector>

#include "validate/check.h"
#include "validate/report.h"

namespace kvx::validate {

// Each child runs the group's checks in order from where the previous child stopped; a check
// that does not finish (signal, unexpected exit, or more than `timeoutSeconds`) fails.
std::vector<CheckResult> runGroupIsolated(const Group& group, const Context& context,
                                          unsigned timeoutSeconds);

}  // namespace kvx::validate
