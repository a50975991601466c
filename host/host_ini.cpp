#include "host_ini.h"

#include "gen_export.h"
#include "host_text.h"

namespace HOST_INI {

namespace {

std::string trim(const std::string& s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n'))
        --e;
    return s.substr(b, e - b);
}

}  // namespace

const std::string* SECTION::find(const std::string& key) const {
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        if (iequals(it->first, key)) return &it->second;
    return nullptr;
}

std::vector<SECTION> parse(const std::string& text) {
    std::vector<SECTION> sections(1);
    size_t pos = 0;
    // A byte-order mark from an editor must not become part of the first key.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            size_t close = line.rfind(']');
            if (close == std::string::npos || close == 0) continue;
            SECTION s;
            s.name = trim(line.substr(1, close - 1));
            sections.push_back(std::move(s));
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = trim(line.substr(0, eq));
        std::string value = trim(line.substr(eq + 1));
        if (key.empty()) continue;
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        sections.back().entries.emplace_back(std::move(key), std::move(value));
    }
    return sections;
}

bool parse_bool(const std::string& text, bool& value) {
    std::string t = to_lower(trim(text));
    if (t == "on" || t == "1" || t == "true" || t == "yes") {
        value = true;
        return true;
    }
    if (t == "off" || t == "0" || t == "false" || t == "no") {
        value = false;
        return true;
    }
    return false;
}

bool iequals(const std::string& a, const std::string& b) { return gen_stricmp(a, b) == 0; }

std::string to_lower(std::string text) {
    for (char& c : text) c = HOST_TEXT::ascii_lower(c);
    return text;
}

}  // namespace HOST_INI
