// Writes the shipped QSPI golden template from the chip facts: the vendor programming flows of
// data/templates, then one device for each name of each part the library's part table holds,
// with flows made from its vendor template and judged by the flow checker as that part. A part
// it cannot make is left out with the reason, in data/facts/left_out.md. Usage:
//   vorn_qspigen <root> [<output root>] [--part NAME]...
// With --part, only the parts named (as the chip table spells them) are made, and one that
// cannot be made fails the run.

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "facts.h"
#include "pgm_host.h"
#include "vorn.h"
#include "vorn_flash_model.h"
#include "vorn_flow_check.h"
#include "vorn_flow_fit.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using partgen::fail;
using partgen::write_if_changed;

// What stops the whole run, as opposed to the reason one part is left out (a runtime_error).
struct BROKEN : std::logic_error {
    using std::logic_error::logic_error;
};

[[noreturn]] void broken(const std::string& what) { throw BROKEN(what); }

// The order devices appear in: the template vendors', then the parts that borrow a shape.
const char* const VENDOR_ORDER[] = {"Micron",  "Macronix", "Cypress",
                                    "Winbond", "ISSI",     "GigaDevice"};

// Parts above this take their die count from a die erase in the chip table, or are left out.
constexpr unsigned long long ONE_DIE_LIMIT = 64ULL << 20;

struct DEVICE {
    std::string name;
    const VORN_FLASH_PART* part;
    std::string xml;         // the FLASH element, as the library writes it
    std::string single_bit;  // the register writes it lacks, in the single-bit shape; or empty
};

// A part that cannot be made, and why.
struct LEFT_OUT {
    std::string part;
    std::string reason;
};

std::string read_text(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) fail("cannot read " + file.string());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// data/facts/device_names.tsv: part -> the confirmed names it expands to; `unconfirmed`
// collects the others.
std::map<std::string, std::vector<std::string>> read_names(const fs::path& file,
                                                           std::vector<std::string>& unconfirmed) {
    std::ifstream in(file);
    if (!in) fail("cannot read " + file.string());
    std::map<std::string, std::vector<std::string>> names;
    std::string text;
    int line = 0;
    while (std::getline(in, text)) {
        ++line;
        if (text.empty() || text[0] == '#') continue;
        const std::vector<std::string> f = partgen::split(text, '\t');
        const std::string where = "device_names.tsv line " + std::to_string(line);
        if (f.size() != 4) fail(where + ": expected 4 fields, found " + std::to_string(f.size()));
        if (f[2] != "confirmed" && f[2] != "unconfirmed")
            fail(where + ": status must be confirmed or unconfirmed");
        if (f[3].empty()) fail(where + ": a name needs its source");
        if (f[2] == "confirmed")
            names[f[0]].push_back(f[1]);
        else
            unconfirmed.push_back(f[1] + " (" + f[0] + ")");
    }
    return names;
}

bool is_name_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The names a user types for a part: the confirmed expansions of its wildcard name, else its
// user names cut to what the name rule allows. Variant marks too short to be a part name go.
std::vector<std::string> names_of(const VORN_FLASH_PART& part,
                                  const std::map<std::string, std::vector<std::string>>& expanded) {
    const auto it = expanded.find(part.name);
    if (it != expanded.end()) return it->second;
    std::vector<std::string> names;
    for (std::string name : part.user_names()) {
        name =
            name.substr(0, std::find_if_not(name.begin(), name.end(), is_name_char) - name.begin());
        if (name.size() >= 4 && std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    }
    return names;
}

// A name already taken by an earlier part gets what follows the cut in the table's name.
std::string unique_name(const std::string& name, const VORN_FLASH_PART& part,
                        const std::set<std::string>& taken) {
    if (taken.count(name) == 0) return name;
    // The first word after the cut, its marks left out: "N25Q00A..1G" gives N25Q00A_1G.
    std::string rest;
    const std::string full = part.name;
    size_t i = full.rfind(name, 0) == 0 ? name.size() : 0;
    while (i < full.size() && !std::isalnum(static_cast<unsigned char>(full[i])) &&
           full[i] != ' ' && full[i] != '/')
        ++i;
    if (i < full.size() && full[i] == ' ') ++i;
    for (; i < full.size() && full[i] != ' ' && full[i] != '/'; ++i)
        if (std::isalnum(static_cast<unsigned char>(full[i]))) rest += full[i];
    std::string unique = rest.empty() ? name : name + "_" + rest;
    for (int n = 2; taken.count(unique) > 0; ++n)
        unique = name + "_" + (rest.empty() ? "" : rest + "_") + std::to_string(n);
    return unique;
}

std::string density_text(unsigned long long bytes) {
    return std::to_string(bytes * 8 / (1ULL << 20)) + "Mb";
}

std::string id_text(const VORN_FLASH_PART& part) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "0x%02X 0x%02X 0x%02X", part.id[0], part.id[1],
                  part.id[2]);
    return buffer;
}

std::string hex_byte(unsigned int value) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "0x%02X", value & 0xFF);
    return buffer;
}

