// Read-only commands: list, show, find, templates, families, info.
#include <algorithm>
#include <cstdio>
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

// "Marlow (73)", or the bare number for a family the host does not name.
std::string family_label(DEV_FAMILY_ENUM family) {
    PGMDEV_DEV_INFO_MANAGER info(false, 0);
    const PGMDEV_DEV_INFO* record = info.get_db_by_family(family);
    const std::string number = std::to_string(static_cast<int>(family));
    return record != nullptr && !record->name.empty() ? record->name + " (" + number + ")" : number;
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
    std::string source;
    CLI::Option* family_option = nullptr;
    CLI::Option* scheme_option = nullptr;
};

int run_list(SESSION& session, const LIST_ARGS& args) {
    OUTPUT& output = session.output();
    if (args.legacy && !args.source.empty())
        throw USAGE_ERROR("--source picks database devices; legacy devices have none");
    if (args.sdmmc) session.want_sdmmc();
    session.prepare();
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

    auto listed = [&](bool all) {
        if (args.legacy) return mgr->get_legacy_config_device_list(family, scheme, all);
        if (mgr->get_flash_map().empty()) return std::vector<std::string>();  // SD/MMC refuses
        return mgr->get_new_config_device_list(family, scheme, all);
    };
    const std::vector<std::string> names = listed(args.all);
    const size_t total = args.all ? names.size() : listed(true).size();

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
            rows.push_back({name_cell(name), voltage, "legacy"});
            devices.push_back(json{{"name", name}, {"io_voltage", voltage}, {"legacy", true}});
        }
    } else {
        rows.push_back(device_row_header());
        for (const std::string& name : names) {
            auto it = mgr->get_flash_map().find(name);
            if (it == mgr->get_flash_map().end() || it->second == nullptr) continue;
            if (!args.source.empty() && device_source(mgr, it->second) != args.source) continue;
            rows.push_back(device_row(mgr, it->second));
            devices.push_back(device_json(mgr, it->second, false));
        }
    }
    const size_t shown = args.legacy ? names.size() : devices.size();
    json& data = output.data();
    data["database"] = args.sdmmc ? "sdmmc" : "qspi";
    data["list"] = args.legacy ? "legacy" : "devices";
    data["family"] = static_cast<int>(family);
    data["scheme"] = static_cast<int>(scheme);
    data["filtered"] = !args.all;
    data["source"] = args.source.empty() ? json(nullptr) : json(args.source);
    data["devices"] = devices;
    data["total"] = total;
    if (shown > 0) print_table(output.out(), rows);
    // On stderr, so that a script reading the table is not disturbed.
    if (!output.json_mode()) {
        const std::string only = args.source.empty() ? "" : ", " + args.source + " only";
        std::cerr << shown << " of " << total << (args.legacy ? " legacy " : " ") << database
                  << " devices shown (";
        if (args.all)
            std::cerr << "every device" << only << ")\n";
        else
            std::cerr << "family " << family_label(family) << ", scheme " << scheme << only
                      << "; --all shows every device)\n";
    }
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
    VORN_MGR* mgr = session.known_manager_of(args.name);
    VORN_FLASH* flash = mgr->get_current_flash();
    const bool legacy = mgr->device_is_legacy(args.name, true);
    if (args.xml) {
        if (legacy)
            throw REFUSED("'" + args.name +
                          "' is a legacy device known to the programmer only; it has no "
                          "database entry to print");
        const std::string text = device_text(mgr, flash);
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
    std::string name;
    CLI::Option* id_option = nullptr;
    CLI::Option* mask_option = nullptr;
    CLI::Option* density_option = nullptr;
    CLI::Option* name_option = nullptr;
};

void print_found(SESSION& session, VORN_MGR* mgr, VORN_FLASH* flash,
                 const std::vector<std::string>& also) {
    OUTPUT& output = session.output();
    print_table(output.out(), {device_row_header(), device_row(mgr, flash)});
    if (!also.empty()) {
        std::vector<std::string> shown;
        for (const auto& n : also) shown.push_back(name_cell(n));
        output.out() << "Also matching: " << printable(join(shown, ", ")) << '\n';
    }
    output.data()["device"] = device_json(mgr, flash, false);
    output.data()["also"] = also;
}

