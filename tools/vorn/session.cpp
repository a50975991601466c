// The database as the tool sees it: directories, managers, validators, safe names, and the user
// files a load skipped.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>

#include "vorn_tool.h"

namespace fs = std::filesystem;

namespace vorn_tool {

namespace {

const char* const FILE_ID_FORMAT =
    "1 to 4 bytes separated by spaces, each 0x and one or two hexadecimal digits or a number "
    "up to 255, such as \"0xEF 0x40 0x18\"";
const char* const ID_FORMAT =
    "1 to 4 bytes in hexadecimal, every byte with 0x or none: \"0xEF 0x40 0x18\", \"EF 40 18\" "
    "or \"EF4018\"";

// Names that could leave the directory they are meant for, or mean nothing as a file name.
bool name_is_unsafe(const std::string& name) {
    static const std::string separators("/\\\0", 3);
    return name.empty() || name == "db" || name.size() > MAX_NAME_LENGTH ||
           name.find_first_of(separators) != std::string::npos ||
           name.find("..") != std::string::npos;
}

// The entries of one choice list over several managers, in order, each once.
std::vector<std::string> choices_of(const std::vector<VORN_MGR*>& managers,
                                    std::vector<std::string> (VORN_MGR::*list)()) {
    std::vector<std::string> out;
    for (VORN_MGR* mgr : managers)
        for (const std::string& entry : (mgr->*list)())
            if (std::find(out.begin(), out.end(), entry) == out.end()) out.push_back(entry);
    return out;
}

std::string templates_accepted(const std::vector<VORN_MGR*>& managers) {
    std::vector<std::string> names(std::begin(VORN_PROG_FLOW_TEMPLATE_NAME),
                                   std::end(VORN_PROG_FLOW_TEMPLATE_NAME));
    for (const std::string& name : choices_of(managers, &VORN_MGR::get_user_template_list))
        names.push_back(name);
    return "accepted templates: " + join(names, ", ");
}

// The library's name alphabet, and the nearest name in it: each run of other characters
// becomes one underscore (W25Q128JV-IM -> W25Q128JV_IM). Empty for a name refused for another
// reason, such as one that is taken.
std::string names_accepted(const std::vector<VORN_MGR*>& managers, const std::string& name) {
    VORN_MGR* mgr = managers.front();
    std::string copy = name;
    if (mgr->is_valid_name(copy)) return "";
    std::string nearest;
    for (char c : name) {
        std::string one(1, c);
        if (mgr->is_valid_name(one))
            nearest += c;
        else if (!nearest.empty() && nearest.back() != '_')
            nearest += '_';
    }
    while (!nearest.empty() && nearest.back() == '_') nearest.pop_back();
    std::string text = "accepted names: letters, digits and underscores, except \"db\"";
    copy = nearest;
    if (mgr->is_valid_name(copy)) text += ", such as " + nearest;
    return text;
}

std::string dummy_cycles_range() {
    return "0 to " + std::to_string(VORN_QSPI_DUMMY_CLOCK_CYCLE_MAX);
}

std::string dummy_cycles_accepted(const std::vector<VORN_MGR*>&, const std::string&) {
    return "accepted dummy cycles: " + dummy_cycles_range();
}

// What each typed field accepts; fields not named here have no list to offer.
struct ACCEPTED {
    const char* field;
    std::string (*describe)(const std::vector<VORN_MGR*>& managers, const std::string& value);
};
const ACCEPTED ACCEPTED_VALUES[] = {
    {"device name", names_accepted},
    {"template name", names_accepted},
    {"device ID",
     [](const std::vector<VORN_MGR*>&, const std::string&) {
         return "accepted device IDs: " + std::string(ID_FORMAT);
     }},
    {"device ID in a file",
     [](const std::vector<VORN_MGR*>&, const std::string&) {
         return "accepted device IDs: " + std::string(FILE_ID_FORMAT);
     }},
    {"density",
     [](const std::vector<VORN_MGR*>& m, const std::string&) {
         return "accepted densities: " +
                join(choices_of(m, &VORN_MGR::get_device_density_list), ", ");
     }},
    {"I/O voltage",
     [](const std::vector<VORN_MGR*>& m, const std::string&) {
         return "accepted I/O voltages: " +
                join(choices_of(m, &VORN_MGR::get_device_io_voltage_list), ", ");
     }},
    {"total dies", [](const std::vector<VORN_MGR*>&,
                      const std::string&) { return std::string("accepted dies: 1 or more"); }},
    {"dummy clock cycles", dummy_cycles_accepted},
    {"dummy clock cycles x4", dummy_cycles_accepted},
    {"programming flow template",
     [](const std::vector<VORN_MGR*>& m, const std::string&) { return templates_accepted(m); }},
};

}  // namespace

const char* db_dir_name(DB_DIR dir) { return dir == DB_DIR::CUSTOM ? "custom" : "zentro"; }

DB_DIR parse_db_dir(const std::string& name) {
    return name == db_dir_name(DB_DIR::ZENTRO) ? DB_DIR::ZENTRO : DB_DIR::CUSTOM;
}

std::vector<std::string> db_dir_names() {
    return {db_dir_name(DB_DIR::CUSTOM), db_dir_name(DB_DIR::ZENTRO)};
}

std::string absolute_path(const std::string& path) {
    fs::path p = path.empty() ? fs::current_path() : fs::absolute(path);
    return p.lexically_normal().string();
}

std::string absolute_dir(const std::string& dir) {
    std::string out = absolute_path(dir);
    if (out.empty() || out.back() != '/') out += '/';
    return out;
}

std::string directory_of(const std::string& path) {
    return absolute_dir(fs::path(absolute_path(path)).parent_path().string());
}

std::string accepted_values(const std::string& field, const std::string& value,
                            const std::vector<VORN_MGR*>& choices) {
    for (const ACCEPTED& entry : ACCEPTED_VALUES)
        if (field == entry.field) return entry.describe(choices, value);
    return "";
}

std::string accepted_values_help() {
    const std::vector<std::string> densities(std::begin(VORN_QSPI_DENSITY),
                                             std::end(VORN_QSPI_DENSITY));
    const std::vector<std::string> voltages(std::begin(VORN_QSPI_IO_VOLTAGE),
                                            std::end(VORN_QSPI_IO_VOLTAGE));
    return "Accepted values:\n  NAME            letters, digits and underscores, except \"db\" "
           "(also --save-template)\n  --id            " +
           std::string(ID_FORMAT) + "\n  --density       " + join(densities, ", ") +
           "\n  --io-voltage    " + join(voltages, ", ") +
           "\n  --die           1 or more\n  --dummy-cycles  " + dummy_cycles_range() +
           " (also --dummy-cycles-x4)";
}

bool id_fits_lookup(const std::string& id, std::string* why) {
    if (id.find_first_not_of(' ') == std::string::npos) return true;  // the library's to refuse
    unsigned int count = 0;
    bool ok = false;
    std::unique_ptr<unsigned char[]> bytes(
        VORN_MGR::convert_data_list_string_to_byte_array(id, &count, &ok));
    if (!ok || count <= VORN_QSPI_LOOKUP_ID_BYTES) return true;
    if (why != nullptr)
        *why = "Device ID '" + id + "' has " + std::to_string(count) +
               " bytes; a lookup by ID reads only the first " +
               std::to_string(VORN_QSPI_LOOKUP_ID_BYTES) + ", so the others would be lost.";
    return false;
}

bool typed_bytes(const std::string& typed, const std::string& what, std::string* bytes,
                 std::string* why) {
    std::vector<std::string> tokens;
    std::istringstream in(typed);
    for (std::string token; in >> token;) tokens.push_back(token);
    auto prefixed = [](const std::string& token) {
        return token.size() >= 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X');
    };
    const auto with_0x = std::count_if(tokens.begin(), tokens.end(), prefixed);
    // Already the library's form, or nothing: the library's validator judges it as typed.
    if (tokens.empty() || static_cast<size_t>(with_0x) == tokens.size()) {
        *bytes = typed;
        return true;
    }
    auto refuse = [&](const std::string& reason) {
        if (why != nullptr) *why = what + " '" + typed + "' " + reason;
        return false;
    };
    // "0xC2 20 18" would read 20 and 18 as decimal numbers: say so rather than guess.
    if (with_0x > 0)
        return refuse("mixes bytes written with 0x and without; write every byte the same way.");
    // "C22018": one run of digit pairs.
    if (tokens.size() == 1 && tokens[0].size() > 2 && tokens[0].size() % 2 == 0) {
        const std::string run = tokens[0];
        tokens.clear();
        for (size_t i = 0; i < run.size(); i += 2) tokens.push_back(run.substr(i, 2));
    }
    std::string out;
    for (const std::string& token : tokens) {
        if (token.size() > 2 ||
            token.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            return refuse("is not a list of bytes in hexadecimal.");
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "0x%02lX", std::strtoul(token.c_str(), nullptr, 16));
        out += (out.empty() ? "" : " ") + std::string(buffer);
    }
    *bytes = out;
    return true;
}

bool byte_list_value(const std::string& text, unsigned int* value) {
    if (text.find_first_not_of(' ') == std::string::npos) return false;
    unsigned int count = 0;
    bool ok = false;
    std::unique_ptr<unsigned char[]> bytes(
        VORN_MGR::convert_data_list_string_to_byte_array(text, &count, &ok));
    if (!ok || count == 0 || count > VORN_QSPI_LOOKUP_ID_BYTES) return false;
    // The record's own conversion, so that the byte order is the one IDs are stored in.
    VORN_QSPI_FLASH probe("probe");
    probe.set_parameter_value(VORN_FLASH_PARAM_ID, text);
    *value = probe.get_id_in_dword(nullptr);
    return true;
}

SESSION::SESSION(const OPTIONS& options, OUTPUT& output) : m_options(options), m_output(output) {}

void SESSION::want_sdmmc() {
    if (cfg_is_on("pgm_enable_sdmmc", false)) return;
    cfg_set_switch("pgm_enable_sdmmc", true);
    // Managers built before the switch was set lack SD/MMC; build them again.
    if (m_loaded) load([] { VORN_HELPER::refresh_flash_managers(); });
}

void SESSION::prepare() {
    if (m_prepared) return;
    std::error_code ec;
    if (!m_options.programmer_dir.empty()) {
        if (!fs::is_directory(m_options.programmer_dir, ec))
            throw REFUSED("programmer directory '" + m_options.programmer_dir + "' does not exist");
        PGM_COMMON::set_common_programmer(absolute_dir(m_options.programmer_dir));
    }
    // Without its golden template the library cannot load at all; say where we looked.
    const std::string programmer = PGM_COMMON::pgm_get_common_programmer();
    const std::string golden = std::string("xml/") + VORN_QSPI_GOLDEN_TEMPLATE_FILE;
    if (!fs::is_regular_file(programmer + golden, ec))
        throw NO_DATABASE("no flash database in " + programmer + " (" + golden +
                          " is missing); give --programmer-dir DIR or set VORN_PROGRAMMER_DIR");
    std::string custom = "./";  // the library's default
    m_custom_dir_source = "default";
    if (!m_options.custom_dir.empty()) {
        // A mistyped directory would otherwise look like an empty database.
        if (!fs::is_directory(m_options.custom_dir, ec))
            throw REFUSED("custom directory '" + m_options.custom_dir + "' does not exist");
        custom = m_options.custom_dir;
        m_custom_dir_source = "option";
    } else if (!cfg_get_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR).empty()) {
        // Only read when set: on an unset entry the library would write "./" into the INI.
        custom = VORN_MGR::get_custom_dir_from_ini();
        m_custom_dir_source = "user-ini";
    }
    // Absolute, so that the directories the library compares are spelled the same way
    // wherever they come from (its maps hold absolute file paths).
    VORN_MGR::set_db_custom_dir(absolute_dir(custom));
    m_prepared = true;
}