// The I/O voltage the part is offered at, from the chip table's supply range. A part whose
// range reaches 3.3V is classed 3.0V/3.3V, also when it works down to 1.8V.
std::string voltage_of(const json& entry) {
    const json& low = entry.at("voltage_min_mv");
    const json& high = entry.at("voltage_max_mv");
    if (low.is_null() || high.is_null())
        throw std::runtime_error("the chip table gives no voltage");
    const int max_mv = high.get<int>();
    if (max_mv <= 2000) return "1.8V";
    if (max_mv >= 3300) return "3.0V/3.3V";
    throw std::runtime_error("its supply range (" + std::to_string(low.get<int>()) + "-" +
                             std::to_string(max_mv) + " mV) is neither 1.8V nor 3.0V/3.3V");
}

const partgen::FACT& needed_fact(const partgen::FACTS& facts, const VORN_FLASH_PART& part,
                                 const char* name, bool must_be_confirmed) {
    const partgen::FACT* fact = partgen::find_fact(facts, part.name, part.vendor, name);
    if (fact == nullptr) throw std::runtime_error(std::string("no ") + name + " fact");
    if (must_be_confirmed && !fact->confirmed)
        throw std::runtime_error(std::string("its ") + name + " fact is unconfirmed");
    return *fact;
}

unsigned long long count_of(const partgen::FACT& fact) {
    return partgen::number(fact.value, fact.line);
}

unsigned int die_count(const VORN_FLASH_PART& part) {
    const unsigned int dies = part.dies();
    if (dies == 1 && part.density_bytes > ONE_DIE_LIMIT)
        throw std::runtime_error(
            "its die count is not in the facts (the chip table gives no die "
            "erase for a part above 512Mb)");
    return dies;
}

VORN_ACT_PROPERTY prop(int property) { return static_cast<VORN_ACT_PROPERTY>(property); }

// The erases the part's flows offer: every erase the chip table gives it that works anywhere in
// the memory, smaller than a die, with the address style of `four_byte`; one per size, smallest
// first.
std::vector<const VORN_FLASH_PART_ERASER*> erasers_for(const VORN_FLASH_PART& part,
                                                       bool four_byte) {
    std::vector<const VORN_FLASH_PART_ERASER*> out;
    const unsigned long long die = part.density_bytes / part.dies();
    for (int i = 0; i < part.eraser_count; ++i) {
        const VORN_FLASH_PART_ERASER& e = part.erasers[i];
        if (e.region.end != 0 || e.block_size == 0 || e.block_size >= die ||
            e.four_byte != four_byte)
            continue;
        const bool size_taken = std::any_of(out.begin(), out.end(),
                                            [&](auto* o) { return o->block_size == e.block_size; });
        if (!size_taken) out.push_back(&e);
    }
    std::stable_sort(out.begin(), out.end(),
                     [](auto* a, auto* b) { return a->block_size < b->block_size; });
    return out;
}

std::string erase_name(const VORN_FLASH_VENDOR_PROFILE& vendor, const VORN_FLASH_PART_ERASER& e) {
    for (int i = 0; i < vendor.command_count; ++i)
        if (vendor.commands[i].opcode == e.opcode && vendor.commands[i].erase_size == e.block_size)
            return vendor.commands[i].name;
    const std::string size = e.block_size % 1024 == 0 ? std::to_string(e.block_size / 1024) + "KB"
                                                      : std::to_string(e.block_size) + "B";
    return "Erase " + size + (e.four_byte ? " 4 Byte Address" : "");
}

