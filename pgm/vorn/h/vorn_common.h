// Vocabulary shared by every unit of the library: enumerations and their display tables.
#ifndef VORN_COMMON_H
#define VORN_COMMON_H

#include <string>

#include "pgm_host.h"
#include "vorn_act_property_table.h"

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

// Each action type owns one contiguous run of members: its property list. The members are
// the rows of VORN_ACT_PROPERTY_TABLE, numbered from 0 in row order.
#define VORN_ACT_PROPERTY_MEMBER(member, ...) VORN_ACT_PROPERTY_##member,
enum VORN_ACT_PROPERTY { VORN_ACT_PROPERTY_TABLE(VORN_ACT_PROPERTY_MEMBER) };
#undef VORN_ACT_PROPERTY_MEMBER

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

#define VORN_ACT_PROPERTY_ONE(...) +1
inline constexpr int VORN_ACT_PROPERTY_COUNT = 0 VORN_ACT_PROPERTY_TABLE(VORN_ACT_PROPERTY_ONE);
#undef VORN_ACT_PROPERTY_ONE

#define VORN_ACT_PROPERTY_LABEL(member, type, label, ...) label,
inline constexpr const char* VORN_ACT_PROPERTY_NAME[VORN_ACT_PROPERTY_COUNT] = {
    VORN_ACT_PROPERTY_TABLE(VORN_ACT_PROPERTY_LABEL)};
#undef VORN_ACT_PROPERTY_LABEL

#endif
