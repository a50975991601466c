// The vendor facts kept beside the public chip table (data/facts/vendor_facts.tsv), as the
// generators in tools/partgen read them.
#ifndef VORN_PARTGEN_FACTS_H
#define VORN_PARTGEN_FACTS_H

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace partgen {

inline const char* const FACT_NAMES[] = {"quad_enable",
                                         "otp_bits",
                                         "four_byte_bit",
                                         "address_bits",
                                         "exit_4byte_sets",
                                         "stacked_ready",
                                         "mode_switch_clears_latch",
                                         "parameter_erase",
                                         "dummy_fast_read",
                                         "dummy_quad_io",
                                         "absent_commands"};

struct FACT {
    std::string value;
    bool confirmed = false;
    int line = 0;
};

// scope -> fact -> value
using FACTS = std::map<std::string, std::map<std::string, FACT>>;

[[noreturn]] inline void fail(const std::string& what) { throw std::runtime_error(what); }

inline std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> out;
    std::string field;
    std::istringstream in(text);
    while (std::getline(in, field, separator)) out.push_back(field);
    if (!text.empty() && text.back() == separator) out.emplace_back();
    return out;
}

inline unsigned long long number(const std::string& text, int line) {
    try {
        size_t used = 0;
        const unsigned long long value = std::stoull(text, &used, 0);
        if (used == text.size()) return value;
    } catch (const std::exception&) {
    }
    fail("vendor_facts.tsv line " + std::to_string(line) + ": '" + text + "' is not a number");
}

inline FACTS read_facts(const std::filesystem::path& file) {
    std::ifstream in(file);
    if (!in) fail("cannot read " + file.string());
    FACTS facts;
    std::string text;
    int line = 0;
    while (std::getline(in, text)) {
        ++line;
        if (text.empty() || text[0] == '#') continue;
        const std::vector<std::string> f = split(text, '\t');
        const std::string where = "vendor_facts.tsv line " + std::to_string(line);
        if (f.size() != 5) fail(where + ": expected 5 fields, found " + std::to_string(f.size()));
        bool known = false;
        for (const char* name : FACT_NAMES) known = known || f[1] == name;
        if (!known) fail(where + ": unknown fact '" + f[1] + "'");
        if (f[3] != "confirmed" && f[3] != "unconfirmed")
            fail(where + ": status must be confirmed or unconfirmed");
        if (f[4].empty()) fail(where + ": a fact needs its source");
        FACT& fact = facts[f[0]][f[1]];
        if (fact.line != 0) fail(where + ": repeats line " + std::to_string(fact.line));
        fact = FACT{f[2], f[3] == "confirmed", line};
    }
    return facts;
}

// The fact `name` of a part (its own row first, then its vendor's), or null.
inline const FACT* find_fact(const FACTS& facts, const std::string& part, const std::string& vendor,
                             const std::string& name) {
    for (const std::string& scope : {"part:" + part, vendor}) {
        auto it = facts.find(scope);
        if (it == facts.end()) continue;
        auto fact = it->second.find(name);
        if (fact != it->second.end()) return &fact->second;
    }
    return nullptr;
}

// Leaves a file that already holds the text untouched, so that nothing rebuilds.
inline void write_if_changed(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ifstream old(file, std::ios::binary);
    std::stringstream current;
    current << old.rdbuf();
    if (old && current.str() == text) return;
    std::ofstream write(file, std::ios::binary);
    write << text;
    if (!write) fail("cannot write " + file.string());
}

}  // namespace partgen

#endif
