// Vocabulary of the SD/MMC family: choice lists.
#ifndef VORN_SDMMC_COMMON_H
#define VORN_SDMMC_COMMON_H

#include "vorn_common.h"

inline constexpr const char* VORN_SDMMC_IO_VOLTAGE = "1.8V";

// The golden template: the file of xml/ in the programmer directory with the built-in cards.
inline constexpr const char* VORN_SDMMC_GOLDEN_TEMPLATE_FILE = "pgm_flash_db_sdmmc.xml";

// The device family a new SD/MMC manager starts with, until the host sets its own.
inline constexpr int VORN_SDMMC_INITIAL_DEVICE_FAMILY = 48;

inline constexpr const char* VORN_SDMMC_DENSITY[10] = {"1GB",  "2GB",  "4GB",   "8GB",   "16GB",
                                                       "32GB", "64GB", "128GB", "256GB", "512GB"};

#endif
