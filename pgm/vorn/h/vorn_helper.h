// The process-wide facade through which a host reaches the flash database.
#ifndef VORN_HELPER_H
#define VORN_HELPER_H

#include "vorn_api.h"

#include <string>
#include <vector>

#include "vorn_mgr.h"

class VORN_API VORN_HELPER {
public:
    VORN_HELPER();
    ~VORN_HELPER();
    VORN_HELPER(const VORN_HELPER&) = delete;
    VORN_HELPER& operator=(const VORN_HELPER&) = delete;

    // Deletes every manager, last first.
    void clear();
    // Rebuilds the managers: QSPI always, SD/MMC when "pgm_enable_sdmmc" is on.
    void refresh();
    VORN_MGR* get_manager(DEV_FAMILY_ENUM family, bool renew);
    VORN_MGR* get_manager(PGMIO_CONFIG_SCHEME scheme, bool renew);
    VORN_MGR* get_manager(std::string flash_name, bool ignore_filter, bool refresh_first);

    // The managers in lookup order.
    const std::vector<VORN_MGR*>& get_manager_list() const { return m_mgr_list; }

    static VORN_HELPER* get_helper();
    static void refresh_flash_managers();
    static VORN_MGR* get_flash_manager(DEV_FAMILY_ENUM family, bool renew);
    static VORN_MGR* get_flash_manager(PGMIO_CONFIG_SCHEME scheme, bool renew);
    static VORN_MGR* get_flash_manager(std::string flash_name, bool ignore_filter,
                                       bool refresh_first);
    static VORN_MGR* get_active_flash_manager(bool renew);
    static bool is_supported_family(DEV_FAMILY_ENUM family);
    static bool is_supported_family(DEV_FAMILY_ENUM flash_family, DEV_FAMILY_ENUM device_family);
    static bool is_supported_mode(PGMIO_CONFIG_SCHEME scheme);
    static bool set_active_flash_family(DEV_FAMILY_ENUM family);
    static bool set_active_flash_family(PGMIO_CONFIG_SCHEME scheme);
    static DEV_FAMILY_ENUM get_active_flash_family();
    static bool is_vorn_flash(std::string flash_name, DEV_FAMILY_ENUM family, bool ignore_filter,
                              bool renew);
    static bool is_vorn_flash(std::string flash_name, PGMIO_CONFIG_SCHEME scheme,
                              bool ignore_filter, bool renew);
    static bool is_vorn_flash(std::string flash_name, bool ignore_filter, bool refresh_first);

private:
    VORN_MGR* renew_manager(size_t index);

    std::vector<VORN_MGR*> m_mgr_list;
};

#endif