// ---- the chip table's parts -----------------------------------------------------------------

std::string part_density(const VORN_FLASH_PART& part) {
    return std::to_string(part.density_bytes * 8 >> 20) + "Mb";
}

// "ID byte 4 0x00, byte 5 0x80": the bytes past the third that tell a part from its namesakes.
std::string further_id_text(const VORN_FLASH_PART& part) {
    std::string text;
    for (int i = 0; i < part.further_id_count; ++i) {
        char byte[32];
        std::snprintf(byte, sizeof byte, "%s %u 0x%02X", i == 0 ? "ID byte" : ", byte",
                      part.further_id[i].offset, part.further_id[i].value);
        text += byte;
    }
    return text;
}

// The chip table's parts that answer an ID whose first three bytes the mask covers, also
// given to the JSON output; none for a looser mask, which every part of a maker would answer.
std::vector<const VORN_FLASH_PART*> chip_table_parts(OUTPUT& output, unsigned int value,
                                                     unsigned int mask) {
    constexpr unsigned int FIRST_THREE = 0xFFFFFF;
    std::vector<const VORN_FLASH_PART*> parts;
    if ((mask & FIRST_THREE) == FIRST_THREE) parts = VORN_FLASH_PART::find_answering(value, mask);
    json list = json::array();
    for (const VORN_FLASH_PART* part : parts) {
        json further = json::array();
        for (int i = 0; i < part->further_id_count; ++i)
            further.push_back(
                json{{"offset", part->further_id[i].offset}, {"value", part->further_id[i].value}});
        list.push_back(json{{"name", part->name},
                            {"vendor", part->vendor},
                            {"density", part_density(*part)},
                            {"user_names", part->user_names()},
                            {"further_id", further}});
    }
    output.data()["chip_table_parts"] = list;
    return parts;
}

// Several parts behind one ID: what a user compares to know which one is on the board.
void print_chip_table_parts(std::ostream& out, const std::vector<const VORN_FLASH_PART*>& parts) {
    if (parts.size() < 2) return;
    out << "Parts of the public chip table with this ID (a device's density and name pick "
           "among them; further ID bytes tell some apart):\n";
    std::vector<std::vector<std::string>> rows{
        {"PART", "VENDOR", "DENSITY", "NAME STARTS WITH", "FURTHER ID BYTES"}};
    for (const VORN_FLASH_PART* part : parts) {
        const std::string further = further_id_text(*part);
        rows.push_back({part->name, part->vendor, part_density(*part),
                        join(part->user_names(), ", "), further.empty() ? "-" : further});
    }
    print_table(out, rows);
}

