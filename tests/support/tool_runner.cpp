// SPDX-License-Identifier: MIT
// Subprocess runs of kvx and other programs, and read-back helpers.
#include "tests/support/tool_runner.h"

#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/test_paths.h"

namespace kvx::test {

namespace {

std::string quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

}  // namespace

ToolRun runKvx(const std::vector<std::string>& args, const std::vector<std::string>& environment) {
    std::vector<std::string> command{buildDir() + "/kvx"};
    command.insert(command.end(), args.begin(), args.end());
    return runProgram(command, environment);
}

ToolRun runProgram(const std::vector<std::string>& program, const std::vector<std::string>& environment) {
    ScratchFolder streams;
    std::string command = "env";
    for (const std::string& setting : environment) command += " " + quote(setting);
    for (const std::string& arg : program) command += " " + quote(arg);
    command += " >" + quote(streams.path("out")) + " 2>" + quote(streams.path("err")) + " </dev/null";
    ToolRun run;
    const int raw = std::system(command.c_str());
    if (raw != -1 && WIFEXITED(raw)) run.status = WEXITSTATUS(raw);
    run.out = readFile(streams.path("out"));
    run.err = readFile(streams.path("err"));
    return run;
}

ScratchFolder::ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kvx-render-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    folder = pattern;
}

ScratchFolder::~ScratchFolder() {
    std::error_code error;
    std::filesystem::remove_all(folder, error);
}

std::vector<std::string> ScratchFolder::files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

WavData readWav(const std::string& path) {
    WavData data;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return data;
    data.opened = true;
    data.rate = info.samplerate;
    data.channels = info.channels;
    data.format = info.format;
    data.samples.resize(static_cast<size_t>(info.frames * info.channels));
    const sf_count_t read = sf_readf_float(file, data.samples.data(), info.frames);
    data.samples.resize(static_cast<size_t>(read * info.channels));
    sf_close(file);
    return data;
}

bool writeWav(const std::string& path, const std::vector<float>& samples, int rate) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return false;
    const sf_count_t written = sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
    return written == static_cast<sf_count_t>(samples.size());
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary);
    file << text;
}

}  // namespace kvx::test
