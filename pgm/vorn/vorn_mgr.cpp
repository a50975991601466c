#define VORN_SOURCE_FILE "pgm/vorn/vorn_mgr"

#include "vorn_mgr.h"

#include <climits>
#include <cstring>
#include <memory>

#include "vorn_internal.h"
#include "vorn_msg_scope.h"
#include "vorn_msgs.h"
#include "vorn_qspi_flash.h"
#include "vorn_sdmmc_flash.h"

static MEM_INITIALIZER mem_initializer("VORN");

// ---- byte-list conversion -----------------------------------------------------------------

namespace {

// One token of a byte list: "0x" with one or two hex digits, or a plain number up to 255.
bool convert_byte_token(const std::string& token, unsigned char& byte) {
    if (token.compare(0, 2, "0x") == 0) {
        if (token.size() > 4 || token.size() < 3) return false;
        unsigned int byte_size_temp = UINT_MAX;
        std::unique_ptr<unsigned char[]> bytes(
            PGM_COMMON::convert_hex_string_to_byte_array(token.substr(2), byte_size_temp, true));
        if (!bytes) return false;
        VORN_CHECK(byte_size_temp == 1, "byte_size_temp == 1");
        byte = bytes[0];
        return true;
    }
    bool ok = false;
    unsigned long long value = PGM_COMMON::convert_string_to_qword(token, true, &ok);
    if (!ok || value > 255) return false;
    byte = static_cast<unsigned char>(value & 0xFF);
    return true;
}

}  // namespace

bool vorn_scan_byte_list(const std::string& text, unsigned char* out, unsigned int& count) {
    count = 0;
    std::string token;
    size_t pos = 0;
    // Only the space separates; a tab stays inside its token and makes it malformed.
    while (pos < text.size()) {
        const size_t start = text.find_first_not_of(' ', pos);
        if (start == std::string::npos) break;
        size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        token.assign(text, start, end - start);
        unsigned char byte = 0;
        if (!convert_byte_token(token, byte)) return false;
        if (out != nullptr) out[count] = byte;
        ++count;
        pos = end;
    }
    return count > 0;
}

unsigned char* VORN_MGR::convert_data_list_string_to_byte_array(std::string data_string,
                                                                unsigned int* size, bool* ok) {
    VORN_CHECK(!data_string.empty(), "!data_string.empty()");

    unsigned int count = 0;
    std::unique_ptr<unsigned char[]> bytes;
    // Checked first, so that the bytes are allocated once and at their size.
    if (vorn_scan_byte_list(data_string, nullptr, count)) {
        bytes.reset(new unsigned char[count]());
        vorn_scan_byte_list(data_string, bytes.get(), count);
    }
    if (ok) *ok = bytes != nullptr;
    if (size) *size = bytes != nullptr ? count : 0;
    return bytes.release();
}

// ---- helpers ------------------------------------------------------------------------------

namespace {

// The custom database directory of the process; shared by every manager, renewed ones too.
std::string m_custom_db_dir;

// Runs `undo` however the scope is left: an internal error thrown half-way through an
// operation must leave the maps as they were.
template <typename F>
class SCOPE_UNDO {
  public:
    explicit SCOPE_UNDO(F undo) : m_undo(std::move(undo)) {}
    ~SCOPE_UNDO() { m_undo(); }
    SCOPE_UNDO(const SCOPE_UNDO&) = delete;
    SCOPE_UNDO& operator=(const SCOPE_UNDO&) = delete;

