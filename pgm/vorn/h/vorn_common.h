// Vocabulary shared by every unit of the library: enumerations and their display tables.
#ifndef VORN_COMMON_H
#define VORN_COMMON_H

#include <string>

#include "pgm_host.h"

enum VORN_FLASH_PARAM {
    VORN_FLASH_PARAM_NAME = 0,
    VORN_FLASH_PARAM_ID = 1,
    VORN_FLASH_PARAM_IO_VOLTAGE = 2,
    VORN_FLASH_PARAM_DENSITY = 3,
    VORN_FLASH_PARAM_TOTAL_DIE = 4,
    VORN_FLASH_PARAM_DUMMY_CLK_CYCLE = 5,
    VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4 = 6,
    VORN_FLASH_PARAM_TEMPLATE_NAME = 7,
    VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE = 8
};

enum VORN_PROG_FLOW_TYPE { VORN_PROG_FLOW_TYPE_SFL = 0, VORN_PROG_FLOW_TYPE_SDM = 1 };

enum VORN_PROG_FLOW_TEMPLATE {
    VORN_PROG_FLOW_TEMPLATE_MICRON = 0,
    VORN_PROG_FLOW_TEMPLATE_MACRONIX = 1,
    VORN_PROG_FLOW_TEMPLATE_CYPRESS = 2,
    VORN_PROG_FLOW_TEMPLATE_WINBOND = 3,
    VORN_PROG_FLOW_TEMPLATE_ISSI = 4
};

enum VORN_OP_TYPE {
    VORN_OP_TYPE_INITIALIZATION = 0,
    VORN_OP_TYPE_PROGRAM = 1,
    VORN_OP_TYPE_ERASE = 2,
    VORN_OP_TYPE_VERIFY_BLANKCHECK_EXAMINE = 3,
    VORN_OP_TYPE_TERMINATION = 4
};

enum VORN_ACT_TYPE {
    VORN_ACT_TYPE_WRITE_REGISTER = 0,
    VORN_ACT_TYPE_READ_REGISTER = 1,
    VORN_ACT_TYPE_WRITE_DATA = 2,
    VORN_ACT_TYPE_READ_DATA = 3,
    VORN_ACT_TYPE_ERASE = 4,
    VORN_ACT_TYPE_CUSTOM = 5
};

// Each action type owns one contiguous run of members: its property list.
enum VORN_ACT_PROPERTY {
    VORN_ACT_PROPERTY_WRITE_REG_NAME = 0,
    VORN_ACT_PROPERTY_WRITE_REG_COMMAND = 1,
    VORN_ACT_PROPERTY_WRITE_REG_DATA = 2,
    VORN_ACT_PROPERTY_WRITE_REG_DELAY = 3,
    VORN_ACT_PROPERTY_WRITE_REG_BUS_WIDTH = 4,
    VORN_ACT_PROPERTY_READ_REG_NAME = 5,
    VORN_ACT_PROPERTY_READ_REG_COMMAND = 6,
    VORN_ACT_PROPERTY_READ_REG_DATA_LENGTH = 7,
    VORN_ACT_PROPERTY_READ_REG_EXPECTED_DATA = 8,
    VORN_ACT_PROPERTY_READ_REG_EXPECTED_DATA_MASK = 9,
    VORN_ACT_PROPERTY_READ_REG_ATTEMPT_COUNT = 10,
    VORN_ACT_PROPERTY_READ_REG_DELAY = 11,
    VORN_ACT_PROPERTY_READ_REG_BUS_WIDTH = 12,
    VORN_ACT_PROPERTY_WRITE_DATA_NAME = 13,
    VORN_ACT_PROPERTY_WRITE_DATA_COMMAND = 14,
    VORN_ACT_PROPERTY_WRITE_DATA_ADDRESS = 15,
    VORN_ACT_PROPERTY_WRITE_DATA_DATA = 16,
    VORN_ACT_PROPERTY_WRITE_DATA_PAGE_SIZE = 17,
    VORN_ACT_PROPERTY_WRITE_DATA_ADDRESSING_MODE = 18,
    VORN_ACT_PROPERTY_WRITE_DATA_DELAY = 19,
    VORN_ACT_PROPERTY_WRITE_DATA_BUS_WIDTH = 20,
    VORN_ACT_PROPERTY_READ_DATA_NAME = 21,
    VORN_ACT_PROPERTY_READ_DATA_COMMAND = 22,
    VORN_ACT_PROPERTY_READ_DATA_ADDRESS = 23,
    VORN_ACT_PROPERTY_READ_DATA_DATA_LENGTH = 24,
    VORN_ACT_PROPERTY_READ_DATA_EXPECTED_DATA = 25,
    VORN_ACT_PROPERTY_READ_DATA_EXPECTED_DATA_MASK = 26,
    VORN_ACT_PROPERTY_READ_DATA_ADDRESSING_MODE = 27,
    VORN_ACT_PROPERTY_READ_DATA_DUMMY_CLOCK_CYCLE = 28,
    VORN_ACT_PROPERTY_READ_DATA_DELAY = 29,
    VORN_ACT_PROPERTY_READ_DATA_BUS_WIDTH = 30,
    VORN_ACT_PROPERTY_ERASE_NAME = 31,
    VORN_ACT_PROPERTY_ERASE_COMMAND = 32,
    VORN_ACT_PROPERTY_ERASE_ADDRESS = 33,
    VORN_ACT_PROPERTY_ERASE_ERASE_SIZE = 34,
    VORN_ACT_PROPERTY_ERASE_ADDRESSING_MODE = 35,
    VORN_ACT_PROPERTY_ERASE_DELAY = 36,
    VORN_ACT_PROPERTY_ERASE_BUS_WIDTH = 37,
    VORN_ACT_PROPERTY_CUSTOM_DESCRIPTION = 38,
    VORN_ACT_PROPERTY_CUSTOM_DIRECTION = 39
};

