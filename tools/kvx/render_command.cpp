// kvx render: the command line of the render (flags, help, the default score in the footer)
// and the one line a person sees when something is wrong.
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "host/host_error.h"
#include "tools/kvx/commands.h"
#include "tools/kvx/tool_paths.h"
#include "tools/render/error.h"
#include "tools/render/options.h"
#include "tools/render/run.h"
#include "tools/render/score.h"

namespace kvx::cli {

namespace {

const char* parameterHelp(render::ParameterKind kind) {
    switch (kind) {
        case render::ParameterKind::Time:
            return "Pin value (plain number) or full-scale duration (120ms, 1.5s)";
        case render::ParameterKind::Level:
            return "Sustain level (1.0 full scale)";
        case render::ParameterKind::Curve:
            break;
    }
    return "Curve (>0 decelerating, <0 accelerating)";
}

}  // namespace

void addRenderCommand(CLI::App& app, int& exitStatus) {
    auto options = std::make_shared<render::RenderOptions>();
    options->plugin = defaultPluginPath();
    CLI::App* command = app.add_subcommand(
        "render", "Render the envelope to WAV, CSV and a plot (default: out/adsr.wav, .csv, .png)");
    command->add_option("plugin", options->plugin, "Module library (.kvx)")->capture_default_str();
    command->add_option("--out", options->out, "WAV file to write");
    command->add_option("--csv", options->csv, "CSV file to write: sample,time_s,level,gate,segment");
    command->add_option("--plot", options->plot, "Figure to write (.png or .svg)");
    command->add_option("--format", options->format, "WAV samples: float, pcm16 or pcm24")
        ->capture_default_str();
    command->add_option("--score", options->score, "JSON score: notes, resets, parameters, automation");
    for (size_t i = 0; i < render::PARAMETER_COUNT; ++i) {
        const render::ParameterInfo& info = render::PARAMETERS[i];
        command->add_option("--" + std::string(info.name), options->parameters[i], parameterHelp(info.kind));
    }
    command->add_option("--note", options->notes, "ON:OFF gate times (repeatable), units s, ms or smp")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    command->add_option("--reset", options->resets, "Reset time (repeatable)")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    command->add_option("--length", options->length, "Render length (default: the score's)");
    command->add_option("--rate", options->rate, "Sample rate in Hz (default 48000)");
    command->add_option("--block", options->block, "Block size, or 'random' for 1..512")
        ->capture_default_str();
    command->add_option("--seed", options->seed, "Seed for --block random")->capture_default_str();
    command->footer(std::string("Default score:\n") + render::defaultScoreText());
    command->callback([options, &exitStatus] {
        try {
            exitStatus = render::run(*options, std::cout);
        } catch (const render::RenderError& error) {
            std::cerr << "kvx render: " << error.what() << "\n";
            exitStatus = 1;
        } catch (const host::HostError& error) {
            std::cerr << "kvx render: " << error.what() << "\n";
            exitStatus = 1;
        } catch (const std::filesystem::filesystem_error& error) {
            std::cerr << "kvx render: " << error.what() << "\n";
            exitStatus = 1;
        }
    });
}

}  // namespace kvx::cli