// The template's erase actions replaced by the part's own erases, each made from the first of
// them; the caller owns the new operations.
std::vector<VORN_OPERATION*> with_part_erases(const VORN_FLASH_VENDOR_PROFILE& profile,
                                              const VORN_FLASH_VENDOR_PROFILE& vendor,
                                              const VORN_FLASH_PART& part,
                                              const std::vector<VORN_OPERATION*>& flow,
                                              bool three_byte, bool native) {
    std::vector<std::unique_ptr<VORN_QSPI_OPERATION>> out;
    for (const VORN_OPERATION* op : flow) {
        auto copy = std::make_unique<VORN_QSPI_OPERATION>(op->get_type());
        // The template's own erase actions, by opcode: a part's erase it also has keeps its name.
        std::map<unsigned int, const VORN_QSPI_ACTION*> template_erases;
        for (const VORN_ACTION* action : *op->get_action_list())
            if (action->get_type() == VORN_ACT_TYPE_ERASE)
                template_erases.emplace(
                    action->get_property_value_in_dword(VORN_ACT_PROPERTY_ERASE_COMMAND),
                    &dynamic_cast<const VORN_QSPI_ACTION&>(*action));
        bool replaced = false;
        for (const VORN_ACTION* action : *op->get_action_list()) {
            const auto& qspi = dynamic_cast<const VORN_QSPI_ACTION&>(*action);
            if (action->get_type() != VORN_ACT_TYPE_ERASE) {
                copy->add_action_into_list(new VORN_QSPI_ACTION(qspi));
                continue;
            }
            if (replaced) continue;
            replaced = true;
            const unsigned int opcode =
                action->get_property_value_in_dword(VORN_ACT_PROPERTY_ERASE_COMMAND);
            const VORN_FLASH_COMMAND* command =
                profile.find_command_on_any_part(static_cast<unsigned char>(opcode));
            const bool four_byte = native || (!three_byte && command != nullptr &&
                                              command->address == VORN_FLASH_ADDRESS_FOUR);
            const auto erasers = erasers_for(part, four_byte);
            if (erasers.empty())
                throw std::runtime_error("the chip table gives it no erase that works everywhere");
            for (const VORN_FLASH_PART_ERASER* e : erasers) {
                // The template's action for the same erase, else one named as the vendor's
                // command set names it at this size, else by its size.
                const auto same = template_erases.find(e->opcode);
                const bool same_size = same != template_erases.end() &&
                                       same->second->get_property_value_in_dword(
                                           VORN_ACT_PROPERTY_ERASE_ERASE_SIZE) == e->block_size;
                auto erase = std::make_unique<VORN_QSPI_ACTION>(same_size ? *same->second : qspi);
                if (!same_size) {
                    erase->set_property_value(prop(VORN_ACT_PROPERTY_ERASE_NAME),
                                              erase_name(vendor, *e));
                    erase->set_property_value(prop(VORN_ACT_PROPERTY_ERASE_COMMAND),
                                              hex_byte(e->opcode));
                }
                erase->set_property_value(prop(VORN_ACT_PROPERTY_ERASE_ERASE_SIZE),
                                          std::to_string(e->block_size));
                copy->add_action_into_list(erase.release());
            }
        }
        out.push_back(std::move(copy));
    }
    std::vector<VORN_OPERATION*> released;
    for (auto& op : out) released.push_back(op.release());
    return released;
}

// A register the template writes by an opcode the part lacks, where the part writes it as the
// second byte of a two-register write (status register 2 by 0x01 after status register 1, on a
// Winbond-shaped part without 0x31), takes that form. The first register gets 0x00: its block
// protection clear, as a programming flow wants it.
void with_part_register_writes(const VORN_FLASH_VENDOR_PROFILE& profile, unsigned long long density,
                               std::vector<VORN_OPERATION*>& flow) {
    for (VORN_OPERATION* op : flow)
        for (VORN_ACTION* action : *op->get_action_list()) {
            if (action->get_type() != VORN_ACT_TYPE_WRITE_REGISTER) continue;
            const auto opcode = static_cast<unsigned char>(
                action->get_property_value_in_dword(VORN_ACT_PROPERTY_WRITE_REG_COMMAND));
            const VORN_FLASH_COMMAND* own = profile.find_command_on_any_part(opcode);
            if (profile.find_command(opcode, density) != nullptr || own == nullptr ||
                own->kind != VORN_FLASH_COMMAND_WRITE_REGISTER || own->registers[1] >= 0)
                continue;
            for (int i = 0; i < profile.command_count; ++i) {
                const VORN_FLASH_COMMAND& both = profile.commands[i];
                if (both.kind != VORN_FLASH_COMMAND_WRITE_REGISTER ||
                    both.registers[1] != own->registers[0] ||
                    profile.find_command(both.opcode, density) != &both)
                    continue;
                const std::string data =
                    action->get_property_value(VORN_ACT_PROPERTY_WRITE_REG_DATA);
                action->set_property_value(VORN_ACT_PROPERTY_WRITE_REG_NAME,
                                           std::string("Write ") +
                                               profile.registers[both.registers[0]].name + " and " +
                                               profile.registers[both.registers[1]].name);
                action->set_property_value(VORN_ACT_PROPERTY_WRITE_REG_COMMAND,
                                           hex_byte(both.opcode));
                action->set_property_value(VORN_ACT_PROPERTY_WRITE_REG_DATA, "0x00 " + data);
                break;
            }
        }
}

// The opcode an action sends; none (above a byte) for a custom action.
unsigned int opcode_of(const VORN_ACTION& action) {
    const auto& properties = action.get_property_enum_list();
    if (action.get_type() == VORN_ACT_TYPE_CUSTOM || properties.size() < 2) return 0x100;
    return action.get_property_value_in_dword(properties[1]);
}

// A copy of `flow` rebuilt action by action: `step` gets each action (and whether it opens its
// operation) with the actions kept so far, and keeps, changes or drops it. The caller owns the
// new operations.
using FLOW_STEP = std::function<void(const VORN_ACTION& action, bool first,
                                     std::vector<std::unique_ptr<VORN_QSPI_ACTION>>& kept)>;
