#define VORN_SOURCE_FILE "pgm/vorn/vorn_qspi_reader"

#include "vorn_qspi_reader.h"

#include "vorn_action_properties.h"
#include "vorn_internal.h"
#include "vorn_qspi_flash.h"
#include "vorn_qspi_mgr.h"

namespace {

template <typename LEAF>
const PGM_COMMON_XML_ELEMENT* text_leaf(const std::vector<LEAF*>& list, std::string& out) {
    if (list.empty()) return nullptr;
    out = list.front()->value;
    return list.front();
}

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

bool vorn_read_device_info(const PGM_COMMON_XML_VORN_QSPI_DEVICE_INFO* info,
                           VORN_DEVICE_VALUES& out) {
    if (info->total_device_die.empty() || info->dummy_clock_cycle.empty() ||
        info->dummy_clock_cycle_x4.empty())
        return false;
    out.total_die = info->total_device_die.front()->value;
    out.dummy_clock_cycle = info->dummy_clock_cycle.front()->value;
    out.dummy_clock_cycle_x4 = info->dummy_clock_cycle_x4.front()->value;
    return text_leaf(info->device_name, out.name) && text_leaf(info->device_id, out.id) &&
           text_leaf(info->device_io_voltage, out.io_voltage) &&
           text_leaf(info->device_density, out.density) &&
           text_leaf(info->prog_flow_template, out.prog_flow_template);
}

const VORN_DEVICE_FIELD VORN_DEVICE_FIELDS[6] = {
    {PGM_COMMON_XML_ENUM_DEVICE_ID, "device ID in a file",
     [](const VORN_DEVICE_VALUES& v) { return v.id; },
     [](VORN_QSPI_MGR& mgr, const VORN_DEVICE_VALUES& v, std::string* why) {
         return mgr.device_id_is_valid(v.id, why);
     }},
    {PGM_COMMON_XML_ENUM_DEVICE_IO_VOLTAGE, "I/O voltage",
     [](const VORN_DEVICE_VALUES& v) { return v.io_voltage; },
     [](VORN_QSPI_MGR& mgr, const VORN_DEVICE_VALUES& v, std::string* why) {
         return mgr.device_io_voltage_is_valid(v.io_voltage, why);
     }},
    {PGM_COMMON_XML_ENUM_DEVICE_DENSITY, "density",
     [](const VORN_DEVICE_VALUES& v) { return v.density; },
     [](VORN_QSPI_MGR& mgr, const VORN_DEVICE_VALUES& v, std::string* why) {
         return mgr.device_density_is_valid(v.density, why);
     }},
    {PGM_COMMON_XML_ENUM_TOTAL_DEVICE_DIE, "total dies",
     [](const VORN_DEVICE_VALUES& v) { return std::to_string(v.total_die); },
     [](VORN_QSPI_MGR& mgr, const VORN_DEVICE_VALUES& v, std::string* why) {
         return mgr.total_device_die_is_valid(v.total_die, why);
     }},
    {PGM_COMMON_XML_ENUM_DUMMY_CLOCK_CYCLE, "dummy clock cycles",
     [](const VORN_DEVICE_VALUES& v) { return std::to_string(v.dummy_clock_cycle); },
     [](VORN_QSPI_MGR& mgr, const VORN_DEVICE_VALUES& v, std::string* why) {
         return mgr.dummy_clock_cycle_is_valid(v.dummy_clock_cycle, why);
     }},
    {PGM_COMMON_XML_ENUM_DUMMY_CLOCK_CYCLE_X4, "dummy clock cycles x4",
     [](const VORN_DEVICE_VALUES& v) { return std::to_string(v.dummy_clock_cycle_x4); },
     [](VORN_QSPI_MGR& mgr, const VORN_DEVICE_VALUES& v, std::string* why) {
         return mgr.dummy_clock_cycle_is_valid(v.dummy_clock_cycle_x4, why);
     }},
};

bool vorn_device_values_are_valid(VORN_QSPI_MGR& mgr, const VORN_DEVICE_VALUES& values) {
    bool valid = true;
    std::string scratch;
    for (const VORN_DEVICE_FIELD& field : VORN_DEVICE_FIELDS)
        valid = field.is_valid(mgr, values, &scratch) && valid;
    return valid;
}

std::unique_ptr<VORN_QSPI_FLASH> vorn_record_of(const VORN_DEVICE_VALUES& values) {
    auto record = std::make_unique<VORN_QSPI_FLASH>(values.name);
    record->set_parameter_value(VORN_FLASH_PARAM_ID, values.id);
    record->set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, values.io_voltage);
    record->set_density(values.density);
    record->set_parameter_value(VORN_FLASH_PARAM_TOTAL_DIE, values.total_die);
    record->set_parameter_value(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, values.dummy_clock_cycle);
    record->set_parameter_value(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, values.dummy_clock_cycle_x4);
    record->set_parameter_value(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE, values.prog_flow_template);
    return record;
}

VORN_DEVICE_VALUES vorn_device_values_of(const VORN_FLASH& record) {
    VORN_DEVICE_VALUES values;
    values.name = record.get_name();
    values.id = record.get_parameter_value(VORN_FLASH_PARAM_ID);
    values.io_voltage = record.get_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE);
    values.density = record.get_density();
    values.total_die = record.get_parameter_value_in_dword(VORN_FLASH_PARAM_TOTAL_DIE, nullptr);
    values.dummy_clock_cycle =
        record.get_parameter_value_in_dword(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, nullptr);
    values.dummy_clock_cycle_x4 =
        record.get_parameter_value_in_dword(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, nullptr);
    values.prog_flow_template = record.get_parameter_value(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE);
    return values;
}
