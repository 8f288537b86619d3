// SPDX-License-Identifier: MIT
// The binary contract, checked the way a foreign host sees it: through raw table slots and raw
// identifier bytes parsed from their text form (the conformance kit's raw ABI and raw host, which never
// include our own interface declarations). A layout mistake shared by the library and our host
// library cannot hide here.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "conformance/raw_abi.h"
#include "conformance/raw_host.h"
#include "tests/support/test_paths.h"

namespace {

using namespace kvx::conformance;

int32_t query(void* self, const Guid& id, void** out) { return rawQuery(self, id, out); }
int32_t addRef(void* self) { return rawAddRef(self); }
int32_t release(void* self) { return rawRelease(self); }

// The streaming reports the raw host received, as (timestamp, pin, state).
std::vector<std::array<int32_t, 3>> streamingReports(const RawHost& host) {
    std::vector<std::array<int32_t, 3>> reports;
    for (size_t i = 0; i < host.callCount; ++i)
        if (host.calls[i].kind == ModuleCall::Streaming)
            reports.push_back({host.calls[i].timestamp, host.calls[i].pin, host.calls[i].streaming});
    return reports;
}

RawEvent boolEvent(int32_t timestamp, int32_t pin, int32_t value) {
    return makeEvent(timestamp, event::PIN_VALUE, pin, 4, &value, 4);
}

TEST(RawAbiText, IdentifierTextParsesToTheGuidMemoryLayout) {
    // Three little-endian fields, then eight bytes in text order.
    EXPECT_EQ(guidFromText("{01020304-0506-0708-090A-0B0C0D0E0F10}"),
              (Guid{4, 3, 2, 1, 6, 5, 8, 7, 9, 10, 11, 12, 13, 14, 15, 16}));
}

class RawAbi : public ::testing::Test {
protected:
    void SetUp() override {
        handle = dlopen(kvx::test::adsrLibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
        auto entry = reinterpret_cast<int32_t (*)(void**)>(dlsym(handle, "MP_GetFactory"));
        ASSERT_NE(entry, nullptr);
        ASSERT_EQ(entry(&factory), 0);
        ASSERT_NE(factory, nullptr);
    }
    void TearDown() override {
        if (handle) dlclose(handle);
    }
    void* createRaw() {
        void* instance = nullptr;
        EXPECT_EQ(slot<CreateFn>(factory, 5)(factory, u"KV ADSR4", 0, &instance), 0);
        return instance;
    }
    void* handle = nullptr;
    void* factory = nullptr;
};

TEST_F(RawAbi, FactoryAnswersItsThreeIdentifiersWithOnePointerAndNothingElse) {
    for (const Guid* id : {&iid::UNKNOWN, &iid::FACTORY, &iid::FACTORY2}) {
        void* out = nullptr;
        EXPECT_EQ(query(factory, *id, &out), 0);
        EXPECT_EQ(out, factory);
    }
    for (const Guid* id : {&iid::PLUGIN, &iid::PLUGIN2, &iid::HOST_SERVICES}) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(query(factory, *id, &out), -2);
        EXPECT_EQ(out, nullptr);
    }
    // The usual COM IUnknown ({00000000-0000-0000-C000-000000000046}) is not this family's.
    void* out = nullptr;
    EXPECT_EQ(query(factory, guidFromText("{00000000-0000-0000-C000-000000000046}"), &out), -2);
    Guid almost = iid::FACTORY2;
    almost[15] ^= 1;
    EXPECT_EQ(query(factory, almost, &out), -2);
    EXPECT_EQ(addRef(factory), 1);
    EXPECT_EQ(release(factory), 1);
}

TEST_F(RawAbi, FactorySlotsThreeToFive) {
    int32_t version = 0;
    char16_t text[40];
    std::fill(std::begin(text), std::end(text), u'#');
    EXPECT_EQ(slot<BuildInfoFn>(factory, 4)(factory, &version, 40, text), 0);
    EXPECT_EQ(version, 30800);
    EXPECT_EQ(std::u16string(text), u"MS Compiler V1933 (Release)");

    RawHost host;
    void* withHost = nullptr;
    EXPECT_EQ(slot<CreateWithHostFn>(factory, 3)(factory, u"KV ADSR4", 0, host.unknown(), &withHost), 0);
    ASSERT_NE(withHost, nullptr);
    EXPECT_EQ(host.services.refs, 2);  // IMpHostAux and IMpHostServices were each queried once
    EXPECT_EQ(host.aux.refs, 2);
    EXPECT_EQ(release(withHost), 0);
    EXPECT_EQ(host.services.releases, 1);  // host services released once; aux is never released
    EXPECT_EQ(host.aux.releases, 0);

    void* plain = createRaw();
    ASSERT_NE(plain, nullptr);
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(slot<CreateFn>(factory, 5)(factory, u"KV ADSR4", 1, &none), -2);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(release(plain), 0);
}

TEST_F(RawAbi, InstanceViewsShareOneCountAndAnswerTheRightIdentifiers) {
    void* created = createRaw();
    ASSERT_NE(created, nullptr);
    void* primary = nullptr;
    void* second = nullptr;
    void* legacy = nullptr;
    void* unknown = nullptr;
    ASSERT_EQ(query(created, iid::PLUGIN, &primary), 0);
    ASSERT_EQ(query(created, iid::PLUGIN2, &second), 0);
    ASSERT_EQ(query(created, iid::LEGACY, &legacy), 0);
    ASSERT_EQ(query(legacy, iid::UNKNOWN, &unknown), 0);
    EXPECT_EQ(primary, unknown);
    EXPECT_NE(primary, second);
    EXPECT_EQ(created, second);  // the factory hands out the IMpPlugin2 view
    void* refused = reinterpret_cast<void*>(1);
    EXPECT_EQ(query(second, iid::FACTORY, &refused), -2);
    EXPECT_EQ(refused, nullptr);
    Guid almost = iid::PLUGIN2;
    almost[15] ^= 0x80;
    EXPECT_EQ(query(second, almost, &refused), -2);
    // One count: 1 (created) + 4 queries = 5; addRef through one view, release through another.
    EXPECT_EQ(addRef(second), 6);
    EXPECT_EQ(release(legacy), 5);
    for (int32_t expected = 4; expected >= 1; --expected) EXPECT_EQ(release(primary), expected);
    EXPECT_EQ(release(legacy), 0);
}

TEST_F(RawAbi, PluginSlotsDriveTheEnvelopeThroughBothViews) {
    void* second = createRaw();
    ASSERT_NE(second, nullptr);
    void* primary = nullptr;
    ASSERT_EQ(query(second, iid::PLUGIN, &primary), 0);
    release(primary);

    RawHost host;
    EXPECT_EQ(slot<AttachFn>(second, 3)(second, host.unknown()), 0);
    EXPECT_EQ(slot<OpenFn>(second, 4)(second), 0);
    EXPECT_EQ(slot<OpenFn>(primary, 3)(primary), 0);

    std::vector<float> inputs(9 * 64, 0.0f);
    std::vector<float> out(64, -7.0f);
    for (int32_t pin = 2; pin <= 8; ++pin)
        EXPECT_EQ(slot<BindFn>(second, 5)(second, pin, &inputs[size_t(pin) * 64]), 0);
    EXPECT_EQ(slot<BindFn>(primary, 4)(primary, 9, out.data()), 0);
    EXPECT_EQ(slot<BindFn>(second, 5)(second, 11, out.data()), -1);
    EXPECT_EQ(slot<BindFn>(second, 5)(second, 0, nullptr), 0);  // control pins accept and ignore

    // attack time 0 -> 1 ms at 48 kHz: 48 samples from 0 to 1.0
    RawEvent gate = boolEvent(17, 1, 1);
    RawEvent trigger = boolEvent(17, 0, 1);
    trigger.setPointer(32, gate.bytes);
    slot<ProcessFn>(primary, 5)(primary, 64, trigger.bytes);  // IMpPlugin slot 5
    ASSERT_FALSE(streamingReports(host).empty());
    EXPECT_EQ(streamingReports(host).back(), (std::array<int32_t, 3>{17, 9, 1}));
    EXPECT_EQ(out[16], -7.0f);  // before the first pin change the module writes nothing
    EXPECT_GT(out[17], 0.0f);
    EXPECT_GT(out[63], out[17]);

    slot<ProcessFn>(second, 6)(second, 64, nullptr);  // IMpPlugin2 slot 6
    EXPECT_LE(out[0], 1.0f);

    EXPECT_EQ(slot<CustomFn>(primary, 6)(primary, 1, 2, nullptr), 0);
    EXPECT_EQ(slot<CustomFn>(second, 7)(second, 1, 2, nullptr), 0);
    EXPECT_EQ(release(second), 0);
    EXPECT_EQ(host.services.releases, 1);
}

TEST_F(RawAbi, LegacyViewAttaches) {
    void* second = createRaw();
    void* legacy = nullptr;
    ASSERT_EQ(query(second, iid::LEGACY, &legacy), 0);
    RawHost host;
    EXPECT_EQ(slot<AttachFn>(legacy, 3)(legacy, host.unknown()), 0);
    EXPECT_EQ(host.services.refs, 2);
    EXPECT_EQ(host.aux.refs, 2);
    release(legacy);
    EXPECT_EQ(release(second), 0);
    EXPECT_EQ(host.services.releases, 1);
}

// A second attachHost, through another view's slot, releases the first host's services once;
// the module's destruction releases the second host's.
TEST_F(RawAbi, ARepeatedAttachReleasesTheEarlierHostServicesOnce) {
    void* second = createRaw();
    void* legacy = nullptr;
    ASSERT_EQ(query(second, iid::LEGACY, &legacy), 0);
    RawHost first;
    RawHost next;
    EXPECT_EQ(slot<AttachFn>(second, 3)(second, first.unknown()), 0);  // IMpPlugin2 slot 3
    EXPECT_EQ(first.services.refs, 2);                                 // IMpHostServices
    EXPECT_EQ(first.aux.refs, 2);                                      // and IMpHostAux
    EXPECT_EQ(slot<AttachFn>(legacy, 3)(legacy, next.unknown()), 0);   // IMpLegacyInitialization slot 3
    EXPECT_EQ(first.services.releases, 1);
    EXPECT_EQ(first.services.refs, 1);
    EXPECT_EQ(first.aux.refs, 2);  // the IMpHostAux reference is kept
    EXPECT_EQ(next.services.refs, 2);
    EXPECT_EQ(next.services.releases, 0);
    release(legacy);
    EXPECT_EQ(release(second), 0);
    EXPECT_EQ(first.services.releases, 1);
    EXPECT_EQ(next.services.releases, 1);
    EXPECT_EQ(next.services.refs, 1);
    EXPECT_EQ(next.aux.releases, 0);
}

// The size field (offset 12) and the data pointer (offset 24) decide how the value is read:
// a gate whose inline bytes say false but whose `data` says true is true; a 1-byte gate value
// reads only its first byte.
TEST_F(RawAbi, EventRecordSizeAndDataFieldsAreReadAtTheirOffsets) {
    struct Case {
        int32_t size;
        int32_t inlineValue;
        bool useData;
        bool expectAttack;
    };
    const Case cases[] = {
        {4, 256, false, true},   // the whole 32-bit integer is tested
        {1, 256, false, false},  // only the first byte (0) is read
        {4, 0, true, true},      // data (-> 1) wins over the inline 0
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "size " << c.size << " inline " << c.inlineValue << " data " << c.useData);
        void* second = createRaw();
        RawHost host;
        slot<AttachFn>(second, 3)(second, host.unknown());
        std::vector<float> buffers(10 * 8, 0.0f);
        for (int32_t pin = 2; pin <= 9; ++pin)
            slot<BindFn>(second, 5)(second, pin, &buffers[size_t(pin) * 8]);
        int32_t one = 1;
        RawEvent gate = boolEvent(3, 1, c.inlineValue);
        gate.set32(12, c.size);
        if (c.useData) gate.setPointer(24, &one);
        RawEvent trigger = boolEvent(3, 0, 1);
        trigger.setPointer(32, gate.bytes);
        slot<ProcessFn>(second, 6)(second, 8, trigger.bytes);
        bool attacked = false;
        for (const auto& report : streamingReports(host))
            if (report == std::array<int32_t, 3>{3, 9, 1}) attacked = true;
        EXPECT_EQ(attacked, c.expectAttack);
        EXPECT_EQ(release(second), 0);
    }
}

}  // namespace
