// SPDX-License-Identifier: MIT
// PluginLibrary: dlopen, MP_GetFactory and the factory interfaces.
#include "host/plugin_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include "host/host_error.h"
#include "interfaces/interface_ids.h"
#include "interfaces/result_codes.h"

namespace kvx::host {

std::string loaderPath(const std::string& path) {
    if (path.find('/') != std::string::npos) return path;
    const std::string here = "./" + path;
    return access(here.c_str(), F_OK) == 0 ? here : path;
}

PluginLibrary::PluginLibrary(const std::string& path) : libraryPath(path) {
    dlerror();
    dlHandle = dlopen(loaderPath(path).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (dlHandle == nullptr) {
        const char* reason = dlerror();
        throw HostError("cannot load '" + path + "': " + (reason ? reason : "unknown error"));
    }
    getFactory = reinterpret_cast<EntryPoint>(dlsym(dlHandle, "MP_GetFactory"));
    if (getFactory == nullptr) {
        const char* error = dlerror();
        const std::string reason = error ? error : "not found";  // copied: dlclose frees it
        dlclose(dlHandle);
        throw HostError("'" + path + "' is not a module library: no MP_GetFactory (" + reason + ")");
    }
    void* unknown = nullptr;
    int32_t result = getFactory(&unknown);
    if (result != RESULT_OK || unknown == nullptr) {
        dlclose(dlHandle);
        throw HostError("'" + path + "': MP_GetFactory returned " + std::to_string(result) +
                        " and no factory");
    }
    auto* base = static_cast<IMpUnknown*>(unknown);
    void* answer = nullptr;
    if (base->queryInterface(&IID_MP_FACTORY2, &answer) == RESULT_OK && answer != nullptr) {
        factory2Ptr = static_cast<IMpFactory2*>(answer);
        factory1 = factory2Ptr;
    } else if (base->queryInterface(&IID_MP_FACTORY, &answer) == RESULT_OK && answer != nullptr) {
        factory1 = static_cast<IMpFactory*>(answer);
    } else {
        base->release();
        dlclose(dlHandle);
        throw HostError("'" + path + "': the factory answers neither IMpFactory2 nor IMpFactory");
    }
    base->release();
}

PluginLibrary::~PluginLibrary() {
    if (factory1 != nullptr) factory1->release();
    if (dlHandle != nullptr) dlclose(dlHandle);
}

BuildInfo PluginLibrary::buildInfo() const {
    BuildInfo info;
    char16_t text[256] = {};
    factory1->getBuildInfo(&info.version, 256, text);
    text[255] = u'\0';
    info.text = text;
    return info;
}

std::string toUtf8(std::u16string_view text) {
    std::string result;
    for (char16_t unit : text) result.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    return result;
}

std::u16string toUtf16(std::string_view text) {
    std::u16string result;
    for (char c : text)
        result.push_back(static_cast<unsigned char>(c) < 0x80 ? static_cast<char16_t>(c) : u'?');
    return result;
}

}  // namespace kvx::host
