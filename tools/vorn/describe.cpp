// Devices as people and programs see them: text blocks, table rows, JSON objects.
#include <cstdio>

#include "vorn_tool.h"

namespace vorn_tool {

namespace {

bool is_sdmmc(const VORN_FLASH* flash) { return flash->get_family() == DEV_FAMILY_SDMMC_FLASH; }

std::string or_dash(const std::string& text) { return text.empty() ? "-" : text; }

json operations_json(const std::vector<VORN_OPERATION*>* operations) {
    json list = json::array();
    if (operations == nullptr) return list;
    for (const VORN_OPERATION* op : *operations) {
        json actions = json::array();
        for (const VORN_ACTION* act : *op->get_action_list()) {
            json properties = json::object();
            for (VORN_ACT_PROPERTY p : act->get_property_enum_list())
                properties[VORN_ACT_PROPERTIES[p].key] = act->get_property_value(p);
            actions.push_back(json{{"type", action_tag(act->get_type())},
                                   {"name", act->get_name()},
                                   {"properties", properties}});
        }
        list.push_back(json{{"type", operation_key(op->get_type())},
                            {"name", op->get_name()},
                            {"actions", actions}});
    }
    return list;
}

void print_operations(std::ostream& out, const char* title,
                      const std::vector<VORN_OPERATION*>* operations) {
    out << '\n' << title << '\n';
    if (operations == nullptr || operations->empty()) {
        out << "  (empty)\n";
        return;
    }
    for (const VORN_OPERATION* op : *operations) {
        out << "  " << op->get_name() << '\n';
        const auto* actions = op->get_action_list();
        if (actions->empty()) out << "    (no actions)\n";
        int number = 0;
        for (const VORN_ACTION* act : *actions) {
            out << "    " << ++number << ". " << act->get_name() << '\n';
            std::vector<std::vector<std::string>> rows;
            // print_table escapes line breaks: a multi-line description stays one row, as it
            // is stored in a file.
            for (VORN_ACT_PROPERTY p : act->get_property_enum_list())
                rows.push_back({"       " + property_label(p), act->get_property_value(p)});
            print_table(out, rows);
        }
    }
}

}  // namespace

void print_flows(std::ostream& out, const std::vector<VORN_OPERATION*>* sfl,
                 const std::vector<VORN_OPERATION*>* sdm) {
    print_operations(out, "SFL flow", sfl);
    print_operations(out, "SDM flow", sdm);
}

json flows_json(const std::vector<VORN_OPERATION*>* sfl, const std::vector<VORN_OPERATION*>* sdm) {
    return json{{"sfl", operations_json(sfl)}, {"sdm", operations_json(sdm)}};
}

std::string property_label(VORN_ACT_PROPERTY property) {
    // The library leaves the two Custom labels empty: its dialogs show no label there.
    if (property == VORN_ACT_PROPERTY_CUSTOM_DESCRIPTION) return "Description:";
    if (property == VORN_ACT_PROPERTY_CUSTOM_DIRECTION) return "Direction:";
    return VORN_ACT_PROPERTY_NAME[static_cast<int>(property)];
}

const char* action_tag(VORN_ACT_TYPE type) {
    return PGM_COMMON_XML_ENUM_STRING[VORN_ACT_TYPE_TAG[static_cast<int>(type)]];
}

const char* operation_key(VORN_OP_TYPE type) { return VORN_OP_TYPES[static_cast<int>(type)].key; }

std::string hex(unsigned long long value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "0x%llX", value);
    return buffer;
}

std::string device_source(VORN_MGR* mgr, VORN_FLASH* flash) {
    const std::string name = flash->get_name();
    if (mgr->device_is_legacy(name, true)) return "legacy";
    if (!flash->get_flash_removable_permission()) return "built-in";
    const auto& active = mgr->get_flash_db_active_dir_map();
    const auto& custom = mgr->get_custom_dir_map();
    auto a = active.find(name);
    auto c = custom.find(name);
    if (a != active.end() && c != custom.end() && a->second == c->second) return "custom";
    return "zentro";
}

std::string device_text(VORN_MGR* mgr, VORN_FLASH* flash) {
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> root(mgr->create_xml_object_with_flash_list({flash}));
    return PGM_COMMON_XML::write_xml_string(root.get());
}

std::string device_file(VORN_MGR* mgr, VORN_FLASH* flash) {
    const auto& active = mgr->get_flash_db_active_dir_map();
    auto it = active.find(flash->get_name());
    return it == active.end() ? std::string() : it->second;
}

