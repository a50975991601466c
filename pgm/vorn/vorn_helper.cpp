#define VORN_SOURCE_FILE "pgm/vorn/vorn_helper"

#include "vorn_helper.h"

#include <algorithm>
#include <memory>

#include "vorn_internal.h"
#include "vorn_qspi_mgr.h"
#include "vorn_sdmmc_mgr.h"

static MEM_INITIALIZER mem_initializer("VORN");

// The flash family the host last chose; outlives refreshes and the managers themselves.
static DEV_FAMILY_ENUM m_active_flash_family = DEV_FAMILY_QSPI_FLASH;

VORN_HELPER::VORN_HELPER() { refresh(); }

VORN_HELPER::~VORN_HELPER() {
    clear();
    std::vector<VORN_MGR*>().swap(m_mgr_list);
}

void VORN_HELPER::clear() {
    while (!m_mgr_list.empty()) {
        VORN_MGR*& last = m_mgr_list.back();
        delete last;
        last = nullptr;
        m_mgr_list.pop_back();
    }
}

void VORN_HELPER::refresh() {
    clear();
    // Each manager is owned by the list as soon as it exists, so a failing second
    // construction leaves no first one behind unowned.
    m_mgr_list.reserve(2);
    m_mgr_list.push_back(new VORN_QSPI_MGR);
    if (cfg_is_on("pgm_enable_sdmmc", false)) m_mgr_list.push_back(new VORN_SDMMC_MGR);
}

VORN_MGR* VORN_HELPER::renew_manager(size_t index) {
    std::unique_ptr<VORN_MGR> manager(m_mgr_list[index]->get_new_instance());
    VORN_CHECK(manager, "manager");
    // Room first, so that nothing below can fail half-way through the swap.
    m_mgr_list.reserve(m_mgr_list.size() + 1);
    delete m_mgr_list[index];
    m_mgr_list[index] = nullptr;
    m_mgr_list.erase(m_mgr_list.begin() + static_cast<std::ptrdiff_t>(index));
    m_mgr_list.push_back(manager.release());
    return m_mgr_list.back();
}

VORN_MGR* VORN_HELPER::get_manager(DEV_FAMILY_ENUM family, bool renew) {
    VORN_CHECK(m_mgr_list.size() > 0, "m_mgr_list.size() > 0");
    for (size_t i = 0; i < m_mgr_list.size(); ++i) {
        if (m_mgr_list[i]->get_flash_family() != family) continue;
        return renew ? renew_manager(i) : m_mgr_list[i];
    }
    return nullptr;
}

VORN_MGR* VORN_HELPER::get_manager(PGMIO_CONFIG_SCHEME scheme, bool renew) {
    VORN_CHECK(m_mgr_list.size() > 0, "m_mgr_list.size() > 0");
    for (size_t i = 0; i < m_mgr_list.size(); ++i) {
        std::vector<PGMIO_CONFIG_SCHEME> schemes = m_mgr_list[i]->get_config_mode_list();
        if (std::find(schemes.begin(), schemes.end(), scheme) == schemes.end()) continue;
        return renew ? renew_manager(i) : m_mgr_list[i];
    }
    return nullptr;
}

VORN_MGR* VORN_HELPER::get_manager(std::string flash_name, bool ignore_filter, bool refresh_first) {
    if (refresh_first) refresh();
    VORN_CHECK(m_mgr_list.size() > 0, "m_mgr_list.size() > 0");
    for (VORN_MGR* manager : m_mgr_list)
        if (manager->get_flash(flash_name, ignore_filter) != nullptr) return manager;
    return nullptr;
}

VORN_HELPER* VORN_HELPER::get_helper() {
    // Function-local static: created once, safely, by whichever thread comes first.
    static VORN_HELPER singleton_helper;
    return &singleton_helper;
}

void VORN_HELPER::refresh_flash_managers() { get_helper()->refresh(); }

VORN_MGR* VORN_HELPER::get_flash_manager(DEV_FAMILY_ENUM family, bool renew) {
    return get_helper()->get_manager(family, renew);
}

VORN_MGR* VORN_HELPER::get_flash_manager(PGMIO_CONFIG_SCHEME scheme, bool renew) {
    return get_helper()->get_manager(scheme, renew);
}

VORN_MGR* VORN_HELPER::get_flash_manager(std::string flash_name, bool ignore_filter,
                                         bool refresh_first) {
    return get_helper()->get_manager(std::move(flash_name), ignore_filter, refresh_first);
}

VORN_MGR* VORN_HELPER::get_active_flash_manager(bool renew) {
    return get_helper()->get_manager(m_active_flash_family, renew);
}

bool VORN_HELPER::is_supported_family(DEV_FAMILY_ENUM family) {
    return get_flash_manager(family, false) != nullptr;
}

bool VORN_HELPER::is_supported_family(DEV_FAMILY_ENUM flash_family, DEV_FAMILY_ENUM device_family) {
    VORN_MGR* manager = get_flash_manager(flash_family, false);
    if (manager == nullptr) return false;
    std::vector<DEV_FAMILY_ENUM> families = manager->get_device_family_list();
    return std::find(families.begin(), families.end(), device_family) != families.end();
}

bool VORN_HELPER::is_supported_mode(PGMIO_CONFIG_SCHEME scheme) {
    return get_flash_manager(scheme, false) != nullptr;
}

bool VORN_HELPER::set_active_flash_family(DEV_FAMILY_ENUM family) {
    if (!is_supported_family(family)) return false;
    m_active_flash_family = family;
    return true;
}

bool VORN_HELPER::set_active_flash_family(PGMIO_CONFIG_SCHEME scheme) {
    VORN_MGR* manager = get_flash_manager(scheme, false);
    if (manager == nullptr) return false;
    m_active_flash_family = manager->get_flash_family();
    return true;
}

DEV_FAMILY_ENUM VORN_HELPER::get_active_flash_family() { return m_active_flash_family; }

namespace {

bool is_database_device(VORN_MGR* manager, const std::string& flash_name, bool ignore_filter) {
    if (manager == nullptr) return false;
    return manager->device_exist_in_db(flash_name, ignore_filter) &&
           !manager->device_is_legacy(flash_name, ignore_filter);
}

}  // namespace

bool VORN_HELPER::is_vorn_flash(std::string flash_name, DEV_FAMILY_ENUM family, bool ignore_filter,
                                bool renew) {
    return is_database_device(get_flash_manager(family, renew), flash_name, ignore_filter);
}

bool VORN_HELPER::is_vorn_flash(std::string flash_name, PGMIO_CONFIG_SCHEME scheme,
                                bool ignore_filter, bool renew) {
    return is_database_device(get_flash_manager(scheme, renew), flash_name, ignore_filter);
}

bool VORN_HELPER::is_vorn_flash(std::string flash_name, bool ignore_filter, bool refresh_first) {
    VORN_MGR* manager = get_flash_manager(flash_name, ignore_filter, refresh_first);
    if (manager == nullptr) return false;
    return !manager->device_is_legacy(flash_name, ignore_filter);
}
