// SPDX-License-Identifier: MIT
// PatchGraph: a patch as the host library runs it — module instances, the pins it binds, fixed
// values, connections and the patch's outputs — with every name already resolved to a library
// file, a module id and pin ids. The patch file reader makes one from NAME.kvxpatch.json and the
// modules' descriptions; host::Patch runs it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kvx::host {

// What a module instance's pin is, as its description says (the reader has checked it against
// the library).
enum class PatchPinKind : uint8_t {
    AudioIn,
    AudioOut,
    BoolIn,
    FloatIn,
};

struct PatchPin {
    int32_t id = 0;
    PatchPinKind kind = PatchPinKind::AudioIn;
    // The pin's value before any event: for an audio input that no connection feeds, the
    // constant its buffer holds; for a control input, the value sent at graph start.
    float initial = 0.0f;
};

struct PatchModule {
    std::string name;         // the instance's name in the patch, for messages ("env")
    std::string libraryPath;  // the module library file
    std::u16string id;
    int32_t subtype = 0;
    // Every pin the host drives or reads, in ascending id order. The host binds a buffer to each
    // of them (and a spare one to any other pin the library accepts).
    std::vector<PatchPin> pins;
};

// One audio output feeding one audio input. An output may feed many inputs; an input takes at
// most one connection. A delayed connection carries the sample before: it is what closes a loop.
struct PatchConnection {
    int32_t fromModule = 0;  // index into PatchGraph::modules
    int32_t fromPin = 0;
    int32_t toModule = 0;
    int32_t toPin = 0;
    bool oneSampleDelay = false;
};

// An audio output of one module that is an output of the patch.
struct PatchOutput {
    std::string name;
    int32_t module = 0;
    int32_t pin = 0;
};

struct PatchGraph {
    std::string source;  // the file it came from, for messages
    std::vector<PatchModule> modules;
    std::vector<PatchConnection> connections;
    std::vector<PatchOutput> outputs;
};

}  // namespace kvx::host
