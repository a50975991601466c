// vorn: the flash device database from a shell.
#include <iostream>

#include "vorn_tool.h"

using namespace vorn_tool;

namespace {

// CLI11 answers a mistyped command with "A subcommand is required"; this names it instead.
// Empty when every command word on the line is known.
std::string unknown_command(CLI::App& app, int argc, char** argv) {
    CLI::App* group = &app;
    std::string path;
    for (int i = 1; i < argc && !group->get_subcommands({}).empty(); ++i) {
        const std::string arg = argv[i];
        if (arg == "--") break;
        if (arg == "--programmer-dir" || arg == "--custom-dir") {
            ++i;  // the option's value is no command
            continue;
        }
        if (!arg.empty() && arg[0] == '-') continue;
        CLI::App* sub = nullptr;
        std::vector<std::string> names;
        for (CLI::App* known : group->get_subcommands({})) {
            names.push_back(known->get_name());
            if (known->check_name(arg)) sub = known;
        }
        if (sub == nullptr) {
            const std::string guess = did_you_mean(closest_names(arg, names));
            return "unknown command '" + path + arg + "'" + (guess.empty() ? ";" : guess) +
                   " `vorn " + path + "--help` lists the commands";
        }
        path += arg + " ";
        group = sub;
    }
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    OPTIONS options;
    CLI::App app{"vorn: look up, add, edit, check and export flash devices of the VORN database",
                 "vorn"};
    app.require_subcommand(1);
    // Global options may follow the command too: `vorn list --json`.
    app.fallthrough();
    app.set_version_flag("--version", std::string("vorn ") + vorn_version());
    app.add_option("--programmer-dir", options.programmer_dir,
                   "Programmer directory holding xml/, xsd/ and dev/");
    app.add_option("--custom-dir", options.custom_dir,
                   "Custom database directory, which must exist (default: the one in the user INI "
                   "file; `vorn config set custom-dir DIR` sets it)");
    app.add_flag("--json", options.json, "Print one JSON document instead of text");
    app.add_flag("-v,--verbose", options.verbose, "Print the library's debug traces to stderr");
    app.footer(
        "Exit status: 0 done, 1 rejected or not found, 2 usage, 3 internal error.\n"
        "SD/MMC cards: the switch pgm_enable_sdmmc turns their database on and "
        "pgm_enable_custom_sdmmc their user files;\n"
        "switches are `name = on` lines in $VORN_INI (default ~/.config/vorn/vorn.ini; `vorn info` "
        "shows it).\n"
        "Run `vorn COMMAND --help` for the options of a command.");

    std::vector<COMMAND> commands;
    add_query_commands(app, commands);
    add_edit_commands(app, commands);
    add_file_commands(app, commands);
    add_config_commands(app, commands);
    add_verify_commands(app, commands);

    const std::string unknown = unknown_command(app, argc, argv);
    if (!unknown.empty()) {
        std::cerr << "vorn: " << unknown << '\n';
        return STATUS_USAGE;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? STATUS_DONE : STATUS_USAGE;
    }

    const COMMAND* chosen = nullptr;
    for (const COMMAND& command : commands)
        if (command.app->parsed()) chosen = &command;
    if (chosen == nullptr) {
        std::cerr << app.help();
        return STATUS_USAGE;
    }

    OUTPUT output(options);
    std::string name = chosen->app->get_name();
    if (chosen->app->get_parent() != nullptr && chosen->app->get_parent() != &app)
        name = chosen->app->get_parent()->get_name() + " " + name;
    output.begin(name);
    int status = STATUS_DONE;
    try {
        SESSION session(options, output);
        if (chosen->writes) session.lock_database();
        status = chosen->run(session);
    } catch (const VORN_INTERNAL_ERROR& e) {
        output.internal_error(e);
        status = STATUS_INTERNAL;
    } catch (const USAGE_ERROR& e) {
        output.error(e.what());
        status = STATUS_USAGE;
    } catch (const REFUSED& e) {
        output.error(e.what());
        status = STATUS_REJECTED;
    } catch (const NO_DATABASE& e) {
        output.error(e.what());
        status = STATUS_INTERNAL;
    } catch (const std::exception& e) {
        output.error(std::string("unexpected failure: ") + e.what());
        status = STATUS_INTERNAL;
    }
    // A usage error prints no document, whether CLI11 or the command found it.
    if (status == STATUS_USAGE) return status;
    return output.finish(status);
}