  private:
    F m_undo;
};

template <typename F>
SCOPE_UNDO<F> make_undo(F undo) {
    return SCOPE_UNDO<F>(std::move(undo));
}

// The user-facing sentence of a warning: its catalogue text with the value filled in. Built
// from the catalogue rather than the posted message, which a suppression leaves empty.
std::string warning_text(MSG_ID id, const std::string& value) {
    const VORN_MSG_INFO* info = vorn_msg_find(id);
    VORN_CHECK(info != nullptr, "vorn_msg_find(id)");
    std::string text(info->format);
    text.erase(text.rfind('/'));
    static const std::string placeholder = "%1!s!";
    size_t pos = text.find(placeholder);
    if (pos != std::string::npos) text.replace(pos, placeholder.size(), value);
    return text;
}

using WARNING_BUILDER = MSG_W* (*)(const std::string&);

// The rejection protocol of every validator: with a text pointer, post the warning and
// explain; without one, stay silent.
bool reject(WARNING_BUILDER build, MSG_ID id, const std::string& value, std::string* err) {
    if (err == nullptr) return false;
    std::unique_ptr<MSG_W> msg(build(value));
    msg->post();
    *err = warning_text(id, value);
    return false;
}

bool is_name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool list_contains(const std::vector<std::string>& list, const std::string& value) {
    for (const std::string& entry : list)
        if (entry == value) return true;
    return false;
}

std::string base_name(const std::string& path) {
    size_t pos = path.find_last_of("/\\");
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

// Whether a recorded file is `target` (absolute). The name test spares the path arithmetic
// for the thousands of entries that live elsewhere.
bool is_same_file(const std::string& recorded, const std::string& target,
                  const std::string& target_name) {
    if (base_name(recorded) != target_name) return false;
    return FIO_PATH(recorded).fullpath() == target;
}

// Picks the map of `db_dir`, which must be the Zentro or the custom directory (the Zentro
// map when both are the same).
std::map<std::string, std::string>* select_db_dir_map(
    const std::string& db_dir, std::map<std::string, std::string>& zentro_map,
    std::map<std::string, std::string>& custom_map, bool* is_zentro) {
    FIO_PATH zentro_dir(VORN_MGR::get_db_zentro_dir());
    FIO_PATH custom_dir(VORN_MGR::get_db_custom_dir());
    msg_vdebug_impl(2, "db_dir.c_str() = %s", db_dir.c_str());
    msg_vdebug_impl(2, "zentro_dir.full_directory().c_str() = %s",
                    zentro_dir.full_directory().c_str());
    msg_vdebug_impl(2, "custom_dir.full_directory().c_str() = %s",
                    custom_dir.full_directory().c_str());
    bool db_is_zentro_dir = gen_strcmp(db_dir, zentro_dir.full_directory()) == 0;
    bool db_is_custom_dir = gen_strcmp(db_dir, custom_dir.full_directory()) == 0;
    VORN_CHECK(db_is_zentro_dir || db_is_custom_dir, "db_is_zentro_dir || db_is_custom_dir");
    *is_zentro = db_is_zentro_dir;
    return db_is_zentro_dir ? &zentro_map : &custom_map;
}

void delete_user_template(VORN_USER_FLASH_TEMPLATE* tpl) {
    if (tpl == nullptr) return;
    for (auto it = tpl->sdm_operation_list.rbegin(); it != tpl->sdm_operation_list.rend(); ++it)
        delete *it;
    for (auto it = tpl->sfl_operation_list.rbegin(); it != tpl->sfl_operation_list.rend(); ++it)
        delete *it;
    delete tpl;
}

void post_failed_to_update_db(const std::string& db_dir) {
    std::unique_ptr<MSG_W> msg(MSG_VORN::W::FAILED_TO_UPDATE_DB(db_dir));
    msg->post();
}

}  // namespace

// ---- reading database files ---------------------------------------------------------------

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
    msg_vdebug_impl(2, "Skip %s due to parsing error: %s", base_name(xml_file).c_str(),
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
        const std::string name = base_name(found);
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

// ---- construction and state ---------------------------------------------------------------

// Hosts edit records in place through the pointers the lookups return, so the index's values
// hold only until a record says otherwise: every record the index reads shares its notice.
struct VORN_MGR::IMPL {
    std::shared_ptr<VORN_FLASH_NOTICE> notice = std::make_shared<VORN_FLASH_NOTICE>();
    VORN_FLASH_INDEX index;
    // The legacy lists by filter (a family voltage, or none, and a scheme), and the size of the
    // legacy map they were made from.
    std::map<std::pair<std::string, int>, std::vector<std::string>> legacy_lists;
    size_t legacy_devices = 0;
    const std::string* legacy_name_asked = nullptr;

    const VORN_FLASH_INDEX& index_of(const std::map<std::string, VORN_FLASH*>& map) {
        if (notice->map_changed || notice->many_edited || index.records.size() != map.size()) {
            make_index(map);
        } else {
            // Edits in place are few between lookups: only those records are read again.
            for (const VORN_FLASH* edited : notice->edited)
                for (size_t i = 0; i < index.records.size(); ++i)
                    if (index.records[i] == edited) read_values(i);
        }
        notice->map_changed = false;
        notice->many_edited = false;
        notice->edited.clear();
        return index;
    }

    // A record still under its name and not edited keeps the values read before: a save or a
    // deletion reads only the records it brought, not all of them.
    void make_index(const std::map<std::string, VORN_FLASH*>& map) {
        VORN_FLASH_INDEX old;
        std::swap(old, index);
        const bool keep = !notice->many_edited;
        index.records.resize(map.size());
        index.names.resize(map.size());
        index.ids.resize(map.size());
        index.densities.resize(map.size());
        index.io_voltages.resize(map.size());
        index.prog_flow_templates.resize(map.size());
        size_t i = 0;
        size_t j = 0;  // both in name order
        for (const auto& entry : map) {
            VORN_FLASH* record = entry.second;
            index.records[i] = record;
            while (j < old.names.size() && old.names[j] < entry.first) ++j;
            if (keep && record != nullptr && j < old.names.size() && old.records[j] == record &&
                old.names[j] == entry.first && !notice->was_edited(record)) {
                index.names[i] = std::move(old.names[j]);
                index.ids[i] = old.ids[j];
                index.densities[i] = old.densities[j];
                index.io_voltages[i] = std::move(old.io_voltages[j]);
                index.prog_flow_templates[i] = std::move(old.prog_flow_templates[j]);
                ++j;
            } else {
                index.names[i] = entry.first;
                if (record != nullptr) VORN_HOST_ACCESS::share_notice(*record, notice);
                read_values(i);
            }
            ++i;
        }
    }

    void read_values(size_t i) {
        const VORN_FLASH* record = index.records[i];
        if (record == nullptr) {
            index.ids[i] = 0;
            index.densities[i] = 0;
            index.io_voltages[i].clear();
            index.prog_flow_templates[i].clear();
            return;
        }
        index.ids[i] = record->get_parameter_value_in_dword(VORN_FLASH_PARAM_ID, nullptr);
        index.densities[i] = record->get_density_in_bytes_qword();
        index.io_voltages[i] = record->get_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE);
        index.prog_flow_templates[i] =
            record->get_parameter_value(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE);
    }
};

void VORN_HOST_ACCESS::flash_map_changed(VORN_MGR& mgr) { mgr.m_impl->notice->map_changed = true; }

const VORN_FLASH_INDEX& VORN_HOST_ACCESS::index(VORN_MGR& mgr) {
    return mgr.m_impl->index_of(mgr.m_flash_map);
}

void VORN_HOST_ACCESS::share_notice(VORN_FLASH& record,
                                    const std::shared_ptr<VORN_FLASH_NOTICE>& notice) {
    if (record.m_notice != notice) record.m_notice = notice;
}

const std::string* VORN_HOST_ACCESS::legacy_name_asked(const VORN_MGR& mgr) {
    return mgr.m_impl->legacy_name_asked;
}

std::vector<std::string>& VORN_HOST_ACCESS::legacy_list(VORN_MGR& mgr, size_t legacy_devices,
                                                        const std::string* voltage, int scheme) {
    VORN_MGR::IMPL& impl = *mgr.m_impl;
    if (impl.legacy_devices != legacy_devices) {
        impl.legacy_lists.clear();
        impl.legacy_devices = legacy_devices;
    }
    // A voltage cannot hold a NUL: the key of "no filter" is no voltage.
    return impl.legacy_lists[{voltage != nullptr ? *voltage : std::string(1, '\0'), scheme}];
}

VORN_MGR::VORN_MGR() : m_impl(new IMPL) {
    m_skip_device_filtering = cfg_is_on("pgm_vorn_skip_device_filtering", false);
}

VORN_MGR::~VORN_MGR() = default;

bool VORN_MGR::get_use_sdm_mode() { return m_use_sdm_mode; }

DEV_FAMILY_ENUM VORN_MGR::get_active_device_family() { return m_active_device_family; }

void VORN_MGR::set_active_device_family(DEV_FAMILY_ENUM family) {
    m_active_device_family = family;
    m_use_sdm_mode = m_dev_info_map[family].use_sdm_mode;
}

PGMIO_CONFIG_SCHEME VORN_MGR::get_active_config_mode() { return m_active_config_mode; }

void VORN_MGR::set_active_config_mode(PGMIO_CONFIG_SCHEME scheme) { m_active_config_mode = scheme; }

bool VORN_MGR::is_new_device_supported() { return true; }

bool VORN_MGR::is_flash_operation_supported() { return true; }

bool VORN_MGR::is_flash_action_supported() { return true; }

void VORN_MGR::clear_flash_mapping_info() {
    m_dev_info_map.clear();
    m_zentro_dir_map.clear();
    m_custom_dir_map.clear();
    m_flash_db_active_dir_map.clear();
    for (auto& entry : m_flash_map) {
        if (entry.second == m_flash) m_flash = nullptr;
        delete entry.second;
        entry.second = nullptr;
    }
    m_flash_map.clear();
    VORN_HOST_ACCESS::flash_map_changed(*this);
}

// ---- lookups ------------------------------------------------------------------------------

void VORN_MGR::release_legacy_flash() {
    if (m_flash == nullptr) return;
    // A record the map holds is never ours to delete here, whatever its name.
    auto iter = m_flash_map.find(m_flash->get_name());
    if (iter != m_flash_map.end() && iter->second == m_flash) return;
    // A record get_flash made for a legacy name is known as such even where the legacy list
    // can no longer be asked as the host extended it (in a subclass's teardown).
    if (m_flash != m_legacy_record && !device_is_legacy(m_flash->get_name(), true)) return;
    delete m_flash;
    m_flash = nullptr;
    m_legacy_record = nullptr;
}

bool VORN_MGR::flash_passes_filter(const std::string& name, bool ignore_filter) {
    auto iter = m_flash_map.find(name);
    if (iter == m_flash_map.end()) return false;
    if (ignore_filter || m_skip_device_filtering) return true;
    VORN_CHECK(iter->second, "m_flash");
    return iter->second->get_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE) ==
           m_dev_info_map[m_active_device_family].io_voltage;
}

