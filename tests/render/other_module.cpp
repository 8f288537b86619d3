// SPDX-License-Identifier: MIT
// A module library whose one module is not "KV ADSR4": the envelope registered under another id,
// for checking that kvx render refuses a library without the module it drives.
#include "factory/factory_singleton.h"
#include "modules/adsr/adsr.h"

namespace {
const kvx::ModuleRegistration otherRegistration{0, u"KV OTHER", &kvx::adsr::createAdsr};
}