// An unknown part is most often a sibling of a known one: the same maker (first byte) and the
// same capacity code (third byte), another memory type (second byte).
int id_not_found(SESSION& session, const std::string& id, unsigned int value, unsigned int mask) {
    OUTPUT& output = session.output();
    output.error("no device with ID '" + id + "' (value " + hex(value) + ", mask " + hex(mask) +
                 ")");
    constexpr unsigned int MAKER_AND_CAPACITY = 0xFF00FF;
    json neighbours = json::array();
    std::vector<std::string> shown;
    if ((mask & MAKER_AND_CAPACITY) == MAKER_AND_CAPACITY) {
        VORN_QSPI_MGR* mgr = session.qspi();
        for (const std::string& name : mgr->get_flash_names_with_id(value, MAKER_AND_CAPACITY)) {
            VORN_FLASH* flash = mgr->get_flash_map().at(name);
            const std::string bytes = flash->get_parameter_value(VORN_FLASH_PARAM_ID);
            shown.push_back(printable(name_cell(name)) + " (" + bytes + ")");
            neighbours.push_back(json{{"name", name}, {"id", bytes}});
        }
    }
    output.data()["neighbours"] = neighbours;
    char bytes[80];
    std::snprintf(bytes, sizeof bytes, "manufacturer byte 0x%02X and capacity byte 0x%02X",
                  value & 0xFF, (value >> 16) & 0xFF);
    if (!shown.empty())
        output.error(std::string("devices with ") + bytes + ": " + join(shown, ", "));
    else if ((mask & MAKER_AND_CAPACITY) == MAKER_AND_CAPACITY)
        output.error(std::string("no device has ") + bytes + " either");
    // The public chip table may know the part though the database does not.
    const std::vector<const VORN_FLASH_PART*> parts = chip_table_parts(output, value, mask);
    if (!parts.empty()) {
        std::vector<std::string> chip_shown;
        for (const VORN_FLASH_PART* part : parts) {
            std::string facts = part->vendor + (", " + part_density(*part));
            const std::string further = further_id_text(*part);
            if (!further.empty()) facts += "; " + further;
            chip_shown.push_back(std::string(part->name) + " (" + facts + ")");
        }
        output.error("the public chip table lists with this ID: " + join(chip_shown, ", "));
    }
    // The way in: the vendor template the manufacturer byte names, or a similar part's flows.
    const auto* profile =
        VORN_FLASH_VENDOR_PROFILE::find_profile_of_manufacturer(static_cast<unsigned char>(value));
    const std::string vendor =
        profile != nullptr ? VORN_PROG_FLOW_TEMPLATE_NAME[profile->vendor] : "";
    output.data()["vendor"] = vendor.empty() ? json(nullptr) : json(vendor);
    if (!vendor.empty())
        output.error("to add it: `vorn add NAME --template " + vendor + " --id \"" + id +
                     "\" --density ... --io-voltage ...` (" + vendor +
                     " makes parts of that manufacturer byte)");
    else
        output.error("to add it: `vorn add NAME --like DEVICE --id \"" + id +
                     "\"` copies the flows of a similar part (no vendor template has that "
                     "manufacturer byte)");
    return STATUS_REJECTED;
}

int find_by_id(SESSION& session, const FIND_ARGS& args) {
    VORN_QSPI_MGR* mgr = session.qspi();
    std::string id;
    if (!session.judge("device ID", args.id, [&](std::string* msg) {
            return typed_bytes(args.id, "Device ID", &id, msg) && mgr->device_id_is_valid(id, msg);
        }))
        return STATUS_REJECTED;
    std::string why;
    if (!id_fits_lookup(id, &why)) throw REFUSED(why);
    // The record's own conversion: first byte least significant, one 0xFF per byte given.
    VORN_QSPI_FLASH probe("probe");
    probe.set_parameter_value(VORN_FLASH_PARAM_ID, id);
    unsigned int mask = 0;
    const unsigned int value = probe.get_id_in_dword(&mask);
    if (args.mask_option->count() > 0) {
        std::string mask_bytes;
        if (!typed_bytes(args.mask, "Mask", &mask_bytes, &why)) throw USAGE_ERROR(why);
        if (!byte_list_value(mask_bytes, &mask))
            throw USAGE_ERROR("--mask takes 1 to 4 bytes like --id, such as \"0xFF 0xFF 0x00\"");
    }
    session.output().data()["query"] =
        json{{"id", id},
             {"value", value},
             {"mask", mask},
             {"mask_bytes", args.mask_option->count() > 0 ? json(args.mask) : json(nullptr)}};

    VORN_FLASH* flash = mgr->get_flash_with_id(value, mask);
    if (flash == nullptr) return id_not_found(session, id, value, mask);
    std::vector<std::string> also;
    for (const std::string& name : mgr->get_flash_names_with_id(value, mask))
        if (name != flash->get_name()) also.push_back(name);
    print_found(session, mgr, flash, also);
    print_chip_table_parts(session.output().out(), chip_table_parts(session.output(), value, mask));
    return STATUS_DONE;
}

