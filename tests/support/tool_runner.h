// SPDX-License-Identifier: MIT
// Runs the built kvx tool (or another program) as a subprocess and reads back what it wrote: for
// the tests that use the tool as a person does.
#pragma once

#include <string>
#include <vector>

namespace kvx::test {

struct ToolRun {
    int status = -1;  // exit status, or -1 when it did not exit normally
    std::string out;  // standard output
    std::string err;  // standard error
};

// Runs `<build dir>/kvx` with `args` (each passed as one argument), with `environment`
// ("NAME=VALUE" each) added to the tool's environment.
ToolRun runKvx(const std::vector<std::string>& args, const std::vector<std::string>& environment = {});
// Runs `command` (the program and its arguments) the same way.
ToolRun runProgram(const std::vector<std::string>& command, const std::vector<std::string>& environment = {});

// A fresh folder, removed with everything in it when the object goes.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    std::string path(const std::string& name) const { return folder + "/" + name; }
    // Names of the files in the folder, sorted (hidden ones included).
    std::vector<std::string> files() const;

private:
    std::string folder;
};

struct WavData {
    bool opened = false;
    int rate = 0;
    int channels = 0;
    int format = 0;  // libsndfile's format code
    std::vector<float> samples;
};
WavData readWav(const std::string& path);
// A one-channel float WAV, as the tests feed inputs and gates to the tools; false when it cannot be written.
bool writeWav(const std::string& path, const std::vector<float>& samples, int rate);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);

}  // namespace kvx::test