bool VORN_MGR::device_is_legacy(std::string name, bool ignore_filter) {
    if (name.empty()) return false;
    // The family's list, told which name is asked, answers with that name or nothing rather
    // than a copy of every name; a subclass that extends or filters the list still can.
    struct ASKED {
        const std::string*& slot;
        const std::string* before;
        ~ASKED() { slot = before; }
    } asked{m_impl->legacy_name_asked, m_impl->legacy_name_asked};
    m_impl->legacy_name_asked = &name;
    return list_contains(
        get_legacy_config_device_list(m_active_device_family, m_active_config_mode, ignore_filter),
        name);
}

bool VORN_MGR::device_exist_in_db(std::string name, bool ignore_filter) {
    if (name.empty()) return false;
    // Legacy or database device: the map answer is cheap, the legacy list is not.
    if (flash_passes_filter(name, ignore_filter)) return true;
    return device_is_legacy(name, ignore_filter);
}

VORN_FLASH* VORN_MGR::get_flash(std::string name, bool ignore_filter) {
    release_legacy_flash();
    if (device_is_legacy(name, ignore_filter)) {
        m_flash = create_flash(name);
        m_legacy_record = m_flash;
        return m_flash;
    }
    // Not legacy, so existing means present in the map and visible under the filter.
    if (flash_passes_filter(name, ignore_filter)) {
        auto iter = m_flash_map.find(name);
        VORN_CHECK(iter != m_flash_map.end(), "iter != m_flash_map.end()");
        VORN_CHECK(iter->second, "m_flash");
        m_flash = iter->second;
        return m_flash;
    }
    m_flash = nullptr;
    return nullptr;
}