std::vector<VORN_OPERATION*> rebuilt_flow(const std::vector<VORN_OPERATION*>& flow,
                                          const FLOW_STEP& step) {
    std::vector<std::unique_ptr<VORN_QSPI_OPERATION>> out;
    for (const VORN_OPERATION* op : flow) {
        auto copy = std::make_unique<VORN_QSPI_OPERATION>(op->get_type());
        std::vector<std::unique_ptr<VORN_QSPI_ACTION>> actions;
        bool first = true;
        for (const VORN_ACTION* action : *op->get_action_list()) {
            step(*action, first, actions);
            first = false;
        }
        for (auto& action : actions) copy->add_action_into_list(action.release());
        out.push_back(std::move(copy));
    }
    std::vector<VORN_OPERATION*> released;
    for (auto& op : out) released.push_back(op.release());
    return released;
}

// The flows of a part that may lack commands of its vendor's set (`absent`, from the facts,
// confirmed or not). A poll of a flag status register for ready becomes a poll of the status
// register's busy bit, which flashrom waits on for every part of its table (spi25_statusreg.c,
// spi_write_register: SPI_SR_WIP); the clearing of flags goes. Where the absence is confirmed,
// a register write the part lacks goes with the write enable just before it: the part has no
// such register bits to set. Any other use of the commands stays, for the check to judge. The
// caller owns the new operations.
std::vector<VORN_OPERATION*> without_absent_commands(const VORN_FLASH_VENDOR_PROFILE& vendor,
                                                     const std::set<unsigned long long>& absent,
                                                     bool confirmed,
                                                     const std::vector<VORN_OPERATION*>& flow) {
    const VORN_FLASH_COMMAND* status = nullptr;
    for (int i = 0; i < vendor.command_count && status == nullptr; ++i) {
        const VORN_FLASH_COMMAND& c = vendor.commands[i];
        if (c.kind == VORN_FLASH_COMMAND_READ_REGISTER &&
            vendor.registers[c.registers[0]].busy != 0 &&
            !vendor.registers[c.registers[0]].ready_bit)
            status = &c;
    }
    if (status == nullptr) broken("a vendor's command set has no status register read");
    const unsigned char busy = vendor.registers[status->registers[0]].busy;
    return rebuilt_flow(flow, [&](const VORN_ACTION& action, bool,
                                  std::vector<std::unique_ptr<VORN_QSPI_ACTION>>& actions) {
        auto kept =
            std::make_unique<VORN_QSPI_ACTION>(dynamic_cast<const VORN_QSPI_ACTION&>(action));
        const unsigned int opcode = opcode_of(action);
        const VORN_FLASH_COMMAND* command =
            absent.count(opcode) > 0
                ? vendor.find_command_on_any_part(static_cast<unsigned char>(opcode))
                : nullptr;
        auto is = [command](VORN_FLASH_COMMAND_KIND kind) {
            return command != nullptr && command->kind == kind;
        };
        if (is(VORN_FLASH_COMMAND_CLEAR_FLAGS)) return;
        if (is(VORN_FLASH_COMMAND_WRITE_REGISTER) && confirmed) {
            const VORN_FLASH_COMMAND* before =
                actions.empty() ? nullptr
                                : vendor.find_command_on_any_part(
                                      static_cast<unsigned char>(opcode_of(*actions.back())));
            if (before != nullptr && before->kind == VORN_FLASH_COMMAND_WRITE_ENABLE)
                actions.pop_back();
            return;
        }
        const VORN_FLASH_REGISTER* polled = is(VORN_FLASH_COMMAND_READ_REGISTER)
                                                ? &vendor.registers[command->registers[0]]
                                                : nullptr;
        if (polled != nullptr && polled->ready_bit &&
            action.get_property_value_in_dword(VORN_ACT_PROPERTY_READ_REG_EXPECTED_DATA_MASK) ==
                polled->busy) {
            kept->set_property_value(VORN_ACT_PROPERTY_READ_REG_NAME, status->name);
            kept->set_property_value(VORN_ACT_PROPERTY_READ_REG_COMMAND, hex_byte(status->opcode));
            kept->set_property_value(VORN_ACT_PROPERTY_READ_REG_EXPECTED_DATA, "0x00");
            kept->set_property_value(VORN_ACT_PROPERTY_READ_REG_EXPECTED_DATA_MASK, hex_byte(busy));
        }
        actions.push_back(std::move(kept));
    });
}