void SESSION::load(const std::function<void()>& build) {
    // What the loaders post about a user file is shown with the file's name instead
    // (report_skipped_files); under --json the messages stay as posted.
    std::vector<MSG_RECORD> held;
    m_output.set_observer([&](const MSG_RECORD& record) {
        if (record.severity == 'D' || m_output.json_mode()) return false;
        held.push_back(record);
        return true;
    });
    struct OBSERVER_GUARD {
        OUTPUT& output;
        ~OBSERVER_GUARD() { output.set_observer({}); }
    } guard{m_output};
    build();
    m_loaded = true;
    guard.output.set_observer({});
    for (const MSG_RECORD& record : held) {
        bool of_a_file = false;
        for (VORN_MGR* mgr : VORN_HELPER::get_helper()->get_manager_list())
            for (const VORN_LOAD_REPORT& report : mgr->get_load_report())
                for (const VORN_LOAD_FINDING& posted : report.findings)
                    of_a_file = of_a_file || (posted.id == record.id && posted.text == record.text);
        if (!of_a_file) m_output.show_message(record);
    }
    report_skipped_files();
}

void SESSION::report_skipped_files() {
    std::set<std::string> referenced;
    for (VORN_MGR* mgr : VORN_HELPER::get_helper()->get_manager_list()) {
        for (const auto* map : {&mgr->get_flash_db_active_dir_map(), &mgr->get_zentro_dir_map(),
                                &mgr->get_custom_dir_map(), &mgr->get_template_db_dir_map()})
            for (const auto& entry : *map) referenced.insert(absolute_path(entry.second));
    }
    VORN_SDMMC_MGR* sdmmc = this->sdmmc();
    const bool sdmmc_files_read = sdmmc != nullptr && sdmmc->is_new_device_supported();
    // Each manager reads every user file, those of the other family too: a file counts as
    // skipped when no manager took anything of it, or when one posted about it.
    struct SKIPPED {
        DB_DIR dir;
        std::string file;
        std::vector<VORN_LOAD_FINDING> posted;
    };
    std::vector<SKIPPED> skipped;
    const std::string zentro = db_dir(DB_DIR::ZENTRO);
    for (VORN_MGR* mgr : VORN_HELPER::get_helper()->get_manager_list()) {
        for (const VORN_LOAD_REPORT& report : mgr->get_load_report()) {
            const std::string file = absolute_path(report.file);
            auto known = std::find_if(skipped.begin(), skipped.end(),
                                      [&](const SKIPPED& entry) { return entry.file == file; });
            if (known == skipped.end()) {
                const DB_DIR dir = directory_of(file) == zentro ? DB_DIR::ZENTRO : DB_DIR::CUSTOM;
                known = skipped.insert(skipped.end(), SKIPPED{dir, file, {}});
            }
            known->posted.insert(known->posted.end(), report.findings.begin(),
                                 report.findings.end());
        }
    }
    std::sort(skipped.begin(), skipped.end(), [](const SKIPPED& a, const SKIPPED& b) {
        return std::make_pair(a.dir != DB_DIR::ZENTRO, a.file) <
               std::make_pair(b.dir != DB_DIR::ZENTRO, b.file);
    });
    for (const SKIPPED& entry : skipped) {
        const std::string& file = entry.file;
        if (std::find(m_reported_files.begin(), m_reported_files.end(), file) !=
            m_reported_files.end())
            continue;
        const bool posted = !entry.posted.empty();
        // A file that gave nothing and drew no message may still be one the loaders
        // skipped quietly: a schema error, or an SD/MMC file while those are not read.
        if (!posted &&
            (referenced.count(file) > 0 || (vorn_is_sdmmc_file(file) && !sdmmc_files_read)))
            continue;
        m_reported_files.push_back(file);
        // The check finds the lines; the loaders' own messages are the fallback.
        CHECK_POLICY policy;
        policy.target = entry.dir;
        policy.replace = true;
        USER_FILE_CHECKER checker(*this, policy);
        std::vector<PROBLEM> problems = checker.check(file).problems;
        if (problems.empty())
            for (const VORN_LOAD_FINDING& r : entry.posted)
                problems.push_back(PROBLEM{0, r.severity, r.id, r.name, r.text});
        if (problems.empty()) continue;
        m_output.skipped(json{{"file", file}, {"problems", problems_json(problems)}});
        if (m_output.json_mode()) continue;
        for (const PROBLEM& p : problems)
            std::cerr << "vorn: skipped " << printable(file)
                      << (p.line > 0 ? ":" + std::to_string(p.line) : std::string()) << ": "
                      << printable(problem_text(p)) << '\n';
    }
}

