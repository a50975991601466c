// The base's validators and the parameter dispatch over them.
#define VORN_SOURCE_FILE "pgm/vorn/vorn_mgr"

#include <memory>

#include "vorn_internal.h"
#include "vorn_mgr.h"
#include "vorn_msgs.h"

static MEM_INITIALIZER mem_initializer("VORN");

namespace {

// The user-facing sentence of a warning: its catalogue text with the value filled in. Built
// from the catalogue rather than the posted message, which a suppression leaves empty.
std::string warning_text(MSG_ID id, const std::string& value) {
    const VORN_MSG_INFO* info = vorn_msg_find(id);
    VORN_CHECK(info != nullptr, "vorn_msg_find(id)");
    std::string text(info->format);
    text.erase(text.rfind('/'));
    static const std::string placeholder = "%1!s!";
    size_t pos = text.find(placeholder);
    if (pos != std::string::npos) text.replace(pos, placeholder.size(), value);
    return text;
}

}  // namespace

bool vorn_reject(VORN_WARNING_BUILDER build, MSG_ID id, const std::string& value,
                 std::string* err) {
    if (err == nullptr) return false;
    std::unique_ptr<MSG_W> msg(build(value));
    msg->post();
    *err = warning_text(id, value);
    return false;
}

bool VORN_MGR::is_valid_name(std::string& name) {
    if (name.empty() || name == "db") return false;
    for (char c : name)
        if (!vorn_is_word_char(c)) return false;
    return true;
}

bool VORN_MGR::is_golden_template_name(std::string& name) {
    for (const char* reserved : VORN_PROG_FLOW_TEMPLATE_NAME)
        if (name == reserved) return true;
    return false;
}

bool VORN_MGR::device_name_is_valid(std::string name, std::string* err) {
    if (!is_valid_name(name))
        return vorn_reject(MSG_VORN::W::INVALID_DEVICE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
                           20473, name, err);
    if (is_golden_template_name(name))
        return vorn_reject(MSG_VORN::W::INVALID_DEVICE_NAME_CONFLICT_WITH_TEMPLATE, 20474, name,
                           err);
    if (device_exist_in_db(name, true))
        return vorn_reject(MSG_VORN::W::INVALID_DEVICE_NAME_CONFLICT_WITH_EXISTING_DEVICE, 20475,
                           name, err);
    return true;
}

bool VORN_MGR::device_density_is_valid(std::string density, std::string* err) {
    if (density.empty() || !vorn_list_contains(get_device_density_list(), density))
        return vorn_reject(MSG_VORN::W::INVALID_DEVICE_DENSITY, 20478, density, err);
    return true;
}

bool VORN_MGR::device_io_voltage_is_valid(std::string voltage, std::string* err) {
    if (voltage.empty() || !vorn_list_contains(get_device_io_voltage_list(), voltage))
        return vorn_reject(MSG_VORN::W::INVALID_IO_VOLTAGE, 20476, voltage, err);
    return true;
}

bool VORN_MGR::device_io_voltage_is_compatible(std::string voltage, std::string* err) {
    // An invalid voltage is reported as incompatible, not as invalid.
    if (device_io_voltage_is_valid(voltage, nullptr) &&
        voltage == m_dev_info_map[m_active_device_family].io_voltage)
        return true;
    return vorn_reject(MSG_VORN::W::INCOMPATIBLE_IO_VOLTAGE, 20535, voltage, err);
}

namespace {

using TEXT_VALIDATOR = bool (VORN_MGR::*)(std::string, std::string*);

struct TEXT_RULE {
    VORN_FLASH_PARAM param;
    TEXT_VALIDATOR validator;
};

// The parameters the base judges; member pointers keep the family overrides in effect.
const TEXT_RULE TEXT_RULES[] = {
    {VORN_FLASH_PARAM_NAME, &VORN_MGR::device_name_is_valid},
    {VORN_FLASH_PARAM_IO_VOLTAGE, &VORN_MGR::device_io_voltage_is_valid},
    {VORN_FLASH_PARAM_DENSITY, &VORN_MGR::device_density_is_valid},
};

const TEXT_RULE* find_text_rule(VORN_FLASH_PARAM param) {
    for (const TEXT_RULE& rule : TEXT_RULES)
        if (rule.param == param) return &rule;
    return nullptr;
}

}  // namespace

bool VORN_MGR::is_parameter_valid(VORN_FLASH_PARAM param) {
    return find_text_rule(param) != nullptr;
}

bool VORN_MGR::is_parameter_valid(VORN_FLASH_PARAM param, std::string value, std::string* err) {
    const TEXT_RULE* rule = find_text_rule(param);
    if (rule == nullptr) VORN_FAIL_UNKNOWN_PARAMETER(param);
    return (this->*(rule->validator))(std::move(value), err);
}

bool VORN_MGR::is_parameter_valid(VORN_FLASH_PARAM param, unsigned int, std::string*) {
    VORN_FAIL_UNKNOWN_PARAMETER(param);
}

bool VORN_MGR::is_parameter_compatible(VORN_FLASH_PARAM param, std::string value,
                                       std::string* err) {
    if (param != VORN_FLASH_PARAM_IO_VOLTAGE) VORN_FAIL_UNKNOWN_PARAMETER(param);
    return device_io_voltage_is_compatible(std::move(value), err);
}
