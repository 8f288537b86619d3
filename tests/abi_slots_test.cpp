// The binary contract, checked the way a foreign host sees it: through raw table slots and raw
// identifier bytes parsed from their text form, never through our own interface declarations.
// A layout mistake shared by the library and our host library cannot hide here.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_paths.h"

namespace {

using Bytes16 = std::array<uint8_t, 16>;

// "{9A7904B7-7F7F-4D61-B558-C1A6695BB638}" -> GUID memory layout: the first three fields little
// endian, the last eight bytes in text order.
Bytes16 guidFromText(const std::string& text) {
    std::string hex;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c))) hex.push_back(c);
    auto byteAt = [&](size_t i) {
        return static_cast<uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
    };
    Bytes16 b{};
    const size_t order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (size_t i = 0; i < 16; ++i) b[i] = byteAt(order[i]);
    return b;
}

const Bytes16 UNKNOWN = guidFromText("{00000000-0000-C000-0000-000000000046}");
const Bytes16 FACTORY = guidFromText("{9A7904B7-7F7F-4D61-B558-C1A6695BB638}");
const Bytes16 FACTORY2 = guidFromText("{91C3D2EE-C701-4F35-91A6-094DC7E05976}");
const Bytes16 PLUGIN = guidFromText("{2B0DFC7E-A539-49CD-B72D-32FF9DF0D9E4}");
const Bytes16 PLUGIN2 = guidFromText("{1E07E3E8-8118-457F-A63C-D4F282A0F519}");
const Bytes16 LEGACY = guidFromText("{0B471002-5627-4D46-984E-C0DC79D0AD35}");
const Bytes16 HOST_SERVICES = guidFromText("{4F1B532F-3C46-4927-A498-614867425BE7}");
const Bytes16 HOST_AUX = guidFromText("{87CCD426-71D7-414E-A9A6-5ADCA81C7420}");

// Slot `n` of the table of the object at `self`.
template <typename Fn>
Fn slot(void* self, int n) {
    void** table = *static_cast<void***>(self);
    return reinterpret_cast<Fn>(table[n]);
}

using QueryFn = int32_t (*)(void*, const uint8_t*, void**);
using CountFn = int32_t (*)(void*);
using CreateWithHostFn = int32_t (*)(void*, const char16_t*, int32_t, void*, void**);
using BuildInfoFn = int32_t (*)(void*, int32_t*, int32_t, char16_t*);
using CreateFn = int32_t (*)(void*, const char16_t*, int32_t, void**);
using AttachFn = int32_t (*)(void*, void*);
using OpenFn = int32_t (*)(void*);
using BindFn = int32_t (*)(void*, int32_t, float*);
using ProcessFn = void (*)(void*, int32_t, const void*);
using CustomFn = int32_t (*)(void*, intptr_t, intptr_t, void*);

int32_t query(void* self, const Bytes16& iid, void** out) {
    return slot<QueryFn>(self, 0)(self, iid.data(), out);
}
int32_t addRef(void* self) { return slot<CountFn>(self, 1)(self); }
int32_t release(void* self) { return slot<CountFn>(self, 2)(self); }

// A host written as a bare table of function pointers, slots 0..8 of the host interfaces.
struct RawHost {
    void** table;
    int32_t refs = 1;
    int32_t releases = 0;
    float sampleRate = 48000.0f;
    std::vector<std::array<int32_t, 3>> streaming;  // (timestamp, pin, state)
    int32_t sleepRequests = 0;
    int32_t countdownCalls = 0;
    int32_t rateQueries = 0;
};

