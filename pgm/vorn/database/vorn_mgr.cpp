// The manager's state and its lookups, with the index they walk. Its other concerns stand
// beside it: vorn_mgr_byte_list, vorn_mgr_dirs, vorn_mgr_validators, vorn_mgr_save, and
// vorn_db_files for the reading of both families' files.
#define VORN_SOURCE_FILE "pgm/vorn/vorn_mgr"

#include "vorn_mgr.h"

#include <memory>

#include "vorn_internal.h"

static MEM_INITIALIZER mem_initializer("VORN");

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

void VORN_MGR::initialize_dev_info() {
    PGMDEV_DEV_INFO_MANAGER dev_info_manager(false, 0);
    for (const PGMDEV_SUPPORTED_FAMILY& entry : dev_info_manager.m_supported_family_list) {
        if (entry.family == DEV_FAMILY_NONE) continue;
        const PGMDEV_DEV_INFO* record = dev_info_manager.get_db_by_family(entry.family);
        if (record == nullptr || !serves_family(entry.family, *record)) continue;
        VORN_DEV_INFO& info = m_dev_info_map[entry.family];
        info.use_sdm_mode = record->sdm;
        info.io_voltage = record->flash_io_voltage;
    }
}

bool VORN_MGR::serves_family(DEV_FAMILY_ENUM, const PGMDEV_DEV_INFO& record) const {
    return record.enabled;
}

std::vector<DEV_FAMILY_ENUM> VORN_MGR::get_device_family_list() {
    std::vector<DEV_FAMILY_ENUM> families;
    families.reserve(m_dev_info_map.size());
    for (const auto& entry : m_dev_info_map) families.push_back(entry.first);
    return families;
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
    return vorn_list_contains(
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

namespace {

bool id_answers(unsigned int record_id, unsigned int id, unsigned int mask) {
    return ((record_id ^ id) & mask) == 0;
}

}  // namespace

VORN_FLASH* VORN_MGR::get_flash_with_id(unsigned int id, unsigned int mask) {
    release_legacy_flash();
    m_flash = nullptr;
    const VORN_FLASH_INDEX& index = VORN_HOST_ACCESS::index(*this);
    for (size_t i = 0; i < index.ids.size(); ++i) {
        VORN_CHECK(index.records[i], "m_flash");
        if (id_answers(index.ids[i], id, mask)) {
            m_flash = index.records[i];
            break;
        }
    }
    return m_flash;
}

std::vector<std::string> VORN_MGR::get_flash_names_with_id(unsigned int id, unsigned int mask) {
    std::vector<std::string> names;
    const VORN_FLASH_INDEX& index = VORN_HOST_ACCESS::index(*this);
    for (size_t i = 0; i < index.ids.size(); ++i)
        if (index.records[i] != nullptr && id_answers(index.ids[i], id, mask))
            names.push_back(index.names[i]);
    return names;
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
