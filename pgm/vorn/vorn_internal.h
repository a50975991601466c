// Internal-error reporting of the library's sources, and helpers they share. Each source
// defines VORN_SOURCE_FILE ("pgm/vorn/vorn_<module>", the name internal errors have always
// given, whatever subfolder the source sits in) before including this header.
#ifndef VORN_INTERNAL_H
#define VORN_INTERNAL_H

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "pgm_host.h"
#include "vorn_mgr.h"
#include "vorn_msgs.h"

#ifndef VORN_SOURCE_FILE
#error "define VORN_SOURCE_FILE before including vorn_internal.h"
#endif

// Reports `text` (the failed condition as written) unless `cond` holds; does not return.
#define VORN_CHECK(cond, text)                                                               \
    do {                                                                                     \
        if (!(cond)) MSG_INTERNAL_ERROR::report((text), "VORN", VORN_SOURCE_FILE, __LINE__); \
    } while (0)

// Reports an already formatted condition text; does not return.
#define VORN_FAIL(text) MSG_INTERNAL_ERROR::report((text), "VORN", VORN_SOURCE_FILE, __LINE__)

// Reads a byte list ("0x06 0x00 12"): false when it has no token or a malformed one. `count`
// receives the number of bytes and `out`, unless null, the bytes themselves. Validating with a
// null `out` allocates nothing.
bool vorn_scan_byte_list(const std::string& text, unsigned char* out, unsigned int& count);

// The file name of a path: what follows its last slash, of either kind.
inline std::string vorn_base_name(const std::string& path) {
    size_t pos = path.find_last_of("/\\");
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

inline bool vorn_list_contains(const std::vector<std::string>& list, const std::string& value) {
    for (const std::string& entry : list)
        if (entry == value) return true;
    return false;
}

// Shared by a manager and the records its lookups met: what changed since its index was made.
struct VORN_FLASH_NOTICE {
    // Past this many edited records every record's values are read again.
    static constexpr size_t kMaxEdited = 64;

    // The map changed: the index is made again, keeping the values of the records not edited.
    bool map_changed = true;
    bool many_edited = false;
    // Records whose values changed since, or that were deleted (a record made later at the same
    // address must not pass for them), each once. Only compared, never followed.
    std::vector<const VORN_FLASH*> edited;

    void record_edited(const VORN_FLASH* record) {
        if (many_edited || was_edited(record)) return;
        if (edited.size() == kMaxEdited) {
            many_edited = true;
            edited.clear();
            return;
        }
        edited.push_back(record);
    }
    bool was_edited(const VORN_FLASH* record) const {
        for (const VORN_FLASH* known : edited)
            if (known == record) return true;
        return false;
    }
};

// The records of a manager's flash map in name order, with the values its lookups compare,
// one array each: a walk over thousands of devices reads arrays, not scattered records.
struct VORN_FLASH_INDEX {
    std::vector<VORN_FLASH*> records;
    std::vector<std::string> names;
    std::vector<unsigned int> ids;              // get_parameter_value_in_dword(VORN_FLASH_PARAM_ID)
    std::vector<unsigned long long> densities;  // get_density_in_bytes_qword()
    std::vector<std::string> io_voltages;
    std::vector<std::string> prog_flow_templates;
};

// What the library's own code reads and changes of a manager beyond its exported interface.
struct VORN_HOST_ACCESS {
    static bool family_filter(const VORN_MGR& mgr, std::string* voltage) {
        if (mgr.m_skip_device_filtering) return false;
        auto info = mgr.m_dev_info_map.find(mgr.m_active_device_family);
        *voltage = info != mgr.m_dev_info_map.end() ? info->second.io_voltage : std::string();
        return true;
    }
    static void forget(VORN_MGR& mgr, const VORN_FLASH* draft) {
        if (mgr.m_flash == draft) mgr.m_flash = nullptr;
        if (mgr.m_legacy_record == draft) mgr.m_legacy_record = nullptr;
    }
    static const std::string& save_error(const VORN_MGR& mgr) { return mgr.m_save_error; }
    static bool flash_fits_file(VORN_MGR& mgr, VORN_FLASH* flash) {
        return mgr.flash_fits_file(flash);
    }

    // Whoever changes m_flash_map (an entry added, erased or pointed elsewhere) calls this.
    static void flash_map_changed(VORN_MGR& mgr);
    // Made again when the map changed or its size differs from the index's (a host's subclass
    // may add or erase records on its own); a record's values are read again once it told of
    // a change, and when it is new to the index. A null record has zero and empty values.
    static const VORN_FLASH_INDEX& index(VORN_MGR& mgr);
    // Makes `record` tell `notice` of its changes from now on.
    static void share_notice(VORN_FLASH& record, const std::shared_ptr<VORN_FLASH_NOTICE>& notice);
    // While device_is_legacy asks whether this one name is listed; null otherwise.
    static const std::string* legacy_name_asked(const VORN_MGR& mgr);
    // The family's legacy list kept for one filter (`voltage` null: none; `scheme` -1 then);
    // empty until made. Lists made from a legacy map of another size are forgotten.
    static std::vector<std::string>& legacy_list(VORN_MGR& mgr, size_t legacy_devices,
                                                 const std::string* voltage, int scheme);
};

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