int32_t hostQuery(void* self, const uint8_t* iid, void** out) {
    auto* host = static_cast<RawHost*>(self);
    *out = nullptr;
    if (std::memcmp(iid, HOST_SERVICES.data(), 16) == 0 || std::memcmp(iid, HOST_AUX.data(), 16) == 0 ||
        std::memcmp(iid, UNKNOWN.data(), 16) == 0) {
        *out = host;
        ++host->refs;
        return 0;
    }
    return -2;
}
int32_t hostAddRef(void* self) { return ++static_cast<RawHost*>(self)->refs; }
int32_t hostRelease(void* self) {
    auto* host = static_cast<RawHost*>(self);
    ++host->releases;
    return --host->refs;
}
int32_t hostSendValue(void*, int32_t, int32_t, int32_t, const void*) { return 0; }
int32_t hostSendStreaming(void* self, int32_t timestamp, int32_t pin, int32_t state) {
    static_cast<RawHost*>(self)->streaming.push_back({timestamp, pin, state});
    return 0;
}
int32_t hostRequestSleep(void* self) {
    ++static_cast<RawHost*>(self)->sleepRequests;
    return 0;
}
int32_t hostSlot6(void*) { return -2; }
int32_t hostCountdown(void* self, int32_t* countdown) {
    ++static_cast<RawHost*>(self)->countdownCalls;
    *countdown = 64;
    return 0;
}
int32_t hostSampleRate(void* self, float* rate) {
    auto* host = static_cast<RawHost*>(self);
    ++host->rateQueries;
    *rate = host->sampleRate;
    return 0;
}

void* hostTable[9] = {reinterpret_cast<void*>(&hostQuery),         reinterpret_cast<void*>(&hostAddRef),
                      reinterpret_cast<void*>(&hostRelease),       reinterpret_cast<void*>(&hostSendValue),
                      reinterpret_cast<void*>(&hostSendStreaming), reinterpret_cast<void*>(&hostRequestSleep),
                      reinterpret_cast<void*>(&hostSlot6),         reinterpret_cast<void*>(&hostCountdown),
                      reinterpret_cast<void*>(&hostSampleRate)};

// The 40-byte event record, written byte by byte at the documented offsets.
struct RawEvent {
    alignas(8) uint8_t bytes[40] = {};
    void set32(size_t offset, int32_t value) { std::memcpy(bytes + offset, &value, 4); }
    void setPointer(size_t offset, const void* value) { std::memcpy(bytes + offset, &value, 8); }
};

RawEvent boolEvent(int32_t timestamp, int32_t pin, int32_t value) {
    RawEvent event;
    event.set32(0, timestamp);
    event.set32(4, 100);
    event.set32(8, pin);
    event.set32(12, 4);
    event.set32(16, value);
    return event;
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
    for (const Bytes16* iid : {&UNKNOWN, &FACTORY, &FACTORY2}) {
        void* out = nullptr;
        EXPECT_EQ(query(factory, *iid, &out), 0);
        EXPECT_EQ(out, factory);
    }
    for (const Bytes16* iid : {&PLUGIN, &PLUGIN2, &HOST_SERVICES}) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(query(factory, *iid, &out), -2);
        EXPECT_EQ(out, nullptr);
    }
    // The usual COM IUnknown ({00000000-0000-0000-C000-000000000046}) is not this family's.
    void* out = nullptr;
    EXPECT_EQ(query(factory, guidFromText("{00000000-0000-0000-C000-000000000046}"), &out), -2);
    Bytes16 almost = FACTORY2;
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

    RawHost host{hostTable, 1, 0, 48000.0f, {}, 0, 0, 0};
    void* withHost = nullptr;
    EXPECT_EQ(slot<CreateWithHostFn>(factory, 3)(factory, u"KV ADSR4", 0, &host, &withHost), 0);
    ASSERT_NE(withHost, nullptr);
    EXPECT_EQ(host.refs, 3);  // IMpHostAux and IMpHostServices were each queried once
    EXPECT_EQ(release(withHost), 0);
    EXPECT_EQ(host.releases, 1);  // host services released once; aux is never released

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
    ASSERT_EQ(query(created, PLUGIN, &primary), 0);
    ASSERT_EQ(query(created, PLUGIN2, &second), 0);
    ASSERT_EQ(query(created, LEGACY, &legacy), 0);
    ASSERT_EQ(query(legacy, UNKNOWN, &unknown), 0);
    EXPECT_EQ(primary, unknown);
    EXPECT_NE(primary, second);
    EXPECT_EQ(created, second);  // the factory hands out the IMpPlugin2 view
    void* refused = reinterpret_cast<void*>(1);
    EXPECT_EQ(query(second, FACTORY, &refused), -2);
    EXPECT_EQ(refused, nullptr);
    Bytes16 almost = PLUGIN2;
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
    ASSERT_EQ(query(second, PLUGIN, &primary), 0);
    release(primary);

    RawHost host{hostTable, 1, 0, 48000.0f, {}, 0, 0, 0};
    EXPECT_EQ(slot<AttachFn>(second, 3)(second, &host), 0);
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
    ASSERT_FALSE(host.streaming.empty());
    EXPECT_EQ(host.streaming.back(), (std::array<int32_t, 3>{17, 9, 1}));
    EXPECT_EQ(out[16], -7.0f);  // before the first pin change the module writes nothing
    EXPECT_GT(out[17], 0.0f);
    EXPECT_GT(out[63], out[17]);

    slot<ProcessFn>(second, 6)(second, 64, nullptr);  // IMpPlugin2 slot 6
    EXPECT_LE(out[0], 1.0f);

    EXPECT_EQ(slot<CustomFn>(primary, 6)(primary, 1, 2, nullptr), 0);
    EXPECT_EQ(slot<CustomFn>(second, 7)(second, 1, 2, nullptr), 0);
    EXPECT_EQ(release(second), 0);
    EXPECT_EQ(host.releases, 1);
}

