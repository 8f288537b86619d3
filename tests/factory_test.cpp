// SPDX-License-Identifier: MIT
// The factory and its registry: key order, first registration wins, exact lookups, build info
// into tight buffers, null arguments, independent instances.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "factory/mp_factory.h"
#include "host/host_services.h"
#include "host/plugin_library.h"
#include "interfaces/interface_ids.h"
#include "interfaces/plugin_interfaces.h"
#include "interfaces/result_codes.h"
#include "tests/support/test_paths.h"

namespace {

using kvx::IMpUnknown;

int creatorCalls = 0;
IMpUnknown* firstCreator() {
    creatorCalls = 1;
    return nullptr;
}
IMpUnknown* secondCreator() {
    creatorCalls = 2;
    return nullptr;
}
IMpUnknown* throwingCreator() { throw std::bad_alloc(); }

TEST(ModuleRegistry, OrdersBySignedSubtypeThenUnsignedCodeUnitsPrefixFirst) {
    kvx::ModuleRegistry registry;
    registry.add(1, u"b", firstCreator);
    registry.add(0, u"b", firstCreator);
    registry.add(-1, u"z", firstCreator);
    registry.add(0, u"ab", firstCreator);
    registry.add(0, u"a", firstCreator);
    registry.add(0, u"\xE9", firstCreator);  // above every ASCII unit when compared unsigned
    registry.add(0, u"B", firstCreator);
    std::vector<std::pair<int32_t, std::u16string>> order;
    registry.forEach([&](int32_t subtype, std::u16string_view id, kvx::CreatorFunction) {
        order.emplace_back(subtype, std::u16string(id));
    });
    const std::vector<std::pair<int32_t, std::u16string>> expected = {
        {-1, u"z"}, {0, u"B"}, {0, u"a"}, {0, u"ab"}, {0, u"b"}, {0, u"\xE9"}, {1, u"b"}};
    EXPECT_EQ(order, expected);
}

TEST(ModuleRegistry, FirstRegistrationWinsAndLookupsAreExact) {
    kvx::ModuleRegistry registry;
    registry.add(0, u"KV ADSR4", firstCreator);
    registry.add(0, u"KV ADSR4", secondCreator);
    registry.add(1, u"KV ADSR4", secondCreator);
    EXPECT_EQ(registry.size(), 2u);
    EXPECT_EQ(registry.find(0, u"KV ADSR4"), &firstCreator);
    EXPECT_EQ(registry.find(1, u"KV ADSR4"), &secondCreator);
    for (const char16_t* miss : {u"KV ADSR", u"KV ADSR4 ", u"kv adsr4", u"", u"KV  ADSR4"})
        EXPECT_EQ(registry.find(0, miss), nullptr);
}

class FactoryObject : public ::testing::Test {
protected:
    kvx::MpFactory factory;
};

TEST_F(FactoryObject, NullCreatorAndUnknownKeysAreUnsupportedThrowingCreatorsFail) {
    factory.registry.add(0, u"null", nullptr);
    factory.registry.add(0, u"throws", throwingCreator);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory.createInstance(u"null", 0, &out), kvx::RESULT_UNSUPPORTED);
    EXPECT_EQ(out, nullptr);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory.createInstance(u"missing", 0, &out), kvx::RESULT_UNSUPPORTED);
    EXPECT_EQ(out, nullptr);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory.createInstance(u"throws", 0, &out), kvx::RESULT_FAIL);
    EXPECT_EQ(out, nullptr);

    kvx::host::HostServices host;
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory.createInstanceWithHost(u"throws", 0, host.asUnknown(), &out), kvx::RESULT_FAIL);
    EXPECT_EQ(out, nullptr);
}