VORN_FLASH* VORN_MGR::get_flash_with_id(unsigned int id, unsigned int mask) {
    release_legacy_flash();
    m_flash = nullptr;
    const VORN_FLASH_INDEX& index = VORN_HOST_ACCESS::index(*this);
    for (size_t i = 0; i < index.ids.size(); ++i) {
        VORN_CHECK(index.records[i], "m_flash");
        if (((index.ids[i] ^ id) & mask) == 0) {
            m_flash = index.records[i];
            break;
        }
    }
    return m_flash;
}

VORN_FLASH* VORN_MGR::get_flash_with_density(unsigned long long bytes) {
    release_legacy_flash();
    m_flash = nullptr;
    const VORN_FLASH_INDEX& index = VORN_HOST_ACCESS::index(*this);
    for (size_t i = 0; i < index.densities.size(); ++i) {
        VORN_CHECK(index.records[i], "m_flash");
        if (index.densities[i] == bytes) {
            m_flash = index.records[i];
            break;
        }
    }
    return m_flash;
}

// ---- directories --------------------------------------------------------------------------

std::string VORN_MGR::get_db_zentro_dir() {
    std::string dir = PGM_COMMON::pgm_get_common_programmer() + "xml/";
    PGM_COMMON::change_folder_slash(dir);
    return dir;
}

std::string VORN_MGR::get_db_custom_dir() {
    if (m_custom_db_dir.empty()) {
        m_custom_db_dir = "./";
        PGM_COMMON::change_folder_slash(m_custom_db_dir);
    }
    return m_custom_db_dir;
}

void VORN_MGR::set_db_custom_dir(std::string dir) {
    if (!dir.empty()) {
        dir += "/";
        PGM_COMMON::change_folder_slash(dir);
    }
    m_custom_db_dir = dir;
}

bool VORN_MGR::save_custom_dir_to_ini(std::string dir, bool force) {
    if (!force && (dir.empty() || !FIO_FILE_SYSTEM::exists(dir))) return false;
    std::string path = dir + "/";
    PGM_COMMON::change_folder_slash(path);
    std::string current = cfg_get_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR);
    if (gen_stricmp(path, current) == 0) return true;
    if (!cfg_set_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR, path)) return false;
    return cfg_write_user_ini_file();
}

std::string VORN_MGR::get_custom_dir_from_ini() {
    std::string value = cfg_get_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR);
    if (!value.empty()) {
        value += "/";
        PGM_COMMON::change_folder_slash(value);
        return value;
    }
    value = "./";
    PGM_COMMON::change_folder_slash(value);
    return save_custom_dir_to_ini(value, false) ? value : std::string();
}

// ---- validation ---------------------------------------------------------------------------

bool VORN_MGR::is_valid_name(std::string& name) {
    if (name.empty() || name == "db") return false;
    for (char c : name)
        if (!is_name_char(c)) return false;
    return true;
}

bool VORN_MGR::is_golden_template_name(std::string& name) {
    for (const char* reserved : VORN_PROG_FLOW_TEMPLATE_NAME)
        if (name == reserved) return true;
    return false;
}

bool VORN_MGR::device_name_is_valid(std::string name, std::string* err) {
    if (!is_valid_name(name))
        return reject(MSG_VORN::W::INVALID_DEVICE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, 20473,
                      name, err);
    if (is_golden_template_name(name))
        return reject(MSG_VORN::W::INVALID_DEVICE_NAME_CONFLICT_WITH_TEMPLATE, 20474, name, err);
    if (device_exist_in_db(name, true))
        return reject(MSG_VORN::W::INVALID_DEVICE_NAME_CONFLICT_WITH_EXISTING_DEVICE, 20475, name,
                      err);
    return true;
}

