// Vocabulary of the QSPI family: choice lists and the default bus widths of actions.
#ifndef VORN_QSPI_COMMON_H
#define VORN_QSPI_COMMON_H

#include "vorn_common.h"

inline constexpr const char* VORN_QSPI_IO_VOLTAGE[2] = {"1.8V", "3.0V/3.3V"};

inline constexpr const char* VORN_QSPI_DENSITY[12] = {"1Mb",   "2Mb",   "4Mb",    "8Mb",
                                                      "16Mb",  "32Mb",  "64Mb",   "128Mb",
                                                      "256Mb", "512Mb", "1024Mb", "2048Mb"};

// The device dummy clock cycles a QSPI device may have: 0 to this.
inline constexpr unsigned int VORN_QSPI_DUMMY_CLOCK_CYCLE_MAX = 15;

// The golden template: the file of xml/ in the programmer directory that holds the vendor
// templates and the built-in devices.
inline constexpr const char* VORN_QSPI_GOLDEN_TEMPLATE_FILE = "pgm_flash_db_qspi.xml";

// The ID bytes a lookup by ID compares (get_id_in_dword): the first of a device's ID bytes.
inline constexpr unsigned int VORN_QSPI_LOOKUP_ID_BYTES = 4;

// The device family a new QSPI manager starts with, until the host sets its own.
inline constexpr int VORN_QSPI_INITIAL_DEVICE_FAMILY = 73;

// Command-data (or command-address) and command-address-data bus widths.
inline constexpr const char* VORN_QSPI_ACT_PROPERTY_BUS_WIDTH_TWO = "1-1";
inline constexpr const char* VORN_QSPI_ACT_PROPERTY_BUS_WIDTH_THREE = "1-1-1";

#endif