TEST_F(RawAbi, LegacyViewAttaches) {
    void* second = createRaw();
    void* legacy = nullptr;
    ASSERT_EQ(query(second, LEGACY, &legacy), 0);
    RawHost host{hostTable, 1, 0, 48000.0f, {}, 0, 0, 0};
    EXPECT_EQ(slot<AttachFn>(legacy, 3)(legacy, &host), 0);
    EXPECT_EQ(host.refs, 3);
    release(legacy);
    EXPECT_EQ(release(second), 0);
    EXPECT_EQ(host.releases, 1);
}

// A second attachHost, through another view's slot, releases the first host's services once;
// the module's destruction releases the second host's.
TEST_F(RawAbi, ARepeatedAttachReleasesTheEarlierHostServicesOnce) {
    void* second = createRaw();
    void* legacy = nullptr;
    ASSERT_EQ(query(second, LEGACY, &legacy), 0);
    RawHost first{hostTable, 1, 0, 48000.0f, {}, 0, 0, 0};
    RawHost next{hostTable, 1, 0, 48000.0f, {}, 0, 0, 0};
    EXPECT_EQ(slot<AttachFn>(second, 3)(second, &first), 0);  // IMpPlugin2 slot 3
    EXPECT_EQ(first.refs, 3);                                 // IMpHostAux and IMpHostServices
    EXPECT_EQ(slot<AttachFn>(legacy, 3)(legacy, &next), 0);   // IMpLegacyInitialization slot 3
    EXPECT_EQ(first.releases, 1);
    EXPECT_EQ(first.refs, 2);  // the IMpHostAux reference is kept
    EXPECT_EQ(next.refs, 3);
    EXPECT_EQ(next.releases, 0);
    release(legacy);
    EXPECT_EQ(release(second), 0);
    EXPECT_EQ(first.releases, 1);
    EXPECT_EQ(next.releases, 1);
    EXPECT_EQ(next.refs, 2);
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
        RawHost host{hostTable, 1, 0, 48000.0f, {}, 0, 0, 0};
        slot<AttachFn>(second, 3)(second, &host);
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
        for (const auto& report : host.streaming)
            if (report == std::array<int32_t, 3>{3, 9, 1}) attacked = true;
        EXPECT_EQ(attacked, c.expectAttack);
        EXPECT_EQ(release(second), 0);
    }
}

}  // namespace
