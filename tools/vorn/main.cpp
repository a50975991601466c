// vorn: the flash device database from a shell.
#include <iostream>

#include "vorn_tool.h"

using namespace vorn_tool;

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
        "Run `vorn COMMAND --help` for the options of a command.");

    std::vector<COMMAND> commands;
    add_query_commands(app, commands);
    add_edit_commands(app, commands);
    add_file_commands(app, commands);
    add_config_commands(app, commands);
    add_verify_commands(app, commands);

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
