// Reading QSPI files: action properties and the fields of a device, each by its table.
#define VORN_SOURCE_FILE "pgm/vorn/vorn_qspi_reader"

#include "vorn_qspi_reader.h"

#include "vorn_action_properties.h"
#include "vorn_internal.h"
#include "vorn_qspi_flash.h"
#include "vorn_mgr.h"

namespace {

// "\n" escapes of a stored description become line feeds; a text of one character has
// nothing to turn and is kept as it is, as the writer writes it.
std::string unescape_description(const std::string& text) {
    const size_t total_char = text.size();
    std::string out;
    out.reserve(total_char);
    size_t i = 0;
    while (total_char - i >= 2) {
        if (text[i] == '\\' && text[i + 1] == 'n') {
            out += '\n';
            i += 2;
        } else {
            out += text[i];
            ++i;
        }
    }
    if (i < total_char) out += text[i];
    return out;
}

}  // namespace

bool vorn_action_type_of_tag(PGM_COMMON_XML_ENUM tag, VORN_ACT_TYPE* type) {
    for (int t = 0; t < VORN_ACT_TYPE_COUNT; ++t) {
        if (VORN_ACT_TYPE_TAG[t] != tag) continue;
        *type = static_cast<VORN_ACT_TYPE>(t);
        return true;
    }
    return false;
}

PGM_COMMON_XML_ENUM vorn_property_tag(VORN_ACT_PROPERTY property) {
    if (!vorn_act_property_is_known(property)) VORN_FAIL("Unknown action property enum");
    return VORN_ACT_PROPERTIES[property].tag;
}

const PGM_COMMON_XML_ELEMENT* vorn_read_action_property(
    const PGM_COMMON_XML_VORN_QSPI_ACTION* xml_action, VORN_ACT_PROPERTY property,
    std::string& value) {
    const PGM_COMMON_XML_ENUM tag = vorn_property_tag(property);
    for (const PGM_COMMON_XML_ELEMENT* child : xml_action->get_all_childs()) {
        if (child->get_class_type() != tag) continue;
        // Numbers come as their decimal text.
        value = child->get_slot_text();
        if (VORN_ACT_PROPERTIES[property].form == VORN_ACT_FORM_LINES)
            value = unescape_description(value);
        return child;
    }
    return nullptr;
}

// File order. The write checks' texts name the record as the writer reads it.
const VORN_DEVICE_FIELD VORN_DEVICE_FIELDS[VORN_DEVICE_FIELD_COUNT] = {
    {VORN_FLASH_PARAM_NAME, PGM_COMMON_XML_ENUM_DEVICE_NAME, &VORN_DEVICE_VALUES::name, nullptr,
     nullptr, nullptr},
    {VORN_FLASH_PARAM_ID, PGM_COMMON_XML_ENUM_DEVICE_ID, &VORN_DEVICE_VALUES::id, nullptr,
     "device ID in a file",
     "device_id_is_valid(flash->get_parameter_value(VORN_FLASH_PARAM_ID), &err_msg)"},
    {VORN_FLASH_PARAM_IO_VOLTAGE, PGM_COMMON_XML_ENUM_DEVICE_IO_VOLTAGE,
     &VORN_DEVICE_VALUES::io_voltage, nullptr, "I/O voltage",
     "device_io_voltage_is_valid(flash->get_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE), "
     "&err_msg)"},
    {VORN_FLASH_PARAM_DENSITY, PGM_COMMON_XML_ENUM_DEVICE_DENSITY, &VORN_DEVICE_VALUES::density,
     nullptr, "density", "device_density_is_valid(flash->get_density(), &err_msg)"},
    {VORN_FLASH_PARAM_TOTAL_DIE, PGM_COMMON_XML_ENUM_TOTAL_DEVICE_DIE, nullptr,
     &VORN_DEVICE_VALUES::total_die, "total dies",
     "total_device_die_is_valid(flash->get_parameter_value_in_dword(VORN_FLASH_PARAM_TOTAL_DIE), "
     "&err_msg)"},
    {VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, PGM_COMMON_XML_ENUM_DUMMY_CLOCK_CYCLE, nullptr,
     &VORN_DEVICE_VALUES::dummy_clock_cycle, "dummy clock cycles",
     "dummy_clock_cycle_is_valid(flash->get_parameter_value_in_dword(VORN_FLASH_PARAM_DUMMY_CLK_"
     "CYCLE), &err_msg)"},
    {VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, PGM_COMMON_XML_ENUM_DUMMY_CLOCK_CYCLE_X4, nullptr,
     &VORN_DEVICE_VALUES::dummy_clock_cycle_x4, "dummy clock cycles x4",
     "dummy_clock_cycle_is_valid(flash->get_parameter_value_in_dword(VORN_FLASH_PARAM_DUMMY_CLK_"
     "CYCLE_X4), &err_msg)"},
    {VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE, PGM_COMMON_XML_ENUM_PROG_FLOW_TEMPLATE,
     &VORN_DEVICE_VALUES::prog_flow_template, nullptr, nullptr, nullptr},
};

std::string vorn_device_field_text(const VORN_DEVICE_FIELD& field,
                                   const VORN_DEVICE_VALUES& values) {
    return field.text != nullptr ? values.*field.text : std::to_string(values.*field.number);
}

bool vorn_read_device_info(const PGM_COMMON_XML_VORN_QSPI_DEVICE_INFO* info,
                           VORN_DEVICE_VALUES& out) {
    for (const VORN_DEVICE_FIELD& field : VORN_DEVICE_FIELDS) {
        const std::vector<PGM_COMMON_XML_ELEMENT*> leaves = info->get_childs(field.tag, true);
        if (leaves.empty()) return false;
        if (field.text != nullptr)
            out.*field.text = leaves.front()->get_value_text();
        else
            out.*field.number =
                static_cast<unsigned int>(std::stoul(leaves.front()->get_slot_text()));
    }
    return true;
}

bool vorn_device_field_is_valid(VORN_MGR& mgr, const VORN_DEVICE_FIELD& field,
                                const VORN_DEVICE_VALUES& values, std::string* why) {
    return field.text != nullptr ? mgr.is_parameter_valid(field.param, values.*field.text, why)
                                 : mgr.is_parameter_valid(field.param, values.*field.number, why);
}

bool vorn_device_values_are_valid(VORN_MGR& mgr, const VORN_DEVICE_VALUES& values) {
    bool valid = true;
    std::string scratch;
    for (const VORN_DEVICE_FIELD& field : VORN_DEVICE_FIELDS)
        if (field.label != nullptr)
            valid = vorn_device_field_is_valid(mgr, field, values, &scratch) && valid;
    return valid;
}

std::unique_ptr<VORN_QSPI_FLASH> vorn_record_of(const VORN_DEVICE_VALUES& values) {
    auto record = std::make_unique<VORN_QSPI_FLASH>(values.name);
    for (const VORN_DEVICE_FIELD& field : VORN_DEVICE_FIELDS) {
        if (field.param == VORN_FLASH_PARAM_NAME) continue;
        if (field.param == VORN_FLASH_PARAM_DENSITY)
            record->set_density(values.density);
        else if (field.text != nullptr)
            record->set_parameter_value(field.param, values.*field.text);
        else
            record->set_parameter_value(field.param, values.*field.number);
    }
    return record;
}

VORN_DEVICE_VALUES vorn_device_values_of(const VORN_FLASH& record) {
    VORN_DEVICE_VALUES values;
    for (const VORN_DEVICE_FIELD& field : VORN_DEVICE_FIELDS) {
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
