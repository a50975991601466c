#define VORN_SOURCE_FILE "pgm/vorn/vorn_qspi_reader"

#include "vorn_qspi_reader.h"

#include "vorn_action_properties.h"
#include "vorn_internal.h"

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
