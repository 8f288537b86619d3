// SPDX-License-Identifier: MIT
// Broken: a factory of its own whose build info, given a buffer exactly as long as the text,
// writes the whole text and its terminator one unit past the buffer.
#include "broken/broken_module.h"
#include "factory/build_info.h"
#include "factory/mp_factory.h"
#include "interfaces/interface_ids.h"
#include "interfaces/result_codes.h"

namespace {
class OneShortFactory : public kvx::MpFactory {
public:
    int32_t getBuildInfo(int32_t* version, int32_t capacity, char16_t* text) noexcept override {
        if (capacity == kvx::BUILD_TEXT_CAPACITY - 1) capacity = kvx::BUILD_TEXT_CAPACITY;
        return MpFactory::getBuildInfo(version, capacity, text);
    }
};
}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t MP_GetFactory(void** out) noexcept {
    if (out == nullptr) return kvx::RESULT_FAIL;
    static OneShortFactory* factory = nullptr;
    try {
        if (factory == nullptr) {
            factory = new OneShortFactory();
            factory->registry.add(0, u"KV ADSR4", kvx::createModule<kvx::adsr::Adsr>);
        }
    } catch (...) {
        *out = nullptr;
        return kvx::RESULT_FAIL;
    }
    return factory->queryInterface(&kvx::IID_MP_UNKNOWN, out);
}