bool VORN_MGR::device_density_is_valid(std::string density, std::string* err) {
    if (density.empty() || !list_contains(get_device_density_list(), density))
        return reject(MSG_VORN::W::INVALID_DEVICE_DENSITY, 20478, density, err);
    return true;
}

bool VORN_MGR::device_io_voltage_is_valid(std::string voltage, std::string* err) {
    if (voltage.empty() || !list_contains(get_device_io_voltage_list(), voltage))
        return reject(MSG_VORN::W::INVALID_IO_VOLTAGE, 20476, voltage, err);
    return true;
}

bool VORN_MGR::device_io_voltage_is_compatible(std::string voltage, std::string* err) {
    // An invalid voltage is reported as incompatible, not as invalid.
    if (device_io_voltage_is_valid(voltage, nullptr) &&
        voltage == m_dev_info_map[m_active_device_family].io_voltage)
        return true;
    return reject(MSG_VORN::W::INCOMPATIBLE_IO_VOLTAGE, 20535, voltage, err);
}

namespace {

using TEXT_VALIDATOR = bool (VORN_MGR::*)(std::string, std::string*);

struct TEXT_RULE {
    VORN_FLASH_PARAM param;
    TEXT_VALIDATOR validator;
};

// The parameters the base judges; member pointers keep the family overrides in effect.
const TEXT_RULE text_rules[] = {
    {VORN_FLASH_PARAM_NAME, &VORN_MGR::device_name_is_valid},
    {VORN_FLASH_PARAM_IO_VOLTAGE, &VORN_MGR::device_io_voltage_is_valid},
    {VORN_FLASH_PARAM_DENSITY, &VORN_MGR::device_density_is_valid},
};

const TEXT_RULE* find_text_rule(VORN_FLASH_PARAM param) {
    for (const TEXT_RULE& rule : text_rules)
        if (rule.param == param) return &rule;
    return nullptr;
}

[[noreturn]] void fail_unknown_parameter(VORN_FLASH_PARAM param) {
    VORN_FAIL(TARVEN::fmt_sprintf("Unknown flash parameter: %d", static_cast<int>(param)));
}

}  // namespace

bool VORN_MGR::is_parameter_valid(VORN_FLASH_PARAM param) {
    return find_text_rule(param) != nullptr;
}

bool VORN_MGR::is_parameter_valid(VORN_FLASH_PARAM param, std::string value, std::string* err) {
    const TEXT_RULE* rule = find_text_rule(param);
    if (rule == nullptr) fail_unknown_parameter(param);
    return (this->*(rule->validator))(std::move(value), err);
}

bool VORN_MGR::is_parameter_valid(VORN_FLASH_PARAM param, unsigned int, std::string*) {
    fail_unknown_parameter(param);
}

bool VORN_MGR::is_parameter_compatible(VORN_FLASH_PARAM param, std::string value,
                                       std::string* err) {
    if (param != VORN_FLASH_PARAM_IO_VOLTAGE) fail_unknown_parameter(param);
    return device_io_voltage_is_compatible(std::move(value), err);
}

// ---- saving and deleting ------------------------------------------------------------------

struct VORN_MGR::PENDING_SAVE {
    explicit PENDING_SAVE(const std::string& db_dir) : lock(db_dir, true), files(db_dir) {}
    ~PENDING_SAVE() {
        // Abandoned (a failure, or an internal error on its way out): the maps as they were.
        for (auto it = undo.rbegin(); it != undo.rend(); ++it) (*it)();
    }
    FIO_FOLDER_LOCK lock;
    FIO_FOLDER_CHANGE files;
    std::vector<std::function<void()>> undo;
    std::vector<std::function<void()>> done;
    std::vector<std::string> paths;  // written or removed
};

bool VORN_MGR::save_as_one(const std::string& db_dir, const std::function<bool()>& work) {
    if (m_pending_save != nullptr) return work();
    m_save_error.clear();
    PENDING_SAVE save(db_dir);
    m_pending_save = &save;
    struct CLEAR {
        PENDING_SAVE*& pending;
        ~CLEAR() { pending = nullptr; }
    } clear{m_pending_save};
    if (!work()) return false;
    if (!save.files.commit()) {
        msg_vdebug_impl(2, "Saving into %s failed: %s", db_dir.c_str(), save.files.error().c_str());
        m_save_error = save.files.error();
        m_last_save.refused.insert(m_last_save.refused.end(), save.paths.begin(), save.paths.end());
        post_failed_to_update_db(db_dir);
        return false;
    }
    save.undo.clear();
    for (const auto& finish : save.done) finish();
    return true;
}

