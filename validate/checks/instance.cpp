// SPDX-License-Identifier: MIT
// Instance: view identities, one shared count, destruction through each view, host services
// released exactly once, bindPinBuffer's range, the operations every view carries, customCall.
#include <climits>

#include "validate/checks/support.h"

namespace kvx::validate {

namespace {

// The created object and its three queryable views, each holding one reference.
struct Views {
    void* created = nullptr;
    void* primary = nullptr;  // IMpPlugin
    void* second = nullptr;   // IMpPlugin2
    void* legacy = nullptr;   // IMpLegacyInitialization
    void* unknown = nullptr;  // IMpUnknown
};

void* createRaw(const RawLibrary& library, const Context& context, RawHost& host) {
    void* factory = library.factory();
    void* created = nullptr;
    int32_t result;
    if (library.hasFactory2()) {
        result = slot<CreateFn>(factory, slots::FACTORY_CREATE)(factory, context.id.c_str(), context.subtype,
                                                                &created);
    } else {
        result = slot<CreateWithHostFn>(factory, slots::FACTORY_CREATE_WITH_HOST)(
            factory, context.id.c_str(), context.subtype, host.unknown(), &created);
    }
    if (result != 0 || created == nullptr)
        throw CheckFailure("the module could not be created (result " + std::to_string(result) + ")");
    return created;
}

Views queryViews(void* created) {
    Views views;
    views.created = created;
    if (rawQuery(created, iid::PLUGIN, &views.primary) != 0 || !views.primary)
        throw CheckFailure("no IMpPlugin view");
    if (rawQuery(created, iid::PLUGIN2, &views.second) != 0 || !views.second)
        throw CheckFailure("no IMpPlugin2 view");
    if (rawQuery(created, iid::LEGACY, &views.legacy) != 0 || !views.legacy)
        throw CheckFailure("no IMpLegacyInitialization view");
    if (rawQuery(created, iid::UNKNOWN, &views.unknown) != 0 || !views.unknown)
        throw CheckFailure("no IMpUnknown");
    return views;
}

// The current count, measured through addRef and release on `view`.
int32_t countOf(void* view) {
    rawAddRef(view);
    return rawRelease(view);
}

Outcome identities(const Context& context) {
    RawLibrary library(context.path);
    RawHost host;
    const Views views = queryViews(createRaw(library, context, host));
    std::string problem;
    if (views.unknown != views.primary)
        problem = "IMpUnknown and IMpPlugin give different pointers";
    else if (views.second == views.primary)
        problem = "IMpPlugin2 is the same pointer as IMpPlugin";
    else if (views.legacy == views.primary || views.legacy == views.second)
        problem = "IMpLegacyInitialization shares a pointer with another view";
    for (void* view : {views.primary, views.second, views.legacy}) {
        if (!problem.empty()) break;
        const std::pair<const Guid*, void*> expected[] = {{&iid::UNKNOWN, views.primary},
                                                          {&iid::PLUGIN, views.primary},
                                                          {&iid::PLUGIN2, views.second},
                                                          {&iid::LEGACY, views.legacy}};
        for (const auto& [id, want] : expected) {
            void* got = nullptr;
            if (rawQuery(view, *id, &got) != 0 || got != want) {
                problem = "a query through one view does not give the same view as through the others";
                break;
            }
            rawRelease(got);
        }
    }
    const int32_t total = countOf(views.primary);
    for (void* view : {views.unknown, views.legacy, views.second, views.primary, views.created})
        rawRelease(view);
    if (!problem.empty()) return fail(problem);
    if (total != 5)
        return fail("after creation and 4 queries the count is " + std::to_string(total) + ", expected 5");
    return pass();
}

Outcome refusals(const Context& context) {
    RawLibrary library(context.path);
    RawHost host;
    const Views views = queryViews(createRaw(library, context, host));
    std::vector<std::pair<std::string, Guid>> ids = {
        {"IMpFactory", iid::FACTORY},
        {"IMpFactory2", iid::FACTORY2},
        {"IMpHostServices", iid::HOST_SERVICES},
        {"IMpHostAux", iid::HOST_AUX},
        {"COM IUnknown", guidFromText("{00000000-0000-0000-C000-000000000046}")}};
    for (const auto& [name, id] : std::initializer_list<std::pair<const char*, const Guid*>>{
             {"IMpUnknown", &iid::UNKNOWN},
             {"IMpPlugin", &iid::PLUGIN},
             {"IMpPlugin2", &iid::PLUGIN2},
             {"IMpLegacyInitialization", &iid::LEGACY}}) {
        Guid last = *id;
        last[15] ^= 0x80;
        ids.push_back({std::string(name) + " with its last byte changed", last});
        Guid tail = *id;
        for (size_t i = 8; i < 16; ++i) tail[i] = static_cast<uint8_t>(~tail[i]);
        ids.push_back({std::string(name) + " with its last 8 bytes changed", tail});
    }
    const int32_t before = countOf(views.primary);
    std::string problem;
    for (void* view : {views.primary, views.second, views.legacy}) {
        for (const auto& [name, id] : ids) {
            void* out = reinterpret_cast<void*>(0x1);
            const int32_t result = rawQuery(view, id, &out);
            if ((result != -2 || out != nullptr) && problem.empty())
                problem = name + ": result " + std::to_string(result) + (out ? " and a pointer" : "") +
                          ", expected -2 and null";
        }
    }
    const int32_t after = countOf(views.primary);
    for (void* view : {views.unknown, views.legacy, views.second, views.primary, views.created})
        rawRelease(view);
    if (!problem.empty()) return fail(problem);
    if (after != before)
        return fail("refused queries changed the count from " + std::to_string(before) + " to " +
                    std::to_string(after));
    return pass(std::to_string(ids.size()) + " identifiers through 3 views");
}

Outcome sharedCount(const Context& context) {
    RawLibrary library(context.path);
    RawHost host;
    const Views views = queryViews(createRaw(library, context, host));
    // Each addRef, through any view, adds one to the same count; each release takes one away.
    void* order[] = {views.second, views.legacy, views.primary, views.unknown};
    const char* names[] = {"IMpPlugin2", "IMpLegacyInitialization", "IMpPlugin", "IMpUnknown"};
    std::string problem;
    int32_t expected = rawAddRef(views.second);
    for (size_t k = 1; k < 4; ++k) {
        const int32_t got = rawAddRef(order[k]);
        if (got != ++expected && problem.empty())
            problem = std::string("addRef through ") + names[k] + " returned " + std::to_string(got) +
                      " after " + names[k - 1] + " returned " + std::to_string(expected - 1);
        expected = got;
    }
    for (size_t k = 4; k-- > 0;) {
        const int32_t got = rawRelease(order[k]);
        if (got != --expected && problem.empty())
            problem = std::string("release through ") + names[k] + " returned " + std::to_string(got) +
                      ", expected " + std::to_string(expected);
        expected = got;
    }
    if (!problem.empty()) {
        // The count is not trustworthy: leak the object rather than risk a double destruction.
        return fail(problem);
    }
    for (void* view : {views.unknown, views.legacy, views.second, views.primary}) rawRelease(view);
    const int32_t last = rawRelease(views.created);
    if (last != 0) return fail("the last release returned " + std::to_string(last) + ", expected 0");
    return pass();
}

Outcome destroyThroughEachView(const Context& context) {
    RawLibrary library(context.path);
    const char* names[] = {"IMpPlugin", "IMpPlugin2", "IMpLegacyInitialization"};
    for (int which = 0; which < 3; ++which) {
        RawHost host;
        void* created = nullptr;
        void* factory = library.factory();
        const int32_t result = slot<CreateWithHostFn>(factory, slots::FACTORY_CREATE_WITH_HOST)(
            factory, context.id.c_str(), context.subtype, host.unknown(), &created);
        if (result != 0 || created == nullptr)
            return fail("createInstanceWithHost returned " + std::to_string(result));
        const Views views = queryViews(created);
        // Five references: creation and four queries. Drop all but the one held through the
        // view under test, each through the view it was obtained with.
        void* held[] = {views.primary, views.second, views.legacy};
        void* keep = held[which];
        for (int other = 0; other < 3; ++other)
            if (other != which) rawRelease(held[other]);
        rawRelease(views.unknown);
        rawRelease(views.created);
        const int32_t before = host.services.releases;
        const int32_t last = rawRelease(keep);
        if (last != 0)
            return fail(std::string("the last release through ") + names[which] + " returned " +
                        std::to_string(last));
        if (host.services.handedOut > 0 && host.services.releases == before)
            return fail(std::string("destroying through ") + names[which] +
                        " did not release the host services");
    }
    return pass();
}

Outcome servicesReleasedOnce(const Context& context) {
    RawLibrary library(context.path);
    const char* paths[] = {"createInstanceWithHost", "attachHost on IMpPlugin2",
                           "attachHost on IMpLegacyInitialization"};
    for (int path = 0; path < 3; ++path) {
        if (path > 0 && !library.hasFactory2()) continue;
        RawHost host;
        void* factory = library.factory();
        void* created = nullptr;
        if (path == 0) {
            slot<CreateWithHostFn>(factory, slots::FACTORY_CREATE_WITH_HOST)(
                factory, context.id.c_str(), context.subtype, host.unknown(), &created);
        } else {
            slot<CreateFn>(factory, slots::FACTORY_CREATE)(factory, context.id.c_str(), context.subtype,
                                                           &created);
        }
        if (created == nullptr) return fail(std::string(paths[path]) + ": creation failed");
        if (path > 0) {
            const Guid& id = path == 1 ? iid::PLUGIN2 : iid::LEGACY;
            void* view = nullptr;
            if (rawQuery(created, id, &view) != 0 || !view) return fail("view missing");
            const int32_t result = slot<AttachFn>(
                view, path == 1 ? slots::PLUGIN2_ATTACH : slots::LEGACY_ATTACH)(view, host.unknown());
            rawRelease(view);
            if (result != 0) return fail(std::string(paths[path]) + " returned " + std::to_string(result));
        }
        const std::string at = std::string(paths[path]) + ": ";
        if (host.services.handedOut == 0) return fail(at + "the module never obtained IMpHostServices");
        if (host.services.releases != 0)
            return fail(at + "host services released before the instance was destroyed");
        rawRelease(created);
        if (host.services.releases != host.services.handedOut)
            return fail(at + "IMpHostServices obtained " + std::to_string(host.services.handedOut) +
                        " times, released " + std::to_string(host.services.releases) + " times");
        if (host.aux.releases > host.aux.handedOut)
            return fail(at + "IMpHostAux released more often than obtained");
    }
    return pass();
}

Outcome bindRange(const Context& context) {
    RawLibrary library(context.path);
    RawHost host;
    RawInstance instance(library, context, host);
    const std::vector<int32_t> pins = probePins(instance);
    if (pins.empty()) return fail("bindPinBuffer accepts no pin id from 0 to 1023");
    if (pins.size() == 1024) return fail("bindPinBuffer accepts every id from 0 to 1023");
    static float buffer[8192];
    for (int32_t id : {-1, -2, INT_MIN, INT_MAX, pins.back() + 1, 1 << 20}) {
        const int32_t two =
            slot<BindFn>(instance.plugin2(), slots::PLUGIN2_BIND)(instance.plugin2(), id, buffer);
        const int32_t one =
            slot<BindFn>(instance.plugin1(), slots::PLUGIN_BIND)(instance.plugin1(), id, buffer);
        if (two != -1 || one != -1)
            return fail("pin id " + std::to_string(id) + ": IMpPlugin2 gave " + std::to_string(two) +
                        ", IMpPlugin gave " + std::to_string(one) + ", expected -1");
    }
    const ModuleShape shape = discoverShape(library, context);
    return pass("pin ids " + describeIds(pins) + "; audio output pin ids: " + describeIds(shape.outputs));
}

Outcome viewSlots(const Context& context) {
    RawLibrary library(context.path);
    RawHost host;
    RawInstance instance(library, context, host);
    void* one = instance.plugin1();
    void* two = instance.plugin2();
    const int32_t open1 = slot<OpenFn>(one, slots::PLUGIN_OPEN)(one);
    const int32_t open2 = slot<OpenFn>(two, slots::PLUGIN2_OPEN)(two);
    if (open1 != 0 || open2 != 0)
        return fail("openModule returned " + std::to_string(open1) + " through IMpPlugin (slot 3) and " +
                    std::to_string(open2) + " through IMpPlugin2 (slot 4)");
    static float buffer[8192];
    for (int32_t id = -3; id < 1030; ++id) {
        const int32_t through1 = slot<BindFn>(one, slots::PLUGIN_BIND)(one, id, buffer);
        const int32_t through2 = slot<BindFn>(two, slots::PLUGIN2_BIND)(two, id, buffer);
        if (through1 != through2)
            return fail("bindPinBuffer(" + std::to_string(id) + ") gave " + std::to_string(through1) +
                        " through IMpPlugin slot 4 and " + std::to_string(through2) +
                        " through IMpPlugin2 slot 5");
    }
    RawHost second;
    void* legacy = nullptr;
    if (rawQuery(two, iid::LEGACY, &legacy) != 0 || !legacy) return fail("no IMpLegacyInitialization view");
    const int32_t attached = slot<AttachFn>(legacy, slots::LEGACY_ATTACH)(legacy, second.unknown());
    rawRelease(legacy);
    if (attached != 0 || second.queriesForServices == 0)
        return fail("attachHost through IMpLegacyInitialization slot 3 returned " + std::to_string(attached) +
                    (second.queriesForServices == 0 ? " without asking the host for IMpHostServices" : ""));
    return pass();
}

Outcome customCall(const Context& context) {
    RawLibrary library(context.path);
    RawHost host;
    RawInstance instance(library, context, host);
    void* one = instance.plugin1();
    void* two = instance.plugin2();
    int32_t results[4];
    results[0] = slot<CustomFn>(one, slots::PLUGIN_CUSTOM)(one, 1, 2, nullptr);
    results[1] = slot<CustomFn>(two, slots::PLUGIN2_CUSTOM)(two, 1, 2, nullptr);
    results[2] = slot<CustomFn>(one, slots::PLUGIN_CUSTOM)(one, 1, 2, nullptr);
    results[3] = slot<CustomFn>(two, slots::PLUGIN2_CUSTOM)(two, 1, 2, nullptr);
    if (results[0] != results[1] || results[2] != results[3] || results[0] != results[2])
        return fail("customCall results differ between views or calls: " + std::to_string(results[0]) + ", " +
                    std::to_string(results[1]) + ", " + std::to_string(results[2]) + ", " +
                    std::to_string(results[3]));
    return pass("result " + std::to_string(results[0]));
}

}  // namespace

Group instanceChecks() {
    return {
        "instance",
        {{"views", "IMpUnknown = IMpPlugin, IMpPlugin2 and legacy views distinct, same from every view",
          identities},
         {"refusals", "other and near-miss identifiers give -2 and null; the count is unchanged", refusals},
         {"shared_count", "every view adds to and releases one shared count", sharedCount},
         {"destroy_through_views", "the last release through any view destroys the instance",
          destroyThroughEachView},
         {"host_services_once", "host services released exactly once, at destruction, on every attach path",
          servicesReleasedOnce},
         {"bind_range", "bindPinBuffer: -1 for ids the module does not have, through both views", bindRange},
         {"view_slots", "openModule, bindPinBuffer and attachHost agree through every view's slots",
          viewSlots},
         {"custom_call", "customCall returns through both views, without recursion", customCall}}};
}

}  // namespace kvx::validate
