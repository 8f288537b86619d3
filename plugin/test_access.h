// SPDX-License-Identifier: MIT
// MpTestAccess: the one friend through which the test suite looks inside the base, the pins and
// modules. Declared here so that those classes can befriend it; defined only under tests/.
#pragma once

namespace kvx {

struct MpTestAccess;

}  // namespace kvx