bool VORN_MGR::refuse_file_not_loaded(const std::string& file, const std::string& db_dir) {
    auto it = m_files_not_loaded.find(file);
    if (it == m_files_not_loaded.end()) return false;
    msg_vdebug_impl(2, "%s did not load whole (%s): a save leaves it as it is", file.c_str(),
                    it->second.c_str());
    m_save_error = file + " did not load whole (" + it->second + "): a save leaves it as it is";
    m_last_save.refused.push_back(file);
    post_failed_to_update_db(db_dir);
    return true;
}

bool VORN_MGR::save_file(const std::string& path, const std::string& content) {
    VORN_CHECK(m_pending_save, "m_pending_save");
    m_pending_save->paths.push_back(path);
    if (m_pending_save->files.write(path, content)) return true;
    msg_vdebug_impl(2, "%s", m_pending_save->files.error().c_str());
    m_save_error = m_pending_save->files.error();
    m_last_save.refused.push_back(path);
    return false;
}

bool VORN_MGR::save_removal(const std::string& path) {
    VORN_CHECK(m_pending_save, "m_pending_save");
    m_pending_save->paths.push_back(path);
    if (m_pending_save->files.remove(path)) return true;
    msg_vdebug_impl(2, "%s", m_pending_save->files.error().c_str());
    m_save_error = m_pending_save->files.error();
    m_last_save.refused.push_back(path);
    return false;
}

bool VORN_MGR::save_exists(const std::string& path) const {
    return m_pending_save != nullptr ? m_pending_save->files.exists(path)
                                     : FIO_FILE_SYSTEM::exists(path);
}

void VORN_MGR::on_abandon(std::function<void()> undo) {
    VORN_CHECK(m_pending_save, "m_pending_save");
    m_pending_save->undo.push_back(std::move(undo));
}

void VORN_MGR::on_commit(std::function<void()> done) {
    VORN_CHECK(m_pending_save, "m_pending_save");
    m_pending_save->done.push_back(std::move(done));
}

namespace {

// A map entry as it was, to be put back.
template <typename MAP>
std::function<void()> restore_entry(MAP& map, const typename MAP::key_type& key) {
    auto it = map.find(key);
    if (it == map.end()) return [&map, key] { map.erase(key); };
    return [&map, key, value = it->second] { map[key] = value; };
}

}  // namespace

bool VORN_MGR::update_db(VORN_FLASH* flash, std::string db_dir) {
    VORN_CHECK(flash, "flash");
    SAVE_CALL call(*this);
    // Ownership is ours from here: a record that does not end up in the map is deleted, also
    // when an internal error cuts the save short.
    const std::string name = flash->get_name();
    auto release_unsaved = make_undo([this, flash, &name]() {
        auto iter = m_flash_map.find(name);
        if (iter != m_flash_map.end() && iter->second == flash) return;
        if (m_flash == flash) m_flash = nullptr;
        delete flash;
    });
    VORN_CHECK(!db_dir.empty(), "!db_dir.empty()");
    msg_vdebug_impl(2, "Entering VORN_MGR::update_db with flash device_name = %s", name.c_str());
    bool is_zentro = false;
    std::map<std::string, std::string>* db_dir_map =
        select_db_dir_map(db_dir, m_zentro_dir_map, m_custom_dir_map, &is_zentro);

    // The old copy goes and the new one comes in one save: a crash shows one or the other, and
    // a failure leaves the old one.
    bool deleted = true;
    bool result = save_as_one(db_dir, [&] {
        if (db_dir_map->count(name) != 0 && !delete_db(name, db_dir)) {
            deleted = false;
            return false;
        }
        return write_flash_xml_and_update_dir_map(flash, db_dir, db_dir_map);
    });
    if (!deleted) return false;
    if (!flash->get_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME).empty())
        result = update_template_db(flash, db_dir);
    return result;
}

