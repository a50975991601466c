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

// A parameter the record or manager does not have; does not return.
#define VORN_FAIL_UNKNOWN_PARAMETER(param) \
    VORN_FAIL(TARVEN::fmt_sprintf("Unknown flash parameter: %d", static_cast<int>(param)))

// The file name of a path: what follows its last slash, of either kind.
inline std::string vorn_base_name(const std::string& path) {
    size_t pos = path.find_last_of("/\\");
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

// Posts a message the catalogue's builder made, and frees it.
inline void vorn_post_message(MSG_BASE* msg) {
    std::unique_ptr<MSG_BASE> owner(msg);
    if (owner) owner->post();
}

using VORN_WARNING_BUILDER = MSG_W* (*)(const std::string&);

// The rejection protocol of every validator: with a text pointer, post the warning `id` and
// explain with its catalogue sentence for `value`; without one, stay silent. Always false.
bool vorn_reject(VORN_WARNING_BUILDER build, MSG_ID id, const std::string& value, std::string* err);

// The texts of a table, made once into strings and never destroyed, so that a record made or
// read while statics are torn down still finds them.
inline const std::vector<std::string>& vorn_texts_of(const char* const* table, size_t count) {
    return *new std::vector<std::string>(table, table + count);
}

// A letter, digit or underscore: what names of devices, templates and actions are made of.
inline bool vorn_is_word_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

inline bool vorn_list_contains(const std::vector<std::string>& list, const std::string& value) {
    for (const std::string& entry : list)
        if (entry == value) return true;
    return false;
}

// Shared by a manager and the records its lookups met: what changed since its index was made.
struct VORN_FLASH_NOTICE {
    // Past this many edited records every record's values are read again.
    static constexpr size_t MAX_EDITED = 64;

    // The map changed: the index is made again, keeping the values of the records not edited.
    bool map_changed = true;
    bool many_edited = false;
    // Records whose values changed since, or that were deleted (a record made later at the same
    // address must not pass for them), each once. Only compared, never followed.
    std::vector<const VORN_FLASH*> edited;

    void record_edited(const VORN_FLASH* record) {
        if (many_edited || was_edited(record)) return;
        if (edited.size() == MAX_EDITED) {
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

#endif