VORN_QSPI_MGR* SESSION::qspi() {
    prepare();
    if (!m_loaded) load([] { VORN_HELPER::get_helper(); });
    auto* mgr =
        dynamic_cast<VORN_QSPI_MGR*>(VORN_HELPER::get_flash_manager(DEV_FAMILY_QSPI_FLASH, false));
    if (mgr == nullptr) throw std::runtime_error("the QSPI flash manager is missing");
    return mgr;
}

VORN_SDMMC_MGR* SESSION::sdmmc() {
    qspi();  // loads the database
    return dynamic_cast<VORN_SDMMC_MGR*>(
        VORN_HELPER::get_flash_manager(DEV_FAMILY_SDMMC_FLASH, false));
}

std::vector<VORN_MGR*> SESSION::managers() {
    qspi();
    return VORN_HELPER::get_helper()->get_manager_list();
}

VORN_MGR* SESSION::manager_of(const std::string& name) {
    managers();
    VORN_MGR* mgr = VORN_HELPER::get_flash_manager(name, true, false);
    if (mgr == nullptr && sdmmc() == nullptr) {
        want_sdmmc();
        mgr = VORN_HELPER::get_flash_manager(name, true, false);
    }
    if (mgr != nullptr && mgr->get_current_flash() == nullptr) return nullptr;
    return mgr;
}