// Every database device, QSPI and SD/MMC, whose name matches a glob ignoring case.
int find_by_name(SESSION& session, const FIND_ARGS& args) {
    OUTPUT& output = session.output();
    session.want_sdmmc();
    std::vector<std::vector<std::string>> rows{device_row_header()};
    json devices = json::array();
    for (VORN_MGR* mgr : session.managers()) {
        for (const auto& entry : mgr->get_flash_map()) {
            if (entry.second == nullptr || !glob_matches(args.name, entry.first)) continue;
            rows.push_back(device_row(mgr, entry.second));
            devices.push_back(device_json(mgr, entry.second, false));
        }
    }
    output.data()["query"] = json{{"name", args.name}};
    output.data()["devices"] = devices;
    if (devices.empty()) {
        const std::vector<std::string> close = closest_names(args.name, session.device_names());
        output.data()["suggestions"] = close;
        throw REFUSED("no device name matches '" + args.name + "'" + did_you_mean(close));
    }
    print_table(output.out(), rows);
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
        session.judge(
            "density", args.density,
            [&](std::string* msg) { return qspi->device_density_is_valid(args.density, msg); },
            session.managers());
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
    const bool by_name = args.name_option->count() > 0;
    if (by_id + by_density + by_name != 1)
        throw USAGE_ERROR("find needs one of --id, --density and --name");
    if (args.mask_option->count() > 0 && !by_id) throw USAGE_ERROR("--mask goes with --id");
    if (by_name) return find_by_name(session, args);
    return by_id ? find_by_id(session, args) : find_by_density(session, args);
}

// ---- templates ----------------------------------------------------------------------------

int run_templates(SESSION& session) {
    OUTPUT& output = session.output();
    session.prepare();
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
        rows.push_back({name_cell(name), "user", file});
        templates.push_back(json{{"name", name}, {"kind", "user"}, {"file", file}});
    }
    print_table(output.out(), rows);
    output.data()["templates"] = templates;
    return STATUS_DONE;
}

int run_template_show(SESSION& session, const std::string& name) {
    OUTPUT& output = session.output();
    VORN_QSPI_MGR* mgr = session.qspi();
    const std::vector<VORN_OPERATION*>* sfl = nullptr;
    const std::vector<VORN_OPERATION*>* sdm = nullptr;
    std::string kind = "vendor";
    std::string file = mgr->get_golden_template_file();
    if (vorn_template_flows(*mgr, name, &sfl, &sdm) && vorn_vendor_template_index(name) < 0) {
        kind = "user";
        file = mgr->get_template_db_dir_map().at(name);
    }
    if (sfl == nullptr) {
        std::vector<std::string> known(std::begin(VORN_PROG_FLOW_TEMPLATE_NAME),
                                       std::end(VORN_PROG_FLOW_TEMPLATE_NAME));
        for (const std::string& user : mgr->get_user_template_list()) known.push_back(user);
        const std::vector<std::string> close = closest_names(name, known);
        output.data()["suggestions"] = close;
        throw REFUSED("no template named '" + name + "'" + did_you_mean(close));
    }
    print_table(output.out(), {{"Template:", name}, {"Kind:", kind}, {"File:", file}});
    print_flows(output.out(), sfl, sdm);
    output.data()["template"] =
        json{{"name", name}, {"kind", kind}, {"file", file}, {"flows", flows_json(sfl, sdm)}};
    return STATUS_DONE;
}

// ---- families -----------------------------------------------------------------------------

int run_families(SESSION& session) {
    OUTPUT& output = session.output();
    session.prepare();
    VORN_QSPI_MGR* qspi = session.qspi();
    VORN_SDMMC_MGR* sdmmc = session.sdmmc();
    const auto& qspi_served = qspi->get_dev_info_map();
    PGMDEV_DEV_INFO_MANAGER info(false, 0);
    const DEV_FAMILY_ENUM active = qspi->get_active_device_family();
    std::vector<std::vector<std::string>> rows{
        {"", "FAMILY", "NAME", "ENABLED", "VOLTAGE", "SDM", "SDMMC", "QSPI-FLASH", "SDMMC-FLASH"}};
    json families = json::array();
    for (const PGMDEV_SUPPORTED_FAMILY& entry : info.m_supported_family_list) {
        const PGMDEV_DEV_INFO* record = info.get_db_by_family(entry.family);
        if (record == nullptr) continue;
        const bool by_qspi = qspi_served.count(entry.family) > 0;
        json by_sdmmc = nullptr;
        if (sdmmc != nullptr) by_sdmmc = sdmmc->get_dev_info_map().count(entry.family) > 0;
        // Marked like git's current branch: the family `list` shows by default.
        rows.push_back({entry.family == active ? "*" : "", std::to_string(entry.family),
                        record->name, record->enabled ? "yes" : "no", record->flash_io_voltage,
                        record->sdm ? "yes" : "no", record->sdmmc ? "yes" : "no",
                        by_qspi ? "served" : "-",
                        by_sdmmc.is_null() ? "(off)" : (by_sdmmc.get<bool>() ? "served" : "-")});
        families.push_back(json{{"family", static_cast<int>(entry.family)},
                                {"name", record->name},
                                {"enabled", record->enabled},
                                {"io_voltage", record->flash_io_voltage},
                                {"sdm", record->sdm},
                                {"sdmmc", record->sdmmc},
                                {"qspi_served", by_qspi},
                                {"sdmmc_served", by_sdmmc},
                                {"active", entry.family == active}});
    }
    print_table(output.out(), rows);
    output.data()["active_family"] = static_cast<int>(active);
    output.data()["families"] = families;
    return STATUS_DONE;
}

