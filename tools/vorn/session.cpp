// The database as the tool sees it: directories, managers, validators, safe names.
#include <filesystem>

#include "vorn_tool.h"

namespace fs = std::filesystem;

namespace vorn_tool {

namespace {

constexpr size_t MAX_NAME_LENGTH = 128;

// Names that could leave the directory they are meant for, or mean nothing as a file name.
bool name_is_unsafe(const std::string& name) {
    static const std::string separators("/\\\0", 3);
    return name.empty() || name == "db" || name.size() > MAX_NAME_LENGTH ||
           name.find_first_of(separators) != std::string::npos ||
           name.find("..") != std::string::npos;
}

}  // namespace

const char* db_dir_name(DB_DIR dir) { return dir == DB_DIR::CUSTOM ? "custom" : "zentro"; }

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

SESSION::SESSION(const OPTIONS& options, OUTPUT& output) : m_options(options), m_output(output) {}

void SESSION::want_sdmmc() {
    if (cfg_is_on("pgm_enable_sdmmc", false)) return;
    cfg_set_switch("pgm_enable_sdmmc", true);
    // Managers built before the switch was set lack SD/MMC; build them again.
    if (m_prepared) VORN_HELPER::refresh_flash_managers();
}

void SESSION::prepare(bool may_write_ini) {
    if (m_prepared) return;
    if (!m_options.programmer_dir.empty()) {
        std::error_code ec;
        if (!fs::is_directory(m_options.programmer_dir, ec))
            throw REFUSED("programmer directory '" + m_options.programmer_dir + "' does not exist");
        PGM_COMMON::set_common_programmer(absolute_dir(m_options.programmer_dir));
    }
    // Without its golden template the library cannot load at all; say where we looked.
    const std::string programmer = PGM_COMMON::pgm_get_common_programmer();
    std::error_code ec;
    if (!fs::is_regular_file(programmer + "xml/pgm_flash_db_qspi.xml", ec))
        throw NO_DATABASE("no flash database in " + programmer +
                          " (xml/pgm_flash_db_qspi.xml is missing); give --programmer-dir DIR "
                          "or set VORN_PROGRAMMER_DIR");
    std::string custom;
    if (!m_options.custom_dir.empty()) {
        custom = m_options.custom_dir;
        m_custom_dir_source = "option";
    } else if (may_write_ini || !cfg_get_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR).empty()) {
        custom = VORN_MGR::get_custom_dir_from_ini();
        m_custom_dir_source = "user-ini";
    }
    if (custom.empty()) {
        // No stored directory (or it could not be stored): the library's default, "./".
        custom = "./";
        if (m_custom_dir_source.empty()) m_custom_dir_source = "default";
    }
    // Absolute, so that the directories the library compares are spelled the same way
    // wherever they come from (its maps hold absolute file paths).
    VORN_MGR::set_db_custom_dir(absolute_dir(custom));
    m_prepared = true;
}

VORN_QSPI_MGR* SESSION::qspi() {
    prepare();
    auto* mgr =
        dynamic_cast<VORN_QSPI_MGR*>(VORN_HELPER::get_flash_manager(DEV_FAMILY_QSPI_FLASH, false));
    if (mgr == nullptr) throw std::runtime_error("the QSPI flash manager is missing");
    return mgr;
}

VORN_SDMMC_MGR* SESSION::sdmmc() {
    prepare();
    return dynamic_cast<VORN_SDMMC_MGR*>(
        VORN_HELPER::get_flash_manager(DEV_FAMILY_SDMMC_FLASH, false));
}

std::vector<VORN_MGR*> SESSION::managers() {
    qspi();  // builds the helper
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

std::string SESSION::db_dir(DB_DIR dir) {
    prepare();
    return dir == DB_DIR::CUSTOM ? VORN_MGR::get_db_custom_dir() : VORN_MGR::get_db_zentro_dir();
}

bool SESSION::judge(const std::string& field, const std::string& value,
                    const std::function<bool(std::string*)>& check) {
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
    m_output.reject(field, value, records, explanation);
    return false;
}

bool SESSION::name_is_safe(const std::string& name, bool is_template) {
    if (!name_is_unsafe(name)) return true;
    // Loading reads files but writes none; the user INI stays as it is.
    prepare(false);
    VORN_QSPI_MGR* mgr = qspi();
    const std::string field = is_template ? "template name" : "device name";
    const bool accepted = judge(field, name, [&](std::string* msg) {
        return is_template ? mgr->template_name_is_valid(name, msg)
                           : mgr->device_name_is_valid(name, msg);
    });
    if (accepted) {
        // Only the length limit is the tool's own rule.
        m_output.reject(field, name, {},
                        std::string(is_template ? "Template" : "Device") + " name '" + name +
                            "' is invalid as it is longer than " + std::to_string(MAX_NAME_LENGTH) +
                            " characters.");
    }
    return false;
}

}  // namespace vorn_tool
