// The QSPI manager's choice lists: device families, schemes, densities, voltages, templates,
// and the new and legacy devices a family and scheme are offered.
#define VORN_SOURCE_FILE "pgm/vorn/vorn_qspi_mgr"

#include <algorithm>
#include <iterator>
#include <tuple>

#include "vorn_internal.h"
#include "vorn_qspi_mgr.h"

static MEM_INITIALIZER mem_initializer("VORN");

namespace {

// The device families that can drive the ISSI flow; no other is offered its devices.
constexpr DEV_FAMILY_ENUM ISSI_FLOW_FAMILIES[] = {static_cast<DEV_FAMILY_ENUM>(28),
                                                  static_cast<DEV_FAMILY_ENUM>(23)};

// The ISSI template's name in any letter case, as a device's programming-flow template names
// that vendor's flow.
bool is_issi_flow(const std::string& prog_flow_template) {
    static const std::string issi = VORN_PROG_FLOW_TEMPLATE_NAME[VORN_PROG_FLOW_TEMPLATE_ISSI];
    return gen_stricmp(prog_flow_template, issi) == 0;
}

}  // namespace

std::vector<PGMIO_CONFIG_SCHEME> VORN_QSPI_MGR::get_config_mode_list() {
    return {PGMIO_CONFIG_SCHEME_AS_X1, PGMIO_CONFIG_SCHEME_AS_X4};
}

std::vector<std::string> VORN_QSPI_MGR::get_device_density_list() {
    return std::vector<std::string>(std::begin(VORN_QSPI_DENSITY), std::end(VORN_QSPI_DENSITY));
}

std::vector<std::string> VORN_QSPI_MGR::get_device_io_voltage_list() {
    return std::vector<std::string>(std::begin(VORN_QSPI_IO_VOLTAGE),
                                    std::end(VORN_QSPI_IO_VOLTAGE));
}

std::vector<std::string> VORN_QSPI_MGR::get_user_template_list() {
    std::vector<std::string> names;
    names.reserve(m_user_flash_template_map.size());
    for (const auto& entry : m_user_flash_template_map) names.push_back(entry.first);
    return names;
}

std::vector<std::string> VORN_QSPI_MGR::get_prog_flow_template_list() {
    std::vector<std::string> names(std::begin(VORN_PROG_FLOW_TEMPLATE_NAME),
                                   std::end(VORN_PROG_FLOW_TEMPLATE_NAME));
    const std::vector<std::string> user = get_user_template_list();
    names.insert(names.end(), user.begin(), user.end());
    return names;
}

std::vector<std::string> VORN_QSPI_MGR::get_new_config_device_list(DEV_FAMILY_ENUM family,
                                                                   PGMIO_CONFIG_SCHEME,
                                                                   bool ignore_filter) {
    const VORN_FLASH_INDEX& index = VORN_HOST_ACCESS::index(*this);
    if (ignore_filter || m_skip_device_filtering) return index.names;
    const std::string family_voltage = m_dev_info_map[family].io_voltage;
    const bool issi_allowed =
        std::find(std::begin(ISSI_FLOW_FAMILIES), std::end(ISSI_FLOW_FAMILIES), family) !=
        std::end(ISSI_FLOW_FAMILIES);
    std::vector<std::string> names;
    names.reserve(index.names.size());
    for (size_t i = 0; i < index.names.size(); ++i) {
        if (index.io_voltages[i] != family_voltage) continue;
        if (!issi_allowed && is_issi_flow(index.prog_flow_templates[i])) continue;
        names.push_back(index.names[i]);
    }
    return names;
}

bool VORN_QSPI_MGR::legacy_device_is_listed(const std::string& name, const std::string& voltage,
                                            const std::string* family_voltage,
                                            PGMIO_CONFIG_SCHEME scheme) {
    if (family_voltage == nullptr) return true;
    if (voltage != *family_voltage) return false;
    switch (scheme) {
        case PGMIO_CONFIG_SCHEME_AS_X4:
            return name.find("SCDV") == std::string::npos;
        case PGMIO_CONFIG_SCHEME_AS_X1:
            return true;
        default:
            return false;
    }
}

