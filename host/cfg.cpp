// Configuration switches and the user INI file.
// Only narrow UTF-8 text is stored, so no wide-character conversion is needed; the template
// definitions are compiled here rather than taken from the packaged library.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "cfg_export.h"
#include "host_fault.h"
#include "host_file.h"
#include "host_ini.h"

namespace {

// ---- switches ---------------------------------------------------------------------------

struct SWITCH_STATE {
    std::mutex mutex;
    std::map<std::string, bool> overrides;  // keys lower-cased
    std::string path;
    HOST_FILE::STAMP stamp;
    bool trusted = false;                     // stamp unchanged means content unchanged
    std::map<std::string, std::string> file;  // keys lower-cased, last occurrence wins
};

SWITCH_STATE& switches() {
    static SWITCH_STATE* s = new SWITCH_STATE;
    return *s;
}

std::string env_or_empty(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// Called on hot paths: one stat per call, the file is parsed only when it changed.
void refresh_switch_file(SWITCH_STATE& s) {
    std::string path = cfg_get_switch_file();
    HOST_FILE::STAMP stamp = HOST_FILE::stamp_of(path);
    if (path == s.path && stamp == s.stamp && s.trusted) return;

    long long read_at = HOST_FILE::now_ns();
    std::string text;
    s.file.clear();
    if (stamp.exists && HOST_FILE::read_file(path, text)) {
        for (const auto& section : HOST_INI::parse(text))
            for (const auto& entry : section.entries)
                s.file[HOST_INI::to_lower(entry.first)] = entry.second;
    }
    s.path = path;
    s.stamp = stamp;
    s.trusted = HOST_FILE::is_settled(stamp, read_at);
}

// ---- user INI ---------------------------------------------------------------------------

const char* entry_key(CFG_USER_INI_ENUMS entry) {
    switch (entry) {
        case CFG_USER_INI_VORN_CUSTOM_DB_DIR:
            return "vorn_custom_db_dir";
    }
    return nullptr;
}

struct USER_INI_STATE {
    std::mutex mutex;
    bool loaded = false;
    std::string path;  // the file `ini` was read from
    std::unique_ptr<CSimpleIniA> ini;
};

USER_INI_STATE& user_ini() {
    static USER_INI_STATE* s = new USER_INI_STATE;
    return *s;
}

// Loads on first use, and again when the file in use has changed name.
CSimpleIniA& loaded_user_ini(USER_INI_STATE& s) {
    std::string path = cfg_get_user_ini_file();
    if (s.loaded && s.path == path) return *s.ini;
    s.ini.reset(new CSimpleIniA(true, false, false));
    std::string text;
    if (HOST_FILE::read_file(path, text)) s.ini->LoadData(text);
    s.path = path;
    s.loaded = true;
    return *s.ini;
}

// The section holding `key`: the unnamed one unless the file put it elsewhere.
std::string section_of(CSimpleIniA& ini, const char* key) {
    if (ini.GetValue("", key) != nullptr) return "";
    CSimpleIniA::TNamesDepend sections;
    ini.GetAllSections(sections);
    sections.sort(CSimpleIniA::Entry::LoadOrder());
    for (const auto& section : sections)
        if (ini.GetValue(section.pItem, key) != nullptr) return section.pItem;
    return "";
}

}  // namespace

bool cfg_is_on(const std::string& name, bool default_value) {
    SWITCH_STATE& s = switches();
    std::lock_guard<std::mutex> lock(s.mutex);
    std::string key = HOST_INI::to_lower(name);
    auto o = s.overrides.find(key);
    if (o != s.overrides.end()) return o->second;
    refresh_switch_file(s);
    auto f = s.file.find(key);
    bool value = default_value;
    if (f == s.file.end() || !HOST_INI::parse_bool(f->second, value)) return default_value;
    return value;
}

void cfg_set_switch(const std::string& name, bool value) {
    SWITCH_STATE& s = switches();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.overrides[HOST_INI::to_lower(name)] = value;
}

void cfg_clear_switches() {
    SWITCH_STATE& s = switches();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.overrides.clear();
}

std::string cfg_get_switch_file() {
    std::string path = env_or_empty("VORN_INI");
    if (!path.empty()) return path;
    return HOST_FILE::config_home() + "/vorn/vorn.ini";
}

std::string cfg_get_user_ini_file() {
    std::string path = env_or_empty("VORN_USER_INI");
    if (!path.empty()) return path;
    return HOST_FILE::config_home() + "/vorn/user.ini";
}

std::string cfg_get_user_ini_value(CFG_USER_INI_ENUMS entry) {
    const char* key = entry_key(entry);
    if (key == nullptr) return std::string();
    USER_INI_STATE& s = user_ini();
    std::lock_guard<std::mutex> lock(s.mutex);
    CSimpleIniA& ini = loaded_user_ini(s);
    const char* value = ini.GetValue(section_of(ini, key).c_str(), key);
    return value != nullptr ? std::string(value) : std::string();
}

bool cfg_set_user_ini_value(CFG_USER_INI_ENUMS entry, const std::string& value) {
    const char* key = entry_key(entry);
    if (key == nullptr) return false;
    USER_INI_STATE& s = user_ini();
    std::lock_guard<std::mutex> lock(s.mutex);
    CSimpleIniA& ini = loaded_user_ini(s);
    std::string section = section_of(ini, key);
    return ini.SetValue(section.c_str(), key, value.c_str()) >= 0;
}

bool cfg_write_user_ini_file() {
    USER_INI_STATE& s = user_ini();
    std::lock_guard<std::mutex> lock(s.mutex);
    CSimpleIniA& ini = loaded_user_ini(s);
    if (HOST_FAULT::take(HOST_FAULT::WRITE_INI)) return false;
    std::string text;
    if (ini.Save(text) < 0) return false;
    if (!HOST_FILE::write_file_atomic(s.path, text)) return false;
    // What was written is read back on next use, so the file stays the one truth.
    s.loaded = false;
    s.ini.reset();
    return true;
}

void cfg_reload_user_ini() {
    USER_INI_STATE& s = user_ini();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.loaded = false;
    s.ini.reset();
}