VORN_MGR* SESSION::known_manager_of(const std::string& name) {
    VORN_MGR* mgr = manager_of(name);
    if (mgr != nullptr) return mgr;
    const std::vector<std::string> close = closest_names(name, device_names());
    m_output.data()["suggestions"] = close;
    throw REFUSED("no device named '" + name + "'" + did_you_mean(close));
}

std::vector<std::string> SESSION::device_names() {
    std::vector<std::string> names;
    for (VORN_MGR* mgr : managers())
        for (const auto& entry : mgr->get_flash_map()) names.push_back(entry.first);
    for (const auto& entry : qspi()->get_legacy_flash_map()) names.push_back(entry.first);
    return names;
}

std::string SESSION::db_dir(DB_DIR dir) {
    prepare();
    return dir == DB_DIR::CUSTOM ? VORN_MGR::get_db_custom_dir() : VORN_MGR::get_db_zentro_dir();
}

void SESSION::lock_database() {
    prepare();
    std::error_code ec;
    for (DB_DIR dir : {DB_DIR::ZENTRO, DB_DIR::CUSTOM})
        if (fs::is_directory(db_dir(dir), ec))
            m_locks.push_back(std::make_unique<VORN_DB_LOCK>(db_dir(dir)));
}

std::string SESSION::writable_dir(DB_DIR dir) {
    prepare();
    if (dir == DB_DIR::CUSTOM && !custom_dir_is_set())
        throw REFUSED(
            "no custom directory is set, so nothing was written; `vorn config set custom-dir DIR` "
            "sets one (or give --custom-dir DIR)");
    return db_dir(dir);
}

