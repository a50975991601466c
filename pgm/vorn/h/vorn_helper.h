// The process-wide facade through which a host reaches the flash database.
//
// Lifetimes: the helper owns its managers, and each manager owns its records, their operations
// and actions, and the template flows it hands out. refresh(), refresh_flash_managers(), clear(),
// and a get_*manager call with `renew` or `refresh_first` true delete the managers concerned:
// every manager, record, operation, action and template list pointer a host got from them
// dangles from then on. Drafts (records the host made and
// never saved, see vorn_host_api.h) stay the host's and outlive a refresh.
//
// Internal errors a host can cause: a programmer directory that is missing, lacks a file of
// xml/, xsd/ or dev/, or holds one that does not read (get_flash_manager and the others that
// build managers). vorn_open_flash_manager (vorn_host_api.h) answers those with a reason instead.
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

    // Deletes every manager, last first: every pointer they handed out dangles.
    void clear();
    // Rebuilds the managers: QSPI always, SD/MMC when "pgm_enable_sdmmc" is on. The old managers
    // are deleted with everything they own.
    void refresh();
    VORN_MGR* get_manager(DEV_FAMILY_ENUM family, bool renew);
    VORN_MGR* get_manager(PGMIO_CONFIG_SCHEME scheme, bool renew);
    VORN_MGR* get_manager(std::string flash_name, bool ignore_filter, bool refresh_first);

    // The managers in lookup order.
    const std::vector<VORN_MGR*>& get_manager_list() const { return m_mgr_list; }

    static VORN_HELPER* get_helper();
    // refresh() of the singleton: every manager and record pointer a host holds dangles.
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