inline constexpr const char* VORN_ACT_TYPE_NAME[6] = {
    "Write Register", "Read Register", "Write Data", "Read Data", "Erase", "Custom"};

inline constexpr const char* VORN_OP_TYPE_NAME[5] = {
    "Initialization", "Program", "Erase", "Verify/Blank-Check/Examine", "Termination"};

inline constexpr const char* VORN_OP_TYPE_DESC[5] = {
    "The Programmer engine performs the Initialization operation at the beginning of the "
    "Program, Erase, Verify, Blank-Check, or Examine operation during .jic file programming.",
    "The Programmer engine performs the Program operation when the Program option is enabled "
    "in the Programmer tool for .jic file programming.",
    "The Programmer engine performs the Erase operation when the Erase option is enabled in the "
    "Programmer tool for .jic file programming. The Programmer engine uses all erase actions "
    "specified between \xE2\x80\x9C"
    "Erase data\xE2\x80\x9D and \xE2\x80\x9C"
    "End of data?\xE2\x80\x9D to decide the optimal way of erasing the data.",
    "The Programmer engine performs the Verify/Blank-Check/Examine operation when the "
    "Verify/Blank-Check/Examine option is enabled in the Programmer tool for .jic file "
    "programming.",
    "The Programmer engine performs the Termination operation at the end of the Program, Erase, "
    "Verify, Blank-Check, or Examine operation during .jic file programming."};

inline constexpr int VORN_PROG_FLOW_TEMPLATE_COUNT = VORN_PROG_FLOW_TEMPLATE_ISSI + 1;

inline constexpr const char* VORN_PROG_FLOW_TEMPLATE_NAME[VORN_PROG_FLOW_TEMPLATE_COUNT] = {
    "Micron", "Macronix", "Cypress", "Winbond", "Issi"};

// The vendor template `name` names (VORN_PROG_FLOW_TEMPLATE), or -1 when it names none.
inline int vorn_vendor_template_index(const std::string& name) {
    for (int i = 0; i < VORN_PROG_FLOW_TEMPLATE_COUNT; ++i)
        if (name == VORN_PROG_FLOW_TEMPLATE_NAME[i]) return i;
    return -1;
}

inline constexpr const char* VORN_ACT_PROPERTY_NAME[40] = {
    // Write Register
    "Name:", "Command:", "Data:", "Delay(us):", "Command-Data(bus width):",
    // Read Register
    "Name:", "Command:", "Data length(byte):", "Expected data:", "Expected data mask:",
    "Attempt count:", "Delay(us):", "Command-Data(bus width):",
    // Write Data
    "Name:", "Command:", "Address:", "Data:", "Page size(byte):", "Addressing mode(byte):",
    "Delay(us):", "Command-Address-Data(bus width):",
    // Read Data
    "Name:", "Command:", "Address:", "Data length(byte):", "Expected data:",
    "Expected data mask:", "Addressing mode(byte):", "Dummy clock cycle:", "Delay(us):",
    "Command-Address-Data(bus width):",
    // Erase
    "Name:", "Command:", "Address:", "Erase size(byte):", "Addressing mode(byte):", "Delay(us):",
    "Command-Address(bus width):",
    // Custom
    "", ""};

#endif