bool SESSION::judge(const std::string& field, const std::string& value,
                    const std::function<bool(std::string*)>& check,
                    const std::vector<VORN_MGR*>& choices) {
    std::string explanation;
    bool ok = false;
    std::vector<MSG_RECORD> records;
    {
        CAPTURE capture(m_output);
        ok = check(&explanation);
        records = capture.take();
    }
    if (ok) {
        for (const auto& record : records) m_output.show_message(record);
        return true;
    }
    const std::vector<VORN_MGR*> lists = choices.empty() ? std::vector<VORN_MGR*>{qspi()} : choices;
    m_output.reject(field, value, records, explanation, accepted_values(field, value, lists));
    return false;
}

void SESSION::explain_failed_save(VORN_MGR* mgr) {
    bool explained = false;
    for (const std::string& file : mgr->get_last_save_files().refused) {
        const auto it = mgr->get_files_not_loaded().find(file);
        if (it == mgr->get_files_not_loaded().end()) continue;
        m_output.error(printable(file) + " did not load (" + printable(it->second) +
                       "), so no save changes it; mend it (`vorn check " + printable(file) +
                       "` shows what is wrong) or move it out of " + directory_of(file) +
                       ", then run the command again");
        explained = true;
    }
    const std::string why = vorn_last_save_error(mgr);
    if (!explained && !why.empty()) m_output.error(printable(why));
}

bool SESSION::name_is_safe(const std::string& name, bool is_template) {
    if (!name_is_unsafe(name)) return true;
    // Loading reads files but writes none.
    VORN_QSPI_MGR* mgr = qspi();
    const std::string field = is_template ? "template name" : "device name";
    const bool accepted = judge(field, name, [&](std::string* msg) {
        return is_template ? mgr->template_name_is_valid(name, msg)
                           : mgr->device_name_is_valid(name, msg);
    });
    if (accepted) {
        // Only the length limit is the tool's own rule.
        m_output.reject(field, name, {}, name_too_long(name, is_template));
    }
    return false;
}

std::string name_too_long(const std::string& name, bool is_template) {
    return std::string(is_template ? "Template" : "Device") + " name '" + name +
           "' is invalid as it is longer than " + std::to_string(MAX_NAME_LENGTH) + " characters.";
}

}  // namespace vorn_tool
