// SPDX-License-Identifier: MIT
// Broken factories: the envelope's library with its own MP_GetFactory, which hands out a proxy
// in front of the real factory. The proxy forwards everything and breaks one rule, chosen when
// the library is built (KVX_FACTORY_FAULT, one library per fault):
//   1 MP_GetFactory(null) returns 0
//   2 IMpFactory2 is answered with another pointer than IMpUnknown's
//   3 IMpFactory with its last byte changed is answered
//   4 release returns 0 (as if the factory were gone)
//   5 getBuildInfo does not write the version
//   6 a text that does not fit is cut off instead of left empty
//   7 a negative capacity writes into the buffer
//   8 createInstance adds a reference of its own (a count of 2)
//   9 createInstanceWithHost accepts a null host
#include "broken/broken_module.h"
#include "factory/factory_singleton.h"
#include "interfaces/factory_interfaces.h"
#include "interfaces/interface_ids.h"
#include "interfaces/result_codes.h"

#ifndef KVX_FACTORY_FAULT
#error "KVX_FACTORY_FAULT names the fault"
#endif

namespace {

class Plain : public kvx::adsr::Adsr {};

class Proxy final : public kvx::IMpFactory2 {
public:
    int32_t queryInterface(const kvx::MpGuid* iid, void** out) noexcept override {
        if (iid == nullptr || out == nullptr) return kvx::RESULT_FAIL;
        kvx::MpGuid nearMiss = kvx::IID_MP_FACTORY;
        nearMiss.data4[7] ^= 0x01;
        if (KVX_FACTORY_FAULT == 2 && kvx::sameGuid(*iid, kvx::IID_MP_FACTORY2))
            return real()->queryInterface(iid, out);
        if (kvx::sameGuid(*iid, kvx::IID_MP_UNKNOWN) || kvx::sameGuid(*iid, kvx::IID_MP_FACTORY) ||
            kvx::sameGuid(*iid, kvx::IID_MP_FACTORY2) ||
            (KVX_FACTORY_FAULT == 3 && kvx::sameGuid(*iid, nearMiss))) {
            *out = this;
            return kvx::RESULT_OK;
        }
        *out = nullptr;
        return kvx::RESULT_UNSUPPORTED;
    }
    int32_t addRef() noexcept override { return 1; }
    int32_t release() noexcept override { return KVX_FACTORY_FAULT == 4 ? 0 : 1; }

    int32_t createInstanceWithHost(const char16_t* id, int32_t subtype, kvx::IMpUnknown* host,
                                   void** out) noexcept override {
        if (KVX_FACTORY_FAULT == 9 && host == nullptr && id != nullptr && out != nullptr)
            return real()->createInstance(id, subtype, out);
        return real()->createInstanceWithHost(id, subtype, host, out);
    }
    int32_t getBuildInfo(int32_t* version, int32_t capacity, char16_t* text) noexcept override {
        int32_t ignored = 0;
        const int32_t result =
            real()->getBuildInfo(KVX_FACTORY_FAULT == 5 ? &ignored : version, capacity, text);
        if (KVX_FACTORY_FAULT == 6 && text != nullptr && capacity > 0 && text[0] == u'\0') {
            const char16_t cut[] = u"cut off";
            int32_t i = 0;
            for (; i + 1 < capacity && cut[i] != u'\0'; ++i) text[i] = cut[i];
            text[i] = u'\0';
        }
        if (KVX_FACTORY_FAULT == 7 && text != nullptr && capacity < 0) text[0] = u'\0';
        return result;
    }
    int32_t createInstance(const char16_t* id, int32_t subtype, void** out) noexcept override {
        const int32_t result = real()->createInstance(id, subtype, out);
        if (KVX_FACTORY_FAULT == 8 && result == kvx::RESULT_OK && out != nullptr && *out != nullptr)
            static_cast<kvx::IMpUnknown*>(*out)->addRef();
        return result;
    }

private:
    static kvx::IMpFactory2* real() noexcept { return kvx::getFactory(); }
};

Proxy proxy;

struct FactoryTeardown {
    ~FactoryTeardown() { kvx::destroyFactory(); }
};
const FactoryTeardown teardown;

}  // namespace

KVX_REGISTER_BROKEN_MODULE(Plain)

extern "C" __attribute__((visibility("default"))) int32_t MP_GetFactory(void** out) noexcept {
    if (out == nullptr) return KVX_FACTORY_FAULT == 1 ? kvx::RESULT_OK : kvx::RESULT_FAIL;
    *out = static_cast<kvx::IMpUnknown*>(&proxy);
    return kvx::RESULT_OK;
}
