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

// Each action type owns one contiguous run of members: its property list. Each member has its
// row in VORN_ACT_PROPERTY_TABLE below.
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

inline constexpr int VORN_ACT_TYPE_COUNT = VORN_ACT_TYPE_CUSTOM + 1;

inline constexpr const char* VORN_ACT_TYPE_NAME[VORN_ACT_TYPE_COUNT] = {
    "Write Register", "Read Register", "Write Data", "Read Data", "Erase", "Custom"};

inline constexpr int VORN_OP_TYPE_COUNT = VORN_OP_TYPE_TERMINATION + 1;

inline constexpr const char* VORN_OP_TYPE_NAME[VORN_OP_TYPE_COUNT] = {
    "Initialization", "Program", "Erase", "Verify/Blank-Check/Examine", "Termination"};

inline constexpr const char* VORN_OP_TYPE_DESC[VORN_OP_TYPE_COUNT] = {
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

// Every action property once, in VORN_ACT_PROPERTY order: the library's actions, reader and
// writer, the flow checks and the tool all derive from these rows, so a new property is its
// member in the enum above and one row here (vorn_action_properties.h checks the rows at
// compile time).
//   X(member, type, label, tag, key, form, default, rule)
//   member   VORN_ACT_PROPERTY_<member>
//   type     VORN_ACT_TYPE_<type>, the action type whose property list holds it; the rows of
//            one type are one run, in type order
//   label    its entry of VORN_ACT_PROPERTY_NAME
//   tag      PGM_COMMON_XML_ENUM_<tag>, the child of ACTION that carries it; also what it is to
//            code that looks for an action's command, address and the like
//   key      its key in the tool's JSON
//   form     VORN_ACT_FORM_<form>, how that child holds the value
//   default  the text a new action starts with; nullptr for none
//   rule     VORN_ACT_RULE_<rule>, what property_value_is_valid accepts
#define VORN_ACT_PROPERTY_TABLE(X)                                                                 \
    X(WRITE_REG_NAME, WRITE_REGISTER, "Name:", NAME, "name", TEXT, nullptr, NAME)                  \
    X(WRITE_REG_COMMAND, WRITE_REGISTER, "Command:", COMMAND, "command", TEXT, nullptr, COMMAND)   \
    X(WRITE_REG_DATA, WRITE_REGISTER, "Data:", DATA, "data", TEXT, nullptr, DATA)                  \
    X(WRITE_REG_DELAY, WRITE_REGISTER, "Delay(us):", DELAY, "delay", MICROSECONDS, "0", DELAY)     \
    X(WRITE_REG_BUS_WIDTH, WRITE_REGISTER, "Command-Data(bus width):", BUS_WIDTH, "bus_width",     \
      TEXT, VORN_QSPI_ACT_PROPERTY_BUS_WIDTH_TWO, BUS_WIDTH_TWO)                                   \
    X(READ_REG_NAME, READ_REGISTER, "Name:", NAME, "name", TEXT, nullptr, NAME)                    \
    X(READ_REG_COMMAND, READ_REGISTER, "Command:", COMMAND, "command", TEXT, nullptr, COMMAND)     \
    X(READ_REG_DATA_LENGTH, READ_REGISTER, "Data length(byte):", DATA_LENGTH, "data_length", TEXT, \
      nullptr, DATA_LENGTH)                                                                        \
    X(READ_REG_EXPECTED_DATA, READ_REGISTER, "Expected data:", EXPECTED_DATA, "expected_data",     \
      TEXT, nullptr, EXPECTED_DATA)                                                                \
    X(READ_REG_EXPECTED_DATA_MASK, READ_REGISTER, "Expected data mask:", EXPECTED_DATA_MASK,       \
      "expected_data_mask", TEXT, nullptr, DATA_MASK)                                              \
    X(READ_REG_ATTEMPT_COUNT, READ_REGISTER, "Attempt count:", ATTEMPT_COUNT, "attempt_count",     \
      NUMBER, "1", ATTEMPT_COUNT)                                                                  \
    X(READ_REG_DELAY, READ_REGISTER, "Delay(us):", DELAY, "delay", MICROSECONDS, "0", DELAY)       \
    X(READ_REG_BUS_WIDTH, READ_REGISTER, "Command-Data(bus width):", BUS_WIDTH, "bus_width", TEXT, \
      VORN_QSPI_ACT_PROPERTY_BUS_WIDTH_TWO, BUS_WIDTH_TWO)                                         \
    X(WRITE_DATA_NAME, WRITE_DATA, "Name:", NAME, "name", TEXT, nullptr, NAME)                     \
    X(WRITE_DATA_COMMAND, WRITE_DATA, "Command:", COMMAND, "command", TEXT, nullptr, COMMAND)      \
    X(WRITE_DATA_ADDRESS, WRITE_DATA, "Address:", ADDRESS, "address", TEXT, nullptr, ADDRESS)      \
    X(WRITE_DATA_DATA, WRITE_DATA, "Data:", DATA, "data", TEXT, nullptr, DATA)                     \
    X(WRITE_DATA_PAGE_SIZE, WRITE_DATA, "Page size(byte):", PAGE_SIZE, "page_size", NUMBER, "256", \
      PAGE_SIZE)                                                                                   \
    X(WRITE_DATA_ADDRESSING_MODE, WRITE_DATA, "Addressing mode(byte):", ADDRESSING_MODE,           \
      "addressing_mode", NUMBER, nullptr, ADDRESSING_MODE)                                         \
    X(WRITE_DATA_DELAY, WRITE_DATA, "Delay(us):", DELAY, "delay", MICROSECONDS, "0", DELAY)        \
    X(WRITE_DATA_BUS_WIDTH, WRITE_DATA, "Command-Address-Data(bus width):", BUS_WIDTH,             \
      "bus_width", TEXT, VORN_QSPI_ACT_PROPERTY_BUS_WIDTH_THREE, BUS_WIDTH_THREE)                  \
    X(READ_DATA_NAME, READ_DATA, "Name:", NAME, "name", TEXT, nullptr, NAME)                       \
    X(READ_DATA_COMMAND, READ_DATA, "Command:", COMMAND, "command", TEXT, nullptr, COMMAND)        \
    X(READ_DATA_ADDRESS, READ_DATA, "Address:", ADDRESS, "address", TEXT, nullptr, ADDRESS)        \
    X(READ_DATA_DATA_LENGTH, READ_DATA, "Data length(byte):", DATA_LENGTH, "data_length", TEXT,    \
      nullptr, DATA_LENGTH)                                                                        \
    X(READ_DATA_EXPECTED_DATA, READ_DATA, "Expected data:", EXPECTED_DATA, "expected_data", TEXT,  \
      nullptr, EXPECTED_DATA)                                                                      \
    X(READ_DATA_EXPECTED_DATA_MASK, READ_DATA, "Expected data mask:", EXPECTED_DATA_MASK,          \
      "expected_data_mask", TEXT, nullptr, DATA_MASK)                                              \
    X(READ_DATA_ADDRESSING_MODE, READ_DATA, "Addressing mode(byte):", ADDRESSING_MODE,             \
      "addressing_mode", NUMBER, nullptr, ADDRESSING_MODE)                                         \
    X(READ_DATA_DUMMY_CLOCK_CYCLE, READ_DATA, "Dummy clock cycle:", ACT_DUMMY_CLOCK_CYCLE,         \
      "dummy_clock_cycle", NUMBER, nullptr, DUMMY_CLOCK_CYCLE)                                     \
    X(READ_DATA_DELAY, READ_DATA, "Delay(us):", DELAY, "delay", MICROSECONDS, "0", DELAY)          \
    X(READ_DATA_BUS_WIDTH, READ_DATA, "Command-Address-Data(bus width):", BUS_WIDTH, "bus_width",  \
      TEXT, VORN_QSPI_ACT_PROPERTY_BUS_WIDTH_THREE, BUS_WIDTH_THREE)                               \
    X(ERASE_NAME, ERASE, "Name:", NAME, "name", TEXT, nullptr, NAME)                               \
    X(ERASE_COMMAND, ERASE, "Command:", COMMAND, "command", TEXT, nullptr, COMMAND)                \
    X(ERASE_ADDRESS, ERASE, "Address:", ADDRESS, "address", TEXT, nullptr, ADDRESS)                \
    X(ERASE_ERASE_SIZE, ERASE, "Erase size(byte):", ERASE_SIZE, "erase_size", NUMBER, nullptr,     \
      ERASE_SIZE)                                                                                  \
    X(ERASE_ADDRESSING_MODE, ERASE, "Addressing mode(byte):", ADDRESSING_MODE, "addressing_mode",  \
      NUMBER, nullptr, ADDRESSING_MODE)                                                            \
    X(ERASE_DELAY, ERASE, "Delay(us):", DELAY, "delay", MICROSECONDS, "0", DELAY)                  \
    X(ERASE_BUS_WIDTH, ERASE, "Command-Address(bus width):", BUS_WIDTH, "bus_width", TEXT,         \
      VORN_QSPI_ACT_PROPERTY_BUS_WIDTH_TWO, BUS_WIDTH_TWO)                                         \
    X(CUSTOM_DESCRIPTION, CUSTOM, "", DESCRIPTION, "description", LINES, nullptr,                  \
      CUSTOM_DESCRIPTION)                                                                          \
    X(CUSTOM_DIRECTION, CUSTOM, "", DIRECTION, "direction", TEXT, nullptr, CUSTOM_DIRECTION)

#define VORN_ACT_PROPERTY_ONE(...) +1
inline constexpr int VORN_ACT_PROPERTY_COUNT = 0 VORN_ACT_PROPERTY_TABLE(VORN_ACT_PROPERTY_ONE);
#undef VORN_ACT_PROPERTY_ONE
// A member added after the last one moves this check along.
static_assert(VORN_ACT_PROPERTY_COUNT == VORN_ACT_PROPERTY_CUSTOM_DIRECTION + 1,
              "one row of VORN_ACT_PROPERTY_TABLE per member, up to the last");

#define VORN_ACT_PROPERTY_LABEL(member, type, label, ...) label,
inline constexpr const char* VORN_ACT_PROPERTY_NAME[VORN_ACT_PROPERTY_COUNT] = {
    VORN_ACT_PROPERTY_TABLE(VORN_ACT_PROPERTY_LABEL)};
#undef VORN_ACT_PROPERTY_LABEL

#endif
