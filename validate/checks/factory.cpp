// SPDX-License-Identifier: MIT
// Factory: interface lookups and refusals, counts, build information, creation and refusals.
#include <algorithm>

#include "validate/checks/support.h"

namespace kvx::validate {

namespace {

Outcome identities(const Context& context) {
    RawLibrary library(context.path);
    void* factory = library.factory();
    const std::pair<const char*, const Guid*> names[] = {
        {"IMpUnknown", &iid::UNKNOWN}, {"IMpFactory", &iid::FACTORY}, {"IMpFactory2", &iid::FACTORY2}};
    for (const auto& [name, id] : names) {
        void* out = nullptr;
        const int32_t result = rawQuery(factory, *id, &out);
        if (id == &iid::FACTORY2 && !library.hasFactory2()) continue;
        if (result != 0) return fail(std::string(name) + ": result " + std::to_string(result));
        if (out != factory) return fail(std::string(name) + ": a different pointer than MP_GetFactory's");
        rawRelease(out);
    }
    return pass();
}

// Identifiers no object of the family may answer wrongly: others' ids, the COM IUnknown, and
// each known id with its last byte or its last eight bytes changed.
std::vector<std::pair<std::string, Guid>> nearMisses() {
    std::vector<std::pair<std::string, Guid>> ids;
    const std::pair<const char*, const Guid*> known[] = {
        {"IMpUnknown", &iid::UNKNOWN},   {"IMpFactory", &iid::FACTORY},
        {"IMpFactory2", &iid::FACTORY2}, {"IMpPlugin", &iid::PLUGIN},
        {"IMpPlugin2", &iid::PLUGIN2},   {"IMpLegacyInitialization", &iid::LEGACY}};
    for (const auto& [name, id] : known) {
        Guid last = *id;
        last[15] ^= 0x01;
        ids.push_back({std::string(name) + " with its last byte changed", last});
        Guid tail = *id;
        for (size_t i = 8; i < 16; ++i) tail[i] ^= 0x5A;
        ids.push_back({std::string(name) + " with its last 8 bytes changed", tail});
    }
    ids.push_back({"COM IUnknown {00000000-0000-0000-C000-000000000046}",
                   guidFromText("{00000000-0000-0000-C000-000000000046}")});
    ids.push_back({"all zero", Guid{}});
    return ids;
}

Outcome refusals(const Context& context) {
    RawLibrary library(context.path);
    void* factory = library.factory();
    auto ids = nearMisses();
    ids.push_back({"IMpPlugin", iid::PLUGIN});
    ids.push_back({"IMpPlugin2", iid::PLUGIN2});
    ids.push_back({"IMpHostServices", iid::HOST_SERVICES});
    ids.push_back({"IMpHostAux", iid::HOST_AUX});
    for (const auto& [name, id] : ids) {
        void* out = reinterpret_cast<void*>(0x1);
        const int32_t result = rawQuery(factory, id, &out);
        if (result != -2) return fail(name + ": result " + std::to_string(result) + ", expected -2");
        if (out != nullptr) return fail(name + ": the out-pointer is not null");
    }
    return pass(std::to_string(ids.size()) + " identifiers refused");
}

Outcome counts(const Context& context) {
    RawLibrary library(context.path);
    void* factory = library.factory();
    for (int i = 0; i < 5; ++i) {
        const int32_t count = rawRelease(factory);
        if (count < 1)
            return fail("release returned " + std::to_string(count) +
                        ": a host's release must not destroy the factory");
    }
    const int32_t added = rawAddRef(factory);
    if (added < 1) return fail("addRef returned " + std::to_string(added));
    void* out = nullptr;
    if (rawQuery(factory, iid::FACTORY, &out) != 0 || out != factory) return fail("unusable after releases");
    RawHost host;
    RawInstance instance(library, context, host);
    return pass();
}

Outcome buildInfo(const Context& context) {
    RawLibrary library(context.path);
    void* factory = library.factory();
    int32_t version = INT32_MIN;
    char16_t text[256];
    std::fill(std::begin(text), std::end(text), u'#');
    const int32_t result =
        slot<BuildInfoFn>(factory, slots::FACTORY_BUILD_INFO)(factory, &version, 256, text);
    if (result != 0) return fail("result " + std::to_string(result));
    if (version == INT32_MIN) return fail("the version was not written");
    const auto end = std::find(std::begin(text), std::end(text), u'\0');
    if (end == std::end(text)) return fail("the text is not zero-terminated within 256 units");
    std::string shown;
    for (const char16_t* c = text; c != end; ++c) shown.push_back(*c < 0x80 ? static_cast<char>(*c) : '?');
    return pass("version " + std::to_string(version) + ", \"" + shown + "\"");
}

Outcome buildInfoTight(const Context& context) {
    RawLibrary library(context.path);
    void* factory = library.factory();
    auto call = slot<BuildInfoFn>(factory, slots::FACTORY_BUILD_INFO);
    char16_t full[256] = {};
    int32_t version = 0;
    call(factory, &version, 256, full);
    const int32_t length =
        static_cast<int32_t>(std::find(std::begin(full), std::end(full), u'\0') - std::begin(full));
    constexpr int32_t GUARD = 16;
    for (int32_t capacity = 0; capacity <= length + 3; ++capacity) {
        std::vector<char16_t> buffer(static_cast<size_t>(capacity + 2 * GUARD), u'\xA5A5');
        char16_t* text = buffer.data() + GUARD;
        int32_t written = INT32_MIN;
        const int32_t result = call(factory, &written, capacity, text);
        const std::string at = "capacity " + std::to_string(capacity) + ": ";
        if (result != 0) return fail(at + "result " + std::to_string(result));
        if (written != version)
            return fail(at + "version " + std::to_string(written) + " instead of " + std::to_string(version));
        for (int32_t i = 0; i < GUARD; ++i) {
            if (buffer[static_cast<size_t>(i)] != u'\xA5A5') return fail(at + "wrote before the buffer");
            if (buffer[static_cast<size_t>(GUARD + capacity + i)] != u'\xA5A5')
                return fail(at + "wrote " + std::to_string(i + 1) + " unit(s) past the capacity");
        }
        if (capacity == 0) continue;
        const std::u16string got(text, std::find(text, text + capacity, u'\0'));
        if (got.size() == static_cast<size_t>(capacity)) return fail(at + "the text is not zero-terminated");
        if (capacity > length) {
            if (got != std::u16string(full, static_cast<size_t>(length)))
                return fail(at + "the full text does not fit as expected");
        } else if (!got.empty()) {
            return fail(at + "a cut-off text (" + std::to_string(got.size()) +
                        " units) instead of an empty string");
        }
    }
    return pass("capacities 0.." + std::to_string(length + 3) + " with guard units");
}

Outcome buildInfoNull(const Context& context) {
    RawLibrary library(context.path);
    void* factory = library.factory();
    auto call = slot<BuildInfoFn>(factory, slots::FACTORY_BUILD_INFO);
    int32_t version = 0;
    const int32_t a = call(factory, &version, 0, nullptr);
    const int32_t b = call(factory, &version, 64, nullptr);
    char16_t guard[4] = {u'#', u'#', u'#', u'#'};
    const int32_t c = call(factory, &version, -1, guard);
    const int32_t d = call(factory, &version, INT32_MIN, guard);
    if (std::any_of(std::begin(guard), std::end(guard), [](char16_t unit) { return unit != u'#'; }))
        return fail("a negative capacity wrote into the buffer");
    return pass("results " + std::to_string(a) + ", " + std::to_string(b) + ", " + std::to_string(c) + ", " +
                std::to_string(d));
}

Outcome createKnown(const Context& context) {
    RawLibrary library(context.path);
    if (!library.hasFactory2()) return skip("no IMpFactory2: createInstance is not offered");
    void* factory = library.factory();
    auto create = slot<CreateFn>(factory, slots::FACTORY_CREATE);
    void* first = nullptr;
    void* second = nullptr;
    int32_t result = create(factory, context.id.c_str(), context.subtype, &first);
    if (result != 0 || first == nullptr) return fail("createInstance returned " + std::to_string(result));
    result = create(factory, context.id.c_str(), context.subtype, &second);
    if (result != 0 || second == nullptr)
        return fail("a second createInstance returned " + std::to_string(result));
    if (first == second) return fail("two creations returned the same object");
    const int32_t added = rawAddRef(first);
    const int32_t one = rawRelease(first);
    const int32_t zero = rawRelease(first);
    rawRelease(second);
    if (added != 2 || one != 1 || zero != 0)
        return fail("a new instance's addRef/release/release returned " + std::to_string(added) + "/" +
                    std::to_string(one) + "/" + std::to_string(zero) +
                    ", expected 2/1/0 (one reference owned by the creator)");
    return pass();
}

Outcome createWithHost(const Context& context) {
    RawLibrary library(context.path);
    void* factory = library.factory();
    RawHost host;
    void* created = nullptr;
    const int32_t result = slot<CreateWithHostFn>(factory, slots::FACTORY_CREATE_WITH_HOST)(
        factory, context.id.c_str(), context.subtype, host.unknown(), &created);
    if (result != 0 || created == nullptr)
        return fail("createInstanceWithHost returned " + std::to_string(result));
    if (host.queriesForServices == 0) {
        rawRelease(created);
        return fail("the host was not asked for IMpHostServices");
    }
    const int32_t count = rawRelease(created);
    if (count != 0)
        return fail("release of the new instance returned " + std::to_string(count) + ", expected 0");
    if (host.services.releases != host.services.handedOut)
        return fail("host services obtained " + std::to_string(host.services.handedOut) +
                    " times, released " + std::to_string(host.services.releases) + " times");
    return pass();
}

Outcome createUnknown(const Context& context) {
    RawLibrary library(context.path);
    void* factory = library.factory();
    const std::u16string& id = context.id;
    std::vector<std::pair<std::string, std::pair<std::u16string, int32_t>>> cases = {
        {"subtype + 1", {id, context.subtype + 1}},
        {"subtype - 1", {id, context.subtype - 1}},
        {"id with a blank appended", {id + u" ", context.subtype}},
        {"empty id", {u"", context.subtype}},
        {"unrelated id", {u"KVX NO SUCH MODULE", context.subtype}},
    };
    if (!id.empty()) {
        cases.push_back({"id without its last unit", {id.substr(0, id.size() - 1), context.subtype}});
        std::u16string last = id;
        last.back() = static_cast<char16_t>(last.back() + 1);
        cases.push_back({"id with its last unit changed", {last, context.subtype}});
        std::u16string lower = id;
        for (char16_t& unit : lower)
            unit = unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 32) : unit;
        if (lower != id) cases.push_back({"id in lower case", {lower, context.subtype}});
    }
    RawHost host;
    for (const auto& [name, key] : cases) {
        void* out = reinterpret_cast<void*>(0x1);
        if (library.hasFactory2()) {
            const int32_t result =
                slot<CreateFn>(factory, slots::FACTORY_CREATE)(factory, key.first.c_str(), key.second, &out);
            if (result != -2 || out != nullptr)
                return fail("createInstance, " + name + ": result " + std::to_string(result) +
                            (out ? " and an object" : "") + ", expected -2 and null");
        }
        out = reinterpret_cast<void*>(0x1);
        const int32_t result = slot<CreateWithHostFn>(factory, slots::FACTORY_CREATE_WITH_HOST)(
            factory, key.first.c_str(), key.second, host.unknown(), &out);
        if (result != -2 || out != nullptr)
            return fail("createInstanceWithHost, " + name + ": result " + std::to_string(result) +
                        (out ? " and an object" : "") + ", expected -2 and null");
    }
    return pass(std::to_string(cases.size()) + " unknown keys refused");
}

Outcome nullArguments(const Context& context) {
    RawLibrary library(context.path);
    void* factory = library.factory();
    RawHost host;
    auto withHost = slot<CreateWithHostFn>(factory, slots::FACTORY_CREATE_WITH_HOST);
    void* out = nullptr;
    int32_t result = withHost(factory, nullptr, context.subtype, host.unknown(), &out);
    if (result == 0) return fail("createInstanceWithHost with a null id returned 0");
    result = withHost(factory, context.id.c_str(), context.subtype, host.unknown(), nullptr);
    if (result == 0) return fail("createInstanceWithHost with a null out-pointer returned 0");
    out = nullptr;
    result = withHost(factory, context.id.c_str(), context.subtype, nullptr, &out);
    if (result == 0) {
        if (out != nullptr) rawRelease(out);
        return fail("createInstanceWithHost with a null host returned 0");
    }
    if (library.hasFactory2()) {
        auto create = slot<CreateFn>(factory, slots::FACTORY_CREATE);
        if (create(factory, nullptr, context.subtype, &out) == 0)
            return fail("createInstance with a null id returned 0");
        if (create(factory, context.id.c_str(), context.subtype, nullptr) == 0)
            return fail("createInstance with a null out-pointer returned 0");
    }
    void* answer = nullptr;
    if (slot<QueryFn>(factory, slots::QUERY)(factory, nullptr, &answer) == 0)
        return fail("queryInterface(null id) returned 0");
    if (slot<QueryFn>(factory, slots::QUERY)(factory, iid::FACTORY.data(), nullptr) == 0)
        return fail("queryInterface with a null out-pointer returned 0");
    return pass();
}

}  // namespace

Group factoryChecks() {
    return {
        "factory",
        {{"identities", "IMpUnknown, IMpFactory, IMpFactory2 give the factory's one pointer", identities},
         {"refusals", "other and near-miss identifiers give -2 and null", refusals},
         {"counts", "addRef/release never destroy the factory", counts},
         {"build_info", "version and a terminated text, result 0", buildInfo},
         {"build_info_tight", "tight capacities: no write past the buffer, never a cut-off text",
          buildInfoTight},
         {"build_info_null", "null text and non-positive capacities write nothing", buildInfoNull},
         {"create", "createInstance: 0, a fresh object with count 1, two are distinct", createKnown},
         {"create_with_host", "createInstanceWithHost attaches the host and balances its references",
          createWithHost},
         {"unknown_modules", "unknown subtypes and ids (last unit, blank, case) give -2 and null",
          createUnknown},
         {"null_arguments", "null ids, out-pointers and hosts are refused without a crash", nullArguments}}};
}

}  // namespace kvx::validate
