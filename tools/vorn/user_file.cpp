// Checking user files with the library's own validators, and turning checked entries into
// records that update_db and update_template_db can save.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "vorn_tool.h"

namespace fs = std::filesystem;

namespace vorn_tool {

namespace {

constexpr size_t MAX_NAME_LENGTH = 128;

const PGM_COMMON_XML_ENUM FLOW_TAGS[2] = {PGM_COMMON_XML_ENUM_SFL, PGM_COMMON_XML_ENUM_SDM};

// In the order of VORN_OP_TYPE.
const PGM_COMMON_XML_ENUM OPERATION_TAGS[5] = {
    PGM_COMMON_XML_ENUM_INITIALIZATION, PGM_COMMON_XML_ENUM_PROGRAM, PGM_COMMON_XML_ENUM_ERASE,
    PGM_COMMON_XML_ENUM_VERIFY_BLANKCHECK_EXAMINE, PGM_COMMON_XML_ENUM_TERMINATION};

std::string trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return text.substr(begin, end - begin);
}

bool leaf_number(const PGM_COMMON_XML_ELEMENT* leaf, unsigned int* value) {
    if (leaf == nullptr) return false;
    bool ok = false;
    *value = PGM_COMMON::convert_string_to_dword(trim(leaf->get_value_text()), true, &ok);
    return ok;
}

int line_of(const PGM_COMMON_XML_ELEMENT* parent, PGM_COMMON_XML_ENUM kind) {
    const PGM_COMMON_XML_ELEMENT* child = first_child(parent, kind);
    return child != nullptr ? child->get_line() : parent->get_line();
}

const char* tag_name(PGM_COMMON_XML_ENUM kind) {
    return PGM_COMMON_XML_ENUM_STRING[static_cast<int>(kind)];
}

// A description's "\n" escapes become line breaks, as the library reads them.
std::string unescape_description(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            out += '\n';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

void read_flows(SESSION& session, PGM_COMMON_XML_ELEMENT* owner, VORN_FLASH* flash) {
    std::vector<VORN_OPERATION*> sfl;
    std::vector<VORN_OPERATION*> sdm;
    bool ok = false;
    std::vector<MSG_RECORD> records;
    {
        // Every value was judged by the checker already; its warnings would only repeat.
        CAPTURE quiet(session.output());
        ok = session.qspi()->update_overall_operation_list(owner, sfl, sdm);
        records = quiet.take();
    }
    if (!ok) {
        for (const auto& record : records) session.output().show_message(record);
        for (VORN_OPERATION* op : sfl) delete op;
        for (VORN_OPERATION* op : sdm) delete op;
        throw REFUSED("the programming flow of '" + flash->get_name() + "' cannot be read");
    }
    flash->set_operation_list(sfl, VORN_PROG_FLOW_TYPE_SFL);
    flash->set_operation_list(sdm, VORN_PROG_FLOW_TYPE_SDM);
}

}  // namespace

PGM_COMMON_XML_ELEMENT* first_child(const PGM_COMMON_XML_ELEMENT* parent,
                                    PGM_COMMON_XML_ENUM kind) {
    if (parent == nullptr) return nullptr;
    std::vector<PGM_COMMON_XML_ELEMENT*> children = parent->get_childs(kind, true);
    return children.empty() ? nullptr : children.front();
}

std::string leaf_text(const PGM_COMMON_XML_ELEMENT* parent, PGM_COMMON_XML_ENUM kind) {
    const PGM_COMMON_XML_ELEMENT* child = first_child(parent, kind);
    return child != nullptr ? child->get_value_text() : std::string();
}

bool looks_like_sdmmc_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string head(65536, '\0');
    in.read(&head[0], static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
    // Skip the declaration, comments and the like up to the first element.
    size_t pos = 0;
    while ((pos = head.find('<', pos)) != std::string::npos) {
        if (pos + 1 < head.size() && (head[pos + 1] == '?' || head[pos + 1] == '!')) {
            if (head.compare(pos, 4, "<!--") == 0) {
                size_t end = head.find("-->", pos + 4);
                if (end == std::string::npos) return false;
                pos = end + 3;
            } else {
                ++pos;
            }
            continue;
        }
        size_t end = pos + 1;
        while (end < head.size() && (std::isalnum(static_cast<unsigned char>(head[end])) ||
                                     head[end] == '_' || head[end] == ':'))
            ++end;
        return head.compare(pos + 1, end - pos - 1, "SDMMC_FLASH") == 0 && end - pos - 1 == 11;
    }
    return false;
}

USER_FILE_CHECKER::USER_FILE_CHECKER(SESSION& session, CHECK_POLICY policy)
    : m_session(session), m_policy(std::move(policy)) {}

bool USER_FILE_CHECKER::judge(USER_FILE& file, int line,
                              const std::function<bool(std::string*)>& check,
                              const ACCEPTED_FIELD& field) {
    std::string explanation;
    bool ok = false;
    std::vector<MSG_RECORD> records;
    {
        CAPTURE capture(m_session.output());
        ok = check(&explanation);
        records = capture.take();
    }
    if (ok) {
        for (const auto& record : records) m_session.output().show_message(record);
        return true;
    }
    if (records.empty()) file.problems.push_back(PROBLEM{line, 0, 0, "", explanation});
    for (const auto& record : records)
        file.problems.push_back(
            PROBLEM{line, record.severity, record.id, record.name, record.text});
    if (field.name != nullptr)
        file.problems.back().accepted = accepted_values(field.name, field.value, {field.mgr});
    return false;
}

USER_FILE USER_FILE_CHECKER::check(const std::string& path) {
    USER_FILE file;
    file.path = path;
    file.full_path = absolute_path(path);
    std::error_code ec;
    if (!fs::is_regular_file(file.full_path, ec)) {
        file.problems.push_back(
            PROBLEM{0, 0, 0, "", fs::exists(file.full_path, ec) ? "not a file" : "no such file"});
        return file;
    }
    file.sdmmc = looks_like_sdmmc_file(file.full_path);
    std::string xsd;
    if (file.sdmmc) {
        VORN_SDMMC_MGR* sdmmc = m_session.sdmmc();
        if (sdmmc == nullptr) {
            file.problems.push_back(
                PROBLEM{0, 0, 0, "", "an SD/MMC file, but SD/MMC support is off"});
            return file;
        }
        xsd = sdmmc->get_xsd_file();
        if (!sdmmc->is_new_device_supported()) {
            std::string text =
                "SD/MMC user files are read only when the switch pgm_enable_custom_sdmmc is on";
            if (m_policy.saved_by_update)
                file.problems.push_back(PROBLEM{0, 0, 0, "", text});
            else
                file.notes.push_back(text);
        }
    } else {
        xsd = m_session.qspi()->get_xsd_file();
    }

    std::string error;
    std::string warning;
    if (!PGM_COMMON_XML::check_xsd(file.full_path, xsd, error, warning)) {
        std::string reasons = error.empty() ? warning : error;
        if (reasons.empty()) reasons = "the document does not match the schema";
        size_t start = 0;
        while (start <= reasons.size()) {
            size_t end = reasons.find('\n', start);
            std::string text = reasons.substr(start, end == std::string::npos ? end : end - start);
            int line = 0;
            // The host reports "line N: reason".
            if (text.compare(0, 5, "line ") == 0) {
                size_t colon = text.find(": ");
                if (colon != std::string::npos) {
                    line = std::atoi(text.c_str() + 5);
                    text = text.substr(colon + 2);
                }
            }
            if (!text.empty()) file.problems.push_back(PROBLEM{line, 0, 0, "", "schema: " + text});
            if (end == std::string::npos) break;
            start = end + 1;
        }
        return file;
    }
    PGM_COMMON_XML_ELEMENT* root = PGM_COMMON_XML::parse_xml(
        file.sdmmc ? PGM_COMMON_XML_FILE_VORN_SDMMC : PGM_COMMON_XML_FILE_VORN_QSPI, file.full_path,
        xsd, false, "", "", "");
    if (root == nullptr) {
        file.problems.push_back(PROBLEM{0, 0, 0, "", PGM_COMMON_XML::last_error()});
        return file;
    }
    file.root.reset(root);
    if (!file.sdmmc && first_child(root, PGM_COMMON_XML_ENUM_GOLDEN_TEMPLATE) != nullptr) {
        // The loader reads golden templates from one place only and never as user files.
        file.problems.push_back(
            PROBLEM{first_child(root, PGM_COMMON_XML_ENUM_GOLDEN_TEMPLATE)->get_line(), 0, 0, "",
                    "a golden template is not a user file"});
        return file;
    }
    file.devices = root->get_childs(PGM_COMMON_XML_ENUM_FLASH, true);
    if (!file.sdmmc) file.templates = root->get_childs(PGM_COMMON_XML_ENUM_USER_TEMPLATE, true);
    for (PGM_COMMON_XML_ELEMENT* flash : file.devices) {
        if (file.sdmmc)
            check_sdmmc_device(file, flash);
        else
            check_qspi_device(file, flash);
    }
    for (PGM_COMMON_XML_ELEMENT* tmpl : file.templates) check_template(file, tmpl);
    settle_repeats(file);
    return file;
}

void USER_FILE_CHECKER::settle_repeats(USER_FILE& file) {
    std::vector<REPEAT> repeats;
    repeats.swap(m_repeats);
    // Only a file whose one problem is names the database holds can be compared: every other
    // value must be valid before its records can be built.
    if (repeats.empty() || file.problems.size() != repeats.size()) return;
    VORN_QSPI_MGR* qspi = m_session.qspi();
    auto same = [&](const REPEAT& repeat) {
        if (repeat.is_template) {
            std::string name = repeat.name;
            const std::unique_ptr<VORN_FLASH> carrier =
                make_template_carrier(m_session, repeat.element);
            return flows_json(carrier->get_operation_list(VORN_PROG_FLOW_TYPE_SFL),
                              carrier->get_operation_list(VORN_PROG_FLOW_TYPE_SDM)) ==
                   flows_json(
                       qspi->get_user_template_operation_list(name, VORN_PROG_FLOW_TYPE_SFL),
                       qspi->get_user_template_operation_list(name, VORN_PROG_FLOW_TYPE_SDM));
        }
        const std::unique_ptr<VORN_FLASH> record = make_device(m_session, file, repeat.element);
        auto text = [&](VORN_FLASH* flash) {
            std::unique_ptr<PGM_COMMON_XML_ELEMENT> root(
                repeat.mgr->create_xml_object_with_flash_list({flash}));
            return PGM_COMMON_XML::write_xml_string(root.get());
        };
        return text(record.get()) == text(repeat.mgr->get_flash_map().at(repeat.name));
    };
    // Back to front, so that the positions of the ones still to come stay put.
    for (auto it = repeats.rbegin(); it != repeats.rend(); ++it) {
        if (!same(*it)) continue;
        file.problems.erase(file.problems.begin() + static_cast<long>(it->problem));
        if (it->note >= 0) file.notes.erase(file.notes.begin() + it->note);
        (it->is_template ? file.unchanged_templates : file.unchanged_devices).push_back(it->name);
    }
    std::reverse(file.unchanged_devices.begin(), file.unchanged_devices.end());
    std::reverse(file.unchanged_templates.begin(), file.unchanged_templates.end());
    for (const std::string& name : file.unchanged_devices)
        file.notes.push_back("device '" + name + "' is in the database already, unchanged");
    for (const std::string& name : file.unchanged_templates)
        file.notes.push_back("user template '" + name + "' is in the database already, unchanged");
}

void USER_FILE_CHECKER::check_device_name(USER_FILE& file, VORN_MGR* mgr, const std::string& name,
                                          int line, PGM_COMMON_XML_ELEMENT* element) {
    const SEEN here{file.path + ":" + std::to_string(line),
                    file.full_path + ":" + std::to_string(line)};
    auto duplicate = [&](const std::string& dir) {
        judge(file, line, [&](std::string* msg) {
            MSG_E* e = MSG_VORN::E::FOUND_DUPLICATED_FLASH_IN_DB(name, dir);
            e->post();
            *msg = e->get_text();
            delete e;
            return false;
        });
    };
    auto seen = m_seen_devices.find(name);
    if (seen == m_seen_devices.end()) {
        m_seen_devices[name] = here;
    } else if (seen->second.origin != here.origin) {
        duplicate(directory_of(file.full_path));
        file.notes.push_back("device '" + name + "' is also defined at " + seen->second.where);
    }
    auto tmpl = m_seen_templates.find(name);
    if (tmpl != m_seen_templates.end())
        file.problems.push_back(PROBLEM{line, 0, 0, "",
                                        "device name '" + name +
                                            "' is also the name of the user template at " +
                                            tmpl->second.where});
    if (name.size() > MAX_NAME_LENGTH) {
        file.problems.push_back(
            PROBLEM{line, 0, 0, "",
                    "Device name '" + name + "' is invalid as it is longer than 128 characters."});
        return;
    }

    std::string copy = name;
    const bool exists = mgr->device_exist_in_db(name, true);
    if (!exists || !mgr->is_valid_name(copy) || mgr->is_golden_template_name(copy) ||
        mgr->device_is_legacy(name, true)) {
        judge(file, line, [&](std::string* msg) { return mgr->device_name_is_valid(name, msg); },
              {"device name", name, mgr});
        return;
    }
    // A device of that name is loaded already.
    if (name == m_policy.own_device) return;
    for (const auto* map : {&mgr->get_flash_db_active_dir_map(), &mgr->get_zentro_dir_map(),
                            &mgr->get_custom_dir_map()}) {
        auto entry = map->find(name);
        if (entry != map->end() && absolute_path(entry->second) == file.full_path)
            return;  // this very file defines it
    }
    const auto& active = mgr->get_flash_db_active_dir_map();
    auto active_file = active.find(name);
    const std::string where = active_file != active.end() ? active_file->second : "";
    auto record = mgr->get_flash_map().find(name);
    const bool builtin =
        record != mgr->get_flash_map().end() && !record->second->get_flash_removable_permission();
    const bool in_custom = mgr->get_custom_dir_map().count(name) > 0;
    const bool in_zentro = mgr->get_zentro_dir_map().count(name) > 0;
    const std::string target_dir = m_session.db_dir(m_policy.target);

    // What the zentro directory can never take, --replace or not.
    if (m_policy.target == DB_DIR::ZENTRO && builtin) {
        duplicate(target_dir);
        return;
    }
    if (m_policy.target == DB_DIR::ZENTRO && in_custom) {
        file.problems.push_back(PROBLEM{line, 0, 0, "",
                                        "device '" + name +
                                            "' is in use from the custom directory (" + where +
                                            "); it cannot be saved to the zentro directory"});
        return;
    }
    if (m_policy.replace) {
        file.notes.push_back("device '" + name + "' replaces the one of " + where);
        return;
    }
    // check and import agree: a name the database holds is refused until --replace says so,
    // unless the device is the very same (settle_repeats).
    const bool same_domain = m_policy.target == DB_DIR::CUSTOM ? in_custom : in_zentro;
    m_repeats.push_back(REPEAT{name, element, mgr, false, file.problems.size(),
                               static_cast<long>(file.notes.size())});
    if (same_domain)
        duplicate(target_dir);
    else
        file.problems.push_back(PROBLEM{
            line, 0, 0, "", "device '" + name + "' is in the database already (" + where + ")"});
    file.notes.push_back("with --replace, device '" + name + "' replaces the one of " + where);
}

void USER_FILE_CHECKER::check_template_name(USER_FILE& file, const std::string& name, int line,
                                            PGM_COMMON_XML_ELEMENT* element) {
    VORN_QSPI_MGR* mgr = m_session.qspi();
    const SEEN here{file.path + ":" + std::to_string(line),
                    file.full_path + ":" + std::to_string(line)};
    auto seen = m_seen_templates.find(name);
    if (seen == m_seen_templates.end())
        m_seen_templates[name] = here;
    else if (seen->second.origin != here.origin)
        file.problems.push_back(
            PROBLEM{line, 0, 0, "",
                    "user template '" + name + "' is also defined at " + seen->second.where});
    auto device = m_seen_devices.find(name);
    if (device != m_seen_devices.end())
        file.problems.push_back(PROBLEM{line, 0, 0, "",
                                        "template name '" + name +
                                            "' is also the name of the device at " +
                                            device->second.where});
    if (name.size() > MAX_NAME_LENGTH) {
        file.problems.push_back(PROBLEM{
            line, 0, 0, "",
            "Template name '" + name + "' is invalid as it is longer than 128 characters."});
        return;
    }
    const auto& files = mgr->get_template_db_dir_map();
    auto existing = files.find(name);
    std::string copy = name;
    if (existing != files.end() && absolute_path(existing->second) == file.full_path &&
        mgr->is_valid_name(copy) && !mgr->is_golden_template_name(copy))
        return;  // this very file defines it
    if (existing != files.end() && mgr->is_valid_name(copy) && !mgr->is_golden_template_name(copy))
        m_repeats.push_back(REPEAT{name, element, mgr, true, file.problems.size(), -1});
    judge(file, line, [&](std::string* msg) { return mgr->template_name_is_valid(name, msg); },
          {"template name", name, mgr});
}

void USER_FILE_CHECKER::check_qspi_device(USER_FILE& file, PGM_COMMON_XML_ELEMENT* flash) {
    VORN_QSPI_MGR* mgr = m_session.qspi();
    PGM_COMMON_XML_ELEMENT* info = first_child(flash, PGM_COMMON_XML_ENUM_DEVICE_INFO);
    if (info == nullptr) {
        file.problems.push_back(PROBLEM{flash->get_line(), 0, 0, "", "FLASH without DEVICE_INFO"});
        return;
    }
    const std::string name = leaf_text(info, PGM_COMMON_XML_ENUM_DEVICE_NAME);
    file.device_names.push_back(name);
    check_device_name(file, mgr, name, line_of(info, PGM_COMMON_XML_ENUM_DEVICE_NAME), flash);

    const std::string id = leaf_text(info, PGM_COMMON_XML_ENUM_DEVICE_ID);
    judge(file, line_of(info, PGM_COMMON_XML_ENUM_DEVICE_ID),
          [&](std::string* msg) {
              return mgr->device_id_is_valid(id, msg) && id_fits_lookup(id, msg);
          },
          {"device ID in a file", id, mgr});
    const std::string voltage = leaf_text(info, PGM_COMMON_XML_ENUM_DEVICE_IO_VOLTAGE);
    judge(file, line_of(info, PGM_COMMON_XML_ENUM_DEVICE_IO_VOLTAGE),
          [&](std::string* msg) { return mgr->device_io_voltage_is_valid(voltage, msg); },
          {"I/O voltage", voltage, mgr});
    const std::string density = leaf_text(info, PGM_COMMON_XML_ENUM_DEVICE_DENSITY);
    judge(file, line_of(info, PGM_COMMON_XML_ENUM_DEVICE_DENSITY),
          [&](std::string* msg) { return mgr->device_density_is_valid(density, msg); },
          {"density", density, mgr});

    struct NUMBER {
        PGM_COMMON_XML_ENUM tag;
        bool (VORN_QSPI_MGR::*check)(unsigned int, std::string*);
        const char* field;
    };
    const NUMBER numbers[3] = {
        {PGM_COMMON_XML_ENUM_TOTAL_DEVICE_DIE, &VORN_QSPI_MGR::total_device_die_is_valid,
         "total dies"},
        {PGM_COMMON_XML_ENUM_DUMMY_CLOCK_CYCLE, &VORN_QSPI_MGR::dummy_clock_cycle_is_valid,
         "dummy clock cycles"},
        {PGM_COMMON_XML_ENUM_DUMMY_CLOCK_CYCLE_X4, &VORN_QSPI_MGR::dummy_clock_cycle_is_valid,
         "dummy clock cycles x4"}};
    for (const NUMBER& number : numbers) {
        unsigned int value = 0;
        const int line = line_of(info, number.tag);
        if (!leaf_number(first_child(info, number.tag), &value)) {
            file.problems.push_back(
                PROBLEM{line, 0, 0, "", std::string(tag_name(number.tag)) + " is not a number"});
            continue;
        }
        judge(file, line, [&](std::string* msg) { return (mgr->*number.check)(value, msg); },
              {number.field, std::to_string(value), mgr});
    }
    check_flows(file, flash);
}

void USER_FILE_CHECKER::check_sdmmc_device(USER_FILE& file, PGM_COMMON_XML_ELEMENT* flash) {
    VORN_SDMMC_MGR* mgr = m_session.sdmmc();
    PGM_COMMON_XML_ELEMENT* info = first_child(flash, PGM_COMMON_XML_ENUM_DEVICE_INFO);
    if (info == nullptr) {
        file.problems.push_back(PROBLEM{flash->get_line(), 0, 0, "", "FLASH without DEVICE_INFO"});
        return;
    }
    const std::string name = leaf_text(info, PGM_COMMON_XML_ENUM_DEVICE_NAME);
    file.device_names.push_back(name);
    check_device_name(file, mgr, name, line_of(info, PGM_COMMON_XML_ENUM_DEVICE_NAME), flash);
    const std::string voltage = leaf_text(info, PGM_COMMON_XML_ENUM_DEVICE_IO_VOLTAGE);
    judge(file, line_of(info, PGM_COMMON_XML_ENUM_DEVICE_IO_VOLTAGE),
          [&](std::string* msg) { return mgr->device_io_voltage_is_valid(voltage, msg); },
          {"I/O voltage", voltage, mgr});
    const std::string density = leaf_text(info, PGM_COMMON_XML_ENUM_DEVICE_DENSITY);
    judge(file, line_of(info, PGM_COMMON_XML_ENUM_DEVICE_DENSITY),
          [&](std::string* msg) { return mgr->device_density_is_valid(density, msg); },
          {"density", density, mgr});
}

void USER_FILE_CHECKER::check_template(USER_FILE& file, PGM_COMMON_XML_ELEMENT* tmpl) {
    const std::string name = leaf_text(tmpl, PGM_COMMON_XML_ENUM_TEMPLATE_NAME);
    file.template_names.push_back(name);
    check_template_name(file, name, line_of(tmpl, PGM_COMMON_XML_ENUM_TEMPLATE_NAME), tmpl);
    check_flows(file, tmpl);
}

void USER_FILE_CHECKER::check_flows(USER_FILE& file, PGM_COMMON_XML_ELEMENT* owner) {
    // The schema guarantees one PROGRAMMING_FLOW, one SFL and SDM, one of each operation.
    PGM_COMMON_XML_ELEMENT* flow = first_child(owner, PGM_COMMON_XML_ENUM_PROGRAMMING_FLOW);
    for (PGM_COMMON_XML_ENUM flow_tag : FLOW_TAGS) {
        PGM_COMMON_XML_ELEMENT* list = first_child(flow, flow_tag);
        for (PGM_COMMON_XML_ENUM op_tag : OPERATION_TAGS) {
            PGM_COMMON_XML_ELEMENT* op = first_child(list, op_tag);
            if (op == nullptr) continue;
            for (PGM_COMMON_XML_ELEMENT* action : op->get_childs(PGM_COMMON_XML_ENUM_ACTION, true))
                check_action(file, action);
        }
    }
}

void USER_FILE_CHECKER::check_action(USER_FILE& file, PGM_COMMON_XML_ELEMENT* action) {
    const PGM_COMMON_XML_ATTRIBUTE_INFO* attribute = action->find_attribute("type");
    const std::string tag = attribute != nullptr ? attribute->get_value_text() : std::string();
    VORN_ACT_TYPE type = VORN_ACT_TYPE_WRITE_REGISTER;
    if (!action_type_of_tag(tag, &type)) {
        file.problems.push_back(
            PROBLEM{action->get_line(), 0, 0, "", "ACTION of unknown type '" + tag + "'"});
        return;
    }
    std::unique_ptr<VORN_ACTION> act(m_session.qspi()->create_action(type));
    for (VORN_ACT_PROPERTY property : act->get_property_enum_list()) {
        const PROPERTY_FORM& form = property_form(property);
        const PGM_COMMON_XML_ELEMENT* child = first_child(action, form.tag);
        if (child == nullptr) {
            // The reader needs every element of the action's type.
            file.problems.push_back(
                PROBLEM{action->get_line(), 0, 0, "",
                        std::string(act->get_name()) + " action without " + tag_name(form.tag)});
            continue;
        }
        std::string value = child->get_value_text();
        if (form.number) {
            unsigned int number = 0;
            if (!leaf_number(child, &number)) {
                file.problems.push_back(
                    PROBLEM{child->get_line(), 0, 0, "",
                            std::string(tag_name(form.tag)) + " is not a number"});
                continue;
            }
            value = std::to_string(number);
        } else if (property == VORN_ACT_PROPERTY_CUSTOM_DESCRIPTION) {
            value = unescape_description(value);
        }
        judge(file, child->get_line(),
              [&](std::string* msg) { return act->property_value_is_valid(property, value, msg); });
    }
}

std::unique_ptr<VORN_FLASH> make_device(SESSION& session, const USER_FILE& file,
                                        PGM_COMMON_XML_ELEMENT* flash) {
    PGM_COMMON_XML_ELEMENT* info = first_child(flash, PGM_COMMON_XML_ENUM_DEVICE_INFO);
    const std::string name = leaf_text(info, PGM_COMMON_XML_ENUM_DEVICE_NAME);
    const std::string voltage = leaf_text(info, PGM_COMMON_XML_ENUM_DEVICE_IO_VOLTAGE);
    const std::string density = leaf_text(info, PGM_COMMON_XML_ENUM_DEVICE_DENSITY);
    if (file.sdmmc) {
        auto record = std::make_unique<VORN_SDMMC_FLASH>(name);
        record->set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, voltage);
        record->set_density(density);
        return record;
    }
    auto record = std::make_unique<VORN_QSPI_FLASH>(name);
    record->set_parameter_value(VORN_FLASH_PARAM_ID,
                                leaf_text(info, PGM_COMMON_XML_ENUM_DEVICE_ID));
    record->set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, voltage);
    record->set_density(density);
    const std::pair<PGM_COMMON_XML_ENUM, VORN_FLASH_PARAM> numbers[3] = {
        {PGM_COMMON_XML_ENUM_TOTAL_DEVICE_DIE, VORN_FLASH_PARAM_TOTAL_DIE},
        {PGM_COMMON_XML_ENUM_DUMMY_CLOCK_CYCLE, VORN_FLASH_PARAM_DUMMY_CLK_CYCLE},
        {PGM_COMMON_XML_ENUM_DUMMY_CLOCK_CYCLE_X4, VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4}};
    for (const auto& number : numbers) {
        unsigned int value = 0;
        leaf_number(first_child(info, number.first), &value);
        record->set_parameter_value(number.second, value);
    }
    record->set_parameter_value(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE,
                                leaf_text(info, PGM_COMMON_XML_ENUM_PROG_FLOW_TEMPLATE));
    read_flows(session, flash, record.get());
    return record;
}

