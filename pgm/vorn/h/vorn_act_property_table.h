// The action properties as one table, in the order of their members.
#ifndef VORN_ACT_PROPERTY_TABLE_H
#define VORN_ACT_PROPERTY_TABLE_H

// Every action property once: the enum VORN_ACT_PROPERTY, the library's actions, reader and
// writer, the flow checks, the tool and the schema generator (tools/xmlgen) all derive from
// these rows, so a new property is one row here (vorn_action_properties.h checks the rows at
// compile time, the generator checks them against the format). The header includes nothing,
// so that the generator can read it before the files it generates exist.
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

#endif
