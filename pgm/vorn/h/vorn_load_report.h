// What a user file holds and what is wrong with it, line by line: vorn_check_user_file judges a
// file with the loaders' own reading and validators (their findings, VORN_LOAD_FINDING, are in
// vorn_mgr.h), so that a tool or a host can say where a file goes wrong without reading XML
// itself.
#ifndef VORN_LOAD_REPORT_H
#define VORN_LOAD_REPORT_H

#include <memory>
#include <string>
#include <vector>

#include "vorn_api.h"
#include "vorn_flash.h"
#include "vorn_mgr.h"

class VORN_QSPI_MGR;
class VORN_SDMMC_MGR;

// A device or user template a checked file holds. `record` is what a load would store (a user
// template's flows and VORN_FLASH_PARAM_TEMPLATE_NAME on a scratch record, for
// update_template_db), owned here; null when it has findings.
struct VORN_API VORN_LOAD_ENTRY {
    std::string name;
    int line = 0;                             // of its name
    int id_line = 0;                          // of its DEVICE_ID, QSPI devices only
    std::vector<VORN_LOAD_FINDING> findings;  // its values and flows refused, in file order
    std::unique_ptr<VORN_FLASH> record;
};

struct VORN_API VORN_USER_FILE_REPORT : VORN_LOAD_REPORT {
    bool sdmmc = false;  // an SD/MMC document (SDMMC_FLASH)
    bool read = false;   // read whole: the entries below are the file's
    // True when the managers would skip the file for a switch, not for its content (an SD/MMC
    // file while pgm_enable_custom_sdmmc is off); `note` says why.
    bool skipped_by_switch = false;
    std::string note;
    std::vector<VORN_LOAD_ENTRY> devices;
    std::vector<VORN_LOAD_ENTRY> templates;
};

// Whether the document element of `path` is SDMMC_FLASH; false for anything else or a file
// that cannot be read. Reads no more than the start of the file.
VORN_API bool vorn_is_sdmmc_file(const std::string& path);

// Reads `path` as the loaders read a user file (the schema of its family first) and judges every
// value of it with the described validators, which post their warnings; where a load stops at
// the first refused device, this goes on and reports them all with their lines. Names are not
// judged against the database, and nothing enters the maps. `sdmmc` may be null: an SD/MMC file
// is then reported as one that cannot be read. A golden template is refused as a user file.
VORN_API VORN_USER_FILE_REPORT vorn_check_user_file(VORN_QSPI_MGR* qspi, VORN_SDMMC_MGR* sdmmc,
                                                    const std::string& path);

#endif
