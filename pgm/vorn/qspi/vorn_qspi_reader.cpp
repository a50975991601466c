// Reading QSPI files: action properties and the fields of a device, each by its table.
#define VORN_SOURCE_FILE "pgm/vorn/vorn_qspi_reader"

#include "vorn_qspi_reader.h"

#include "vorn_action_properties.h"
#include "vorn_internal.h"
#include "vorn_qspi_flash.h"

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
