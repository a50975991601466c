// Commands on user files: check, import, export.
#include <algorithm>
#include <iostream>

#include "vorn_tool.h"

namespace vorn_tool {

namespace {

DB_DIR parse_db_dir(const std::string& text) {
    return text == "zentro" ? DB_DIR::ZENTRO : DB_DIR::CUSTOM;
}

// SD/MMC files need their manager, which must exist before the database loads.
void ask_for_sdmmc_if_needed(SESSION& session, const std::vector<std::string>& files) {
    for (const std::string& file : files) {
        if (looks_like_sdmmc_file(file)) {
            session.want_sdmmc();
            return;
        }
    }
}

// Whether the database already holds entries read from `full_path`.
bool file_is_loaded(SESSION& session, const std::string& full_path) {
    for (VORN_MGR* mgr : session.managers()) {
        for (const auto& entry : mgr->get_flash_db_active_dir_map())
            if (absolute_path(entry.second) == full_path) return true;
        for (const auto& entry : mgr->get_template_db_dir_map())
            if (absolute_path(entry.second) == full_path) return true;
    }
    return false;
}

// ---- check --------------------------------------------------------------------------------

struct CHECK_ARGS {
    std::vector<std::string> files;
    std::string for_dir = "custom";
    bool strict = false;
};

// The flow check of every device of a file that checked clean; with `strict`, error-level
// findings count as problems.
size_t check_flows_of(SESSION& session, const USER_FILE& file, bool strict, json& entry) {
    if (file.sdmmc || file.root == nullptr || !file.problems.empty()) return 0;
    size_t blocking = 0;
    json checks = json::array();
    for (PGM_COMMON_XML_ELEMENT* element : file.devices) {
        const std::unique_ptr<VORN_FLASH> record = make_device(session, file, element);
        const VORN_FLOW_CHECK_RESULT result = VORN_FLOW_CHECKER().check_flash(*record);
        print_flow_check(session.output().out(), file.path + ": " + record->get_name(), result);
        checks.push_back(flow_check_json(record->get_name(), result));
        if (strict) blocking += result.count(VORN_FLOW_SEVERITY_ERROR);
    }
    entry["flow_checks"] = checks;
    return blocking;
}

int run_check(SESSION& session, const CHECK_ARGS& args) {
    OUTPUT& output = session.output();
    ask_for_sdmmc_if_needed(session, args.files);
    session.prepare(false);
    CHECK_POLICY policy;
    policy.target = parse_db_dir(args.for_dir);
    USER_FILE_CHECKER checker(session, policy);
    size_t problems = 0;
    json files = json::array();
    for (const std::string& path : args.files) {
        USER_FILE file = checker.check(path);
        report_file(output.out(), file);
        json entry = file_json(file);
        problems += file.problems.size() + check_flows_of(session, file, args.strict, entry);
        files.push_back(entry);
    }
    output.data()["files"] = files;
    output.data()["problems"] = problems;
    return problems == 0 ? STATUS_DONE : STATUS_REJECTED;
}

// ---- import -------------------------------------------------------------------------------

struct IMPORT_ARGS {
    std::vector<std::string> files;
    std::string to = "custom";
    bool strict = false;
};

int run_import(SESSION& session, const IMPORT_ARGS& args) {
    OUTPUT& output = session.output();
    ask_for_sdmmc_if_needed(session, args.files);
    session.prepare(true);
    const DB_DIR target = parse_db_dir(args.to);
    CHECK_POLICY policy;
    policy.target = target;
    policy.saved_by_update = true;
    USER_FILE_CHECKER checker(session, policy);

    // Everything is judged before anything is saved: one bad file imports nothing.
    std::vector<USER_FILE> checked;
    bool ok = true;
    json files = json::array();
    for (const std::string& path : args.files) {
        USER_FILE file = checker.check(path);
        if (file.root != nullptr && file_is_loaded(session, file.full_path))
            file.problems.push_back(
                PROBLEM{0, 0, 0, "", "the file is part of the database already"});
        if (!file.problems.empty()) {
            ok = false;
            report_file(std::cerr, file);
        }
        files.push_back(file_json(file));
        checked.push_back(std::move(file));
    }
    output.data()["files"] = files;
    output.data()["imported"] = json::array();
    if (!ok) {
        output.error("nothing was imported");
        return STATUS_REJECTED;
    }

    const std::string dir = session.db_dir(target);
    if (!FIO_FILE_SYSTEM::is_directory(dir) && !FIO_FILE_SYSTEM::create_directories(dir))
        throw REFUSED("cannot create the directory " + dir);

    struct PENDING {
        VORN_MGR* mgr;
        std::unique_ptr<VORN_FLASH> record;
    };
    std::vector<PENDING> devices;
    std::vector<std::unique_ptr<VORN_FLASH>> templates;
    for (const USER_FILE& file : checked) {
        VORN_MGR* mgr = file.sdmmc ? static_cast<VORN_MGR*>(session.sdmmc()) : session.qspi();
        for (PGM_COMMON_XML_ELEMENT* flash : file.devices)
            devices.push_back(PENDING{mgr, make_device(session, file, flash)});
        for (PGM_COMMON_XML_ELEMENT* tmpl : file.templates)
            templates.push_back(make_template_carrier(session, tmpl));
    }

    json flow_checks = json::array();
    bool blocked = false;
    for (const PENDING& pending : devices) {
        if (pending.mgr != session.qspi()) continue;
        json check;
        blocked = report_flow_check(output, *pending.record, args.strict, check) || blocked;
        flow_checks.push_back(check);
    }
    output.data()["flow_checks"] = flow_checks;
    if (blocked) {
        output.error("nothing was imported: flows with error-level findings (--strict)");
        return STATUS_REJECTED;
    }

    json& imported = output.data()["imported"];
    for (PENDING& pending : devices) {
        const std::string name = pending.record->get_name();
        if (!pending.mgr->update_db(pending.record.release(), dir)) {
            output.error("device '" + name + "' could not be saved in " + dir);
            return STATUS_REJECTED;
        }
        const std::string file = pending.mgr->get_flash_db_active_dir_map().at(name);
        output.out() << "Imported device '" << name << "' to " << file << '\n';
        imported.push_back(json{{"kind", "device"}, {"name", name}, {"file", file}});
    }
    VORN_QSPI_MGR* qspi = session.qspi();
    for (auto& carrier : templates) {
        const std::string name = carrier->get_name();
        if (!qspi->update_template_db(carrier.get(), dir)) {
            output.error("template '" + name + "' could not be saved in " + dir);
            return STATUS_REJECTED;
        }
        const std::string file = qspi->get_template_db_dir_map().at(name);
        output.out() << "Imported template '" << name << "' to " << file << '\n';
        imported.push_back(json{{"kind", "template"}, {"name", name}, {"file", file}});
    }
    return STATUS_DONE;
}

// ---- export -------------------------------------------------------------------------------

struct EXPORT_ARGS {
    std::vector<std::string> names;
    std::vector<std::string> templates;
    std::string output_file;
    CLI::Option* output_option = nullptr;
};

std::vector<std::string> unique(const std::vector<std::string>& names) {
    std::vector<std::string> out;
    for (const auto& name : names)
        if (std::find(out.begin(), out.end(), name) == out.end()) out.push_back(name);
    return out;
}

int run_export(SESSION& session, const EXPORT_ARGS& args) {
    OUTPUT& output = session.output();
    const std::vector<std::string> names = unique(args.names);
    const std::vector<std::string> templates = unique(args.templates);
    if (names.empty() && templates.empty())
        throw USAGE_ERROR("export needs device names or --template names");
    for (const auto& name : names)
        if (!session.name_is_safe(name, false)) return STATUS_REJECTED;
    for (const auto& name : templates)
        if (!session.name_is_safe(name, true)) return STATUS_REJECTED;
    session.prepare(false);
    session.managers();

    // Find every name first: a lookup may rebuild the managers (to add SD/MMC), which would
    // invalidate records collected before it.
    for (const auto& name : names)
        if (session.manager_of(name) == nullptr) throw REFUSED("no device named '" + name + "'");
    VORN_MGR* mgr = nullptr;
    std::vector<VORN_FLASH*> records;
    for (const auto& name : names) {
        VORN_MGR* owner = session.manager_of(name);
        if (owner == nullptr) throw REFUSED("no device named '" + name + "'");
        if (owner->device_is_legacy(name, true))
            throw REFUSED("'" + name + "' is a legacy device known to the programmer only");
        if (mgr != nullptr && mgr != owner)
            throw REFUSED("QSPI and SD/MMC devices cannot share one file");
        mgr = owner;
        records.push_back(owner->get_current_flash());
    }
    VORN_QSPI_MGR* qspi = session.qspi();
    if (!templates.empty()) {
        if (mgr != nullptr && mgr != qspi)
            throw REFUSED("user templates belong to QSPI files; SD/MMC devices cannot join them");
        const auto known = qspi->get_user_template_list();
        for (const auto& name : templates)
            if (std::find(known.begin(), known.end(), name) == known.end())
                throw REFUSED("no user template named '" + name + "'");
    }

    PGM_COMMON_XML_ELEMENT* root = nullptr;
    if (!records.empty()) root = mgr->create_xml_object_with_flash_list(records);
    if (!templates.empty()) qspi->create_user_template_with_template_list(root, templates);
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> owner(root);

    json& data = output.data();
    data["devices"] = names;
    data["templates"] = templates;
    if (args.output_option->count() > 0) {
        const std::string path = absolute_path(args.output_file);
        if (!PGM_COMMON_XML::write_xml(root, path)) {
            output.error("cannot write " + path + ": " + PGM_COMMON_XML::last_error());
            return STATUS_REJECTED;
        }
        output.out() << "Exported " << names.size() << " device" << (names.size() == 1 ? "" : "s")
                     << " and " << templates.size() << " template"
                     << (templates.size() == 1 ? "" : "s") << " to " << path << '\n';
        data["file"] = path;
        return STATUS_DONE;
    }
    const std::string text = PGM_COMMON_XML::write_xml_string(root);
    output.out() << text;
    if (!text.empty() && text.back() != '\n') output.out() << '\n';
    data["file"] = nullptr;
    data["xml"] = text;
    return STATUS_DONE;
}

}  // namespace

void add_file_commands(CLI::App& app, std::vector<COMMAND>& commands) {
    const std::vector<std::string> dirs{"custom", "zentro"};

    auto check = std::make_shared<CHECK_ARGS>();
    CLI::App* cmd = app.add_subcommand(
        "check", "Check user files: schema, every value and action property, duplicates");
    cmd->add_option("files", check->files, "User files (pgm_flash_*.xml)")->required();
    cmd->add_option("--for", check->for_dir,
                    "Directory the files are meant for, deciding which names clash "
                    "(default custom)")
        ->check(CLI::IsMember(dirs));
    cmd->add_flag("--strict", check->strict,
                  "Count error-level findings of the flow check as problems");
    commands.push_back({cmd, [check](SESSION& s) { return run_check(s, *check); }});

    auto import = std::make_shared<IMPORT_ARGS>();
    cmd = app.add_subcommand("import",
                             "Check user files and save every device and template they hold");
    cmd->add_option("files", import->files, "User files")->required();
    cmd->add_option("--to", import->to, "Directory to save in (default custom)")
        ->check(CLI::IsMember(dirs));
    cmd->add_flag("--strict", import->strict,
                  "Import nothing when a device's flow check finds an error");
    commands.push_back({cmd, [import](SESSION& s) { return run_import(s, *import); }});

    auto exp = std::make_shared<EXPORT_ARGS>();
    cmd = app.add_subcommand("export", "Write devices and user templates as one user file");
    cmd->add_option("names", exp->names, "Device names");
    cmd->add_option("--template", exp->templates, "User template name (repeatable)")
        ->allow_extra_args(false);
    exp->output_option =
        cmd->add_option("-o,--output", exp->output_file, "File to write (default: stdout)");
    commands.push_back({cmd, [exp](SESSION& s) { return run_export(s, *exp); }});
}

}  // namespace vorn_tool