TEST_F(FactoryObject, NullArgumentsFailWithoutWriting) {
    factory.registry.add(0, u"x", firstCreator);
    creatorCalls = 0;
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory.createInstance(nullptr, 0, &out), kvx::RESULT_FAIL);
    EXPECT_EQ(out, reinterpret_cast<void*>(1));
    EXPECT_EQ(factory.createInstance(u"x", 0, nullptr), kvx::RESULT_FAIL);
    EXPECT_EQ(factory.createInstanceWithHost(nullptr, 0, nullptr, &out), kvx::RESULT_FAIL);
    EXPECT_EQ(out, reinterpret_cast<void*>(1));
    EXPECT_EQ(factory.createInstanceWithHost(u"x", 0, nullptr, nullptr), kvx::RESULT_FAIL);
    // A null host creates nothing.
    EXPECT_EQ(factory.createInstanceWithHost(u"x", 0, nullptr, &out), kvx::RESULT_FAIL);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(creatorCalls, 0);
    EXPECT_EQ(factory.queryInterface(nullptr, &out), kvx::RESULT_FAIL);
    EXPECT_EQ(factory.queryInterface(&kvx::IID_MP_FACTORY, nullptr), kvx::RESULT_FAIL);
}

// The build text is 27 code units; capacities are swept around it with guard units behind the
// capacity that must never be touched.
TEST_F(FactoryObject, BuildInfoNeverWritesPastTheCapacity) {
    const std::u16string full = u"MS Compiler V1933 (Release)";
    ASSERT_EQ(full.size(), 27u);
    for (int32_t capacity = -2; capacity <= 40; ++capacity) {
        SCOPED_TRACE(capacity);
        std::vector<char16_t> buffer(48, u'#');
        int32_t version = 0;
        EXPECT_EQ(factory.getBuildInfo(&version, capacity, buffer.data()), kvx::RESULT_OK);
        EXPECT_EQ(version, 30800);
        const size_t used = capacity > 0 ? size_t(capacity) : 0;
        for (size_t i = used; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], u'#') << "guard unit " << i;
        if (capacity >= 28)
            EXPECT_EQ(std::u16string(buffer.data()), full);
        else if (capacity > 0)
            EXPECT_EQ(buffer[0], u'\0');
        else
            EXPECT_EQ(buffer[0], u'#');
    }
    int32_t version = 0;
    EXPECT_EQ(factory.getBuildInfo(&version, 100, nullptr), kvx::RESULT_OK);
    EXPECT_EQ(version, 30800);
    char16_t text[32];
    EXPECT_EQ(factory.getBuildInfo(nullptr, 32, text), kvx::RESULT_OK);
    EXPECT_EQ(std::u16string(text), full);
}

TEST(LoadedFactory, InstancesAreIndependentAndTheFactoryOutlivesReleases) {
    kvx::host::PluginLibrary library(kvx::test::adsrLibraryPath());
    void* first = nullptr;
    void* second = nullptr;
    ASSERT_EQ(library.factory2()->createInstance(u"KV ADSR4", 0, &first), kvx::RESULT_OK);
    ASSERT_EQ(library.factory2()->createInstance(u"KV ADSR4", 0, &second), kvx::RESULT_OK);
    ASSERT_NE(first, second);
    auto* a = static_cast<kvx::IMpPlugin2*>(first);
    auto* b = static_cast<kvx::IMpPlugin2*>(second);
    EXPECT_EQ(a->addRef(), 2);
    EXPECT_EQ(b->addRef(), 2);  // counts are per instance
    EXPECT_EQ(a->release(), 1);
    EXPECT_EQ(a->release(), 0);
    EXPECT_EQ(b->release(), 1);
    EXPECT_EQ(b->release(), 0);

    EXPECT_EQ(library.factory()->release(), 1);
    EXPECT_EQ(library.factory()->release(), 1);
    void* again = nullptr;
    auto entry = library.entryPoint();
    EXPECT_EQ(entry(&again), kvx::RESULT_OK);
    EXPECT_EQ(again, static_cast<void*>(static_cast<IMpUnknown*>(library.factory())));
    EXPECT_EQ(entry(nullptr), kvx::RESULT_FAIL);
    for (const char16_t* miss : {u"KV ADSR", u"KV ADSR4 ", u"kv adsr4"}) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(library.factory2()->createInstance(miss, 0, &out), kvx::RESULT_UNSUPPORTED);
        EXPECT_EQ(out, nullptr);
    }
    void* out = nullptr;
    EXPECT_EQ(library.factory2()->createInstance(u"KV ADSR4", 1, &out), kvx::RESULT_UNSUPPORTED);
}

}  // namespace