namespace {
// The legacy names listed under one filter, in the host's order (group, then order field).
std::vector<std::string> sort_legacy_names(std::vector<std::string> names);
}  // namespace

std::vector<std::string> VORN_QSPI_MGR::get_legacy_config_device_list(DEV_FAMILY_ENUM family,
                                                                      PGMIO_CONFIG_SCHEME scheme,
                                                                      bool ignore_filter) {
    const std::string* family_voltage = nullptr;
    if (!ignore_filter && !m_skip_device_filtering)
        family_voltage = &m_dev_info_map[family].io_voltage;
    if (const std::string* asked = VORN_HOST_ACCESS::legacy_name_asked(*this)) {
        auto entry = m_legacy_flash_map.find(*asked);
        if (entry == m_legacy_flash_map.end() ||
            !legacy_device_is_listed(entry->first, entry->second, family_voltage, scheme))
            return {};
        return {*asked};
    }
    // Every lookup by name asks this list: each filter's list is made once.
    std::vector<std::string>& list =
        VORN_HOST_ACCESS::legacy_list(*this, m_legacy_flash_map.size(), family_voltage,
                                      family_voltage != nullptr ? static_cast<int>(scheme) : -1);
    if (!list.empty()) return list;
    std::vector<std::string> names;
    for (const auto& entry : m_legacy_flash_map) {
        if (legacy_device_is_listed(entry.first, entry.second, family_voltage, scheme))
            names.push_back(entry.first);
    }
    list = sort_legacy_names(std::move(names));
    return list;
}

namespace {

std::vector<std::string> sort_legacy_names(std::vector<std::string> names) {
    if (names.size() < 2) return names;

    // The comparator only orders names of one group (same text field, same four-character
    // prefix) by their numeric field and leaves every other pair unordered, which std::sort
    // cannot use. Refine it into a total order: groups keep the key order of their first
    // name, members go by the numeric field, ties by key order.
    PGMDEV_FLASH_MANAGER flash_mgr(true, 1, false, false);
    struct SORT_KEY {
        size_t group_rank;
        unsigned int order;
        size_t position;
        const std::string* name;
    };
    std::map<std::pair<std::string, std::string>, size_t> group_first;
    std::vector<SORT_KEY> keys;
    keys.reserve(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        const PGMDEV_SFL_FLASH_INFO* record = flash_mgr.get_default_flash(names[i]);
        SORT_KEY key{i, 0, i, &names[i]};
        if (record != nullptr) {
            key.group_rank =
                group_first.emplace(std::make_pair(record->group, names[i].substr(0, 4)), i)
                    .first->second;
            key.order = record->order;
        }
        keys.push_back(key);
    }
    std::sort(keys.begin(), keys.end(), [](const SORT_KEY& a, const SORT_KEY& b) {
        return std::tie(a.group_rank, a.order, a.position) <
               std::tie(b.group_rank, b.order, b.position);
    });
    std::vector<std::string> sorted;
    sorted.reserve(keys.size());
    for (const SORT_KEY& key : keys) sorted.push_back(*key.name);
    return sorted;
}

}  // namespace

bool VORN_QSPI_MGR::legacy_config_device_comparator(std::string a, std::string b) {
    PGMDEV_FLASH_MANAGER flash_mgr(true, 1, false, false);
    const PGMDEV_SFL_FLASH_INFO* record_a = flash_mgr.get_default_flash(a);
    const PGMDEV_SFL_FLASH_INFO* record_b = flash_mgr.get_default_flash(b);
    if (record_a == nullptr || record_b == nullptr) return false;
    return record_a->group == record_b->group && a.substr(0, 4) == b.substr(0, 4) &&
           record_a->order < record_b->order;
}