// The single-bit shape: the flows less every register write that the part lacks (no entry of
// the chip table gives it) or may lack (`absent`, unconfirmed facts), with the write enable
// before it and the busy poll after it, and less the checks of the bits such a write would
// have set. On the Winbond-shaped parts that lack both forms of the status register 2 write,
// what goes is the quad enable: the flows then need no fact the table lacks, and the device
// is used at x1. A write that would set the vendor's quad enable bit where the part's facts
// put that bit in another register goes too. `dropped` gets the opcode of each write that went,
// with why. The caller owns the new operations.
std::vector<VORN_OPERATION*> without_unsourced_writes(
    const VORN_FLASH_VENDOR_PROFILE& vendor, const VORN_FLASH_VENDOR_PROFILE& part,
    unsigned long long density, const std::set<unsigned long long>& absent,
    const std::vector<VORN_OPERATION*>& flow, std::map<unsigned int, std::string>* dropped) {
    std::map<int, unsigned int> never_set;  // register -> bits a dropped write would have set
    bool after_dropped = false;
    return rebuilt_flow(flow, [&](const VORN_ACTION& action, bool first,
                                  std::vector<std::unique_ptr<VORN_QSPI_ACTION>>& actions) {
        if (first) after_dropped = false;
        auto kept =
            std::make_unique<VORN_QSPI_ACTION>(dynamic_cast<const VORN_QSPI_ACTION&>(action));
        const unsigned int opcode = opcode_of(action);
        const VORN_FLASH_COMMAND* command =
            opcode > 0xFF ? nullptr
                          : part.find_command_on_any_part(static_cast<unsigned char>(opcode));
        const bool was_after_dropped = after_dropped;
        after_dropped = false;
        const bool writes = action.get_type() == VORN_ACT_TYPE_WRITE_REGISTER &&
                            command != nullptr &&
                            command->kind == VORN_FLASH_COMMAND_WRITE_REGISTER;
        const std::vector<std::string> data =
            writes
                ? partgen::split(action.get_property_value(VORN_ACT_PROPERTY_WRITE_REG_DATA), ' ')
                : std::vector<std::string>();
        // A write of the vendor's quad enable bit where the part's facts put it elsewhere
        // would set another bit of this part.
        bool elsewhere = false;
        for (size_t i = 0; i < 2 && i < data.size(); ++i) {
            const int reg = command->registers[i];
            const unsigned int bits =
                data[i].empty() ? 0 : static_cast<unsigned int>(std::stoul(data[i], nullptr, 0));
            if (reg >= 0 && (bits & vendor.registers[reg].quad_enable) != 0 &&
                (bits & part.registers[reg].quad_enable) == 0)
                elsewhere = true;
        }
        const bool lacks = writes && part.find_command(command->opcode, density) == nullptr;
        const bool may_lack = writes && absent.count(opcode) > 0;
        if (lacks || may_lack || elsewhere) {
            for (size_t i = 0; i < 2 && i < data.size(); ++i)
                if (command->registers[i] >= 0 && !data[i].empty())
                    never_set[command->registers[i]] |=
                        static_cast<unsigned int>(std::stoul(data[i], nullptr, 0));
            const VORN_FLASH_COMMAND* before =
                actions.empty() ? nullptr
                                : part.find_command_on_any_part(
                                      static_cast<unsigned char>(opcode_of(*actions.back())));
            if (before != nullptr && before->kind == VORN_FLASH_COMMAND_WRITE_ENABLE)
                actions.pop_back();
            after_dropped = true;
            (*dropped)[opcode] =
                lacks      ? "no entry of its chip table gives it"
                : may_lack ? "the facts say it may lack it, unconfirmed"
                           : "it sets the vendor's quad enable bit; the part's is elsewhere";
            return;
        }
        if (action.get_type() == VORN_ACT_TYPE_READ_REGISTER && command != nullptr &&
            command->kind == VORN_FLASH_COMMAND_READ_REGISTER) {
            const int reg = command->registers[0];
            const unsigned int mask =
                action.get_property_value_in_dword(VORN_ACT_PROPERTY_READ_REG_EXPECTED_DATA_MASK) &
                0xFF;
            // The wait for a write that is no longer sent.
            if (was_after_dropped && (mask & part.registers[reg].busy) != 0) return;
            const auto unset = never_set.find(reg);
            if (unset != never_set.end() && (mask & unset->second) != 0) {
                const unsigned int left = mask & ~unset->second;
                if (left == 0) return;
                const unsigned int expected =
                    action.get_property_value_in_dword(VORN_ACT_PROPERTY_READ_REG_EXPECTED_DATA);
                kept->set_property_value(VORN_ACT_PROPERTY_READ_REG_EXPECTED_DATA_MASK,
                                         hex_byte(left));
                kept->set_property_value(VORN_ACT_PROPERTY_READ_REG_EXPECTED_DATA,
                                         hex_byte(expected & left));
            }
        }
        actions.push_back(std::move(kept));
    });
}

void free_flow(std::vector<VORN_OPERATION*>& flow) {
    for (VORN_OPERATION* op : flow) delete op;
    flow.clear();
}

// The FLASH element of a saved user file, as the library wrote it.
std::string flash_element(const std::string& file_text) {
    const size_t begin = file_text.find("  <FLASH>");
    const size_t end = file_text.rfind("</QSPI_FLASH>");
    if (begin == std::string::npos || end == std::string::npos || end < begin)
        broken("the library wrote no device element");
    return file_text.substr(begin, end - begin);
}

