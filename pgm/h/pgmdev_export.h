// Host device knowledge: device families and the legacy flash list.
#ifndef PGM_H_PGMDEV_EXPORT_H
#define PGM_H_PGMDEV_EXPORT_H

#include "pgm_api.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

// Device and flash families of the host. Only the values matter to the library.
enum DEV_FAMILY_ENUM : int {
    DEV_FAMILY_NONE = 0,
    DEV_FAMILY_QSPI_FLASH = 10,
    DEV_FAMILY_SDMMC_FLASH = 55,
};

// Configuration schemes of the host.
enum PGMIO_CONFIG_SCHEME : int {
    PGMIO_CONFIG_SCHEME_NONE = 0,
    PGMIO_CONFIG_SCHEME_AS_X1 = 7,
    PGMIO_CONFIG_SCHEME_AS_X4 = 13,
    PGMIO_CONFIG_SCHEME_SDMMC_X4 = 23,
    PGMIO_CONFIG_SCHEME_SDMMC_X8 = 24,
};

// One section of <programmer>/dev/families.ini.
struct PGM_API PGMDEV_DEV_INFO {
    DEV_FAMILY_ENUM family = DEV_FAMILY_NONE;
    std::string name;
    bool enabled = false;
    bool sdm = false;
    bool sdmmc = false;
    std::string flash_io_voltage;
};

struct PGM_API PGMDEV_SUPPORTED_FAMILY {
    DEV_FAMILY_ENUM family = DEV_FAMILY_NONE;
    std::string name;
};

// Reads <programmer>/dev/families.ini (once per file change, shared by every instance).
class PGM_API PGMDEV_DEV_INFO_MANAGER {
public:
    PGMDEV_DEV_INFO_MANAGER(bool load_all, int option);
    // The family's record, or null when the file has no such section.
    const PGMDEV_DEV_INFO* get_db_by_family(DEV_FAMILY_ENUM family) const;

    // The sections in file order.
    std::vector<PGMDEV_SUPPORTED_FAMILY> m_supported_family_list;

private:
    std::shared_ptr<const std::map<int, PGMDEV_DEV_INFO>> m_records;
};

// One section of <programmer>/dev/legacy_flash.ini.
struct PGM_API PGMDEV_SFL_FLASH_INFO {
    std::string name;
    bool enabled = false;
    std::string io_voltage;
    std::string group;   // the record's text field
    unsigned int order = 0;  // its numeric ordering field
};

// Reads <programmer>/dev/legacy_flash.ini (once per file change, shared by every instance).
class PGM_API PGMDEV_FLASH_MANAGER {
public:
    PGMDEV_FLASH_MANAGER(bool load_all, int option, bool flag_a, bool flag_b);
    // The records in file order.
    const std::vector<PGMDEV_SFL_FLASH_INFO>& get_flash_info_list() const;
    // The record of `name`, or null.
    const PGMDEV_SFL_FLASH_INFO* get_default_flash(const std::string& name) const;

private:
    struct DATA;
    std::shared_ptr<const DATA> m_data;
};

#endif
