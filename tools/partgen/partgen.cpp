// Turns the chip facts kept as data (data/facts: the public chip table's parts and the vendor
// facts beside it) into the library's compiled part table, so that the library reads no file
// to know a part, and into the list of parts that share an ID. Usage:
// vorn_partgen <root> [<output root>]; writes pgm/vorn/check/vorn_flash_parts.cpp and
// data/facts/shared_ids.md below the output root (the root itself by default).

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "facts.h"

namespace {

using nlohmann::json;
using namespace partgen;

// The chip table's vendors, each with the vendor command set its parts are modelled with.
struct VENDOR {
    const char* table_name;
    const char* name;
    const char* shape;
};

const VENDOR VENDORS[] = {
    {"Micron", "Micron", "VORN_PROG_FLOW_TEMPLATE_MICRON"},
    {"Micron/Numonyx/ST", "Micron", "VORN_PROG_FLOW_TEMPLATE_MICRON"},
    {"Macronix", "Macronix", "VORN_PROG_FLOW_TEMPLATE_MACRONIX"},
    {"Spansion", "Cypress", "VORN_PROG_FLOW_TEMPLATE_CYPRESS"},
    {"Winbond", "Winbond", "VORN_PROG_FLOW_TEMPLATE_WINBOND"},
    {"ISSI", "ISSI", "VORN_PROG_FLOW_TEMPLATE_ISSI"},
    {"GigaDevice", "GigaDevice", "VORN_PROG_FLOW_TEMPLATE_WINBOND"},
};

// The parts shipped: 1 Mbit to 2 Gbit.
constexpr long long MIN_KIB = 128;
constexpr long long MAX_KIB = 262144;

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string hex(unsigned long long value, int digits = 2) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "0x%0*llX", digits, value);
    return buffer;
}

// "REG:MASK", "REG" or "none" as a VORN_FLASH_BITS_FACT initialiser.
std::string bits_fact(const FACT* fact) {
    if (fact == nullptr) return "{nullptr, 0, false}";
    const std::string confirmed = fact->confirmed ? "true" : "false";
    if (fact->value == "none") return "{\"\", 0, " + confirmed + "}";
    const std::vector<std::string> parts = split(fact->value, ':');
    const std::string mask = parts.size() > 1 ? hex(number(parts[1], fact->line)) : "0";
    return "{" + quoted(parts[0]) + ", " + mask + ", " + confirmed + "}";
}

std::string facts_initialiser(const FACTS& facts, const std::string& part,
                              const std::string& vendor) {
    auto get = [&](const char* name) { return find_fact(facts, part, vendor, name); };
    std::string out = "{";
    for (const char* name : {"quad_enable", "otp_bits", "four_byte_bit", "address_bits",
                             "exit_4byte_sets", "stacked_ready"})
        out += bits_fact(get(name)) + ", ";
    const FACT* latch = get("mode_switch_clears_latch");
    out += latch == nullptr ? "-1" : (latch->value == "yes" ? "1" : "0");
    // Only a confirmed absence takes a command from the part; an unconfirmed one keeps the
    // part out of the golden template (tools/partgen/qspigen.cpp).
    const FACT* absent = get("absent_commands");
    if (absent == nullptr || !absent->confirmed) {
        out += ", nullptr";
    } else {
        out += ", \"";
        for (const std::string& opcode : split(absent->value, ','))
            out += "\\x" + hex(number(opcode, absent->line)).substr(2);
        out += "\"";
    }
    for (const char* name : {"dummy_fast_read", "dummy_quad_io"}) {
        const FACT* dummy = get(name);
        out += ", " + (dummy == nullptr ? std::string("-1")
                                        : std::to_string(number(dummy->value, dummy->line)));
    }
    return out + "}";
}

// The ID bytes past the first three the chip table compares, as {{offset, value}...}, count.
std::string further_id(const json& part) {
    std::vector<std::string> bytes;
    for (const json& match : part.at("rdid_match"))
        if (match.at(0).get<int>() > 2)
            bytes.push_back("{" + std::to_string(match.at(0).get<int>()) + ", " +
                            hex(match.at(1).get<unsigned int>()) + "}");
    if (bytes.size() > 2)
        fail(part.at("name").get<std::string>() + " compares more than 5 ID bytes");
    const size_t count = bytes.size();
    while (bytes.size() < 2) bytes.push_back("{0, 0x00}");
    return "{" + bytes[0] + ", " + bytes[1] + "}, " + std::to_string(count);
}

struct ERASER_ROW {
    unsigned int opcode;
    unsigned long long size;
    bool four_byte;
    unsigned long long begin = 0;
    unsigned long long end = 0;
    bool confirmed = true;
};