class GENERATOR {
  public:
    GENERATOR(const fs::path& root, const fs::path& work) : m_root(root), m_work(work) {
        m_facts = partgen::read_facts(root / "data/facts/vendor_facts.tsv");
        m_expanded = read_names(root / "data/facts/device_names.tsv", m_unconfirmed_names);
        std::ifstream in(root / "data/facts/spi_nor_parts.json");
        if (!in) fail("cannot read data/facts/spi_nor_parts.json");
        for (const json& entry : json::parse(in)) m_entries[entry.at("name")] = entry;
        m_templates = read_text(root / "data/templates/qspi_vendor_templates.xml");
        open_manager();
    }

    // Makes the device(s) of one part, or says why not.
    void make(const VORN_FLASH_PART& part) {
        try {
            const auto entry = m_entries.find(part.name);
            if (entry == m_entries.end()) throw std::runtime_error("not in the chip table");
            const std::string voltage = voltage_of(entry->second);
            const unsigned int dies = die_count(part);
            const auto dummy = static_cast<unsigned int>(
                count_of(needed_fact(m_facts, part, "dummy_fast_read", true)));
            const auto dummy_x4 = static_cast<unsigned int>(
                count_of(needed_fact(m_facts, part, "dummy_quad_io", false)));
            const std::vector<std::string> names = names_of(part, m_expanded);
            if (names.empty()) throw std::runtime_error("no name a user could type");
            std::vector<DEVICE> made;
            for (const std::string& wanted : names)
                made.push_back(make_device(part, unique_name(wanted, part, m_taken), voltage, dies,
                                           dummy, dummy_x4));
            for (DEVICE& device : made) {
                m_taken.insert(device.name);
                m_devices.push_back(std::move(device));
            }
        } catch (const std::runtime_error& e) {
            m_left_out.push_back({part.name, e.what()});
        }
    }

    // Whether the part's names are whole names of the table or confirmed expansions, not names
    // cut at a wildcard: those are given out first, so that a cut name never takes them.
    bool has_whole_names(const VORN_FLASH_PART& part) const {
        if (m_expanded.count(part.name) > 0) return true;
        const std::vector<std::string> pieces = partgen::split(part.name, '/');
        for (const std::string& name : names_of(part, m_expanded))
            if (std::find(pieces.begin(), pieces.end(), name) == pieces.end()) return false;
        return true;
    }

    const std::vector<LEFT_OUT>& left_out() const { return m_left_out; }
    const std::vector<std::string>& unconfirmed_names() const { return m_unconfirmed_names; }

    std::string golden_template() const {
        std::vector<const DEVICE*> order;
        for (const DEVICE& d : m_devices) order.push_back(&d);
        auto rank = [](const DEVICE* d) {
            return std::find_if(std::begin(VENDOR_ORDER), std::end(VENDOR_ORDER),
                                [&](const char* v) { return std::string(v) == d->part->vendor; }) -
                   std::begin(VENDOR_ORDER);
        };
        std::stable_sort(order.begin(), order.end(), [&](const DEVICE* a, const DEVICE* b) {
            if (rank(a) != rank(b)) return rank(a) < rank(b);
            if (a->part->density_bytes != b->part->density_bytes)
                return a->part->density_bytes < b->part->density_bytes;
            return a->name < b->name;
        });
        const size_t end = m_templates.find("</GOLDEN_TEMPLATE>");
        if (end == std::string::npos) fail("the templates file holds no GOLDEN_TEMPLATE");
        const size_t body = m_templates.find("<QSPI_FLASH");
        std::string out =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!-- Built-in QSPI flash devices and the vendor programming flows, generated by "
            "tools/partgen (vorn_qspigen) from data/facts and data/templates: do not edit. -->\n";
        out += m_templates.substr(body, end - body) + "</GOLDEN_TEMPLATE>\n";
        for (const DEVICE* d : order) out += d->xml;
        return out + "</QSPI_FLASH>\n";
    }

    std::string left_out_list() const {
        std::ostringstream out;
        out << "<!-- Generated by tools/partgen (vorn_qspigen) from data/facts: do not edit. -->\n"
            << "# Parts left out of the golden template\n\n"
            << "The parts of the chip facts that the golden template holds no device for, and the\n"
            << "fact their flows or record would need.\n\n"
            << "| part | why |\n|---|---|\n";
        for (const LEFT_OUT& l : m_left_out) out << "| " << l.part << " | " << l.reason << " |\n";
        out << "\n## Parts in the single-bit shape\n\n"
            << "Shipped with flows that leave out a register write the part lacks or may lack, "
               "with\n"
            << "its write enable, its busy poll and the check of what it would set (see "
               "data/README):\n"
            << "no flow sets the quad enable bit, and the device is used at x1.\n\n"
            << "| device | part | register write left out |\n|---|---|---|\n";
        for (const DEVICE& d : m_devices)
            if (!d.single_bit.empty())
                out << "| " << d.name << " | " << d.part->name << " | " << d.single_bit << " |\n";
        out << "\nWildcard names not expanded, as no public source confirms the name:\n\n";
        for (const std::string& name : m_unconfirmed_names) out << "- " << name << "\n";
        return out.str();
    }

    size_t device_count() const { return m_devices.size(); }

