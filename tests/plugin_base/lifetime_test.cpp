// SPDX-License-Identifier: MIT
// Lifetime across the interface views: the last release through any view destroys the object
// once and releases the host services exactly once, counted on the host's side. Checked on the
// envelope and on the probe, each loaded as a host loads it, and on an in-process probe whose
// destructor is counted.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "host/host_services.h"
#include "host/plugin_library.h"
#include "interfaces/interface_ids.h"
#include "interfaces/result_codes.h"
#include "modules/adsr/adsr_pins.h"
#include "tests/plugin_base/probe_module.h"
#include "tests/support/mp_test_access.h"
#include "tests/support/test_paths.h"

namespace kvx::test {
namespace {

enum class View {
    Plugin,
    Plugin2,
    Legacy
};
enum class Source {
    AdsrLibrary,
    ProbeLibrary,
    InProcessProbe
};

struct LifetimeCase {
    Source source;
    View lastView;
};

std::string name(const LifetimeCase& c) {
    const char* sources[] = {"AdsrLibrary", "ProbeLibrary", "InProcessProbe"};
    const char* views[] = {"IMpPlugin", "IMpPlugin2", "IMpLegacyInitialization"};
    return std::string(sources[static_cast<int>(c.source)]) + "_LastThrough_" +
           views[static_cast<int>(c.lastView)];
}

class CountedProbe : public ProbeModule {
public:
    ~CountedProbe() override { ++destroyed; }
    static inline int destroyed = 0;
};

class Lifetime : public ::testing::TestWithParam<LifetimeCase> {};

TEST_P(Lifetime, TheLastReleaseThroughAnyViewDestroysOnceAndReleasesTheHostOnce) {
    const LifetimeCase c = GetParam();
    host::HostServices host;
    std::unique_ptr<host::PluginLibrary> library;
    void* created = nullptr;
    CountedProbe::destroyed = 0;
    if (c.source == Source::InProcessProbe) {
        auto* probe = new CountedProbe();
        static_cast<IMpLegacyInitialization*>(probe)->attachHost(host.asUnknown());
        created = static_cast<IMpPlugin*>(probe);
    } else {
        const bool adsr = c.source == Source::AdsrLibrary;
        library = std::make_unique<host::PluginLibrary>(adsr ? adsrLibraryPath() : testModulePath("Probe"));
        ASSERT_EQ(library->factory()->createInstanceWithHost(adsr ? adsr::MODULE_ID : PROBE_MODULE_ID, 0,
                                                             host.asUnknown(), &created),
                  RESULT_OK);
    }
    ASSERT_NE(created, nullptr);
    ASSERT_EQ(host.servicesHandedOut, 1);

    // One reference through each view, then the creator's reference goes.
    IMpUnknown* views[3] = {};
    const MpGuid* ids[3] = {&IID_MP_PLUGIN, &IID_MP_PLUGIN2, &IID_MP_LEGACY_INITIALIZATION};
    for (int v = 0; v < 3; ++v) {
        void* view = nullptr;
        ASSERT_EQ(static_cast<IMpUnknown*>(created)->queryInterface(ids[v], &view), RESULT_OK);
        views[v] = static_cast<IMpUnknown*>(view);
    }
    // Counts are shared: addRef through one view, release through another.
    EXPECT_EQ(views[1]->addRef(), 5);
    EXPECT_EQ(views[2]->release(), 4);
    EXPECT_EQ(static_cast<IMpUnknown*>(created)->release(), 3);

    const int last = static_cast<int>(c.lastView);
    int32_t expectedCount = 2;
    for (int v = 0; v < 3; ++v) {
        if (v == last) continue;
        EXPECT_EQ(views[v]->release(), expectedCount--);
    }
    EXPECT_EQ(host.releases, 0);
    EXPECT_EQ(CountedProbe::destroyed, 0);
    EXPECT_EQ(views[last]->release(), 0);
    EXPECT_EQ(host.releases, 1);
    // The module's IMpHostAux reference is kept, never released.
    EXPECT_EQ(host.refCount, 1 + host.auxHandedOut);
    if (c.source == Source::InProcessProbe) {
        EXPECT_EQ(CountedProbe::destroyed, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Views, Lifetime,
                         ::testing::Values(LifetimeCase{Source::AdsrLibrary, View::Plugin},
                                           LifetimeCase{Source::AdsrLibrary, View::Plugin2},
                                           LifetimeCase{Source::AdsrLibrary, View::Legacy},
                                           LifetimeCase{Source::ProbeLibrary, View::Plugin},
                                           LifetimeCase{Source::ProbeLibrary, View::Plugin2},
                                           LifetimeCase{Source::ProbeLibrary, View::Legacy},
                                           LifetimeCase{Source::InProcessProbe, View::Plugin},
                                           LifetimeCase{Source::InProcessProbe, View::Plugin2},
                                           LifetimeCase{Source::InProcessProbe, View::Legacy}),
                         [](const auto& info) { return name(info.param); });

TEST(AttachHost, EveryViewThatCarriesItAttachesAlike) {
    for (int view = 0; view < 3; ++view) {
        SCOPED_TRACE("view " + std::to_string(view));
        host::HostServices host;
        auto* probe = new ProbeModule();
        int32_t result = RESULT_FAIL;
        if (view == 0) result = static_cast<IMpPlugin2*>(probe)->attachHost(host.asUnknown());
        if (view == 1) result = static_cast<IoldSchoolInitialisation*>(probe)->attachHost(host.asUnknown());
        if (view == 2) result = static_cast<IMpLegacyInitialization*>(probe)->attachHost(host.asUnknown());
        EXPECT_EQ(result, RESULT_OK);
        EXPECT_EQ(host.queries, 2);
        EXPECT_EQ(host.auxHandedOut, 1);
        EXPECT_EQ(host.servicesHandedOut, 1);
        EXPECT_EQ(MpTestAccess::hostServices(*probe), static_cast<IMpHostServices*>(&host));
        EXPECT_EQ(MpTestAccess::hostAux(*probe), static_cast<IMpHostAux*>(&host));
        EXPECT_EQ(MpTestAccess::hostSampleRate(*probe), host.sampleRate);
        EXPECT_EQ(static_cast<IMpPlugin*>(probe)->release(), 0);
        EXPECT_EQ(host.releases, 1);
    }
}

// Attached again (our choice where the contract leaves it open): the services obtained before are
// released exactly once, at that moment; the last ones when the module goes. IMpHostAux is kept.
TEST(AttachHost, AgainReleasesTheEarlierServicesExactlyOnce) {
    host::HostServices first, second, refusing;
    refusing.answerHostServices = false;
    auto* probe = new ProbeModule();
    ASSERT_EQ(static_cast<IMpPlugin2*>(probe)->attachHost(first.asUnknown()), RESULT_OK);
    EXPECT_EQ(static_cast<IMpLegacyInitialization*>(probe)->attachHost(second.asUnknown()), RESULT_OK);
    EXPECT_EQ(first.releases, 1);
    EXPECT_EQ(second.releases, 0);
    EXPECT_EQ(MpTestAccess::hostServices(*probe), static_cast<IMpHostServices*>(&second));

    // The same host again: its earlier reference goes, the new one stays.
    EXPECT_EQ(static_cast<IoldSchoolInitialisation*>(probe)->attachHost(second.asUnknown()), RESULT_OK);
    EXPECT_EQ(second.servicesHandedOut, 2);
    EXPECT_EQ(second.releases, 1);

    // A host that refuses the services: the earlier reference goes all the same, and nothing is
    // left to release at the end.
    EXPECT_EQ(static_cast<IMpPlugin2*>(probe)->attachHost(refusing.asUnknown()), RESULT_UNSUPPORTED);
    EXPECT_EQ(second.releases, 2);
    EXPECT_EQ(MpTestAccess::hostServices(*probe), nullptr);
    ASSERT_EQ(static_cast<IMpPlugin2*>(probe)->attachHost(first.asUnknown()), RESULT_OK);
    EXPECT_EQ(static_cast<IMpPlugin*>(probe)->release(), 0);

    // Every services reference handed out came back once; only the IMpHostAux ones are held.
    for (const host::HostServices* host : {&first, &second, &refusing}) {
        EXPECT_EQ(host->releases, host->servicesHandedOut);
        EXPECT_EQ(host->refCount, 1 + host->auxHandedOut);
    }
}

}  // namespace
}  // namespace kvx::test
