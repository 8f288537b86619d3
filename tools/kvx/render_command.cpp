// SPDX-License-Identifier: MIT
// kvx render: the command line of the render (flags, help, the default score in the footer)
// and the one line a person sees when something is wrong.
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>

#include "host/host_error.h"
#include "patch/patch_reader.h"
#include "render/envelope_profile.h"
#include "render/error.h"
#include "render/options.h"
#include "render/patch_loading.h"
#include "render/patch_render.h"
#include "render/run.h"
#include "tools/kvx/commands.h"
#include "tools/kvx/module_arguments.h"
#include "tools/kvx/tool_paths.h"

namespace kvx::cli {

namespace {

const char* envelopeFlagHelp(std::string_view name) {
    if (name == "sustain") return "Envelope: sustain level (1.0 full scale); same as --set sustain=...";
    if (name.find("curve") != std::string_view::npos)
        return "Envelope: curve (>0 decelerating, <0 accelerating); same as --set NAME=...";
    return "Envelope: pin value (plain number) or full-scale duration (120ms, 1.5s); same as --set NAME=...";
}

}  // namespace

void addRenderCommand(CLI::App& app, int& exitStatus) {
    auto options = std::make_shared<render::RenderOptions>();
    options->plugin = defaultPluginPath();
    CLI::App* command = app.add_subcommand("render",
                                           "Render a module or a patch (NAME.kvxpatch.json) to WAV, CSV and "
                                           "a plot (default: out/SYMBOL.wav, .csv, .png)");
    addModuleArguments(*command, {.plugin = &options->plugin,
                                  .id = &options->id,
                                  .subtype = &options->subtype,
                                  .describe = &options->describe});
    command->add_option("--out", options->out,
                        "WAV file to write, one channel per output ('-': standard output)");
    command->add_option("--csv", options->csv,
                        "CSV file to write: sample,time_s,outputs... ('-': standard output; the envelope's: "
                        "sample,time_s,level,gate,segment)");
    command->add_option("--plot", options->plot, "Figure of the first output to write (.png or .svg)");
    command->add_option("--format", options->format, "WAV samples: float, pcm16 or pcm24")
        ->capture_default_str();
    command->add_option("--score", options->score,
                        "JSON score: parameters, automation, inputs, events, notes, resets");
    command
        ->add_option("--set", options->settings,
                     "NAME=VALUE: an input's value, plain (the pin value) or with the pin's unit "
                     "(attack=120ms, level=-6dB, gate=on); repeatable")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    command
        ->add_option("--input", options->inputs,
                     "NAME=FILE: feed an audio input from a WAV file (first channel)")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    for (size_t i = 0; i < render::ENVELOPE_FLAGS.size(); ++i)
        command->add_option("--" + std::string(render::ENVELOPE_FLAGS[i]), options->envelopeFlags[i],
                            envelopeFlagHelp(render::ENVELOPE_FLAGS[i]));
    command
        ->add_option(
            "--note", options->notes,
            "ON:OFF gate times (repeatable), units s, ms or smp: trigger and gate on, then gate off; "
            "a patch's note may add :KEY (0-127, default 69) and :VELOCITY (1-127, default 127)")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    command->add_option("--reset", options->resets, "Reset time (repeatable)")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    command->add_option("--midi", options->midi,
                        "Play a Standard MIDI File through a patch's voices (length: the file's end plus the "
                        "longest release)");
    command->add_option("--length", options->length, "Render length (default: the score's)");
    command->add_option("--rate", options->rate, "Sample rate in Hz (default 48000, or the input files')");
    command->add_option("--block", options->block, "Block size, or 'random' for 1..512")
        ->capture_default_str();
    command->add_option("--seed", options->seed, "Seed for --block random")->capture_default_str();
    command->footer(std::string("The envelope's default score:\n") + render::envelopeDefaultScore());
    command->callback([options, &exitStatus] {
        // With data on standard output, the report goes to standard error.
        std::ostream& report = options->out == "-" || options->csv == "-" ? std::cerr : std::cout;
        try {
            render::RenderOptions chosen = *options;
            if (patch::isPatchFileName(chosen.plugin)) {
                const patch::PatchFile patch = render::loadToolPatch(chosen.plugin, modulePath());
                exitStatus = render::runPatch(chosen, patch, report);
                return;
            }
            if (!chosen.midi.empty())
                throw render::RenderError(
                    "--midi plays a patch (NAME.kvxpatch.json) with voices, not a module");
            resolveModuleArguments(chosen.plugin, chosen.id, chosen.subtype, !chosen.id.empty());
            exitStatus = render::run(chosen, report);
        } catch (const patch::PatchError& error) {
            std::cerr << "kvx render: " << error.what() << "\n";
            exitStatus = 1;
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
