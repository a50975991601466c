// Read-only commands: list, show, find, templates, families, info.
#include <algorithm>
#include <filesystem>
#include <iostream>

#include "vorn_tool.h"

namespace vorn_tool {

namespace {

std::string join_numbers(const std::vector<int>& values) {
    std::string out;
    for (int v : values) out += (out.empty() ? "" : ", ") + std::to_string(v);
    return out;
}

bool file_exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

// ---- list ---------------------------------------------------------------------------------

struct LIST_ARGS {
    int family = 0;
    int scheme = 0;
    bool all = false;
    bool legacy = false;
    bool sdmmc = false;
    CLI::Option* family_option = nullptr;
    CLI::Option* scheme_option = nullptr;
};

int run_list(SESSION& session, const LIST_ARGS& args) {
    OUTPUT& output = session.output();
    if (args.sdmmc) session.want_sdmmc();
    session.prepare(false);
    VORN_MGR* mgr = args.sdmmc ? static_cast<VORN_MGR*>(session.sdmmc()) : session.qspi();
    if (mgr == nullptr) throw REFUSED("the SD/MMC database is not available");
    const char* database = args.sdmmc ? "SD/MMC" : "QSPI";

    DEV_FAMILY_ENUM family = mgr->get_active_device_family();
    if (args.family_option->count() > 0) {
        family = static_cast<DEV_FAMILY_ENUM>(args.family);
        std::vector<int> served;
        for (DEV_FAMILY_ENUM f : mgr->get_device_family_list()) served.push_back(f);
        if (std::find(served.begin(), served.end(), args.family) == served.end())
            throw REFUSED("device family " + std::to_string(args.family) +
                          " is not served by the " + database +
                          " database (served: " + join_numbers(served) + ")");
    }
    PGMIO_CONFIG_SCHEME scheme = mgr->get_active_config_mode();
    if (args.scheme_option->count() > 0) {
        scheme = static_cast<PGMIO_CONFIG_SCHEME>(args.scheme);
        std::vector<int> modes;
        for (PGMIO_CONFIG_SCHEME m : mgr->get_config_mode_list()) modes.push_back(m);
        if (std::find(modes.begin(), modes.end(), args.scheme) == modes.end())
            throw REFUSED("configuration scheme " + std::to_string(args.scheme) +
                          " is not served by the " + database +
                          " database (served: " + join_numbers(modes) + ")");
    }

    std::vector<std::string> names;
    if (args.legacy)
        names = mgr->get_legacy_config_device_list(family, scheme, args.all);
    else if (!mgr->get_flash_map().empty())  // the SD/MMC list refuses an empty database
        names = mgr->get_new_config_device_list(family, scheme, args.all);

    json devices = json::array();
    std::vector<std::vector<std::string>> rows;
    if (args.legacy) {
        rows.push_back({"NAME", "VOLTAGE", "SOURCE"});
        auto* qspi = dynamic_cast<VORN_QSPI_MGR*>(mgr);
        for (const std::string& name : names) {
            std::string voltage;
            if (qspi != nullptr) {
                auto it = qspi->get_legacy_flash_map().find(name);
                if (it != qspi->get_legacy_flash_map().end()) voltage = it->second;
            }
            rows.push_back({name, voltage, "legacy"});
            devices.push_back(json{{"name", name}, {"io_voltage", voltage}, {"legacy", true}});
        }
    } else {
        rows.push_back(device_row_header());
        for (const std::string& name : names) {
            auto it = mgr->get_flash_map().find(name);
            if (it == mgr->get_flash_map().end() || it->second == nullptr) continue;
            rows.push_back(device_row(mgr, it->second));
            devices.push_back(device_json(mgr, it->second, false));
        }
    }
    json& data = output.data();
    data["database"] = args.sdmmc ? "sdmmc" : "qspi";
    data["list"] = args.legacy ? "legacy" : "devices";
    data["family"] = static_cast<int>(family);
    data["scheme"] = static_cast<int>(scheme);
    data["filtered"] = !args.all;
    data["devices"] = devices;
    if (names.empty()) {
        if (!output.json_mode())
            std::cerr << "vorn: no " << (args.legacy ? "legacy " : "") << database
                      << " devices for family " << family << ", scheme " << scheme
                      << (args.all ? "" : " (--all lists every device)") << '\n';
        return STATUS_DONE;
    }
    print_table(output.out(), rows);
    return STATUS_DONE;
}

// ---- show ---------------------------------------------------------------------------------

struct SHOW_ARGS {
    std::string name;
    bool xml = false;
};

int run_show(SESSION& session, const SHOW_ARGS& args) {
    OUTPUT& output = session.output();
    if (!session.name_is_safe(args.name, false)) return STATUS_REJECTED;
    session.prepare(false);
    VORN_MGR* mgr = session.manager_of(args.name);
    if (mgr == nullptr) throw REFUSED("no device named '" + args.name + "'");
    VORN_FLASH* flash = mgr->get_current_flash();
    const bool legacy = mgr->device_is_legacy(args.name, true);
    if (args.xml) {
        if (legacy)
            throw REFUSED("'" + args.name +
                          "' is a legacy device known to the programmer only; it has no "
                          "database entry to print");
        std::unique_ptr<PGM_COMMON_XML_ELEMENT> root(
            mgr->create_xml_object_with_flash_list({flash}));
        const std::string text = PGM_COMMON_XML::write_xml_string(root.get());
        output.out() << text;
        if (!text.empty() && text.back() != '\n') output.out() << '\n';
        output.data()["device"] = device_json(mgr, flash, false);
        output.data()["xml"] = text;
        return STATUS_DONE;
    }
    print_device(output.out(), mgr, flash);
    output.data()["device"] = device_json(mgr, flash, true);
    return STATUS_DONE;
}

// ---- find ---------------------------------------------------------------------------------

struct FIND_ARGS {
    std::string id;
    std::string mask;
    std::string density;
    CLI::Option* id_option = nullptr;
    CLI::Option* mask_option = nullptr;
    CLI::Option* density_option = nullptr;
};

unsigned int parse_mask(const std::string& text) {
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits = digits.substr(2);
    const bool ok = !digits.empty() && digits.size() <= 8 &&
                    digits.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
    if (!ok)
        throw USAGE_ERROR("--mask takes a hexadecimal number of up to 8 digits, such as 0xFFFFFF");
    return static_cast<unsigned int>(std::stoul(digits, nullptr, 16));
}

void print_found(SESSION& session, VORN_MGR* mgr, VORN_FLASH* flash,
                 const std::vector<std::string>& also) {
    OUTPUT& output = session.output();
    print_table(output.out(), {device_row_header(), device_row(mgr, flash)});
    if (!also.empty()) {
        std::string names;
        for (const auto& n : also) names += (names.empty() ? "" : ", ") + n;
        output.out() << "Also matching: " << names << '\n';
    }
    output.data()["device"] = device_json(mgr, flash, false);
    output.data()["also"] = also;
}

int find_by_id(SESSION& session, const FIND_ARGS& args) {
    VORN_QSPI_MGR* mgr = session.qspi();
    if (!session.judge("device ID", args.id,
                       [&](std::string* msg) { return mgr->device_id_is_valid(args.id, msg); }))
        return STATUS_REJECTED;
    // The record's own conversion: first byte least significant, one 0xFF per byte given.
    VORN_QSPI_FLASH probe("probe");
    probe.set_parameter_value(VORN_FLASH_PARAM_ID, args.id);
    unsigned int mask = 0;
    const unsigned int value = probe.get_id_in_dword(&mask);
    if (args.mask_option->count() > 0) mask = parse_mask(args.mask);
    session.output().data()["query"] = json{{"id", args.id}, {"value", value}, {"mask", mask}};

    VORN_FLASH* flash = mgr->get_flash_with_id(value, mask);
    if (flash == nullptr)
        throw REFUSED("no device with ID '" + args.id + "' (value " + hex(value) + ", mask " +
                      hex(mask) + ")");
    std::vector<std::string> also;
    for (const auto& entry : mgr->get_flash_map()) {
        if (entry.second == nullptr || entry.second == flash) continue;
        if (((entry.second->get_parameter_value_in_dword(VORN_FLASH_PARAM_ID, nullptr) ^ value) &
             mask) == 0)
            also.push_back(entry.first);
    }
    print_found(session, mgr, flash, also);
    return STATUS_DONE;
}

int find_by_density(SESSION& session, const FIND_ARGS& args) {
    session.managers();
    auto accepting = [&]() -> VORN_MGR* {
        for (VORN_MGR* mgr : session.managers())
            if (mgr->device_density_is_valid(args.density, nullptr)) return mgr;
        return nullptr;
    };
    VORN_MGR* mgr = accepting();
    if (mgr == nullptr && session.sdmmc() == nullptr) {
        session.want_sdmmc();  // perhaps an SD/MMC density
        mgr = accepting();
    }
    if (mgr == nullptr) {
        VORN_QSPI_MGR* qspi = session.qspi();
        session.judge("density", args.density, [&](std::string* msg) {
            return qspi->device_density_is_valid(args.density, msg);
        });
        return STATUS_REJECTED;
    }
    VORN_QSPI_FLASH probe("probe");
    probe.set_density(args.density);
    const unsigned long long bytes = probe.get_density_in_bytes_qword();
    session.output().data()["query"] = json{{"density", args.density}, {"bytes", bytes}};
    VORN_FLASH* flash = mgr->get_flash_with_density(bytes);
    if (flash == nullptr)
        throw REFUSED("no device of density " + args.density + " (" + std::to_string(bytes) +
                      " bytes)");
    std::vector<std::string> also;
    for (const auto& entry : mgr->get_flash_map())
        if (entry.second != nullptr && entry.second != flash &&
            entry.second->get_density_in_bytes_qword() == bytes)
            also.push_back(entry.first);
    print_found(session, mgr, flash, also);
    return STATUS_DONE;
}

int run_find(SESSION& session, const FIND_ARGS& args) {
    const bool by_id = args.id_option->count() > 0;
    const bool by_density = args.density_option->count() > 0;
    if (by_id == by_density) throw USAGE_ERROR("find needs either --id or --density");
    if (args.mask_option->count() > 0 && !by_id) throw USAGE_ERROR("--mask goes with --id");
    session.prepare(false);
    return by_id ? find_by_id(session, args) : find_by_density(session, args);
}

// ---- templates ----------------------------------------------------------------------------

int run_templates(SESSION& session) {
    OUTPUT& output = session.output();
    session.prepare(false);
    VORN_QSPI_MGR* mgr = session.qspi();
    std::vector<std::vector<std::string>> rows{{"NAME", "KIND", "FILE"}};
    json templates = json::array();
    for (const char* name : VORN_PROG_FLOW_TEMPLATE_NAME) {
        rows.push_back({name, "vendor", mgr->get_golden_template_file()});
        templates.push_back(
            json{{"name", name}, {"kind", "vendor"}, {"file", mgr->get_golden_template_file()}});
    }
    const auto& files = mgr->get_template_db_dir_map();
    for (const std::string& name : mgr->get_user_template_list()) {
        auto it = files.find(name);
        const std::string file = it != files.end() ? it->second : "";
        rows.push_back({name, "user", file});
        templates.push_back(json{{"name", name}, {"kind", "user"}, {"file", file}});
    }
    print_table(output.out(), rows);
    output.data()["templates"] = templates;
    return STATUS_DONE;
}

// ---- families -----------------------------------------------------------------------------

int run_families(SESSION& session) {
    OUTPUT& output = session.output();
    session.prepare(false);
    VORN_QSPI_MGR* qspi = session.qspi();
    VORN_SDMMC_MGR* sdmmc = session.sdmmc();
    const auto& qspi_served = qspi->get_dev_info_map();
    PGMDEV_DEV_INFO_MANAGER info(false, 0);
    std::vector<std::vector<std::string>> rows{
        {"FAMILY", "NAME", "ENABLED", "VOLTAGE", "SDM", "SDMMC", "QSPI-FLASH", "SDMMC-FLASH"}};
    json families = json::array();
    for (const PGMDEV_SUPPORTED_FAMILY& entry : info.m_supported_family_list) {
        const PGMDEV_DEV_INFO* record = info.get_db_by_family(entry.family);
        if (record == nullptr) continue;
        const bool by_qspi = qspi_served.count(entry.family) > 0;
        json by_sdmmc = nullptr;
        if (sdmmc != nullptr) by_sdmmc = sdmmc->get_dev_info_map().count(entry.family) > 0;
        rows.push_back({std::to_string(entry.family), record->name, record->enabled ? "yes" : "no",
                        record->flash_io_voltage, record->sdm ? "yes" : "no",
                        record->sdmmc ? "yes" : "no", by_qspi ? "served" : "-",
                        by_sdmmc.is_null() ? "(off)" : (by_sdmmc.get<bool>() ? "served" : "-")});
        families.push_back(json{{"family", static_cast<int>(entry.family)},
                                {"name", record->name},
                                {"enabled", record->enabled},
                                {"io_voltage", record->flash_io_voltage},
                                {"sdm", record->sdm},
                                {"sdmmc", record->sdmmc},
                                {"qspi_served", by_qspi},
                                {"sdmmc_served", by_sdmmc}});
    }
    print_table(output.out(), rows);
    output.data()["active_family"] = static_cast<int>(qspi->get_active_device_family());
    output.data()["families"] = families;
    return STATUS_DONE;
}

// ---- info ---------------------------------------------------------------------------------

int run_info(SESSION& session) {
    OUTPUT& output = session.output();
    session.prepare(false);
    VORN_QSPI_MGR* qspi = session.qspi();
    VORN_SDMMC_MGR* sdmmc = session.sdmmc();

    int builtin = 0;
    int zentro = 0;
    int custom = 0;
    for (const auto& entry : qspi->get_flash_map()) {
        if (entry.second == nullptr) continue;
        const std::string source = device_source(qspi, entry.second);
        if (source == "built-in")
            ++builtin;
        else if (source == "custom")
            ++custom;
        else
            ++zentro;
    }
    const std::string switch_file = cfg_get_switch_file();
    const std::string user_ini = cfg_get_user_ini_file();
    json counts{{"qspi_devices", qspi->get_flash_map().size()},
                {"built_in", builtin},
                {"zentro", zentro},
                {"custom", custom},
                {"legacy", qspi->get_legacy_flash_map().size()},
                {"vendor_templates", 5},
                {"user_templates", qspi->get_user_template_list().size()},
                {"sdmmc_devices", nullptr}};
    if (sdmmc != nullptr) counts["sdmmc_devices"] = sdmmc->get_flash_map().size();

    json& data = output.data();
    data["version"] = vorn_version();
    data["programmer_dir"] = PGM_COMMON::pgm_get_common_programmer();
    data["zentro_dir"] = VORN_MGR::get_db_zentro_dir();
    data["custom_dir"] = VORN_MGR::get_db_custom_dir();
    data["custom_dir_source"] = session.custom_dir_source();
    data["switch_file"] = switch_file;
    data["switch_file_exists"] = file_exists(switch_file);
    data["user_ini_file"] = user_ini;
    data["user_ini_file_exists"] = file_exists(user_ini);
    data["sdmmc"] = sdmmc != nullptr;
    data["counts"] = counts;

    auto present = [](const std::string& path) {
        return path + (file_exists(path) ? "" : " (not present)");
    };
    std::string sources = session.custom_dir_source() == "option"     ? "--custom-dir"
                          : session.custom_dir_source() == "user-ini" ? "user INI"
                                                                      : "default";
    std::vector<std::vector<std::string>> rows{
        {"Version:", vorn_version()},
        {"Programmer directory:", PGM_COMMON::pgm_get_common_programmer()},
        {"Zentro directory:", VORN_MGR::get_db_zentro_dir()},
        {"Custom directory:", VORN_MGR::get_db_custom_dir() + " (" + sources + ")"},
        {"Switch file:", present(switch_file)},
        {"User INI file:", present(user_ini)},
        {"SD/MMC:", sdmmc != nullptr ? "on" : "off"},
        {"QSPI devices:", std::to_string(qspi->get_flash_map().size()) + " (" +
                              std::to_string(builtin) + " built-in, " + std::to_string(zentro) +
                              " zentro, " + std::to_string(custom) + " custom)"},
        {"Legacy devices:", std::to_string(qspi->get_legacy_flash_map().size())},
        {"Templates:",
         "5 vendor, " + std::to_string(qspi->get_user_template_list().size()) + " user"}};
    if (sdmmc != nullptr)
        rows.push_back({"SD/MMC devices:", std::to_string(sdmmc->get_flash_map().size())});
    print_table(output.out(), rows);
    return STATUS_DONE;
}

}  // namespace

void add_query_commands(CLI::App& app, std::vector<COMMAND>& commands) {
    auto list = std::make_shared<LIST_ARGS>();
    CLI::App* cmd = app.add_subcommand(
        "list", "List the devices offered for a device family and configuration scheme");
    list->family_option = cmd->add_option(
        "--family", list->family, "Device family number (default: the manager's active family)");
    list->scheme_option = cmd->add_option(
        "--scheme", list->scheme, "Configuration scheme (default: the manager's active scheme)");
    cmd->add_flag("--all", list->all, "Every device, without the family's voltage filter");
    cmd->add_flag("--legacy", list->legacy, "The legacy devices known to the programmer");
    cmd->add_flag("--sdmmc", list->sdmmc, "The SD/MMC database instead of the QSPI one");
    commands.push_back({cmd, [list](SESSION& s) { return run_list(s, *list); }});

    auto show = std::make_shared<SHOW_ARGS>();
    cmd = app.add_subcommand("show", "Show a device: identity, file, flows with every action");
    cmd->add_option("name", show->name, "Device name")->required();
    cmd->add_flag("--xml", show->xml, "Print the device as a user file would hold it");
    commands.push_back({cmd, [show](SESSION& s) { return run_show(s, *show); }});

    auto find = std::make_shared<FIND_ARGS>();
    cmd = app.add_subcommand("find", "Find a device by its ID bytes or by its density");
    find->id_option = cmd->add_option(
        "--id", find->id, "ID bytes as the database writes them, such as \"0x20 0xBA 0x19\"");
    find->mask_option =
        cmd->add_option("--mask", find->mask, "Hexadecimal mask (default: one 0xFF per ID byte)");
    find->density_option =
        cmd->add_option("--density", find->density, "Density such as 256Mb (QSPI) or 32GB");
    find->id_option->excludes(find->density_option);
    commands.push_back({cmd, [find](SESSION& s) { return run_find(s, *find); }});

    cmd = app.add_subcommand("templates", "List the vendor and user programming-flow templates");
    commands.push_back({cmd, [](SESSION& s) { return run_templates(s); }});

    cmd = app.add_subcommand("families",
                             "List the device families with their flash voltage and SDM flag");
    commands.push_back({cmd, [](SESSION& s) { return run_families(s); }});

    cmd = app.add_subcommand("info", "Show directories, configuration files and counts");
    commands.push_back({cmd, [](SESSION& s) { return run_info(s); }});
}

}  // namespace vorn_tool
