// The user's configuration: the custom directory kept in the user INI.
#include <filesystem>

#include "vorn_tool.h"

namespace vorn_tool {

namespace {

// The only setting the user INI holds for the database.
const char* const CUSTOM_DIR_KEY = "custom-dir";

int run_config_set(SESSION& session, const std::string& dir) {
    OUTPUT& output = session.output();
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec))
        throw REFUSED("directory '" + dir + "' does not exist; create it first");
    const std::string full = absolute_dir(dir);
    // The library's own way of storing it, so that every host reads it back the same way.
    bool saved = VORN_MGR::save_custom_dir_to_ini(full, false);
    // The library leaves a value that differs only in letter case as it is; here it is
    // another directory.
    if (saved && cfg_get_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR) != full)
        saved = cfg_set_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR, full) &&
                cfg_write_user_ini_file();
    if (!saved) throw REFUSED("cannot write the user INI " + cfg_get_user_ini_file());
    output.out() << CUSTOM_DIR_KEY << " = " << full << " (in " << cfg_get_user_ini_file() << ")\n";
    output.data()["custom_dir"] = full;
    output.data()["user_ini_file"] = cfg_get_user_ini_file();
    return STATUS_DONE;
}

int run_config_show(SESSION& session) {
    OUTPUT& output = session.output();
    const std::string stored = cfg_get_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR);
    const std::string file = cfg_get_user_ini_file();
    if (stored.empty())
        output.out() << CUSTOM_DIR_KEY
                     << " is not set: the working directory is read, nothing is written there; "
                        "`vorn config set custom-dir DIR` sets one\n";
    else
        output.out() << CUSTOM_DIR_KEY << " = " << printable(stored) << '\n';
    output.out() << "(user INI " << file << ")\n";
    output.data()["custom_dir"] = stored.empty() ? json(nullptr) : json(stored);
    output.data()["user_ini_file"] = file;
    return STATUS_DONE;
}

}  // namespace

void add_config_commands(CLI::App& app, std::vector<COMMAND>& commands) {
    CLI::App* group = app.add_subcommand("config", "Show or set the user configuration");
    group->require_subcommand(1);
    group->fallthrough();

    auto key_and_dir = std::make_shared<std::pair<std::string, std::string>>();
    CLI::App* cmd = group->add_subcommand(
        "set", "Set the custom directory in the user INI: `config set custom-dir DIR`");
    cmd->add_option("key", key_and_dir->first, "Setting to change")
        ->required()
        ->check(CLI::IsMember({std::string(CUSTOM_DIR_KEY)}));
    cmd->add_option("value", key_and_dir->second, "An existing directory")->required();
    commands.push_back(
        {cmd, [key_and_dir](SESSION& s) { return run_config_set(s, key_and_dir->second); }});

    cmd = group->add_subcommand("show", "Show the custom directory the user INI holds");
    commands.push_back({cmd, [](SESSION& s) { return run_config_show(s); }});
}

}  // namespace vorn_tool
