// Reads one shipped device through the installed library, as an embedding host would.
#include <cstdio>
#include <string>

#include "pgm_host.h"
#include "vorn.h"

int main(int argc, char** argv) {
    const std::string name = argc > 1 ? argv[1] : "MT25QL128";
    try {
        VORN_MGR* mgr = VORN_HELPER::get_flash_manager(DEV_FAMILY_QSPI_FLASH, false);
        if (mgr == nullptr) {
            std::fprintf(stderr, "no QSPI manager\n");
            return 1;
        }
        VORN_FLASH* flash = mgr->get_flash(name, true);
        if (flash == nullptr) {
            std::fprintf(stderr, "no device %s\n", name.c_str());
            return 1;
        }
        std::printf("programmer %s\n", PGM_COMMON::pgm_get_common_programmer().c_str());
        std::printf("device %s id %s density %s bytes %llu\n", flash->get_name().c_str(),
                    flash->get_parameter_value(VORN_FLASH_PARAM_ID).c_str(),
                    flash->get_density().c_str(), flash->get_density_in_bytes_qword());
        std::printf("version %s\n", vorn_version());
    } catch (const VORN_INTERNAL_ERROR& e) {
        std::fprintf(stderr, "Internal Error: %s (%s:%d)\n", e.what(), e.file().c_str(), e.line());
        return 3;
    }
    return 0;
}
