// Device families and the legacy flash list, read from the programmer's dev/ folder.
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "host_file.h"
#include "host_ini.h"
#include "pgm_common_export.h"
#include "pgmdev_export.h"

struct PGMDEV_FLASH_MANAGER::DATA {
    std::vector<PGMDEV_SFL_FLASH_INFO> list;
    std::unordered_map<std::string, size_t> index;  // name -> its last record in `list`
};

namespace {

struct FAMILY_TABLE {
    std::shared_ptr<const std::map<int, PGMDEV_DEV_INFO>> records;
    std::vector<PGMDEV_SUPPORTED_FAMILY> supported;
};

bool flag_of(const HOST_INI::SECTION& section, const char* key) {
    bool value = false;
    const std::string* text = section.find(key);
    return text != nullptr && HOST_INI::parse_bool(*text, value) && value;
}

std::string text_of(const HOST_INI::SECTION& section, const char* key) {
    const std::string* text = section.find(key);
    return text != nullptr ? *text : std::string();
}

// A repeated family section replaces the earlier record but keeps its place in the table.
std::shared_ptr<const FAMILY_TABLE> parse_families(const std::string& text) {
    auto records = std::make_shared<std::map<int, PGMDEV_DEV_INFO>>();
    auto table = std::make_shared<FAMILY_TABLE>();
    for (const auto& section : HOST_INI::parse(text)) {
        if (section.name.empty()) continue;
        bool ok = false;
        unsigned number = PGM_COMMON::convert_string_to_dword(section.name, true, &ok);
        if (!ok || number > static_cast<unsigned>(std::numeric_limits<int>::max())) continue;
        PGMDEV_DEV_INFO info;
        info.family = static_cast<DEV_FAMILY_ENUM>(number);
        info.name = text_of(section, "name");
        info.enabled = flag_of(section, "enabled");
        info.sdm = flag_of(section, "sdm");
        info.sdmmc = flag_of(section, "sdmmc");
        info.flash_io_voltage = text_of(section, "flash_io_voltage");
        bool is_new = records->count(static_cast<int>(number)) == 0;
        if (is_new)
            table->supported.push_back(PGMDEV_SUPPORTED_FAMILY{info.family, info.name});
        else
            for (auto& s : table->supported)
                if (s.family == info.family) s.name = info.name;
        (*records)[static_cast<int>(number)] = std::move(info);
    }
    table->records = std::move(records);
    return table;
}

// Every section is a record, repeats included; a name finds its last record. A template only
// because the manager's DATA is private and can be named inside the manager alone.
template <typename DATA>
std::shared_ptr<const DATA> parse_legacy(const std::string& text) {
    auto data = std::make_shared<DATA>();
    for (const auto& section : HOST_INI::parse(text)) {
        if (section.name.empty()) continue;
        PGMDEV_SFL_FLASH_INFO info;
        info.name = section.name;
        info.enabled = flag_of(section, "enabled");
        info.io_voltage = text_of(section, "io_voltage");
        info.group = text_of(section, "group");
        info.order = PGM_COMMON::convert_string_to_dword(text_of(section, "order"), true);
        data->index[info.name] = data->list.size();
        data->list.push_back(std::move(info));
    }
    return data;
}

// The library builds these managers over and over (inside a sort comparator too), so each
// file is parsed once and shared until it changes.
template <typename T>
class FILE_CACHE {
  public:
    using PARSER = std::shared_ptr<const T> (*)(const std::string&);

    std::shared_ptr<const T> get(const std::string& path, PARSER parse) {
        HOST_FILE::STAMP stamp = HOST_FILE::stamp_of(path);
        std::lock_guard<std::mutex> lock(m_mutex);
        ENTRY& e = m_entries[path];
        if (e.value && e.trusted && e.stamp == stamp) return e.value;
        long long read_at = HOST_FILE::now_ns();
        std::string text;
        if (!stamp.exists || !HOST_FILE::read_file(path, text)) text.clear();
        e.value = parse(text);
        e.stamp = stamp;
        e.trusted = HOST_FILE::is_settled(stamp, read_at);
        return e.value;
    }

  private:
    struct ENTRY {
        std::shared_ptr<const T> value;
        HOST_FILE::STAMP stamp;
        bool trusted = false;
    };
    std::mutex m_mutex;
    std::map<std::string, ENTRY> m_entries;
};

FILE_CACHE<FAMILY_TABLE>& family_cache() {
    static auto* cache = new FILE_CACHE<FAMILY_TABLE>;
    return *cache;
}

template <typename DATA>
FILE_CACHE<DATA>& legacy_cache() {
    static auto* cache = new FILE_CACHE<DATA>;
    return *cache;
}

}  // namespace

PGMDEV_DEV_INFO_MANAGER::PGMDEV_DEV_INFO_MANAGER(bool, int) {
    std::string path = PGM_COMMON::pgm_get_common_programmer() + "dev/families.ini";
    std::shared_ptr<const FAMILY_TABLE> table = family_cache().get(path, &parse_families);
    m_supported_family_list = table->supported;
    m_records = table->records;
}

const PGMDEV_DEV_INFO* PGMDEV_DEV_INFO_MANAGER::get_db_by_family(DEV_FAMILY_ENUM family) const {
    if (!m_records) return nullptr;
    auto it = m_records->find(static_cast<int>(family));
    return it != m_records->end() ? &it->second : nullptr;
}

PGMDEV_FLASH_MANAGER::PGMDEV_FLASH_MANAGER(bool, int, bool, bool) {
    std::string path = PGM_COMMON::pgm_get_common_programmer() + "dev/legacy_flash.ini";
    m_data = legacy_cache<DATA>().get(path, &parse_legacy<DATA>);
}

const std::vector<PGMDEV_SFL_FLASH_INFO>& PGMDEV_FLASH_MANAGER::get_flash_info_list() const {
    return m_data->list;
}

const PGMDEV_SFL_FLASH_INFO* PGMDEV_FLASH_MANAGER::get_default_flash(
    const std::string& name) const {
    auto it = m_data->index.find(name);
    return it != m_data->index.end() ? &m_data->list[it->second] : nullptr;
}
