// SPDX-License-Identifier: MIT
// A test module: the envelope, asking to sleep at the end of every block in which its output is
// constant, so also in the block where it went constant in the middle (the envelope itself runs
// a countdown first). A host must then hold the value from that sample on.
#include "factory/registered_module.h"
#include "modules/adsr/adsr.h"
#include "tests/support/adsr_test_access.h"
#include "tests/support/mp_test_access.h"

namespace {

class SleepsWhenConstant : public kvx::adsr::Adsr {
public:
    void process(int32_t sampleCount, const kvx::HostEvent* events) noexcept override {
        Adsr::process(sampleCount, events);
        kvx::IMpHostServices* host = kvx::MpTestAccess::hostServices(*this);
        if (!kvx::adsr::AdsrTestAccess::output(*this).isStreaming() && host != nullptr) host->requestSleep();
    }
};

const kvx::RegisteredModule<SleepsWhenConstant> registration{0, u"KV ADSR4"};

}  // namespace
