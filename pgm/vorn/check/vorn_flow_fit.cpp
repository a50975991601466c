#define VORN_SOURCE_FILE "pgm/vorn/vorn_flow_fit"

#include "vorn_flow_fit.h"

#include <cstdio>
#include <memory>

#include "vorn_action_fields.h"
#include "vorn_flash.h"
#include "vorn_flow_check.h"
#include "vorn_internal.h"
#include "vorn_qspi_action.h"
#include "vorn_qspi_mgr.h"
#include "vorn_qspi_operation.h"

static MEM_INITIALIZER mem_initializer("VORN");

namespace {

const VORN_FLASH_COMMAND* command_of(const VORN_FLASH_VENDOR_PROFILE& profile,
                                     const VORN_ACTION& action) {
    const int field = VORN_ACTION_FIELD_TABLE[action.get_type()].command;
    if (field < 0) return nullptr;
    const unsigned int opcode = action.get_property_value_in_dword(vorn_field_property(field));
    return opcode > 0xFF ? nullptr
                         : profile.find_command_on_any_part(static_cast<unsigned char>(opcode));
}

bool is_kind(const VORN_FLASH_COMMAND* command, VORN_FLASH_COMMAND_KIND kind) {
    return command != nullptr && command->kind == kind;
}

// A write of the register that gives 3-byte commands their upper address bits: a part without
// 4-byte addressing has none.
bool writes_address_register(const VORN_FLASH_VENDOR_PROFILE& profile,
                             const VORN_FLASH_COMMAND* command) {
    return is_kind(command, VORN_FLASH_COMMAND_WRITE_REGISTER) && command->registers[0] >= 0 &&
           profile.registers[command->registers[0]].address_bits != 0;
}

// The command of the same kind, size and dummy cycles that takes addresses as `address` says,
// on a part of `density`: the 3-byte twin of a 4-byte-address command for a small part, or the
// 4-byte-address twin of a mode-addressed one.
const VORN_FLASH_COMMAND* twin_of(const VORN_FLASH_VENDOR_PROFILE& profile,
                                  const VORN_FLASH_COMMAND& command, VORN_FLASH_ADDRESS address,
                                  unsigned long long density) {
    for (int i = 0; i < profile.command_count; ++i) {
        const VORN_FLASH_COMMAND& c = profile.commands[i];
        if (c.kind == command.kind && c.address == address && c.erase_size == command.erase_size &&
            c.dummy == command.dummy && profile.find_command(c.opcode, density) == &c)
            return &c;
    }
    return nullptr;
}

std::string hex_byte(unsigned int value) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "0x%02X", value & 0xFF);
    return buffer;
}

// Clears `bit` from the first byte of a Read Register's expected data and mask; false when
// nothing is left to check.
bool drop_bit(VORN_ACTION& action, const VORN_ACTION_FIELDS& f, unsigned int bit) {
    const unsigned int mask =
        action.get_property_value_in_dword(vorn_field_property(f.mask)) & 0xFF;
    if ((mask & bit) == 0) return true;
    const unsigned int expected =
        action.get_property_value_in_dword(vorn_field_property(f.expected)) & 0xFF;
    if ((mask & ~bit) == 0) return false;
    action.set_property_value(vorn_field_property(f.mask), hex_byte(mask & ~bit));
    action.set_property_value(vorn_field_property(f.expected), hex_byte(expected & ~bit));
    return true;
}

