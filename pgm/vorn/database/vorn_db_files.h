// The database files as both families read them: one file into its tree, the user files of a
// folder, and what an interrupted save left there.
#ifndef VORN_DB_FILES_H
#define VORN_DB_FILES_H

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "vorn_internal.h"

// Reads one database file of `kind` into its element tree; a user file is checked against
// `xsd` as it is read, its root's children handed to `sink` when one is given. Null, with the
// reason in `err_msg`, for a file that is missing, fails the schema or cannot be read.
std::unique_ptr<PGM_COMMON_XML_ELEMENT> vorn_read_db_file(
    PGM_COMMON_XML_FILE_ENUM kind, const std::string& xml_file, const std::string& xsd,
    bool is_golden_template, std::string& err_msg, PGM_COMMON_XML_CHILD_SINK* sink = nullptr);

// parse_xml_file of both families, `ROOT` being the family's document element: the tree of
// `xml_file`, owned by the caller, or false with the reason in `err_msg`. A user file that
// cannot be read, and a missing file, are ordinary failures; a golden template that is there
// but cannot be read is a broken invariant.
template <typename ROOT>
bool vorn_parse_xml_file(PGM_COMMON_XML_FILE_ENUM kind, ROOT** object, const std::string& xml_file,
                         const std::string& xsd, bool is_golden_template, std::string& err_msg) {
    VORN_CHECK(object, "object");
    VORN_CHECK(xml_file.length() > 0, "xml_file.length() > 0");
    *object = nullptr;
    VORN_CHECK(!xsd.empty(), "!xsd.empty()");
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> root =
        vorn_read_db_file(kind, xml_file, xsd, is_golden_template, err_msg);
    *object = dynamic_cast<ROOT*>(root.get());
    if (*object == nullptr) {
        if (err_msg.empty()) err_msg = TARVEN::fmt_sprintf("%s cannot be read.", xml_file);
        if (!is_golden_template || !FIO_FILE_SYSTEM::exists(xml_file)) return false;
        msg_vdebug_impl(2, "Golden template %s cannot be read: %s", xml_file.c_str(),
                        err_msg.c_str());
    }
    VORN_CHECK(*object != 0, "*object != 0");
    root.release();
    err_msg.clear();
    return true;
}

// The user files of one database directory, as both families load them: every
// "pgm_flash_*.xml" but `skipped_name` (null: none), in the finder's order, each announced by
// the trace `trace_format` and handed to `load`, which answers whether it loaded cleanly and
// says in `not_loaded` why a part of it is not in the maps (empty when all of it is). A file
// whose reading breaks an invariant is skipped like one the parser refuses: a user file never
// stops a manager's load. Every file not loaded whole is entered in `files_not_loaded` with
// why; every file not loaded whole or that drew a message has a report in `reports`, with the
// messages posted while it was read. True when every file loaded cleanly.
bool vorn_load_user_files(
    const std::string& dir, const char* trace_format, const char* skipped_name,
    const std::function<bool(const std::string& xml_file, std::string& not_loaded)>& load,
    std::map<std::string, std::string>& files_not_loaded, std::vector<VORN_LOAD_REPORT>& reports);

// Completes or removes what an interrupted save left in `dir`, with one warning per file,
// unless a writer is at work there.
void vorn_recover_db_dir(const std::string& dir);

// Traces a user file skipped for `reason`; false, for the loader to return.
bool vorn_skip_user_file(const std::string& xml_file, const std::string& reason);

#endif
