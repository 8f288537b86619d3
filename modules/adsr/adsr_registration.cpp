// SPDX-License-Identifier: MIT
// Registers the envelope with this library's factory while the library loads.
#include "factory/factory_singleton.h"
#include "modules/adsr/adsr.h"
#include "modules/adsr/adsr_pins.h"

namespace {
const kvx::ModuleRegistration adsrRegistration{kvx::adsr::MODULE_SUBTYPE, kvx::adsr::MODULE_ID,
                                               &kvx::adsr::createAdsr};
}
