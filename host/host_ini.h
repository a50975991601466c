// A small INI reader that keeps sections and keys in file order, which SimpleIni does not
// promise for reading back; the host's device tables depend on that order.
#ifndef HOST_HOST_INI_H
#define HOST_HOST_INI_H

#include <string>
#include <utility>
#include <vector>

namespace HOST_INI {

struct SECTION {
    std::string name;  // "" for the keys before the first section header
    std::vector<std::pair<std::string, std::string>> entries;  // trimmed, in file order

    // The value of the last `key` (ASCII case ignored), or null.
    const std::string* find(const std::string& key) const;
};

// Sections in file order, repeated headers included as separate sections; the first one is
// always the unnamed section. ';' and '#' start comment lines; a value's surrounding double
// quotes are removed.
std::vector<SECTION> parse(const std::string& text);

// on/1/true/yes -> true, off/0/false/no -> false (any case); false when neither.
bool parse_bool(const std::string& text, bool& value);

bool iequals(const std::string& a, const std::string& b);
std::string to_lower(std::string text);

}  // namespace HOST_INI

#endif
