// SPDX-License-Identifier: MIT
// Broken: its IMpLegacyInitialization view keeps a reference count of its own.
#include "broken/broken_module.h"
#include "interfaces/interface_ids.h"

namespace {

class SplitCount;

class OwnCountView : public kvx::IMpLegacyInitialization {
public:
    explicit OwnCountView(SplitCount& module) : owner(module) {}
    int32_t queryInterface(const kvx::MpGuid* iid, void** out) noexcept override;
    int32_t addRef() noexcept override { return ++count; }
    int32_t release() noexcept override { return --count; }  // never destroys anything
    int32_t attachHost(kvx::IMpUnknown* host) noexcept override;
    int32_t count = 0;

private:
    SplitCount& owner;
};

class SplitCount : public kvx::adsr::Adsr {
public:
    int32_t queryInterface(const kvx::MpGuid* iid, void** out) noexcept override {
        if (iid != nullptr && out != nullptr && kvx::sameGuid(*iid, kvx::IID_MP_LEGACY_INITIALIZATION)) {
            *out = &legacyView;
            legacyView.addRef();
            return 0;
        }
        return Adsr::queryInterface(iid, out);
    }
    OwnCountView legacyView{*this};
};

int32_t OwnCountView::queryInterface(const kvx::MpGuid* iid, void** out) noexcept {
    return owner.queryInterface(iid, out);
}
int32_t OwnCountView::attachHost(kvx::IMpUnknown* host) noexcept { return owner.attachHost(host); }

}  // namespace

KVX_REGISTER_BROKEN_MODULE(SplitCount)
