// SPDX-License-Identifier: MIT
// Broken: the IMpPlugin2 view it hands out has bindPinBuffer and openModule in swapped slots.
#include "broken/broken_module.h"
#include "interfaces/interface_ids.h"

namespace {

class SlotOrder;

// IMpPlugin2's operations with slots 4 and 5 exchanged.
class SwappedView : public kvx::IMpUnknown {
public:
    explicit SwappedView(SlotOrder& module) : owner(module) {}
    int32_t queryInterface(const kvx::MpGuid* iid, void** out) noexcept override;
    int32_t addRef() noexcept override;
    int32_t release() noexcept override;
    virtual int32_t attachHost(kvx::IMpUnknown* host) noexcept;
    virtual int32_t bindPinBuffer(int32_t pinId, float* buffer) noexcept;  // slot 4: should be openModule
    virtual int32_t openModule() noexcept;                                 // slot 5: should be bindPinBuffer
    virtual void process(int32_t sampleCount, const kvx::HostEvent* events) noexcept;
    virtual int32_t customCall(intptr_t a, intptr_t b, void* c) noexcept;

private:
    SlotOrder& owner;
};

class SlotOrder : public kvx::adsr::Adsr {
public:
    int32_t queryInterface(const kvx::MpGuid* iid, void** out) noexcept override {
        if (iid != nullptr && out != nullptr && kvx::sameGuid(*iid, kvx::IID_MP_PLUGIN2)) {
            *out = &view;
            addRef();
            return 0;
        }
        return Adsr::queryInterface(iid, out);
    }
    SwappedView view{*this};
};

int32_t SwappedView::queryInterface(const kvx::MpGuid* iid, void** out) noexcept {
    return owner.queryInterface(iid, out);
}
int32_t SwappedView::addRef() noexcept { return owner.addRef(); }
int32_t SwappedView::release() noexcept { return owner.release(); }
int32_t SwappedView::attachHost(kvx::IMpUnknown* host) noexcept { return owner.attachHost(host); }
int32_t SwappedView::bindPinBuffer(int32_t pinId, float* buffer) noexcept {
    return owner.bindPinBuffer(pinId, buffer);
}
int32_t SwappedView::openModule() noexcept { return owner.openModule(); }
void SwappedView::process(int32_t sampleCount, const kvx::HostEvent* events) noexcept {
    owner.process(sampleCount, events);
}
int32_t SwappedView::customCall(intptr_t a, intptr_t b, void* c) noexcept {
    return owner.customCall(a, b, c);
}

kvx::IMpUnknown* createSlotOrder() {
    auto* module = new SlotOrder();
    return &module->view;
}
const kvx::ModuleRegistration registration{0, u"KV ADSR4", &createSlotOrder};

}  // namespace
