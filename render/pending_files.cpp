// SPDX-License-Identifier: MIT
// Temporaries renamed into place at the end of a render.
#include "render/pending_files.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "render/error.h"

namespace kvx::render {

namespace {

// A copy of the temporary names for the signal path: fixed slots, no allocation there.
constexpr size_t SLOTS = 8;
std::array<std::array<char, 4096>, SLOTS> signalNames{};
std::array<std::atomic<bool>, SLOTS> signalUsed{};

void rememberForSignal(const std::string& name) {
    for (size_t i = 0; i < SLOTS; ++i) {
        if (signalUsed[i].load() || name.size() >= signalNames[i].size()) continue;
        std::memcpy(signalNames[i].data(), name.c_str(), name.size() + 1);
        signalUsed[i].store(true);
        return;
    }
}

void forgetForSignal(const std::string& name) {
    for (size_t i = 0; i < SLOTS; ++i)
        if (signalUsed[i].load() && name == signalNames[i].data()) signalUsed[i].store(false);
}

const std::string STANDARD_OUTPUT = "-";

bool copyToStandardOutput(const std::string& path) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) return false;
    std::fflush(stdout);
    char buffer[1 << 16];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
        if (std::fwrite(buffer, 1, got, stdout) != got) return false;
    return !std::ferror(file.get()) && std::fflush(stdout) == 0;
}

}  // namespace

void removePendingTemporariesFromSignal() noexcept {
    for (size_t i = 0; i < SLOTS; ++i)
        if (signalUsed[i].load()) unlink(signalNames[i].data());
}

PendingFiles::~PendingFiles() { discard(); }

std::string PendingFiles::add(const std::string& finalPath) {
    namespace fs = std::filesystem;
    const fs::path target(finalPath);
    std::error_code error;
    for (const Entry& entry : entries)
        if (entry.finalPath == finalPath ||
            (finalPath != STANDARD_OUTPUT && entry.finalPath != STANDARD_OUTPUT &&
             fs::weakly_canonical(entry.finalPath, error) == fs::weakly_canonical(target, error)))
            throw RenderError("'" + finalPath + "' is named for two outputs");
    if (finalPath == STANDARD_OUTPUT) {
        const std::string temporary =
            (fs::temp_directory_path() / ("kvx-stdout.partial-" + std::to_string(getpid()))).string();
        entries.push_back(Entry{finalPath, temporary});
        rememberForSignal(temporary);
        return temporary;
    }
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    if (!fs::is_directory(folder, error))
        throw RenderError("cannot write '" + finalPath + "': no folder '" + folder.string() + "'");
    if (fs::is_directory(target, error))
        throw RenderError("cannot write '" + finalPath + "': it is a folder");
    const std::string temporary =
        (folder / ("." + target.filename().string() + ".partial-" + std::to_string(getpid()))).string();
    entries.push_back(Entry{finalPath, temporary});
    rememberForSignal(temporary);
    return temporary;
}

void PendingFiles::commit() {
    while (!entries.empty()) {
        const Entry entry = entries.front();
        if (entry.finalPath == STANDARD_OUTPUT) {
            if (!copyToStandardOutput(entry.temporary)) {
                const std::string reason = std::strerror(errno);
                discard();
                throw RenderError("cannot write to standard output: " + reason);
            }
            unlink(entry.temporary.c_str());
        } else if (std::rename(entry.temporary.c_str(), entry.finalPath.c_str()) != 0) {
            const std::string reason = std::strerror(errno);
            discard();
            throw RenderError("cannot write '" + entry.finalPath + "': " + reason);
        }
        forgetForSignal(entry.temporary);
        entries.erase(entries.begin());
    }
}

void PendingFiles::discard() noexcept {
    for (const Entry& entry : entries) {
        unlink(entry.temporary.c_str());
        forgetForSignal(entry.temporary);
    }
    entries.clear();
}

}  // namespace kvx::render