// The part's erasers: the chip table's, then the small erases the vendor facts add where they
// work only in part of the memory.
std::vector<ERASER_ROW> erasers_of(const json& part, const FACTS& facts,
                                   const std::string& vendor) {
    std::vector<ERASER_ROW> rows;
    for (const json& e : part.at("erasers")) {
        if (e.at("opcode").is_null()) continue;
        rows.push_back({e.at("opcode").get<unsigned int>(),
                        e.at("block_size").get<unsigned long long>(),
                        e.at("opcode_4byte_address").get<bool>()});
    }
    const FACT* extra = find_fact(facts, part.at("name"), vendor, "parameter_erase");
    if (extra != nullptr) {
        const std::vector<std::string> f = split(extra->value, ':');
        if (f.size() != 3) fail("parameter_erase takes OPCODES:SIZE:BEGIN-END");
        const std::vector<std::string> range = split(f[2], '-');
        if (range.size() != 2) fail("parameter_erase takes OPCODES:SIZE:BEGIN-END");
        for (const std::string& opcode : split(f[0], ',')) {
            ERASER_ROW row{static_cast<unsigned int>(number(opcode, extra->line)),
                           number(f[1], extra->line), false};
            // The 4-byte twin of the 3-byte small erase takes a 4-byte address.
            row.four_byte = row.opcode == 0x21;
            row.begin = number(range[0], extra->line);
            row.end = number(range[1], extra->line) + 1;
            row.confirmed = extra->confirmed;
            rows.push_back(row);
        }
    }
    return rows;
}

unsigned int features_of(const json& part) {
    auto flag = [&](const char* key) { return part.at(key).get<bool>(); };
    unsigned int features = 0;
    const json& bits = part.at("feature_bits_expanded");
    auto has_bit = [&](const char* bit) {
        for (const json& b : bits)
            if (b.get<std::string>() == bit) return true;
        return false;
    };
    if (has_bit("FEATURE_4BA_ENTER") || has_bit("FEATURE_4BA_ENTER_WREN")) features |= 1u << 0;
    if (flag("enters_4ba_with_wren")) features |= 1u << 1;
    if (flag("enter_4ba_ear7")) features |= 1u << 2;
    if (flag("ext_addr_reg")) {
        const json& opcodes = part.at("ext_addr_reg_opcodes");
        const std::string text = opcodes.is_null() ? "" : opcodes.dump();
        features |= text.find("197") != std::string::npos ? 1u << 3 : 1u << 2;
    }
    if (flag("native_4ba_read")) features |= 1u << 4;
    if (flag("native_4ba_fast_read")) features |= 1u << 5;
    if (flag("native_4ba_write")) features |= 1u << 6;
    if (flag("wrsr2")) features |= 1u << 7;
    if (flag("wrsr3")) features |= 1u << 8;
    if (flag("wrsr_ext2")) features |= 1u << 9;
    return features;
}

json read_table(const std::filesystem::path& root) {
    std::ifstream in(root / "data/facts/spi_nor_parts.json");
    if (!in) fail("cannot read data/facts/spi_nor_parts.json");
    return json::parse(in);
}

const VENDOR* shipped_vendor(const json& part) {
    const VENDOR* vendor = nullptr;
    for (const VENDOR& v : VENDORS)
        if (part.at("vendor").get<std::string>() == v.table_name) vendor = &v;
    const json& id = part.at("jedec_id_bytes");
    const long long kib = part.at("total_size_kib").get<long long>();
    if (id.is_null() || id.size() != 3 || kib < MIN_KIB || kib > MAX_KIB) return nullptr;
    return vendor;
}

std::string density(long long kib) {
    const long long mbit = kib / 128;
    return mbit >= 1024 ? std::to_string(mbit / 1024) + "Gb" : std::to_string(mbit) + "Mb";
}

// The parts that answer the same first three bytes, with what tells them apart.
std::string shared_ids(const json& table) {
    std::map<std::string, std::vector<const json*>> by_id;
    for (const json& part : table) {
        if (shipped_vendor(part) == nullptr) continue;
        std::string id;
        for (const json& b : part.at("jedec_id_bytes"))
            id += (id.empty() ? "" : " ") + hex(b.get<unsigned int>());
        by_id[id].push_back(&part);
    }
    std::ostringstream out;
    out << "<!-- Generated by tools/partgen from data/facts/spi_nor_parts.json: do not edit. -->\n"
        << "# Parts that share an ID\n\n"
        << "The parts of the chip facts that answer the same first three bytes to 0x9F. A device\n"
        << "of such an ID is the parts of its density; among them, its name picks the part whose\n"
        << "name it equals or starts with, else `vorn verify` runs its flows on each of them.\n"
        << "Further ID bytes the chip table compares are given where it has them.\n\n"
        << "| ID | parts (density; further ID bytes) |\n|---|---|\n";
    for (const auto& group : by_id) {
        if (group.second.size() < 2) continue;
        out << "| " << group.first << " | ";
        bool first = true;
        for (const json* part : group.second) {
            out << (first ? "" : ", ") << part->at("name").get<std::string>() << " ("
                << density(part->at("total_size_kib").get<long long>());
            for (const json& match : part->at("rdid_match"))
                if (match.at(0).get<int>() > 2)
                    out << "; byte " << match.at(0).get<int>() << " "
                        << hex(match.at(1).get<unsigned int>());
            out << ")";
            first = false;
        }
        out << " |\n";
    }
    return out.str();
}