// Fits to 3-byte addresses, or with `native` to the 4-byte-address commands of a part of
// `density`: either way without the mode switches and what goes with them.
std::vector<std::unique_ptr<VORN_ACTION>> fit_actions(const VORN_FLASH_VENDOR_PROFILE& profile,
                                                      const std::vector<VORN_ACTION*>& actions,
                                                      bool native, unsigned long long density) {
    std::vector<std::unique_ptr<VORN_ACTION>> out;
    bool after_mode_switch = false;
    bool after_address_clear = false;
    for (const VORN_ACTION* source : actions) {
        const auto* qspi = dynamic_cast<const VORN_QSPI_ACTION*>(source);
        VORN_CHECK(qspi != nullptr, "a flow holds QSPI actions only");
        auto action = std::make_unique<VORN_QSPI_ACTION>(*qspi);
        const VORN_ACTION_FIELDS& f = VORN_ACTION_FIELD_TABLE[action->get_type()];
        const VORN_FLASH_COMMAND* command = command_of(profile, *action);
        // The clearing of an address register goes with the write enable and write disable
        // around it.
        if (after_address_clear && is_kind(command, VORN_FLASH_COMMAND_WRITE_DISABLE)) {
            after_address_clear = false;
            continue;
        }
        after_address_clear = false;
        if (writes_address_register(profile, command)) {
            if (!out.empty() &&
                is_kind(command_of(profile, *out.back()), VORN_FLASH_COMMAND_WRITE_ENABLE))
                out.pop_back();
            after_address_clear = true;
            continue;
        }
        if (is_kind(command, VORN_FLASH_COMMAND_ENTER_4BYTE) ||
            is_kind(command, VORN_FLASH_COMMAND_EXIT_4BYTE)) {
            // The write enable that prepared the switch goes with it.
            if (!out.empty() &&
                is_kind(command_of(profile, *out.back()), VORN_FLASH_COMMAND_WRITE_ENABLE))
                out.pop_back();
            after_mode_switch = true;
            continue;
        }
        // A write enable after a dropped switch may prepare a clearing that goes too.
        const bool was_after_switch = after_mode_switch;
        if (!is_kind(command, VORN_FLASH_COMMAND_WRITE_ENABLE)) after_mode_switch = false;
        if (action->get_type() == VORN_ACT_TYPE_READ_REGISTER &&
            is_kind(command, VORN_FLASH_COMMAND_READ_REGISTER)) {
            // The check of a switch just dropped goes too; elsewhere only its 4-byte bit does.
            if (was_after_switch) continue;
            const unsigned int bit = profile.registers[command->registers[0]].four_byte;
            if (bit != 0 && !drop_bit(*action, f, bit)) continue;
        }
        if (f.addressing >= 0) {
            const VORN_FLASH_ADDRESS from =
                native ? VORN_FLASH_ADDRESS_MODE : VORN_FLASH_ADDRESS_FOUR;
            if (command != nullptr && command->address == from) {
                const VORN_FLASH_COMMAND* twin =
                    twin_of(profile, *command,
                            native ? VORN_FLASH_ADDRESS_FOUR : VORN_FLASH_ADDRESS_MODE, density);
                if (twin != nullptr) {
                    action->set_property_value(vorn_field_property(f.command),
                                               hex_byte(twin->opcode));
                    action->set_property_value(vorn_field_property(f.name), twin->name);
                }
            }
            if (action->get_property_value_in_dword(vorn_field_property(f.addressing)) ==
                (native ? 3u : 4u))
                action->set_property_value(vorn_field_property(f.addressing), native ? "4" : "3");
        }
        out.push_back(std::move(action));
    }
    return out;
}

std::vector<VORN_OPERATION*> fit_flow(const VORN_FLASH_VENDOR_PROFILE& profile,
                                      const std::vector<VORN_OPERATION*>& flow, bool native,
                                      unsigned long long density) {
    std::vector<std::unique_ptr<VORN_QSPI_OPERATION>> fitted;
    for (const VORN_OPERATION* op : flow) {
        auto copy = std::make_unique<VORN_QSPI_OPERATION>(op->get_type());
        for (auto& action : fit_actions(profile, *op->get_action_list(), native, density))
            copy->add_action_into_list(action.release());
        fitted.push_back(std::move(copy));
    }
    std::vector<VORN_OPERATION*> out;
    for (auto& op : fitted) out.push_back(op.release());
    return out;
}

}  // namespace

std::vector<VORN_OPERATION*> vorn_fit_flow_to_three_bytes(
    const VORN_FLASH_VENDOR_PROFILE& profile, const std::vector<VORN_OPERATION*>& flow) {
    return fit_flow(profile, flow, false, VORN_THREE_BYTE_LIMIT);
}

std::vector<VORN_OPERATION*> vorn_fit_flow_to_native_four_bytes(
    const VORN_FLASH_VENDOR_PROFILE& profile, unsigned long long density,
    const std::vector<VORN_OPERATION*>& flow) {
    return fit_flow(profile, flow, true, density);
}