// ---- info ---------------------------------------------------------------------------------

int run_info(SESSION& session) {
    OUTPUT& output = session.output();
    session.prepare();
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
    const std::string sources = session.custom_dir_source() == "option" ? "from --custom-dir"
                                : session.custom_dir_source() == "user-ini"
                                    ? "from the user INI"
                                    : "not set: the working directory is read, "
                                      "nothing is written there; `vorn config "
                                      "set custom-dir DIR` sets one";
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
    cmd->add_option("--source", list->source,
                    "Only devices from: built-in (the golden template), zentro (the programmer's "
                    "xml/ folder) or custom (your custom directory)")
        ->check(CLI::IsMember({"built-in", "zentro", "custom"}));
    commands.push_back({cmd, [list](SESSION& s) { return run_list(s, *list); }});

    auto show = std::make_shared<SHOW_ARGS>();
    cmd = app.add_subcommand("show", "Show a device: identity, file, flows with every action");
    cmd->add_option("name", show->name, "Device name")->required();
    cmd->add_flag("--xml", show->xml, "Print the device as a user file would hold it");
    commands.push_back({cmd, [show](SESSION& s) { return run_show(s, *show); }});

    auto find = std::make_shared<FIND_ARGS>();
    cmd = app.add_subcommand("find", "Find a device by its ID bytes, its density or its name");
    find->id_option = cmd->add_option("--id", find->id, ID_OPTION_HELP);
    find->mask_option = cmd->add_option(
        "--mask", find->mask,
        "Bytes to compare, in a form of --id, such as \"0xFF 0xFF 0x00\" or \"FFFF00\" (default: "
        "all given)");
    find->density_option =
        cmd->add_option("--density", find->density, "Density such as 256Mb (QSPI) or 32GB");
    find->name_option = cmd->add_option("--name", find->name,
                                        "Name pattern, ignoring case: * any text, ? one character");
    commands.push_back({cmd, [find](SESSION& s) { return run_find(s, *find); }});

    cmd = app.add_subcommand("templates", "List the vendor and user programming-flow templates");
    commands.push_back({cmd, [](SESSION& s) { return run_templates(s); }});

    // `template delete` joins this group with the commands that write.
    CLI::App* group = app.add_subcommand("template", "Show or delete a template");
    group->require_subcommand(1);
    group->fallthrough();
    auto template_name = std::make_shared<std::string>();
    cmd = group->add_subcommand("show", "Show a vendor or user template's flows, like `show`");
    cmd->add_option("name", *template_name, "Template name")->required();
    commands.push_back(
        {cmd, [template_name](SESSION& s) { return run_template_show(s, *template_name); }});

    cmd = app.add_subcommand("families",
                             "List the device families with their flash voltage and SDM flag");
    commands.push_back({cmd, [](SESSION& s) { return run_families(s); }});

    cmd = app.add_subcommand("info", "Show directories, configuration files and counts");
    commands.push_back({cmd, [](SESSION& s) { return run_info(s); }});
}

}  // namespace vorn_tool