json device_json(VORN_MGR* mgr, VORN_FLASH* flash, bool with_flows) {
    const bool sdmmc = is_sdmmc(flash);
    const std::string source = device_source(mgr, flash);
    json j;
    j["name"] = flash->get_name();
    j["family"] = sdmmc ? "sdmmc" : "qspi";
    j["legacy"] = source == "legacy";
    if (!sdmmc) {
        unsigned int mask = 0;
        unsigned int value = flash->get_parameter_value_in_dword(VORN_FLASH_PARAM_ID, &mask);
        j["id"] = flash->get_parameter_value(VORN_FLASH_PARAM_ID);
        j["id_value"] = value;
        j["id_mask"] = mask;
    }
    j["generic_name"] = flash->get_generic_name();
    j["density"] = flash->get_density();
    j["density_bytes"] = flash->get_density_in_bytes_qword();
    j["io_voltage"] = flash->get_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE);
    if (!sdmmc) {
        j["total_die"] = flash->get_parameter_value_in_dword(VORN_FLASH_PARAM_TOTAL_DIE, nullptr);
        j["dummy_clock_cycle"] =
            flash->get_parameter_value_in_dword(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, nullptr);
        j["dummy_clock_cycle_x4"] =
            flash->get_parameter_value_in_dword(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, nullptr);
        j["template"] = flash->get_parameter_value(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE);
    }
    j["file"] = device_file(mgr, flash);
    j["source"] = source;
    j["removable"] = flash->get_flash_removable_permission();
    if (with_flows && !sdmmc) {
        j["flows"] = flows_json(flash->get_operation_list(VORN_PROG_FLOW_TYPE_SFL),
                                flash->get_operation_list(VORN_PROG_FLOW_TYPE_SDM));
    }
    return j;
}

std::vector<std::string> device_row_header() {
    return {"NAME", "ID", "DENSITY", "VOLTAGE", "TEMPLATE", "SOURCE"};
}

std::vector<std::string> device_row(VORN_MGR* mgr, VORN_FLASH* flash) {
    const bool sdmmc = is_sdmmc(flash);
    return {name_cell(flash->get_name()),
            sdmmc ? "-" : or_dash(flash->get_parameter_value(VORN_FLASH_PARAM_ID)),
            or_dash(flash->get_density()),
            or_dash(flash->get_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE)),
            sdmmc ? "-" : or_dash(flash->get_parameter_value(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE)),
            device_source(mgr, flash)};
}

void print_device(std::ostream& out, VORN_MGR* mgr, VORN_FLASH* flash) {
    const bool sdmmc = is_sdmmc(flash);
    const std::string source = device_source(mgr, flash);
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"Name:", flash->get_name()});
    rows.push_back({"Family:", sdmmc ? "SD/MMC" : "QSPI"});
    if (source == "legacy") {
        rows.push_back({"Source:", "legacy (known to the programmer only; no database entry)"});
        print_table(out, rows);
        return;
    }
    rows.push_back({"Generic name:", or_dash(flash->get_generic_name())});
    if (!sdmmc) {
        unsigned int mask = 0;
        unsigned int value = flash->get_parameter_value_in_dword(VORN_FLASH_PARAM_ID, &mask);
        rows.push_back({"Device ID:", flash->get_parameter_value(VORN_FLASH_PARAM_ID) + " (" +
                                          hex(value) + ", mask " + hex(mask) + ")"});
    }
    rows.push_back({"Density:", flash->get_density() + " (" +
                                    std::to_string(flash->get_density_in_bytes_qword()) +
                                    " bytes)"});
    rows.push_back({"I/O voltage:", flash->get_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE)});
    if (!sdmmc) {
        rows.push_back({"Total dies:", std::to_string(flash->get_parameter_value_in_dword(
                                           VORN_FLASH_PARAM_TOTAL_DIE, nullptr))});
        rows.push_back({"Dummy clock cycles:", std::to_string(flash->get_parameter_value_in_dword(
                                                   VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, nullptr))});
        rows.push_back(
            {"Dummy clock cycles x4:", std::to_string(flash->get_parameter_value_in_dword(
                                           VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, nullptr))});
        rows.push_back(
            {"Flow template:", flash->get_parameter_value(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE)});
    }
    rows.push_back({"File:", or_dash(device_file(mgr, flash))});
    rows.push_back({"Source:", source});
    rows.push_back({"Removable:", flash->get_flash_removable_permission() ? "yes" : "no"});
    print_table(out, rows);
    if (sdmmc) return;
    print_flows(out, flash->get_operation_list(VORN_PROG_FLOW_TYPE_SFL),
                flash->get_operation_list(VORN_PROG_FLOW_TYPE_SDM));
}

}  // namespace vorn_tool
