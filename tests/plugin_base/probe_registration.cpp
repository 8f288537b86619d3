// SPDX-License-Identifier: MIT
// Registers the probe module with the factory of Probe.kvx while the library loads.
#include "factory/factory_singleton.h"
#include "tests/plugin_base/probe_module.h"

namespace {
const kvx::ModuleRegistration probeRegistration{kvx::test::PROBE_SUBTYPE, kvx::test::PROBE_MODULE_ID,
                                                &kvx::test::createProbe};
}