bool VORN_MGR::write_flash_xml_and_update_dir_map(VORN_FLASH* flash, std::string db_dir,
                                                  std::map<std::string, std::string>* db_dir_map) {
    VORN_CHECK(flash, "flash");
    VORN_CHECK(db_dir_map, "db_dir_map");
    const std::string name = flash->get_name();
    const std::string file = db_dir + PGM_COMMON::flash_file_name(name);
    // A name that skipped validation must still never lead the file out of db_dir, and
    // numbers validation lets through must fit the file.
    if (name.find_first_of(std::string("/\\\0", 3)) != std::string::npos ||
        !vorn_flash_fits_file(flash)) {
        post_failed_to_update_db(db_dir);
        return false;
    }
    if (refuse_file_not_loaded(file, db_dir)) return false;
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> tree(create_xml_object_with_flash_list({flash}));

    return save_as_one(db_dir, [&] {
        // The old file is replaced in one step when the save is committed; the placeholder
        // and the removal of the old file are no longer separate steps on disk. Writing the
        // new content beside it is what tells whether they would have succeeded.
        if (!save_exists(file)) msg_vdebug_impl(2, "Touch new XML file, %s", file.c_str());
        msg_vdebug_impl(2, "Deleting old XML file %s", file.c_str());
        const std::string text = PGM_COMMON_XML::write_xml_string(tree.get());
        if (text.empty() || !save_file(file, text)) {
            post_failed_to_update_db(db_dir);
            return false;
        }
        msg_vdebug_impl(2, "Writing new XML file, %s", file.c_str());

        msg_vdebug_impl(2, "Before: db_dir_map->size() = %d", static_cast<int>(db_dir_map->size()));
        msg_vdebug_impl(2, "Before: m_flash_db_active_dir_map.size() = %d",
                        static_cast<int>(m_flash_db_active_dir_map.size()));
        msg_vdebug_impl(2, "Before: m_flash_map.size() = %d", static_cast<int>(m_flash_map.size()));
        on_abandon(restore_entry(*db_dir_map, name));
        on_abandon(restore_entry(m_flash_db_active_dir_map, name));
        on_abandon(restore_entry(m_flash_map, name));
        on_abandon([this] { VORN_HOST_ACCESS::flash_map_changed(*this); });
        (*db_dir_map)[name] = file;
        m_flash_db_active_dir_map[name] = file;
        VORN_FLASH*& slot = m_flash_map[name];
        VORN_FLASH* const replaced = slot != flash ? slot : nullptr;
        if (replaced != nullptr) {
            // The record of another directory under the same name gives way to the saved one.
            const bool was_current = m_flash == replaced;
            if (was_current) m_flash = nullptr;
            on_abandon([this, replaced, was_current] {
                if (was_current) m_flash = replaced;
            });
            on_commit([replaced] { delete replaced; });
        }
        slot = flash;
        VORN_HOST_ACCESS::flash_map_changed(*this);
        on_abandon([flash, dir = flash->get_db_dir(),
                    removable = flash->get_flash_removable_permission()] {
            flash->set_db_dir(dir);
            flash->set_flash_removable_permission(removable);
        });
        flash->set_db_dir(FIO_PATH(file).full_directory());
        flash->set_flash_removable_permission(true);
        on_commit([this, file] { m_last_save.device_file = file; });
        msg_vdebug_impl(2, "After: db_dir_map->size() = %d", static_cast<int>(db_dir_map->size()));
        msg_vdebug_impl(2, "After: m_flash_db_active_dir_map.size() = %d",
                        static_cast<int>(m_flash_db_active_dir_map.size()));
        msg_vdebug_impl(2, "After: m_flash_map.size() = %d", static_cast<int>(m_flash_map.size()));
        return true;
    });
}