  private:
    void open_manager() {
        const fs::path programmer = m_work / "programmer";
        fs::create_directories(programmer / "xml");
        fs::copy(m_root / "data/xsd", programmer / "xsd", fs::copy_options::recursive);
        fs::copy(m_root / "data/dev", programmer / "dev", fs::copy_options::recursive);
        write_if_changed(programmer / "xml" / VORN_QSPI_GOLDEN_TEMPLATE_FILE, m_templates);
        m_custom = (m_work / "custom").string() + "/";
        fs::create_directories(m_custom);
        // The user's settings stay out of it.
        setenv("VORN_INI", (m_work / "vorn.ini").c_str(), 1);
        setenv("VORN_USER_INI", (m_work / "user.ini").c_str(), 1);
        PGM_COMMON::set_common_programmer(programmer.string());
        VORN_MGR::set_db_custom_dir(m_custom);
        std::string why;
        m_mgr = vorn_open_flash_manager(DEV_FAMILY_QSPI_FLASH, true, &why);
        if (m_mgr == nullptr) broken("cannot load the vendor templates: " + why);
    }

    // The opcodes the facts say the part may lack, and whether that is confirmed.
    std::set<unsigned long long> absent_opcodes(const VORN_FLASH_PART& part,
                                                bool* confirmed) const {
        const partgen::FACT* absent =
            partgen::find_fact(m_facts, part.name, part.vendor, "absent_commands");
        std::set<unsigned long long> opcodes;
        *confirmed = absent != nullptr && absent->confirmed;
        if (absent == nullptr) return opcodes;
        for (const std::string& opcode : partgen::split(absent->value, ','))
            opcodes.insert(partgen::number(opcode, absent->line));
        return opcodes;
    }

    // A command the facts say, unconfirmed, that the part may lack is one the model still
    // runs: the part is left out rather than shipped with flows that may not work on it.
    void refuse_unconfirmed_absent(const VORN_FLASH_PART& part, const VORN_FLASH& flash) const {
        bool confirmed = false;
        const std::set<unsigned long long> opcodes = absent_opcodes(part, &confirmed);
        if (confirmed) return;
        for (VORN_PROG_FLOW_TYPE type : {VORN_PROG_FLOW_TYPE_SFL, VORN_PROG_FLOW_TYPE_SDM})
            for (const VORN_OPERATION* op : *flash.get_operation_list(type))
                for (const VORN_ACTION* action : *op->get_action_list()) {
                    const unsigned int opcode = opcode_of(*action);
                    if (opcodes.count(opcode) > 0)
                        throw std::runtime_error("its flows use " + hex_byte(opcode) +
                                                 ", which the facts say it may not have "
                                                 "(unconfirmed)");
                }
    }