std::string generate(const json& table, const std::filesystem::path& root) {
    const FACTS facts = read_facts(root / "data/facts/vendor_facts.tsv");

    std::ostringstream erasers;
    std::ostringstream parts;
    std::map<std::string, int> scopes_used;
    int eraser_index = 0;
    int part_count = 0;
    for (const json& part : table) {
        const VENDOR* vendor = shipped_vendor(part);
        if (vendor == nullptr) continue;
        const json& id = part.at("jedec_id_bytes");
        const long long kib = part.at("total_size_kib").get<long long>();
        const std::string name = part.at("name");
        scopes_used["part:" + name] = 1;
        const std::vector<ERASER_ROW> rows = erasers_of(part, facts, vendor->name);
        for (const ERASER_ROW& r : rows)
            erasers << "    {" << hex(r.opcode) << ", " << r.size << "ULL, "
                    << (r.four_byte ? "true" : "false") << ", {" << hex(r.begin, 6) << ", "
                    << hex(r.end, 6) << ", " << (r.confirmed ? "true" : "false") << "}},\n";
        parts << "    {" << quoted(name) << ", " << quoted(vendor->name) << ", " << vendor->shape
              << ", {" << hex(id[0].get<unsigned int>()) << ", " << hex(id[1].get<unsigned int>())
              << ", " << hex(id[2].get<unsigned int>()) << "}, " << kib * 1024 << "ULL, "
              << part.at("page_size").get<unsigned int>() << ", " << hex(features_of(part), 3)
              << ", ERASERS + " << eraser_index << ", " << rows.size() << ",\n     "
              << facts_initialiser(facts, name, vendor->name) << ", " << further_id(part) << "},\n";
        eraser_index += static_cast<int>(rows.size());
        ++part_count;
    }
    for (const auto& scope : facts) {
        const bool vendor_scope = scope.first.rfind("part:", 0) != 0;
        bool known = scopes_used.count(scope.first) > 0;
        for (const VENDOR& v : VENDORS) known = known || (vendor_scope && scope.first == v.name);
        if (!known) fail("vendor_facts.tsv names '" + scope.first + "', which is no shipped part");
    }

    std::ostringstream vendors;
    for (const char* name : {"Micron", "Macronix", "Cypress", "Winbond", "ISSI", "GigaDevice"})
        vendors << "    {" << quoted(name) << ", " << facts_initialiser(facts, "", name) << "},\n";

    std::ostringstream out;
    out << "// Generated by tools/partgen from data/facts/spi_nor_parts.json and\n"
        << "// data/facts/vendor_facts.tsv: edit those, then build the partgen_update target.\n"
        << "// clang-format off\n"
        << "#include <string>\n\n"
        << "#include \"vorn_flash_model.h\"\n\n"
        << "namespace {\n\n"
        << "const VORN_FLASH_PART_ERASER ERASERS[] = {\n"
        << erasers.str() << "};\n\n"
        << "const VORN_FLASH_PART PARTS[] = {\n"
        << parts.str() << "};\n\n"
        << "struct VENDOR_FACTS {\n    const char* vendor;\n    VORN_FLASH_FACTS facts;\n};\n\n"
        << "const VENDOR_FACTS VENDOR_FACTS_TABLE[] = {\n"
        << vendors.str() << "};\n\n"
        << "}  // namespace\n\n"
        << "const VORN_FLASH_PART* VORN_FLASH_PART::get_all(int* count) {\n"
        << "    *count = " << part_count << ";\n"
        << "    return PARTS;\n}\n\n"
        << "const VORN_FLASH_FACTS* VORN_FLASH_PART::find_vendor_facts(const std::string& vendor) "
           "{\n"
        << "    for (const VENDOR_FACTS& v : VENDOR_FACTS_TABLE)\n"
        << "        if (vendor == v.vendor) return &v.facts;\n"
        << "    return nullptr;\n}\n";
    return out.str();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::cerr << "usage: vorn_partgen <root> [<output root>]\n";
        return 2;
    }
    try {
        const std::filesystem::path root = argv[1];
        const std::filesystem::path out_root = argc == 3 ? argv[2] : argv[1];
        const json table = read_table(root);
        write_if_changed(out_root / "pgm/vorn/check/vorn_flash_parts.cpp", generate(table, root));
        write_if_changed(out_root / "data/facts/shared_ids.md", shared_ids(table));
    } catch (const std::exception& e) {
        std::cerr << "vorn_partgen: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
