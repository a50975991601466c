// Reading database files, as both families' loaders do: one file into its tree, and the user
// files of a directory one by one.
#define VORN_SOURCE_FILE "pgm/vorn/vorn_mgr"

#include <memory>

#include "vorn_internal.h"
#include "vorn_db_files.h"
#include "vorn_msg_scope.h"

static MEM_INITIALIZER mem_initializer("VORN");

std::unique_ptr<PGM_COMMON_XML_ELEMENT> vorn_read_db_file(
    PGM_COMMON_XML_FILE_ENUM kind, const std::string& xml_file, const std::string& xsd,
    bool is_golden_template, std::string& err_msg, PGM_COMMON_XML_CHILD_SINK* sink) {
    err_msg.clear();
    if (!FIO_FILE_SYSTEM::exists(xml_file)) {
        err_msg = TARVEN::fmt_sprintf("%s not found.", xml_file);
        return nullptr;
    }
    // The golden template is read without the schema; a user file is checked as it is read.
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> tree;
    if (!is_golden_template)
        tree.reset(PGM_COMMON_XML::read_xml(kind, xml_file, xsd, err_msg, sink));
    else if (sink != nullptr)
        tree.reset(PGM_COMMON_XML::read_xml(kind, xml_file, "", err_msg, sink));
    else
        tree.reset(PGM_COMMON_XML::parse_xml(kind, xml_file, xsd, true, "", "", ""));
    if (tree == nullptr) {
        if (is_golden_template && sink == nullptr) err_msg = PGM_COMMON_XML::last_error();
        if (err_msg.empty()) err_msg = TARVEN::fmt_sprintf("%s cannot be read.", xml_file);
    }
    return tree;
}

bool vorn_skip_user_file(const std::string& xml_file, const std::string& reason) {
    msg_vdebug_impl(2, "Skip %s due to parsing error: %s", vorn_base_name(xml_file).c_str(),
                    reason.c_str());
    return false;
}

bool vorn_load_user_files(
    const std::string& dir, const char* trace_format, const char* skipped_name,
    const std::function<bool(const std::string& xml_file, std::string& not_loaded)>& load,
    std::map<std::string, std::string>& files_not_loaded, std::vector<VORN_LOAD_REPORT>& reports) {
    vorn_recover_db_dir(dir);
    bool result = true;
    FIO_PATH path(dir);
    path.set_file_name(PGM_COMMON::flash_file_pattern());
    FIO_FIND finder(path.str(), false);
    for (std::string found = finder.find_first(); !found.empty(); found = finder.find_next()) {
        const std::string name = vorn_base_name(found);
        if (skipped_name != nullptr && PGM_COMMON::compare_string(name, skipped_name, false))
            continue;
        path.set_file_name(name);
        const std::string xml_file = path.fullpath();
        msg_vdebug_impl(2, trace_format, xml_file.c_str());
        std::string not_loaded;
        bool loaded = false;
        VORN_MSG_SCOPE messages;
        try {
            loaded = load(xml_file, not_loaded);
        } catch (const VORN_INTERNAL_ERROR& error) {
            vorn_skip_user_file(xml_file, error.what());
            not_loaded = error.what();
        }
        result = loaded && result;
        if (!loaded || !not_loaded.empty() || !messages.records().empty()) {
            VORN_LOAD_REPORT report;
            report.file = xml_file;
            report.loaded = loaded && not_loaded.empty();
            for (const MSG_RECORD& record : messages.records()) {
                VORN_LOAD_FINDING posted;
                posted.severity = record.severity;
                posted.id = record.id;
                posted.name = record.name;
                posted.text = record.text;
                report.findings.push_back(posted);
            }
            reports.push_back(std::move(report));
        }
        // A link is never read, and replacing it loses nothing: its target stays as it is.
        if (!not_loaded.empty() && !FIO_FILE_SYSTEM::is_link(xml_file))
            files_not_loaded[xml_file] = not_loaded;
    }
    return result;
}

bool VORN_MGR::parse_user_xml_in_zentro_dir() {
    return parse_user_xml_in_dir(get_db_zentro_dir(), "Parsing XML file in Zentro directory: %s",
                                 golden_template_file_name(), m_zentro_dir_map);
}

bool VORN_MGR::parse_user_xml_in_custom_dir() {
    return parse_user_xml_in_dir(get_db_custom_dir(), "Parsing XML file in custom directory: %s",
                                 nullptr, m_custom_dir_map);
}

bool VORN_MGR::parse_user_xml_in_dir(const std::string&, const char*, const char*,
                                     std::map<std::string, std::string>&) {
    return true;
}

const char* VORN_MGR::golden_template_file_name() const { return ""; }

const char* VORN_MGR::xsd_file_name() const { return ""; }

std::string VORN_MGR::get_xsd_file() {
    return PGM_COMMON::pgm_get_common_programmer() + "xsd/" + xsd_file_name();
}

std::string VORN_MGR::get_golden_template_file() {
    return PGM_COMMON::pgm_get_common_programmer() + "xml/" + golden_template_file_name();
}