std::string vorn_flow_addressing_misfit(const VORN_FLASH& flash, const std::string& source) {
    const VORN_FLASH_VENDOR_PROFILE* profile = VORN_FLOW_CHECKER::find_profile(flash);
    bool four = false;
    bool three = false;
    for (VORN_PROG_FLOW_TYPE type : {VORN_PROG_FLOW_TYPE_SFL, VORN_PROG_FLOW_TYPE_SDM}) {
        const auto* ops = flash.get_operation_list(type);
        if (ops == nullptr) continue;
        for (const VORN_OPERATION* op : *ops) {
            for (const VORN_ACTION* action : *op->get_action_list()) {
                const VORN_ACTION_FIELDS& f = VORN_ACTION_FIELD_TABLE[action->get_type()];
                if (profile != nullptr &&
                    is_kind(command_of(*profile, *action), VORN_FLASH_COMMAND_ENTER_4BYTE))
                    four = true;
                if (f.addressing < 0) continue;
                const unsigned int bytes =
                    action->get_property_value_in_dword(vorn_field_property(f.addressing));
                four = four || bytes == 4;
                three = three || bytes == 3;
            }
        }
    }
    const unsigned long long density = flash.get_density_in_bytes_qword();
    if (density <= VORN_THREE_BYTE_LIMIT && four)
        return "the flows of '" + source + "' use 4-byte addressing, which a " +
               flash.get_density() + " part does not have";
    if (density > VORN_THREE_BYTE_LIMIT && three && !four)
        return "the flows of '" + source + "' use 3-byte addresses, which reach only the " +
               "first 16MB of a " + flash.get_density() + " part";
    return "";
}

bool vorn_template_flows(VORN_QSPI_MGR& mgr, const std::string& name,
                         const std::vector<VORN_OPERATION*>** sfl,
                         const std::vector<VORN_OPERATION*>** sdm) {
    *sfl = nullptr;
    *sdm = nullptr;
    const int index = vorn_vendor_template_index(name);
    if (index >= 0) {
        const auto vendor = static_cast<VORN_PROG_FLOW_TEMPLATE>(index);
        *sfl = mgr.get_prog_flow_template_operation_list(vendor, VORN_PROG_FLOW_TYPE_SFL);
        *sdm = mgr.get_prog_flow_template_operation_list(vendor, VORN_PROG_FLOW_TYPE_SDM);
        return true;
    }
    if (mgr.get_user_flash_template_map().count(name) == 0) return false;
    std::string user = name;
    *sfl = mgr.get_user_template_operation_list(user, VORN_PROG_FLOW_TYPE_SFL);
    *sdm = mgr.get_user_template_operation_list(user, VORN_PROG_FLOW_TYPE_SDM);
    return true;
}

bool vorn_copy_flow(const std::vector<VORN_OPERATION*>& flow, std::vector<VORN_OPERATION*>& out) {
    std::vector<std::unique_ptr<VORN_OPERATION>> copies;
    copies.reserve(flow.size());
    for (const VORN_OPERATION* op : flow) {
        const auto* qspi_op = dynamic_cast<const VORN_QSPI_OPERATION*>(op);
        if (qspi_op == nullptr) return false;
        copies.emplace_back(new VORN_QSPI_OPERATION(*qspi_op));
    }
    out.reserve(out.size() + copies.size());
    for (std::unique_ptr<VORN_OPERATION>& copy : copies) out.push_back(copy.release());
    return true;
}

bool vorn_flow_for_density(const std::string& template_name, unsigned long long density,
                           const std::vector<VORN_OPERATION*>& flow,
                           std::vector<VORN_OPERATION*>& out, bool* fitted) {
    const int vendor = vorn_vendor_template_index(template_name);
    *fitted = vendor >= 0 && density <= VORN_THREE_BYTE_LIMIT;
    if (!*fitted) return vorn_copy_flow(flow, out);
    const auto& profile =
        VORN_FLASH_VENDOR_PROFILE::get_profile(static_cast<VORN_PROG_FLOW_TEMPLATE>(vendor));
    for (VORN_OPERATION* op : vorn_fit_flow_to_three_bytes(profile, flow)) out.push_back(op);
    return true;
}
