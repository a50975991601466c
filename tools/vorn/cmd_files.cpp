// Commands on user files: check, import, export.
#include <algorithm>
#include <filesystem>
#include <iostream>

#include "vorn_tool.h"

namespace vorn_tool {

namespace {

// SD/MMC files need their manager, which must exist before the database loads.
void ask_for_sdmmc_if_needed(SESSION& session, const std::vector<std::string>& files) {
    for (const std::string& file : files) {
        if (vorn_is_sdmmc_file(file)) {
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
    bool replace = false;
    bool strict = false;
};

// The flow check of every device of a file that checked clean; with `strict`, error-level
// findings count as problems.
size_t check_flows_of(SESSION& session, const USER_FILE& file, bool strict, json& entry) {
    if (file.sdmmc || !file.report.read || !file.problems.empty()) return 0;
    size_t blocking = 0;
    json checks = json::array();
    for (const VORN_LOAD_ENTRY& device : file.report.devices) {
        const VORN_FLASH* record = device.record.get();
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
    CHECK_POLICY policy;
    policy.target = parse_db_dir(args.for_dir);
    policy.replace = args.replace;
    USER_FILE_CHECKER checker(session, policy);
    size_t problems = 0;
    json files = json::array();
    session.qspi();  // the load's own report comes before the progress line
    PROGRESS progress(output, "checking", args.files.size());
    for (const std::string& path : args.files) {
        USER_FILE file = checker.check(path);
        progress.clear();
        report_file(output.out(), file);
        progress.step();
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
    bool replace = false;
    bool force = false;
};

int run_import(SESSION& session, const IMPORT_ARGS& args) {
    OUTPUT& output = session.output();
    ask_for_sdmmc_if_needed(session, args.files);
    const DB_DIR target = parse_db_dir(args.to);
    const std::string dir = session.writable_dir(target);
    CHECK_POLICY policy;
    policy.target = target;
    policy.saved_by_update = true;
    policy.replace = args.replace;
    USER_FILE_CHECKER checker(session, policy);

    // Everything is judged before anything is saved: one bad file imports nothing.
    std::vector<USER_FILE> checked;
    bool ok = true;
    json files = json::array();
    session.qspi();  // the load's own report comes before the progress line
    {
        // A file named twice is imported once.
        std::vector<std::string> paths;
        std::vector<std::string> seen;
        for (const std::string& path : args.files) {
            if (std::find(seen.begin(), seen.end(), absolute_path(path)) != seen.end()) continue;
            seen.push_back(absolute_path(path));
            paths.push_back(path);
        }
        PROGRESS progress(output, "checking", paths.size());
        for (const std::string& path : paths) {
            USER_FILE file = checker.check(path);
            if (file.report.read && file_is_loaded(session, file.full_path))
                file.problems.push_back(
                    PROBLEM{0, 0, 0, "", "the file is part of the database already"});
            if (!file.problems.empty()) {
                ok = false;
                progress.clear();
                report_file(std::cerr, file);
            }
            progress.step();
            files.push_back(file_json(file));
            checked.push_back(std::move(file));
        }
    }
    output.data()["files"] = files;
    output.data()["imported"] = json::array();
    output.data()["unchanged"] = json::array();
    if (!ok) {
        output.error("nothing was imported");
        return STATUS_REJECTED;
    }

    if (!FIO_FILE_SYSTEM::is_directory(dir) && !FIO_FILE_SYSTEM::create_directories(dir))
        throw REFUSED("cannot create the directory " + dir);

    struct PENDING {
        VORN_MGR* mgr;
        std::unique_ptr<VORN_FLASH> record;
    };
    std::vector<PENDING> devices;
    std::vector<std::unique_ptr<VORN_FLASH>> templates;
    // What the database holds already, identical, is left as it is: a repeated or interrupted
    // import goes on with the rest.
    json unchanged = json::array();
    auto is_in = [](const std::vector<std::string>& names, const std::string& name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    for (USER_FILE& file : checked) {
        VORN_MGR* mgr = file.sdmmc ? static_cast<VORN_MGR*>(session.sdmmc()) : session.qspi();
        for (VORN_LOAD_ENTRY& device : file.report.devices) {
            const std::string& name = device.name;
            if (!is_in(file.unchanged_devices, name)) {
                devices.push_back(PENDING{mgr, std::move(device.record)});
                continue;
            }
            const std::string where = mgr->get_flash_db_active_dir_map().at(name);
            output.out() << "Unchanged device '" << printable(name) << "' in " << where << '\n';
            unchanged.push_back(json{{"kind", "device"}, {"name", name}, {"file", where}});
        }
        for (VORN_LOAD_ENTRY& tmpl : file.report.templates) {
            const std::string& name = tmpl.name;
            if (!is_in(file.unchanged_templates, name)) {
                templates.push_back(std::move(tmpl.record));
                continue;
            }
            const std::string where = session.qspi()->get_template_db_dir_map().at(name);
            output.out() << "Unchanged template '" << printable(name) << "' in " << where << '\n';
            unchanged.push_back(json{{"kind", "template"}, {"name", name}, {"file", where}});
        }
    }
    output.data()["unchanged"] = unchanged;

    json flow_checks = json::array();
    bool blocked = false;
    for (const PENDING& pending : devices) {
        if (pending.mgr != session.qspi()) continue;
        json check;
        blocked = report_flow_check(output, *pending.record, !args.force, check) || blocked;
        flow_checks.push_back(check);
    }
    output.data()["flow_checks"] = flow_checks;
    if (blocked) {
        output.error(
            "nothing was imported: flows with error-level findings (--force imports them anyway)");
        return STATUS_REJECTED;
    }

    json& imported = output.data()["imported"];
    PROGRESS progress(output, "saving", devices.size() + templates.size());
    for (PENDING& pending : devices) {
        const std::string name = pending.record->get_name();
        const auto& active = pending.mgr->get_flash_db_active_dir_map();
        const json replaced = active.count(name) > 0 ? json(active.at(name)) : json(nullptr);
        if (!pending.mgr->update_db(pending.record.release(), dir)) {
            progress.clear();
            session.explain_failed_save(pending.mgr);
            output.error("device '" + name + "' could not be saved in " + dir);
            return STATUS_REJECTED;
        }
        const std::string file = pending.mgr->get_last_save_files().device_file;
        progress.clear();
        output.out() << "Imported device '" << printable(name) << "' to " << file;
        if (!replaced.is_null())
            output.out() << ", replacing the one of " << replaced.get<std::string>();
        output.out() << '\n';
        progress.step();
        imported.push_back(
            json{{"kind", "device"}, {"name", name}, {"file", file}, {"replaced", replaced}});
    }
    VORN_QSPI_MGR* qspi = session.qspi();
    for (auto& carrier : templates) {
        const std::string name = carrier->get_name();
        if (!qspi->update_template_db(carrier.get(), dir)) {
            progress.clear();
            session.explain_failed_save(qspi);
            output.error("template '" + name + "' could not be saved in " + dir);
            return STATUS_REJECTED;
        }
        const std::string file = qspi->get_last_save_files().template_file;
        progress.clear();
        output.out() << "Imported template '" << printable(name) << "' to " << file << '\n';
        progress.step();
        imported.push_back(
            json{{"kind", "template"}, {"name", name}, {"file", file}, {"replaced", nullptr}});
    }
    return STATUS_DONE;
}

// ---- export -------------------------------------------------------------------------------

struct EXPORT_ARGS {
    std::vector<std::string> names;
    std::vector<std::string> templates;
    std::string output_file;
    bool per_file = false;
    bool all = false;
    CLI::Option* output_option = nullptr;
};

// One file per device and per template in `dir`, named as the library names its own.
int export_per_file(SESSION& session, VORN_MGR* mgr, const std::vector<VORN_FLASH*>& records,
                    const std::vector<std::string>& templates, const std::string& dir) {
    OUTPUT& output = session.output();
    if (!FIO_FILE_SYSTEM::is_directory(dir) && !FIO_FILE_SYSTEM::create_directories(dir))
        throw REFUSED("cannot create the directory " + dir);
    json written = json::array();
    auto write = [&](PGM_COMMON_XML_ELEMENT* root, const std::string& path) {
        std::unique_ptr<PGM_COMMON_XML_ELEMENT> owner(root);
        if (!PGM_COMMON_XML::write_xml(root, path))
            throw REFUSED("cannot write " + path + ": " + PGM_COMMON_XML::last_error());
        written.push_back(path);
    };
    for (VORN_FLASH* record : records)
        write(mgr->create_xml_object_with_flash_list({record}),
              dir + PGM_COMMON::flash_file_name(record->get_name()));
    for (const std::string& name : templates) {
        PGM_COMMON_XML_ELEMENT* root = nullptr;
        session.qspi()->create_user_template_with_template_list(root, {name});
        write(root, dir + PGM_COMMON::flash_template_file_name(name));
    }
    output.out() << "Exported " << records.size() << " device" << (records.size() == 1 ? "" : "s")
                 << " and " << templates.size() << " template" << (templates.size() == 1 ? "" : "s")
                 << " to " << dir << ", one file each\n";
    output.data()["file"] = nullptr;
    output.data()["files"] = written;
    return STATUS_DONE;
}

// A document larger than the XML layer reads could be written but never checked or imported.
void warn_if_too_large(OUTPUT& output, unsigned long long bytes) {
    output.data()["bytes"] = bytes;
    output.data()["too_large"] = bytes > PGM_COMMON_XML::MAX_FILE_SIZE;
    if (bytes <= PGM_COMMON_XML::MAX_FILE_SIZE) return;
    output.error("the export is " + std::to_string(bytes) + " bytes, more than the " +
                 std::to_string(PGM_COMMON_XML::MAX_FILE_SIZE) +
                 " bytes `vorn check` and `vorn import` read; export fewer devices at a time, "
                 "or use --per-file -o DIR");
}

std::vector<std::string> unique(const std::vector<std::string>& names) {
    std::vector<std::string> out;
    for (const auto& name : names)
        if (std::find(out.begin(), out.end(), name) == out.end()) out.push_back(name);
    return out;
}

int run_export(SESSION& session, const EXPORT_ARGS& args) {
    OUTPUT& output = session.output();
    if (args.all && !(args.names.empty() && args.templates.empty()))
        throw USAGE_ERROR("export takes names or --all, not both");
    std::vector<std::string> names = unique(args.names);
    std::vector<std::string> templates = unique(args.templates);
    if (args.all) {
        // The user's own: every QSPI device a user file holds, and every user template.
        VORN_QSPI_MGR* qspi = session.qspi();
        for (const auto& entry : qspi->get_flash_map())
            if (entry.second != nullptr && entry.second->get_flash_removable_permission())
                names.push_back(entry.first);
        templates = qspi->get_user_template_list();
        if (names.empty() && templates.empty())
            throw REFUSED("there are no user devices or user templates to export");
    }
    if (names.empty() && templates.empty())
        throw USAGE_ERROR("export needs device names, --template names or --all");
    for (const auto& name : names)
        if (!session.name_is_safe(name, false)) return STATUS_REJECTED;
    for (const auto& name : templates)
        if (!session.name_is_safe(name, true)) return STATUS_REJECTED;
    if (args.per_file && args.output_option->count() == 0)
        throw USAGE_ERROR("--per-file needs -o DIR, the directory to write the files into");
    session.managers();

    // Find every name first: a lookup may rebuild the managers (to add SD/MMC), which would
    // invalidate records collected before it.
    for (const auto& name : names) session.known_manager_of(name);
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
                throw REFUSED("no user template named '" + name + "'" +
                              did_you_mean(closest_names(name, known)));
    }
    json& data = output.data();
    data["devices"] = names;
    data["templates"] = templates;
    if (args.per_file)
        return export_per_file(session, mgr, records, templates, absolute_dir(args.output_file));

    PGM_COMMON_XML_ELEMENT* root = nullptr;
    if (!records.empty()) root = mgr->create_xml_object_with_flash_list(records);
    if (!templates.empty()) qspi->create_user_template_with_template_list(root, templates);
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> owner(root);

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
        std::error_code ec;
        warn_if_too_large(output, std::filesystem::file_size(path, ec));
        return STATUS_DONE;
    }
    const std::string text = PGM_COMMON_XML::write_xml_string(root);
    output.out() << text;
    if (!text.empty() && text.back() != '\n') output.out() << '\n';
    data["file"] = nullptr;
    data["xml"] = text;
    warn_if_too_large(output, text.size());
    return STATUS_DONE;
}

}  // namespace

void add_file_commands(CLI::App& app, std::vector<COMMAND>& commands) {
    const std::vector<std::string> dirs = db_dir_names();

    auto check = std::make_shared<CHECK_ARGS>();
    CLI::App* cmd = app.add_subcommand(
        "check", "Check user files: schema, every value and action property, duplicates");
    cmd->add_option("files", check->files, "User files (pgm_flash_*.xml)")->required();
    cmd->add_option("--for", check->for_dir,
                    "Directory the files are meant for, deciding which names clash "
                    "(default custom)")
        ->check(CLI::IsMember(dirs));
    cmd->add_flag("--replace", check->replace,
                  "Judge as `import --replace` would: devices the database holds are replaced");
    cmd->add_flag("--strict", check->strict,
                  "Count error-level findings of the flow check as problems");
    commands.push_back({cmd, [check](SESSION& s) { return run_check(s, *check); }});

    auto import = std::make_shared<IMPORT_ARGS>();
    cmd = app.add_subcommand("import",
                             "Check user files and save every device and template they hold");
    cmd->add_option("files", import->files, "User files")->required();
    cmd->add_option("--to", import->to, "Directory to save in (default custom)")
        ->check(CLI::IsMember(dirs));
    cmd->add_flag("--replace", import->replace,
                  "Replace devices of the same name (otherwise they are refused)");
    cmd->add_flag("--force", import->force,
                  "Import even when a device's flow check finds an error (nothing is imported "
                  "otherwise)");
    commands.push_back({cmd, [import](SESSION& s) { return run_import(s, *import); }, true});

    auto exp = std::make_shared<EXPORT_ARGS>();
    cmd = app.add_subcommand("export", "Write devices and user templates as one user file");
    cmd->add_option("names", exp->names, "Device names");
    cmd->add_option("--template", exp->templates, "User template name (repeatable)")
        ->allow_extra_args(false);
    exp->output_option = cmd->add_option("-o,--output", exp->output_file,
                                         "File to write (default: stdout); with --per-file the "
                                         "directory to write into");
    cmd->add_flag("--all", exp->all,
                  "Every QSPI user device (custom and zentro directories) and every user template");
    cmd->add_flag("--per-file", exp->per_file,
                  "One file per device and per template, as the database names its own");
    commands.push_back({cmd, [exp](SESSION& s) { return run_export(s, *exp); }});
}

}  // namespace vorn_tool
