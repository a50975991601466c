// The QSPI manager's validators of device values and the parameter dispatch over them.
#define VORN_SOURCE_FILE "pgm/vorn/vorn_qspi_mgr"

#include <memory>
#include <string>

#include "vorn_internal.h"
#include "database/vorn_byte_list.h"
#include "vorn_msgs.h"
#include "vorn_qspi_mgr.h"

static MEM_INITIALIZER mem_initializer("VORN");

bool VORN_QSPI_MGR::device_id_is_valid(std::string id, std::string* msg) {
    bool valid =
        !id.empty() && id.find_first_not_of("abcdefxABCDEF0123456789 ") == std::string::npos;
    unsigned int count = 0;
    if (valid && vorn_scan_byte_list(id, nullptr, count)) return true;
    return vorn_reject(MSG_VORN::W::INVALID_DEVICE_ID_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, 20477, id,
                       msg);
}

bool VORN_QSPI_MGR::total_device_die_is_valid(unsigned int die, std::string* msg) {
    if (die != 0) return true;
    if (msg != nullptr) {
        vorn_post_message(MSG_VORN::W::INVALID_TOTAL_DEVICE_DIE(0));
        *msg = std::string("Total device die '") + "0" + "' is invalid.";
    }
    return false;
}

bool VORN_QSPI_MGR::dummy_clock_cycle_is_valid(unsigned int cycles, std::string* msg) {
    if (cycles <= VORN_QSPI_DUMMY_CLOCK_CYCLE_MAX) return true;
    if (msg != nullptr) {
        vorn_post_message(MSG_VORN::W::INVALID_DEVICE_DUMMY_CLOCK_CYCLE(static_cast<int>(cycles)));
        *msg = "Device dummy clock cycle '" + std::to_string(cycles) + "' is invalid.";
    }
    return false;
}

bool VORN_QSPI_MGR::prog_flow_template_is_valid(std::string name, std::string* msg) {
    bool valid = false;
    if (!name.empty()) {
        for (const char* vendor : VORN_PROG_FLOW_TEMPLATE_NAME) valid = valid || name == vendor;
        valid = valid || m_user_flash_template_map.count(name) > 0;
        valid = valid || (m_flash != nullptr && name == m_flash->get_parameter_value(
                                                            VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE));
    }
    if (valid) return true;
    return vorn_reject(MSG_VORN::W::INVALID_PROGRAMMING_FLOW_TEMPLATE, 20481, name, msg);
}

bool VORN_QSPI_MGR::template_name_is_valid(std::string name, std::string* msg) {
    if (!is_valid_name(name))
        return vorn_reject(MSG_VORN::W::INVALID_TEMPLATE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
                           20673, name, msg);
    if (is_golden_template_name(name))
        return vorn_reject(MSG_VORN::W::INVALID_TEMPLATE_NAME_CONFLICT_WITH_RESERVED_TEMPLATE,
                           20674, name, msg);
    if (m_user_flash_template_map.find(name) != m_user_flash_template_map.end())
        return vorn_reject(MSG_VORN::W::INVALID_TEMPLATE_NAME_CONFLICT_WITH_TEMPLATE_DATABASE,
                           20676, name, msg);
    if (device_exist_in_db(name, true)) {
        if (msg != nullptr) {
            vorn_post_message(
                MSG_VORN::W::INVALID_TEMPLATE_NAME_CONFLICT_WITH_EXISTING_DEVICE(name));
            // This explanation is not the catalogue's sentence: it begins "Tempate".
            *msg = "Tempate name '" + name +
                   "' is invalid as it conflicts with existing device name in the device "
                   "database.";
        }
        return false;
    }
    return true;
}

bool VORN_QSPI_MGR::is_parameter_valid(VORN_FLASH_PARAM param) {
    if (param == VORN_FLASH_PARAM_ID ||
        (param >= VORN_FLASH_PARAM_TOTAL_DIE && param <= VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE))
        return true;
    return VORN_MGR::is_parameter_valid(param);
}

bool VORN_QSPI_MGR::is_parameter_valid(VORN_FLASH_PARAM param, std::string value,
                                       std::string* msg) {
    switch (param) {
        case VORN_FLASH_PARAM_TEMPLATE_NAME:
            return template_name_is_valid(value, msg);
        case VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE:
            return prog_flow_template_is_valid(value, msg);
        case VORN_FLASH_PARAM_ID:
            return device_id_is_valid(value, msg);
        default:
            return VORN_MGR::is_parameter_valid(param, value, msg);
    }
}

bool VORN_QSPI_MGR::is_parameter_valid(VORN_FLASH_PARAM param, unsigned int value,
                                       std::string* msg) {
    switch (param) {
        case VORN_FLASH_PARAM_TOTAL_DIE:
            return total_device_die_is_valid(value, msg);
        case VORN_FLASH_PARAM_DUMMY_CLK_CYCLE:
        case VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4:
            return dummy_clock_cycle_is_valid(value, msg);
        default:
            return VORN_MGR::is_parameter_valid(param, value, msg);
    }
}