bool VORN_MGR::delete_db(std::string device_name, std::string db_dir) {
    VORN_CHECK(!device_name.empty(), "!device_name.empty()");
    VORN_CHECK(!db_dir.empty(), "!db_dir.empty()");
    SAVE_CALL call(*this);
    msg_vdebug_impl(2, "Entering VORN_MGR::delete_db with device_name = %s", device_name.c_str());
    bool is_zentro = false;
    std::map<std::string, std::string>* db_dir_map =
        select_db_dir_map(db_dir, m_zentro_dir_map, m_custom_dir_map, &is_zentro);

    auto active = m_flash_db_active_dir_map.find(device_name);
    if (active != m_flash_db_active_dir_map.end()) {
        FIO_PATH active_dir_file(active->second);
        msg_vdebug_impl(2, "active_dir_file.fullpath().c_str() = %s",
                        active_dir_file.fullpath().c_str());
        msg_vdebug_impl(2, "active_dir_file.full_directory().c_str() = %s",
                        active_dir_file.full_directory().c_str());
        if (gen_strcmp(active_dir_file.full_directory(), db_dir) != 0) {
            if (is_zentro)
                VORN_FAIL(
                    "Found same flash exist in the current directory but attempting to delete "
                    "the flash in zentro directory.");
            return true;
        }
    } else if (m_user_flash_template_map.find(device_name) == m_user_flash_template_map.end()) {
        return true;
    }

    std::string file_to_delete;
    auto dir_entry = db_dir_map->find(device_name);
    auto template_entry = m_template_db_dir_map.find(device_name);
    if (dir_entry != db_dir_map->end())
        file_to_delete = dir_entry->second;
    else if (template_entry != m_template_db_dir_map.end())
        file_to_delete = template_entry->second;
    else
        return true;

    if (refuse_file_not_loaded(FIO_PATH(file_to_delete).fullpath(), db_dir)) return false;
    const std::string target = FIO_PATH(file_to_delete).fullpath();
    const std::string target_name = base_name(target);
    std::vector<VORN_FLASH*> companion_flashes;
    std::vector<std::string> companion_templates;
    for (const auto& entry : *db_dir_map) {
        if (entry.first == device_name || !is_same_file(entry.second, target, target_name))
            continue;
        msg_vdebug_impl(2, "Found flash name = %s", entry.first.c_str());
        auto iter = m_flash_map.find(entry.first);
        VORN_CHECK(iter != m_flash_map.end(), "iter != m_flash_map.end()");
        companion_flashes.push_back(iter->second);
    }
    for (const auto& entry : m_template_db_dir_map) {
        if (entry.first == device_name || !is_same_file(entry.second, target, target_name))
            continue;
        msg_vdebug_impl(2, "Found template name = %s", entry.first.c_str());
        companion_templates.push_back(entry.first);
    }

    VORN_CHECK(save_exists(file_to_delete), "FIO_FILE_SYSTEM::exists(file_to_delete.c_str())");
    msg_vdebug_impl(2, "Deleting XML file %s", file_to_delete.c_str());

    // The companions' document is built before anything changes, so that a companion the
    // writer cannot write stops the deletion with nothing changed.
    for (VORN_FLASH* companion : companion_flashes) {
        if (!vorn_flash_fits_file(companion)) {
            post_failed_to_update_db(db_dir);
            return false;
        }
    }
    PGM_COMMON_XML_ELEMENT* raw_tree = nullptr;
    if (!companion_flashes.empty()) raw_tree = create_xml_object_with_flash_list(companion_flashes);
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> tree(raw_tree);
    if (!companion_templates.empty()) {
        create_user_template_with_template_list(raw_tree, companion_templates);
        tree.release();
        tree.reset(raw_tree);
    }

    return save_as_one(db_dir, [&] {
        if (!save_removal(file_to_delete)) {
            post_failed_to_update_db(db_dir);
            return false;
        }
        on_commit([this, file_to_delete] { m_last_save.deleted_from = file_to_delete; });
        if (dir_entry != db_dir_map->end()) {
            auto record = m_flash_map.find(device_name);
            VORN_CHECK(record != m_flash_map.end(), "iter4 != m_flash_map.end()");
            msg_vdebug_impl(2, "Before: db_dir_map->size() = %d",
                            static_cast<int>(db_dir_map->size()));
            msg_vdebug_impl(2, "Before: m_flash_db_active_dir_map.size() = %d",
                            static_cast<int>(m_flash_db_active_dir_map.size()));
            msg_vdebug_impl(2, "Before: m_flash_map.size() = %d",
                            static_cast<int>(m_flash_map.size()));
            VORN_FLASH* const erased = record->second;
            const bool was_current = m_flash != nullptr && m_flash == erased;
            on_abandon(restore_entry(*db_dir_map, device_name));
            on_abandon(restore_entry(m_flash_db_active_dir_map, device_name));
            on_abandon(restore_entry(m_flash_map, device_name));
            on_abandon([this, erased, was_current] {
                VORN_HOST_ACCESS::flash_map_changed(*this);
                if (was_current) m_flash = erased;
            });
            db_dir_map->erase(device_name);
            m_flash_db_active_dir_map.erase(device_name);
            if (was_current) m_flash = nullptr;
            m_flash_map.erase(record);
            VORN_HOST_ACCESS::flash_map_changed(*this);
            // A re-save may hand the same record back to the map.
            on_commit([this, erased, device_name] {
                auto back = m_flash_map.find(device_name);
                if (back == m_flash_map.end() || back->second != erased) delete erased;
            });
            msg_vdebug_impl(2, "After: db_dir_map->size() = %d",
                            static_cast<int>(db_dir_map->size()));
            msg_vdebug_impl(2, "After: m_flash_db_active_dir_map.size() = %d",
                            static_cast<int>(m_flash_db_active_dir_map.size()));
            msg_vdebug_impl(2, "After: m_flash_map.size() = %d",
                            static_cast<int>(m_flash_map.size()));
        } else {
            auto tpl = m_user_flash_template_map.find(device_name);
            if (tpl != m_user_flash_template_map.end()) {
                msg_vdebug_impl(2, "Before: m_user_flash_template_map->size() = %d",
                                static_cast<int>(m_user_flash_template_map.size()));
                msg_vdebug_impl(2, "Before: m_template_db_dir_map.size() = %d",
                                static_cast<int>(m_template_db_dir_map.size()));
                VORN_USER_FLASH_TEMPLATE* const erased = tpl->second;
                on_abandon(restore_entry(m_user_flash_template_map, device_name));
                on_abandon(restore_entry(m_template_db_dir_map, device_name));
                m_user_flash_template_map.erase(tpl);
                m_template_db_dir_map.erase(device_name);
                on_commit([erased] { delete_user_template(erased); });
                msg_vdebug_impl(2, "After: m_user_flash_template_map->size() = %d",
                                static_cast<int>(m_user_flash_template_map.size()));
                msg_vdebug_impl(2, "After: m_template_db_dir_map.size() = %d",
                                static_cast<int>(m_template_db_dir_map.size()));
            }
        }
        if (!tree) return true;
        msg_vdebug_impl(2, "Writing XML file, %s", file_to_delete.c_str());
        const std::string text = PGM_COMMON_XML::write_xml_string(tree.get());
        if (text.empty() || !save_file(file_to_delete, text)) {
            post_failed_to_update_db(db_dir);
            return false;
        }
        return true;
    });
}
