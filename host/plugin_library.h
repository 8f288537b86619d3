// SPDX-License-Identifier: MIT
// PluginLibrary: a module library (.kvx) loaded with dlopen, and its factory.
#pragma once

#include <cstdint>
#include <string>

#include "interfaces/factory_interfaces.h"

namespace kvx::host {

struct BuildInfo {
    int32_t version = 0;
    std::u16string text;
};

// What to hand dlopen for a library a person named: a name without a slash ("ADSR.kvx") is the
// file in the current folder when there is one there, else a name for the loader to search its
// paths for ("libm.so.6").
std::string loaderPath(const std::string& path);

class PluginLibrary {
public:
    // Loads the library and obtains its factory. Throws HostError naming the file and the
    // loader's reason when it cannot be loaded, lacks MP_GetFactory or offers no factory.
    explicit PluginLibrary(const std::string& path);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    const std::string& path() const { return libraryPath; }
    void* handle() const { return dlHandle; }
    // The factory as IMpFactory (always) and IMpFactory2 (null when the library lacks it).
    IMpFactory* factory() const { return factory1; }
    IMpFactory2* factory2() const { return factory2Ptr; }
    BuildInfo buildInfo() const;

    using EntryPoint = int32_t (*)(void**);
    EntryPoint entryPoint() const { return getFactory; }

private:
    std::string libraryPath;
    void* dlHandle = nullptr;
    EntryPoint getFactory = nullptr;
    IMpFactory* factory1 = nullptr;
    IMpFactory2* factory2Ptr = nullptr;
};

// UTF-16 <-> UTF-8 for module ids and build texts (ASCII-safe; other code units become '?').
std::string toUtf8(std::u16string_view text);
std::u16string toUtf16(std::string_view text);

}  // namespace kvx::host
