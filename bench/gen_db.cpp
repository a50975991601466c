// Writes benchmark programmer directories: the shipped golden templates, schemas and device
// families, 1,000 legacy devices, and N user devices in files of ten in a custom directory.
//
//   gen_db <output root> <chip list csv> [N ...]      (default N: 100 1000 10000)
//
// Each N gets <root>/n<N>/ with xml/, xsd/, dev/ and custom/. The files are built by the
// library itself, so they are exactly what a user saving devices would produce.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "vorn.h"

namespace fs = std::filesystem;

namespace {

constexpr int DEVICES_PER_FILE = 10;
constexpr int LEGACY_DEVICES = 1000;

struct CHIP {
    std::string vendor;
    std::string name;
    std::vector<unsigned> id;  // manufacturer byte, then the model bytes
    std::string density;       // one of the QSPI density choices
    std::string io_voltage;
    VORN_PROG_FLOW_TEMPLATE flow;
};

// Splits one CSV line; quoted fields may hold commas.
std::vector<std::string> split_csv(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (char c : line) {
        if (c == '"')
            quoted = !quoted;
        else if (c == ',' && !quoted)
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

std::vector<unsigned> hex_bytes(std::string hex) {
    if (hex.compare(0, 2, "0x") == 0) hex = hex.substr(2);
    if (hex.size() % 2 != 0) hex = "0" + hex;
    std::vector<unsigned> bytes;
    for (size_t i = 0; i < hex.size(); i += 2)
        bytes.push_back(static_cast<unsigned>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string density_of(unsigned long kib) {
    const unsigned long mbit = kib * 8 / 1024;
    for (const char* choice : VORN_QSPI_DENSITY)
        if (std::to_string(mbit) + "Mb" == choice && kib * 8 % 1024 == 0) return choice;
    return std::string();
}

// The vendor's own flow where the database ships one, a neighbour's otherwise.
VORN_PROG_FLOW_TEMPLATE flow_of(const std::string& vendor, size_t row) {
    if (vendor.find("Micron") != std::string::npos || vendor == "ST")
        return VORN_PROG_FLOW_TEMPLATE_MICRON;
    if (vendor == "Macronix") return VORN_PROG_FLOW_TEMPLATE_MACRONIX;
    if (vendor == "Spansion") return VORN_PROG_FLOW_TEMPLATE_CYPRESS;
    if (vendor == "Winbond") return VORN_PROG_FLOW_TEMPLATE_WINBOND;
    if (vendor == "ISSI") return VORN_PROG_FLOW_TEMPLATE_ISSI;
    static const VORN_PROG_FLOW_TEMPLATE others[] = {VORN_PROG_FLOW_TEMPLATE_MICRON,
                                                     VORN_PROG_FLOW_TEMPLATE_MACRONIX,
                                                     VORN_PROG_FLOW_TEMPLATE_WINBOND};
    return others[row % 3];
}

std::string name_safe(const std::string& text) {
    std::string out;
    for (char c : text) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        out += ok ? c : '_';
    }
    return out;
}

// An unusable row gives a chip without a name.
CHIP chip_of(const std::vector<std::string>& f, size_t row) {
    CHIP chip;
    chip.vendor = f[0];
    chip.name = name_safe(f[1]);
    chip.density = density_of(std::stoul(f[4]));
    chip.id = hex_bytes(f[2]);
    for (unsigned b : hex_bytes(f[3])) chip.id.push_back(b);
    chip.io_voltage = std::stoul(f[7]) <= 2000 ? "1.8V" : "3.0V/3.3V";
    chip.flow = flow_of(chip.vendor, row);
    // A fourth ID byte is ours, to keep IDs unique.
    if (chip.density.empty() || chip.id.size() > 3) chip.name.clear();
    return chip;
}

std::vector<CHIP> read_chips(const std::string& csv) {
    std::ifstream in(csv);
    if (!in) throw std::runtime_error("cannot read " + csv);
    std::vector<CHIP> chips;
    std::string line;
    std::getline(in, line);  // header
    for (size_t row = 0; std::getline(in, line); ++row) {
        std::vector<std::string> f = split_csv(line);
        if (f.size() < 8) continue;
        try {
            chips.push_back(chip_of(f, row));
        } catch (const std::logic_error&) {
            // a row with a missing number: not a chip we can describe
        }
    }
    chips.erase(
        std::remove_if(chips.begin(), chips.end(), [](const CHIP& c) { return c.name.empty(); }),
        chips.end());
    if (chips.empty()) throw std::runtime_error("no usable chip in " + csv);
    return chips;
}

std::string id_text(const std::vector<unsigned>& bytes) {
    std::string text;
    char buf[8];
    for (unsigned b : bytes) {
        std::snprintf(buf, sizeof buf, "0x%02X", b & 0xFF);
        text += (text.empty() ? "" : " ") + std::string(buf);
    }
    return text;
}

std::string read_text(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The shipped entries first, then generated ones of several groups and name prefixes, some
// of them single-bit parts (left out of x4 schemes), some disabled.
void write_legacy_list(const fs::path& source, const fs::path& target) {
    std::string text = read_text(source);
    int sections = 0;
    for (size_t pos = 0; (pos = text.find("\n[", pos)) != std::string::npos; ++pos) ++sections;
    if (text.compare(0, 1, "[") == 0) ++sections;
    static const char* const prefixes[] = {"LQFA", "LQFB", "LSCDV", "LOCT", "LDUO"};
    static const char* const groups[] = {"quad", "quad", "serial", "octal", "dual"};
    std::ostringstream out;
    out << text << "\n; Generated for benchmarks.\n";
    for (int i = 0; sections + i < LEGACY_DEVICES; ++i) {
        const int kind = i % 5;
        out << "\n[" << prefixes[kind] << (i / 5) << "]\n"
            << "enabled = " << (i % 37 == 0 ? 0 : 1) << "\n"
            << "io_voltage = " << (i % 3 == 0 ? "1.8V" : "3.0V/3.3V") << "\n"
            << "group = " << groups[kind] << "\n"
            << "order = " << (1000 - i / 5) << "\n";
    }
    std::ofstream(target) << out.str();
}

std::vector<VORN_OPERATION*> copy_flow(VORN_QSPI_MGR& mgr, VORN_PROG_FLOW_TEMPLATE tpl,
                                       VORN_PROG_FLOW_TYPE type) {
    std::vector<VORN_OPERATION*> copy;
    if (!vorn_copy_flow(*mgr.get_prog_flow_template_operation_list(tpl, type), copy))
        throw std::runtime_error("a vendor flow cannot be copied");
    return copy;
}

void generate(const fs::path& data, const fs::path& root, const std::vector<CHIP>& chips, int count,
              int per_file) {
    const fs::path dir = root / ("n" + std::to_string(count));
    fs::remove_all(dir);
    for (const char* sub : {"xml", "xsd", "dev", "custom"}) fs::create_directories(dir / sub);
    for (const char* file : {"xml/pgm_flash_db_qspi.xml", "xml/pgm_flash_db_sdmmc.xml",
                             "xsd/vorn_qspi.xsd", "xsd/vorn_sdmmc.xsd", "dev/families.ini"})
        fs::copy_file(data / file, dir / file);
    write_legacy_list(data / "dev/legacy_flash.ini", dir / "dev/legacy_flash.ini");

    PGM_COMMON::set_common_programmer(dir.string() + "/");
    VORN_MGR::set_db_custom_dir((dir / "custom").string());
    VORN_QSPI_MGR mgr;

    std::vector<std::unique_ptr<VORN_FLASH>> batch;
    int files = 0;
    auto flush = [&]() {
        std::vector<VORN_FLASH*> list;
        for (auto& flash : batch) list.push_back(flash.get());
        std::unique_ptr<PGM_COMMON_XML_ELEMENT> tree(mgr.create_xml_object_with_flash_list(list));
        char name[64];
        std::snprintf(name, sizeof name, "pgm_flash_gen_%05d.xml", files++);
        if (!PGM_COMMON_XML::write_xml(tree.get(), (dir / "custom" / name).string()))
            throw std::runtime_error(PGM_COMMON_XML::last_error());
        // The manager still points at our last record: let it go before the record does.
        mgr.get_flash("", true);
        batch.clear();
    };
    for (int i = 0; i < count; ++i) {
        const CHIP& chip = chips[static_cast<size_t>(i) % chips.size()];
        const unsigned copy = static_cast<unsigned>(i / chips.size());
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "_U%05d", i);
        // create_flash hands over a non-legacy record: it is ours to keep or delete.
        std::unique_ptr<VORN_FLASH> flash(mgr.create_flash(chip.name + suffix));
        std::vector<unsigned> id = chip.id;
        id.resize(3, 0);
        id.push_back(copy);
        flash->set_parameter_value(VORN_FLASH_PARAM_ID, id_text(id));
        flash->set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, chip.io_voltage);
        flash->set_density(chip.density);
        flash->set_parameter_value(VORN_FLASH_PARAM_TOTAL_DIE, chip.density == "2048Mb" ? 2u : 1u);
        flash->set_parameter_value(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, 8u);
        flash->set_parameter_value(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, 10u);
        flash->set_parameter_value(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE,
                                   VORN_PROG_FLOW_TEMPLATE_NAME[chip.flow]);
        for (VORN_PROG_FLOW_TYPE type : {VORN_PROG_FLOW_TYPE_SFL, VORN_PROG_FLOW_TYPE_SDM})
            flash->set_operation_list(copy_flow(mgr, chip.flow, type), type);
        batch.push_back(std::move(flash));
        if (static_cast<int>(batch.size()) == per_file) flush();
    }
    if (!batch.empty()) flush();
    std::cout << dir.string() << ": " << count << " devices in " << files << " files\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: gen_db <output root> <chip list csv> [N[:per file] ...]\n";
        return 2;
    }
    try {
        // The shipped data, whatever directory the caller had chosen.
        PGM_COMMON::set_common_programmer("");
        const fs::path data = PGM_COMMON::pgm_get_common_programmer();
        const std::vector<CHIP> chips = read_chips(argv[2]);
        // N, or N:P for N devices P to a file (1300:1300 is one file of about 15 MB).
        std::vector<std::pair<int, int>> counts;
        for (int i = 3; i < argc; ++i) {
            const char* colon = std::strchr(argv[i], ':');
            counts.push_back({std::atoi(argv[i]), colon ? std::atoi(colon + 1) : DEVICES_PER_FILE});
        }
        if (counts.empty())
            counts = {{100, DEVICES_PER_FILE}, {1000, DEVICES_PER_FILE}, {10000, DEVICES_PER_FILE}};
        fs::create_directories(argv[1]);
        const fs::path root = fs::absolute(argv[1]);
        for (const auto& [count, per_file] : counts) generate(data, root, chips, count, per_file);
    } catch (const std::exception& e) {
        std::cerr << "gen_db: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
