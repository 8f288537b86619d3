// SPDX-License-Identifier: MIT
// kvx: list, inspect, render and validate module libraries without their usual host, and make LV2
// bundles of them; a wrong command line gets one line, a hint and exit status 2.
#include <algorithm>
#include <iostream>
#include <regex>
#include <string>
#include <vector>

#include "kvx/version.h"
#include "tools/kvx/commands.h"
#include "tools/kvx/nearest_name.h"

namespace {

// What a wrong command line exits with, as getopt tools have it.
constexpr int USAGE_ERROR = 2;

std::vector<std::string> commandNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; }))
        names.push_back(command->get_name());
    return names;
}

// `command`'s long options, dashes included.
std::vector<std::string> longOptions(const CLI::App& command) {
    std::vector<std::string> names;
    for (const CLI::Option* option : command.get_options())
        for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
    return names;
}

std::string didYouMean(const std::string& word, const std::vector<std::string>& names) {
    const std::string nearest = kvx::cli::nearestName(word, names);
    return nearest.empty() ? "" : "; did you mean '" + nearest + "'?";
}

// The line, then where to look; `command` is the application or the subcommand it is about.
int usageError(const CLI::App& app, const CLI::App& command, const std::string& message) {
    const bool main = &command == &app;
    const std::string name = main ? "kvx" : "kvx " + command.get_name();
    std::cerr << name << ": " << message << "\n"
              << "Run '" << name << " --help' for the " << (main ? "commands" : "options") << ".\n";
    return USAGE_ERROR;
}

// kvx itself takes only flags, so the first word that is not one names the command ("" if none).
std::string commandWord(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") break;
        if (!arg.starts_with("-")) return arg;
    }
    return "";
}

std::string unknownArguments(const CLI::App& command, const std::vector<std::string>& extras) {
    for (const std::string& extra : extras)
        if (extra.starts_with("-") && extra != "-") {
            const std::string flag = extra.substr(0, extra.find('='));
            return "unknown option '" + flag + "'" + didYouMean(flag, longOptions(command));
        }
    std::string words;
    for (const std::string& extra : extras) words += (words.empty() ? "'" : " '") + extra + "'";
    return (extras.size() == 1 ? "unexpected argument " : "unexpected arguments ") + words;
}

// CLI11's wording of a missing or unreadable option value, said as the commands say theirs.
std::string optionValueError(const CLI::App& command, const CLI::ParseError& error) {
    const std::string what = error.what();
    std::smatch match;
    static const std::regex missing("^(-[^:]+): \\d+ required .* missing$");
    if (std::regex_match(what, match, missing)) return "option '" + match[1].str() + "' needs a value";
    static const std::regex unreadable("^Could not convert: (\\S+) = (.*)$");
    if (std::regex_match(what, match, unreadable)) {
        const CLI::Option* option = command.get_option_no_throw(match[1].str());
        const std::string type = option != nullptr ? option->get_type_name() : "";
        const std::string expected = type == "INT" || type == "UINT" ? "a whole number"
                                     : type == "FLOAT"               ? "a number"
                                                                     : "a valid value";
        return "option '" + match[1].str() + "': expected " + expected + ", got '" + match[2].str() + "'";
    }
    return what;
}

// Which of the application and its subcommand the wrong command line is about, and what to say.
int reportParseError(const CLI::App& app, const CLI::ParseError& error) {
    const std::vector<CLI::App*> chosen = app.get_subcommands();
    const CLI::App& command = chosen.empty() ? app : *chosen.front();
    if (!app.remaining().empty()) return usageError(app, app, unknownArguments(app, app.remaining()));
    if (chosen.empty()) {
        std::string names;
        const std::vector<std::string> commands = commandNames(app);
        for (size_t i = 0; i < commands.size(); ++i)
            names += (i == 0 ? "" : i + 1 == commands.size() ? " or " : ", ") + commands[i];
        return usageError(app, app, "a command is needed (" + names + ")");
    }
    if (!command.remaining().empty())
        return usageError(app, command, unknownArguments(command, command.remaining()));
    return usageError(app, command, optionValueError(command, error));
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "kvx: list, inspect, render and validate .kvx module libraries, and make LV2 bundles of them", "kvx"};
    app.set_version_flag("--version", "kvx " KVX_VERSION_STRING);
    app.require_subcommand(1);
    int exitStatus = 0;
    kvx::cli::addListCommand(app, exitStatus);
    kvx::cli::addInfoCommand(app, exitStatus);
    kvx::cli::addRenderCommand(app, exitStatus);
    kvx::cli::addValidateCommand(app, exitStatus);
    kvx::cli::addLv2Command(app, exitStatus);
    kvx::cli::addStudioCommand(app, exitStatus);
    // Before CLI11 sees it: CLI11 would call a mistyped command missing, and answer
    // `kvx nosuch --help` with the main help.
    const std::string word = commandWord(argc, argv);
    const std::vector<std::string> commands = commandNames(app);
    if (!word.empty() && std::find(commands.begin(), commands.end(), word) == commands.end())
        return usageError(app, app, "unknown command '" + word + "'" + didYouMean(word, commands));
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForAllHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForVersion& version) {
        return app.exit(version);
    } catch (const CLI::ParseError& error) {
        return reportParseError(app, error);
    } catch (const std::exception& error) {
        std::cerr << "kvx: " << error.what() << "\n";
        return 1;
    }
    return exitStatus;
}
