#include "vorn_device_fields.h"

#include "vorn_flash.h"
#include "vorn_mgr.h"

// File order (an SD/MMC card's three fields stand in its file in the same order). The write
// checks' texts name the record as the writer reads it.
const VORN_DEVICE_FIELD VORN_DEVICE_FIELDS[VORN_DEVICE_FIELD_COUNT] = {
    {VORN_FLASH_PARAM_NAME, PGM_COMMON_XML_ENUM_DEVICE_NAME, &VORN_DEVICE_VALUES::name, nullptr,
     true, nullptr, nullptr},
    {VORN_FLASH_PARAM_ID, PGM_COMMON_XML_ENUM_DEVICE_ID, &VORN_DEVICE_VALUES::id, nullptr, false,
     "device ID in a file",
     "device_id_is_valid(flash->get_parameter_value(VORN_FLASH_PARAM_ID), &err_msg)"},
    {VORN_FLASH_PARAM_IO_VOLTAGE, PGM_COMMON_XML_ENUM_DEVICE_IO_VOLTAGE,
     &VORN_DEVICE_VALUES::io_voltage, nullptr, true, "I/O voltage",
     "device_io_voltage_is_valid(flash->get_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE), "
     "&err_msg)"},
    {VORN_FLASH_PARAM_DENSITY, PGM_COMMON_XML_ENUM_DEVICE_DENSITY, &VORN_DEVICE_VALUES::density,
     nullptr, true, "density", "device_density_is_valid(flash->get_density(), &err_msg)"},
    {VORN_FLASH_PARAM_TOTAL_DIE, PGM_COMMON_XML_ENUM_TOTAL_DEVICE_DIE, nullptr,
     &VORN_DEVICE_VALUES::total_die, false, "total dies",
     "total_device_die_is_valid(flash->get_parameter_value_in_dword(VORN_FLASH_PARAM_TOTAL_DIE), "
     "&err_msg)"},
    {VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, PGM_COMMON_XML_ENUM_DUMMY_CLOCK_CYCLE, nullptr,
     &VORN_DEVICE_VALUES::dummy_clock_cycle, false, "dummy clock cycles",
     "dummy_clock_cycle_is_valid(flash->get_parameter_value_in_dword(VORN_FLASH_PARAM_DUMMY_CLK_"
     "CYCLE), &err_msg)"},
    {VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, PGM_COMMON_XML_ENUM_DUMMY_CLOCK_CYCLE_X4, nullptr,
     &VORN_DEVICE_VALUES::dummy_clock_cycle_x4, false, "dummy clock cycles x4",
     "dummy_clock_cycle_is_valid(flash->get_parameter_value_in_dword(VORN_FLASH_PARAM_DUMMY_CLK_"
     "CYCLE_X4), &err_msg)"},
    {VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE, PGM_COMMON_XML_ENUM_PROG_FLOW_TEMPLATE,
     &VORN_DEVICE_VALUES::prog_flow_template, nullptr, false, nullptr, nullptr},
};

bool vorn_device_field_in(const VORN_DEVICE_FIELD& field, DEV_FAMILY_ENUM family) {
    return family != DEV_FAMILY_SDMMC_FLASH || field.sdmmc;
}

std::string vorn_device_field_text(const VORN_DEVICE_FIELD& field,
                                   const VORN_DEVICE_VALUES& values) {
    return field.text != nullptr ? values.*field.text : std::to_string(values.*field.number);
}

bool vorn_device_field_is_valid(VORN_MGR& mgr, const VORN_DEVICE_FIELD& field,
                                const VORN_DEVICE_VALUES& values, std::string* why) {
    return field.text != nullptr ? mgr.is_parameter_valid(field.param, values.*field.text, why)
                                 : mgr.is_parameter_valid(field.param, values.*field.number, why);
}

bool vorn_device_values_are_valid(VORN_MGR& mgr, const VORN_DEVICE_VALUES& values) {
    bool valid = true;
    std::string scratch;
    const DEV_FAMILY_ENUM family = mgr.get_flash_family();
    for (const VORN_DEVICE_FIELD& field : VORN_DEVICE_FIELDS)
        if (field.label != nullptr && vorn_device_field_in(field, family))
            valid = vorn_device_field_is_valid(mgr, field, values, &scratch) && valid;
    return valid;
}

VORN_DEVICE_VALUES vorn_device_values_of(const VORN_FLASH& record) {
    VORN_DEVICE_VALUES values;
    const DEV_FAMILY_ENUM family = record.get_family();
    for (const VORN_DEVICE_FIELD& field : VORN_DEVICE_FIELDS) {
        if (!vorn_device_field_in(field, family)) continue;
        if (field.param == VORN_FLASH_PARAM_NAME)
            values.name = record.get_name();
        else if (field.param == VORN_FLASH_PARAM_DENSITY)
            values.density = record.get_density();
        else if (field.text != nullptr)
            values.*field.text = record.get_parameter_value(field.param);
        else
            values.*field.number = record.get_parameter_value_in_dword(field.param, nullptr);
    }
    return values;
}
