#define VORN_SOURCE_FILE "pgm/vorn/vorn_qspi_reader"

#include "vorn_qspi_reader.h"

#include "vorn_internal.h"

namespace {

template <typename LEAF>
const PGM_COMMON_XML_ELEMENT* text_leaf(const std::vector<LEAF*>& list, std::string& out) {
    if (list.empty()) return nullptr;
    out = list.front()->value;
    return list.front();
}

template <typename LEAF>
const PGM_COMMON_XML_ELEMENT* number_leaf(const std::vector<LEAF*>& list, std::string& out) {
    if (list.empty()) return nullptr;
    out = std::to_string(list.front()->value);
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

// In the order of VORN_ACT_TYPE.
const PGM_COMMON_XML_ENUM kActionTags[] = {
    PGM_COMMON_XML_ENUM_WRITE_REG, PGM_COMMON_XML_ENUM_READ_REG, PGM_COMMON_XML_ENUM_WRITE_DATA,
    PGM_COMMON_XML_ENUM_READ_DATA, PGM_COMMON_XML_ENUM_ERASE,    PGM_COMMON_XML_ENUM_CUSTOM};

}  // namespace

bool vorn_action_type_of_tag(PGM_COMMON_XML_ENUM tag, VORN_ACT_TYPE* type) {
    for (size_t i = 0; i < sizeof kActionTags / sizeof kActionTags[0]; ++i) {
        if (kActionTags[i] != tag) continue;
        *type = static_cast<VORN_ACT_TYPE>(i);
        return true;
    }
    return false;
}

PGM_COMMON_XML_ENUM vorn_property_tag(VORN_ACT_PROPERTY property) {
    switch (property) {
        case VORN_ACT_PROPERTY_WRITE_REG_NAME:
        case VORN_ACT_PROPERTY_READ_REG_NAME:
        case VORN_ACT_PROPERTY_WRITE_DATA_NAME:
        case VORN_ACT_PROPERTY_READ_DATA_NAME:
        case VORN_ACT_PROPERTY_ERASE_NAME:
            return PGM_COMMON_XML_ENUM_NAME;
        case VORN_ACT_PROPERTY_WRITE_REG_COMMAND:
        case VORN_ACT_PROPERTY_READ_REG_COMMAND:
        case VORN_ACT_PROPERTY_WRITE_DATA_COMMAND:
        case VORN_ACT_PROPERTY_READ_DATA_COMMAND:
        case VORN_ACT_PROPERTY_ERASE_COMMAND:
            return PGM_COMMON_XML_ENUM_COMMAND;
        case VORN_ACT_PROPERTY_WRITE_REG_DATA:
        case VORN_ACT_PROPERTY_WRITE_DATA_DATA:
            return PGM_COMMON_XML_ENUM_DATA;
        case VORN_ACT_PROPERTY_READ_REG_DATA_LENGTH:
        case VORN_ACT_PROPERTY_READ_DATA_DATA_LENGTH:
            return PGM_COMMON_XML_ENUM_DATA_LENGTH;
        case VORN_ACT_PROPERTY_READ_REG_EXPECTED_DATA:
        case VORN_ACT_PROPERTY_READ_DATA_EXPECTED_DATA:
            return PGM_COMMON_XML_ENUM_EXPECTED_DATA;
        case VORN_ACT_PROPERTY_READ_REG_EXPECTED_DATA_MASK:
        case VORN_ACT_PROPERTY_READ_DATA_EXPECTED_DATA_MASK:
            return PGM_COMMON_XML_ENUM_EXPECTED_DATA_MASK;
        case VORN_ACT_PROPERTY_WRITE_DATA_ADDRESS:
        case VORN_ACT_PROPERTY_READ_DATA_ADDRESS:
        case VORN_ACT_PROPERTY_ERASE_ADDRESS:
            return PGM_COMMON_XML_ENUM_ADDRESS;
        case VORN_ACT_PROPERTY_WRITE_REG_BUS_WIDTH:
        case VORN_ACT_PROPERTY_READ_REG_BUS_WIDTH:
        case VORN_ACT_PROPERTY_WRITE_DATA_BUS_WIDTH:
        case VORN_ACT_PROPERTY_READ_DATA_BUS_WIDTH:
        case VORN_ACT_PROPERTY_ERASE_BUS_WIDTH:
            return PGM_COMMON_XML_ENUM_BUS_WIDTH;
        case VORN_ACT_PROPERTY_CUSTOM_DIRECTION:
            return PGM_COMMON_XML_ENUM_DIRECTION;
        case VORN_ACT_PROPERTY_CUSTOM_DESCRIPTION:
            return PGM_COMMON_XML_ENUM_DESCRIPTION;
        case VORN_ACT_PROPERTY_READ_REG_ATTEMPT_COUNT:
            return PGM_COMMON_XML_ENUM_ATTEMPT_COUNT;
        case VORN_ACT_PROPERTY_WRITE_DATA_PAGE_SIZE:
            return PGM_COMMON_XML_ENUM_PAGE_SIZE;
        case VORN_ACT_PROPERTY_WRITE_DATA_ADDRESSING_MODE:
        case VORN_ACT_PROPERTY_READ_DATA_ADDRESSING_MODE:
        case VORN_ACT_PROPERTY_ERASE_ADDRESSING_MODE:
            return PGM_COMMON_XML_ENUM_ADDRESSING_MODE;
        case VORN_ACT_PROPERTY_READ_DATA_DUMMY_CLOCK_CYCLE:
            return PGM_COMMON_XML_ENUM_ACT_DUMMY_CLOCK_CYCLE;
        case VORN_ACT_PROPERTY_ERASE_ERASE_SIZE:
            return PGM_COMMON_XML_ENUM_ERASE_SIZE;
        case VORN_ACT_PROPERTY_WRITE_REG_DELAY:
        case VORN_ACT_PROPERTY_READ_REG_DELAY:
        case VORN_ACT_PROPERTY_WRITE_DATA_DELAY:
        case VORN_ACT_PROPERTY_READ_DATA_DELAY:
        case VORN_ACT_PROPERTY_ERASE_DELAY:
            return PGM_COMMON_XML_ENUM_DELAY;
    }
    VORN_FAIL("Unknown action property enum");
}

const PGM_COMMON_XML_ELEMENT* vorn_read_action_property(
    const PGM_COMMON_XML_VORN_QSPI_ACTION* xml_action, VORN_ACT_PROPERTY property,
    std::string& value) {
    switch (vorn_property_tag(property)) {
        case PGM_COMMON_XML_ENUM_NAME:
            return text_leaf(xml_action->name, value);
        case PGM_COMMON_XML_ENUM_COMMAND:
            return text_leaf(xml_action->command, value);
        case PGM_COMMON_XML_ENUM_DATA:
            return text_leaf(xml_action->data, value);
        case PGM_COMMON_XML_ENUM_DATA_LENGTH:
            return text_leaf(xml_action->data_length, value);
        case PGM_COMMON_XML_ENUM_EXPECTED_DATA:
            return text_leaf(xml_action->expected_data, value);
        case PGM_COMMON_XML_ENUM_EXPECTED_DATA_MASK:
            return text_leaf(xml_action->expected_data_mask, value);
        case PGM_COMMON_XML_ENUM_ADDRESS:
            return text_leaf(xml_action->address, value);
        case PGM_COMMON_XML_ENUM_BUS_WIDTH:
            return text_leaf(xml_action->bus_width, value);
        case PGM_COMMON_XML_ENUM_DIRECTION:
            return text_leaf(xml_action->direction, value);
        case PGM_COMMON_XML_ENUM_DESCRIPTION: {
            const PGM_COMMON_XML_ELEMENT* leaf = text_leaf(xml_action->description, value);
            if (leaf != nullptr) value = unescape_description(value);
            return leaf;
        }
        case PGM_COMMON_XML_ENUM_ATTEMPT_COUNT:
            return number_leaf(xml_action->attempt_count, value);
        case PGM_COMMON_XML_ENUM_PAGE_SIZE:
            return number_leaf(xml_action->page_size, value);
        case PGM_COMMON_XML_ENUM_ADDRESSING_MODE:
            return number_leaf(xml_action->addressing_mode, value);
        case PGM_COMMON_XML_ENUM_ACT_DUMMY_CLOCK_CYCLE:
            return number_leaf(xml_action->act_dummy_clock_cycle, value);
        case PGM_COMMON_XML_ENUM_ERASE_SIZE:
            return number_leaf(xml_action->erase_size, value);
        case PGM_COMMON_XML_ENUM_DELAY:
            return number_leaf(xml_action->delay, value);
        default:
            VORN_FAIL("Unknown action property enum");
    }
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
