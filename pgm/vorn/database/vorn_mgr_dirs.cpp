// Where the database lives: the tool-suite directory, the custom one and its user INI entry.
#define VORN_SOURCE_FILE "pgm/vorn/vorn_mgr"

#include "vorn_internal.h"
#include "vorn_mgr.h"

static MEM_INITIALIZER mem_initializer("VORN");

namespace {

// The custom database directory of the process; shared by every manager, renewed ones too.
std::string m_custom_db_dir;

}  // namespace

std::string VORN_MGR::get_db_zentro_dir() {
    std::string dir = PGM_COMMON::pgm_get_common_programmer() + "xml/";
    PGM_COMMON::change_folder_slash(dir);
    return dir;
}

std::string VORN_MGR::get_db_custom_dir() {
    if (m_custom_db_dir.empty()) {
        m_custom_db_dir = "./";
        PGM_COMMON::change_folder_slash(m_custom_db_dir);
    }
    return m_custom_db_dir;
}

void VORN_MGR::set_db_custom_dir(std::string dir) {
    if (!dir.empty()) {
        dir += "/";
        PGM_COMMON::change_folder_slash(dir);
    }
    m_custom_db_dir = dir;
}

bool VORN_MGR::save_custom_dir_to_ini(std::string dir, bool force) {
    if (!force && (dir.empty() || !FIO_FILE_SYSTEM::exists(dir))) return false;
    std::string path = dir + "/";
    PGM_COMMON::change_folder_slash(path);
    std::string current = cfg_get_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR);
    if (gen_stricmp(path, current) == 0) return true;
    if (!cfg_set_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR, path)) return false;
    return cfg_write_user_ini_file();
}

std::string VORN_MGR::get_custom_dir_from_ini() {
    std::string value = cfg_get_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR);
    if (!value.empty()) {
        value += "/";
        PGM_COMMON::change_folder_slash(value);
        return value;
    }
    value = "./";
    PGM_COMMON::change_folder_slash(value);
    return save_custom_dir_to_ini(value, false) ? value : std::string();
}
