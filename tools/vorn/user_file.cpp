// Judging user files against the loaded database: the library reads them and judges their
// values (vorn_check_user_file); names are judged here, against each other and the database,
// as the command at hand would save them.
#include <algorithm>

#include "vorn_tool.h"

namespace vorn_tool {

namespace {

PROBLEM problem_of(const VORN_LOAD_FINDING& finding, VORN_MGR* mgr) {
    PROBLEM problem(finding.line, finding.severity, finding.id, finding.name, finding.text);
    if (!finding.field.empty())
        problem.accepted = accepted_values(finding.field, finding.value, {mgr});
    return problem;
}

}  // namespace

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
    {
        // The report carries what the validators post.
        CAPTURE quiet(m_session.output());
        file.report = vorn_check_user_file(m_session.qspi(), m_session.sdmmc(), file.full_path);
    }
    const VORN_USER_FILE_REPORT& report = file.report;
    file.sdmmc = report.sdmmc;
    if (report.skipped_by_switch) {
        if (m_policy.saved_by_update)
            file.problems.push_back(PROBLEM{0, 0, 0, "", report.note});
        else
            file.notes.push_back(report.note);
    }
    VORN_MGR* mgr = file.sdmmc ? static_cast<VORN_MGR*>(m_session.sdmmc()) : m_session.qspi();
    for (const VORN_LOAD_FINDING& finding : report.findings)
        file.problems.push_back(problem_of(finding, mgr));
    for (const VORN_LOAD_ENTRY& device : report.devices) {
        file.device_names.push_back(device.name);
        check_device_name(file, mgr, device.name, device.line, device.record.get());
        for (const VORN_LOAD_FINDING& finding : device.findings)
            file.problems.push_back(problem_of(finding, mgr));
        std::string why;
        if (device.record != nullptr && !file.sdmmc &&
            !id_fits_lookup(device.record->get_parameter_value(VORN_FLASH_PARAM_ID), &why))
            file.problems.push_back(PROBLEM{device.id_line, 0, 0, "", why});
    }
    for (const VORN_LOAD_ENTRY& tmpl : report.templates) {
        file.template_names.push_back(tmpl.name);
        check_template_name(file, tmpl.name, tmpl.line, tmpl.record.get());
        for (const VORN_LOAD_FINDING& finding : tmpl.findings)
            file.problems.push_back(problem_of(finding, mgr));
    }
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
        if (repeat.record == nullptr) return false;
        if (repeat.is_template) {
            std::string name = repeat.name;
            return flows_json(repeat.record->get_operation_list(VORN_PROG_FLOW_TYPE_SFL),
                              repeat.record->get_operation_list(VORN_PROG_FLOW_TYPE_SDM)) ==
                   flows_json(
                       qspi->get_user_template_operation_list(name, VORN_PROG_FLOW_TYPE_SFL),
                       qspi->get_user_template_operation_list(name, VORN_PROG_FLOW_TYPE_SDM));
        }
        return device_text(repeat.mgr, repeat.record) ==
               device_text(repeat.mgr, repeat.mgr->get_flash_map().at(repeat.name));
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

const USER_FILE_CHECKER::SEEN* USER_FILE_CHECKER::first_seen(std::map<std::string, SEEN>& seen,
                                                             const std::string& name,
                                                             const USER_FILE& file, int line) {
    const SEEN here{file.path + ":" + std::to_string(line),
                    file.full_path + ":" + std::to_string(line)};
    const auto [first, added] = seen.emplace(name, here);
    return added || first->second.origin == here.origin ? nullptr : &first->second;
}

bool USER_FILE_CHECKER::name_fits(USER_FILE& file, const std::string& name, int line,
                                  bool is_template) {
    const std::map<std::string, SEEN>& others = is_template ? m_seen_devices : m_seen_templates;
    auto other = others.find(name);
    if (other != others.end())
        file.problems.push_back(
            PROBLEM{line, 0, 0, "",
                    std::string(is_template ? "template name '" : "device name '") + name +
                        "' is also the name of the " + (is_template ? "device" : "user template") +
                        " at " + other->second.where});
    if (name.size() <= MAX_NAME_LENGTH) return true;
    file.problems.push_back(PROBLEM{line, 0, 0, "", name_too_long(name, is_template)});
    return false;
}

void USER_FILE_CHECKER::check_device_name(USER_FILE& file, VORN_MGR* mgr, const std::string& name,
                                          int line, VORN_FLASH* record) {
    auto duplicate = [&](const std::string& dir) {
        judge(file, line, [&](std::string* msg) {
            MSG_E* e = MSG_VORN::E::FOUND_DUPLICATED_FLASH_IN_DB(name, dir);
            e->post();
            *msg = e->get_text();
            delete e;
            return false;
        });
    };
    if (const SEEN* first = first_seen(m_seen_devices, name, file, line)) {
        duplicate(directory_of(file.full_path));
        file.notes.push_back("device '" + name + "' is also defined at " + first->where);
    }
    if (!name_fits(file, name, line, false)) return;

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
    auto stored = mgr->get_flash_map().find(name);
    const bool builtin =
        stored != mgr->get_flash_map().end() && !stored->second->get_flash_removable_permission();
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
    m_repeats.push_back(REPEAT{name, record, mgr, false, file.problems.size(),
                               static_cast<long>(file.notes.size())});
    if (same_domain)
        duplicate(target_dir);
    else
        file.problems.push_back(PROBLEM{
            line, 0, 0, "", "device '" + name + "' is in the database already (" + where + ")"});
    file.notes.push_back("with --replace, device '" + name + "' replaces the one of " + where);
}

void USER_FILE_CHECKER::check_template_name(USER_FILE& file, const std::string& name, int line,
                                            VORN_FLASH* record) {
    VORN_QSPI_MGR* mgr = m_session.qspi();
    if (const SEEN* first = first_seen(m_seen_templates, name, file, line))
        file.problems.push_back(PROBLEM{
            line, 0, 0, "", "user template '" + name + "' is also defined at " + first->where});
    if (!name_fits(file, name, line, true)) return;
    const auto& files = mgr->get_template_db_dir_map();
    auto existing = files.find(name);
    std::string copy = name;
    if (existing != files.end() && absolute_path(existing->second) == file.full_path &&
        mgr->is_valid_name(copy) && !mgr->is_golden_template_name(copy))
        return;  // this very file defines it
    if (existing != files.end() && mgr->is_valid_name(copy) && !mgr->is_golden_template_name(copy))
        m_repeats.push_back(REPEAT{name, record, mgr, true, file.problems.size(), -1});
    judge(file, line, [&](std::string* msg) { return mgr->template_name_is_valid(name, msg); },
          {"template name", name, mgr});
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
