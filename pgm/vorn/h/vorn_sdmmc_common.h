// Vocabulary of the SD/MMC family: choice lists.
#ifndef VORN_SDMMC_COMMON_H
#define VORN_SDMMC_COMMON_H

#include "vorn_common.h"

inline constexpr const char* VORN_SDMMC_IO_VOLTAGE = "1.8V";

inline constexpr const char* VORN_SDMMC_DENSITY[10] = {"1GB",  "2GB",  "4GB",   "8GB",   "16GB",
                                                       "32GB", "64GB", "128GB", "256GB", "512GB"};

#endif