std::unique_ptr<VORN_FLASH> make_template_carrier(SESSION& session, PGM_COMMON_XML_ELEMENT* tmpl) {
    const std::string name = leaf_text(tmpl, PGM_COMMON_XML_ENUM_TEMPLATE_NAME);
    auto record = std::make_unique<VORN_QSPI_FLASH>(name);
    record->set_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME, name);
    read_flows(session, tmpl, record.get());
    return record;
}

json problems_json(const std::vector<PROBLEM>& problems) {
    json out = json::array();
    for (const PROBLEM& p : problems) {
        out.push_back(json{{"line", p.line},
                           {"severity", p.severity == 'E'   ? "error"
                                        : p.severity == 'W' ? "warning"
                                                            : "problem"},
                           {"id", p.id},
                           {"name", p.name},
                           {"text", p.text},
                           {"accepted", p.accepted.empty() ? json(nullptr) : json(p.accepted)}});
    }
    return out;
}

std::string problem_text(const PROBLEM& problem) {
    if (problem.id == 0) return problem.text;
    return std::string(problem.severity == 'E' ? "Error" : "Warning") + " (" +
           std::to_string(problem.id) + "): " + problem.text;
}

json file_json(const USER_FILE& file) {
    return json{{"file", file.path},
                {"kind", file.sdmmc ? "sdmmc" : "qspi"},
                {"ok", file.problems.empty()},
                {"devices", file.device_names},
                {"templates", file.template_names},
                {"problems", problems_json(file.problems)},
                {"notes", file.notes}};
}

void report_file(std::ostream& out, const USER_FILE& file) {
    const std::string path = printable(file.path);
    for (const PROBLEM& p : file.problems) {
        const std::string where = path + (p.line > 0 ? ":" + std::to_string(p.line) : "");
        out << where << ": " << printable(problem_text(p)) << '\n';
        if (!p.accepted.empty()) out << where << ": " << p.accepted << '\n';
    }
    for (const std::string& note : file.notes) out << path << ": note: " << printable(note) << '\n';
    if (file.problems.empty()) {
        out << path << ": ok (" << file.device_names.size() << " device"
            << (file.device_names.size() == 1 ? "" : "s") << ", " << file.template_names.size()
            << " template" << (file.template_names.size() == 1 ? "" : "s") << ")\n";
    } else {
        out << path << ": " << file.problems.size() << " problem"
            << (file.problems.size() == 1 ? "" : "s") << '\n';
    }
}

}  // namespace vorn_tool