    DEVICE make_device(const VORN_FLASH_PART& part, const std::string& name,
                       const std::string& voltage, unsigned int dies, unsigned int dummy,
                       unsigned int dummy_x4) {
        const VORN_FLASH_PART_PROFILE profile(part);
        const bool three_byte = part.density_bytes <= VORN_THREE_BYTE_LIMIT;
        // A part no fact says how to show 4-byte mode on is never switched: its own 4-byte
        // opcodes address it whole, and it stays in the 3-byte mode a reader after expects.
        const unsigned int own_4byte =
            VORN_FLASH_PART_FAST_READ_4BYTE | VORN_FLASH_PART_PROGRAM_4BYTE;
        const bool native = !three_byte && part.facts.four_byte_bit.reg == nullptr &&
                            (part.features & own_4byte) == own_4byte;
        std::map<unsigned int, std::string> dropped;
        bool confirmed = false;
        const std::set<unsigned long long> absent = absent_opcodes(part, &confirmed);
        VORN_FLASH* flash = m_mgr->create_flash(name);
        std::unique_ptr<VORN_FLASH, std::function<void(VORN_FLASH*)>> owned(
            flash, [this](VORN_FLASH* f) { vorn_discard_draft(m_mgr, f); });
        flash->set_parameter_value(VORN_FLASH_PARAM_ID, id_text(part));
        flash->set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, voltage);
        flash->set_density(density_text(part.density_bytes));
        flash->set_parameter_value(VORN_FLASH_PARAM_TOTAL_DIE, dies);
        flash->set_parameter_value(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, dummy);
        flash->set_parameter_value(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, dummy_x4);
        flash->set_parameter_value(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE,
                                   VORN_PROG_FLOW_TEMPLATE_NAME[part.shape]);
        for (VORN_PROG_FLOW_TYPE type : {VORN_PROG_FLOW_TYPE_SFL, VORN_PROG_FLOW_TYPE_SDM}) {
            const auto* shape = m_mgr->get_prog_flow_template_operation_list(part.shape, type);
            if (shape == nullptr) broken("the vendor templates lack a flow");
            std::vector<VORN_OPERATION*> flow =
                with_part_erases(profile.get(), VORN_FLASH_VENDOR_PROFILE::get_profile(part.shape),
                                 part, *shape, three_byte, native);
            with_part_register_writes(profile.get(), part.density_bytes, flow);
            if (three_byte) {
                std::vector<VORN_OPERATION*> fitted = vorn_fit_flow_to_three_bytes(
                    VORN_FLASH_VENDOR_PROFILE::get_profile(part.shape), flow);
                free_flow(flow);
                flow = fitted;
            }
            if (native) {
                std::vector<VORN_OPERATION*> fitted = vorn_fit_flow_to_native_four_bytes(
                    VORN_FLASH_VENDOR_PROFILE::get_profile(part.shape), part.density_bytes, flow);
                free_flow(flow);
                flow = fitted;
            }
            if (!absent.empty()) {
                std::vector<VORN_OPERATION*> kept = without_absent_commands(
                    VORN_FLASH_VENDOR_PROFILE::get_profile(part.shape), absent, confirmed, flow);
                free_flow(flow);
                flow = kept;
            }
            std::vector<VORN_OPERATION*> kept = without_unsourced_writes(
                VORN_FLASH_VENDOR_PROFILE::get_profile(part.shape), profile.get(),
                part.density_bytes, confirmed ? std::set<unsigned long long>() : absent, flow,
                &dropped);
            free_flow(flow);
            flow = kept;
            flash->set_operation_list(flow, type);
        }
        // No flow sets the quad enable bit, so no x4 read is set up: no x4 dummy count either.
        if (!dropped.empty()) flash->set_parameter_value(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, 0u);
        refuse_unconfirmed_absent(part, *flash);
        const VORN_FLOW_CHECK_RESULT check = VORN_FLOW_CHECKER().check_flash(*flash);
        for (const VORN_FLOW_FINDING& finding : check.findings)
            if (finding.severity == VORN_FLOW_SEVERITY_ERROR)
                throw std::runtime_error("its flows fail the check: " + finding.describe());
        const VORN_HOST_RESULT saved = vorn_save_flash(m_mgr, flash, m_custom);
        if (!saved.ok)
            broken("the library refused " + name + ": " +
                   (saved.problems.empty() ? std::string("no reason given") : saved.problems[0]));
        std::string single_bit;
        for (const auto& write : dropped)
            single_bit += (single_bit.empty() ? "" : ", ") + hex_byte(write.first) + " (" +
                          write.second + ")";
        return {name, &part, flash_element(read_text(saved.file)), single_bit};
    }

    fs::path m_root;
    fs::path m_work;
    partgen::FACTS m_facts;
    std::map<std::string, std::vector<std::string>> m_expanded;
    std::vector<std::string> m_unconfirmed_names;
    std::map<std::string, json> m_entries;
    std::string m_templates;
    std::string m_custom;
    VORN_MGR* m_mgr = nullptr;
    std::set<std::string> m_taken;
    std::vector<DEVICE> m_devices;
    std::vector<LEFT_OUT> m_left_out;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::vector<std::string> only;
    std::vector<std::string> roots;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--part" && i + 1 < args.size())
            only.push_back(args[++i]);
        else
            roots.push_back(args[i]);
    }
    if (roots.empty() || roots.size() > 2) {
        std::cerr << "usage: vorn_qspigen <root> [<output root>] [--part NAME]...\n";
        return 2;
    }
    const fs::path root = roots[0];
    const fs::path out_root = roots.size() == 2 ? roots[1] : roots[0];
    const fs::path work = fs::temp_directory_path() / ("vorn_qspigen." + std::to_string(getpid()));
    int status = 0;
    try {
        fs::remove_all(work);
        GENERATOR generator(root, work);
        int count = 0;
        const VORN_FLASH_PART* parts = VORN_FLASH_PART::get_all(&count);
        for (const std::string& name : only)
            if (std::none_of(parts, parts + count,
                             [&](const VORN_FLASH_PART& p) { return name == p.name; }))
                fail("no part named '" + name + "' in the chip facts");
        for (bool whole : {true, false})
            for (int i = 0; i < count; ++i)
                if (generator.has_whole_names(parts[i]) == whole &&
                    (only.empty() ||
                     std::find(only.begin(), only.end(), parts[i].name) != only.end()))
                    generator.make(parts[i]);
        for (const LEFT_OUT& l : generator.left_out())
            std::cerr << "vorn_qspigen: cannot make " << l.part << ": " << l.reason << '\n';
        if (!only.empty() && !generator.left_out().empty()) {
            status = 1;
        } else {
            write_if_changed(out_root / "data/xml" / VORN_QSPI_GOLDEN_TEMPLATE_FILE,
                             generator.golden_template());
            if (only.empty())
                write_if_changed(out_root / "data/facts/left_out.md", generator.left_out_list());
            std::cout << "vorn_qspigen: " << generator.device_count() << " devices, "
                      << generator.left_out().size() << " parts left out\n";
        }
    } catch (const std::exception& e) {
        std::cerr << "vorn_qspigen: " << e.what() << '\n';
        status = 1;
    }
    std::error_code ignored;
    fs::remove_all(work, ignored);
    return status;
}
