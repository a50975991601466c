// The chip itself: registers, memory and the effect of each command of its profile. The
// profiles it runs come from vorn_flash_profiles.cpp.
#define VORN_SOURCE_FILE "pgm/vorn/vorn_flash_model"

#include "vorn_flash_model.h"

#include <cstring>
#include <iterator>

#include "vorn_internal.h"

static MEM_INITIALIZER mem_initializer("VORN");

namespace {

std::string hex_address(unsigned long long address) {
    return TARVEN::fmt_sprintf("0x%06llX", address);
}

}  // namespace

// ---- the chip -----------------------------------------------------------------------------------

VORN_FLASH_MODEL::VORN_FLASH_MODEL(const VORN_FLASH_VENDOR_PROFILE& profile,
                                   const VORN_FLASH_CONFIG& config)
    : m_profile(profile), m_config(config), m_registers(profile.register_count, 0) {
    VORN_CHECK(m_config.density_bytes >= m_profile.page_size, "density_bytes >= page_size");
}

bool VORN_FLASH_MODEL::is_quad_enabled() const {
    bool has_bit = false;
    for (int i = 0; i < m_profile.register_count; ++i) {
        const unsigned char bit = m_profile.registers[i].quad_enable;
        if (bit == 0) continue;
        has_bit = true;
        if ((m_registers[i] & bit) != 0) return true;
    }
    // A vendor without the bit runs quad commands as they come.
    return !has_bit;
}

unsigned char VORN_FLASH_MODEL::read_register(int index) const {
    VORN_CHECK(index >= 0 && index < m_profile.register_count, "register index");
    const VORN_FLASH_REGISTER& reg = m_profile.registers[index];
    unsigned char value = m_registers[index];
    auto show = [&value](unsigned char bit, bool on) {
        value = static_cast<unsigned char>(on ? (value | bit) : (value & ~bit));
    };
    if (reg.busy != 0) show(reg.busy, reg.ready_bit ? !is_busy() : is_busy());
    if (reg.write_enable_latch != 0) show(reg.write_enable_latch, m_write_enable_latch);
    if (reg.four_byte != 0) show(reg.four_byte, m_four_byte);
    return value;
}

int VORN_FLASH_MODEL::get_address_register() const {
    for (int i = 0; i < m_profile.register_count; ++i)
        if ((m_registers[i] & m_profile.registers[i].address_bits) != 0) return i;
    return -1;
}

bool VORN_FLASH_MODEL::is_erased(unsigned long long address) const {
    auto it = m_erased.upper_bound(address);
    if (it == m_erased.begin()) return false;
    --it;
    return address < it->second;
}

unsigned char VORN_FLASH_MODEL::read_memory(unsigned long long address) const {
    const unsigned long long page = address - address % m_profile.page_size;
    auto it = m_pages.find(page);
    if (it != m_pages.end()) return it->second[address - page];
    return is_erased(address) ? 0xFF : 0x00;
}

VORN_FLASH_OUTCOME VORN_FLASH_MODEL::accept(const VORN_FLASH_COMMAND& command) const {
    // While busy the chip answers register reads only.
    if (is_busy() && command.kind != VORN_FLASH_COMMAND_READ_REGISTER)
        return VORN_FLASH_OUTCOME_BUSY;
    if (command.needs == VORN_FLASH_NEEDS_WRITE_ENABLE && !m_write_enable_latch &&
        !(command.kind == VORN_FLASH_COMMAND_WRITE_REGISTER && m_volatile_write_enable))
        return VORN_FLASH_OUTCOME_NO_WRITE_ENABLE;
    if (command.needs == VORN_FLASH_NEEDS_RESET_ENABLE && !m_reset_enabled)
        return VORN_FLASH_OUTCOME_NO_RESET_ENABLE;
    if (std::strchr(command.bus, '4') != nullptr && !is_quad_enabled())
        return VORN_FLASH_OUTCOME_QUAD_DISABLED;
    return VORN_FLASH_OUTCOME_DONE;
}

VORN_FLASH_RESPONSE VORN_FLASH_MODEL::execute(const VORN_FLASH_TRANSACTION& transaction) {
    VORN_FLASH_RESPONSE response;
    response.busy = is_busy();
    const VORN_FLASH_COMMAND* command =
        m_profile.find_command(transaction.command, m_config.density_bytes);
    if (command != nullptr) {
        response.command = command;
        response.outcome = accept(*command);
    } else {
        response.command = m_profile.find_command_on_any_part(transaction.command);
        response.outcome = response.command != nullptr ? VORN_FLASH_OUTCOME_NOT_ON_THIS_PART
                                                       : VORN_FLASH_OUTCOME_UNKNOWN_COMMAND;
    }
    if (command != nullptr) {
        if (command->address != VORN_FLASH_ADDRESS_NONE)
            response.address_bytes =
                command->address == VORN_FLASH_ADDRESS_FOUR ? 4 : get_address_bytes();
        if (command->dummy == VORN_FLASH_DUMMY_DEVICE)
            response.dummy_cycles = m_config.dummy_cycles;
        else if (command->dummy == VORN_FLASH_DUMMY_DEVICE_X4)
            response.dummy_cycles = m_config.dummy_cycles_x4;
        // A write cut short (chip select raised inside the address or before the register
        // byte) is not executed and the write enable latch stays set (Micron MT25QL 256Mb
        // datasheet, "ERASE Operations"); a read takes the missing address bits from the dummy
        // cycles.
        const bool writes = command->kind == VORN_FLASH_COMMAND_PROGRAM ||
                            command->kind == VORN_FLASH_COMMAND_ERASE ||
                            command->kind == VORN_FLASH_COMMAND_WRITE_REGISTER;
        const size_t needed =
            response.address_bytes + (command->kind == VORN_FLASH_COMMAND_WRITE_REGISTER ? 1 : 0);
        if (response.outcome == VORN_FLASH_OUTCOME_DONE && writes &&
            transaction.out.size() < needed)
            response.outcome = VORN_FLASH_OUTCOME_INCOMPLETE;
    }

    const bool volatile_write_enable = m_volatile_write_enable;
    const bool reset_enabled = m_reset_enabled;
    if (response.outcome == VORN_FLASH_OUTCOME_NO_WRITE_ENABLE)
        response.latch_used_by = m_latch_used_by;
    if (response.outcome == VORN_FLASH_OUTCOME_DONE) perform(*command, transaction, response);
    if (response.outcome != VORN_FLASH_OUTCOME_DONE) {
        // Nothing drives the data line: the programmer samples ones.
        response.in.assign(transaction.in_length, 0xFF);
        static const char* const IGNORED_ANSWERS[] = {"",
                                                      "ignored: not in the command set",
                                                      "ignored: not on a part of this density",
                                                      "ignored: busy",
                                                      "ignored: write enable latch clear",
                                                      "ignored: no reset enable just before",
                                                      "ignored: cut short",
                                                      "ignored: quad enable clear",
                                                      "ignored: outside where it erases"};
        response.answer = IGNORED_ANSWERS[response.outcome];
    }
    // Each enable holds for the one command after it.
    if (volatile_write_enable) m_volatile_write_enable = false;
    if (reset_enabled) m_reset_enabled = false;
    if (response.outcome == VORN_FLASH_OUTCOME_DONE && command != nullptr) {
        if (command->kind == VORN_FLASH_COMMAND_VOLATILE_WRITE_ENABLE)
            m_volatile_write_enable = true;
        if (command->kind == VORN_FLASH_COMMAND_RESET_ENABLE) m_reset_enabled = true;
    }
    // Time passes with every transaction; the last busy one completes the operation and
    // uses up the latch.
    if (response.busy && --m_busy_transactions == 0) {
        m_write_enable_latch = false;
        m_latch_used_by = m_busy_command;
    }
    return response;
}

void VORN_FLASH_MODEL::perform(const VORN_FLASH_COMMAND& command,
                               const VORN_FLASH_TRANSACTION& transaction,
                               VORN_FLASH_RESPONSE& response) {
    // The address as the chip takes it: its own count of bytes, big-endian; a read's missing
    // bytes are the dummy cycles the programmer drives low.
    for (unsigned int i = 0; i < response.address_bytes; ++i) {
        const unsigned char byte = i < transaction.out.size() ? transaction.out[i] : 0;
        response.address = (response.address << 8) | byte;
    }
    // 3-byte addresses take their upper bits from the bank or extended address register.
    const int bank = get_address_register();
    if (response.address_bytes == 3 && bank >= 0)
        response.address |= static_cast<unsigned long long>(m_registers[bank] &
                                                            m_profile.registers[bank].address_bits)
                            << 24;
    response.address %= m_config.density_bytes;

    switch (command.kind) {
        case VORN_FLASH_COMMAND_WRITE_ENABLE:
            m_write_enable_latch = true;
            m_latch_used_by = nullptr;
            response.answer = "write enable latch set";
            break;
        case VORN_FLASH_COMMAND_WRITE_DISABLE:
            m_write_enable_latch = false;
            m_latch_used_by = nullptr;
            response.answer = "write enable latch cleared";
            break;
        case VORN_FLASH_COMMAND_VOLATILE_WRITE_ENABLE:
            response.answer = "next register write is volatile";
            break;
        case VORN_FLASH_COMMAND_READ_REGISTER: {
            // A register read repeats the register for as long as the clock runs.
            const unsigned char value = read_register(command.registers[0]);
            response.in.assign(transaction.in_length, value);
            response.answer = TARVEN::fmt_sprintf("%s reads 0x%02X%s",
                                                  m_profile.registers[command.registers[0]].name,
                                                  value, response.busy ? " (busy)" : "");
            break;
        }
        case VORN_FLASH_COMMAND_WRITE_REGISTER:
            write_registers(command, transaction.out, response);
            break;
        case VORN_FLASH_COMMAND_CLEAR_FLAGS:
            response.answer = "error flags cleared";
            break;
        case VORN_FLASH_COMMAND_READ_ID:
            for (unsigned int i = 0; i < transaction.in_length; ++i)
                response.in.push_back(i < m_config.id.size() ? m_config.id[i] : 0x00);
            response.answer = "answers its ID";
            break;
        case VORN_FLASH_COMMAND_READ: {
            // The chip starts to drive data after its own address and dummy cycles; the
            // programmer samples after its own. A difference shifts every bit it reads; before
            // the chip drives the line, it reads ones.
            const long long chip_cycles = 8LL * response.address_bytes + response.dummy_cycles;
            const long long host_cycles =
                8LL * static_cast<long long>(transaction.out.size()) + transaction.dummy_cycles;
            const long long shift = host_cycles - chip_cycles;
            const long long first = shift >= 0 ? shift / 8 : -((7 - shift) / 8);
            const unsigned int bits = static_cast<unsigned int>(shift - 8 * first);
            auto chip_byte = [&](long long k) -> unsigned int {
                if (k < 0) return 0xFF;
                return read_memory((response.address + static_cast<unsigned long long>(k)) %
                                   m_config.density_bytes);
            };
            unsigned int next = chip_byte(first);
            for (unsigned int i = 0; i < transaction.in_length; ++i) {
                const unsigned int current = next;
                next = chip_byte(first + i + 1);
                response.in.push_back(static_cast<unsigned char>(
                    bits == 0 ? current : (current << bits) | (next >> (8 - bits))));
            }
            response.answer = TARVEN::fmt_sprintf("reads from %s", hex_address(response.address));
            break;
        }
        case VORN_FLASH_COMMAND_PROGRAM: {
            const auto begin = transaction.out.begin() + response.address_bytes;
            std::vector<unsigned char> data(begin, transaction.out.end());
            program(response.address, data.data(), data.size(), response);
            break;
        }
        case VORN_FLASH_COMMAND_ERASE: {
            // A die erase clears the die the address falls in.
            const unsigned long long size =
                command.erase_size != 0 ? command.erase_size
                                        : m_config.density_bytes / std::max(1u, m_config.dies);
            const unsigned long long block = response.address - response.address % size;
            const VORN_FLASH_REGION* region =
                m_profile.regions != nullptr ? &m_profile.regions[&command - m_profile.commands]
                                             : nullptr;
            if (region != nullptr && region->end != 0 &&
                (block < region->begin || block + size > region->end)) {
                response.outcome = VORN_FLASH_OUTCOME_OUTSIDE_REGION;
                break;
            }
            erase(block, block + size);
            start_busy(command);
            response.answer = TARVEN::fmt_sprintf("erases %s-%s, busy", hex_address(block),
                                                  hex_address(block + size - 1));
            break;
        }
        case VORN_FLASH_COMMAND_CHIP_ERASE:
            erase(0, m_config.density_bytes);
            start_busy(command);
            response.answer = "erases the whole chip, busy";
            break;
        case VORN_FLASH_COMMAND_ENTER_4BYTE:
            m_four_byte = true;
            response.answer = "4-byte addressing";
            switch_mode(command, response);
            break;
        case VORN_FLASH_COMMAND_EXIT_4BYTE: {
            m_four_byte = false;
            response.answer = "3-byte addressing";
            const int reg = m_profile.exit_4byte_register;
            if (reg >= 0) {
                m_registers[reg] = m_profile.exit_4byte_value;
                m_address_unconfirmed =
                    !m_profile.exit_4byte_confirmed || !m_profile.address_bits_confirmed;
                response.answer += TARVEN::fmt_sprintf(
                    ", %s = 0x%02X", m_profile.registers[reg].name, m_profile.exit_4byte_value);
            }
            switch_mode(command, response);
            break;
        }
        case VORN_FLASH_COMMAND_RESET_ENABLE:
            response.answer = "reset enabled";
            break;
        case VORN_FLASH_COMMAND_RESET:
            reset();
            response.answer = "reset: 3-byte addressing, latch clear";
            break;
        default:
            VORN_FAIL("Unknown flash command kind");
    }
}

void VORN_FLASH_MODEL::switch_mode(const VORN_FLASH_COMMAND& command,
                                   VORN_FLASH_RESPONSE& response) {
    if (!m_profile.mode_switch_clears_latch) return;
    m_write_enable_latch = false;
    m_latch_used_by = &command;
    response.answer += ", latch cleared";
}

void VORN_FLASH_MODEL::write_registers(const VORN_FLASH_COMMAND& command,
                                       const std::vector<unsigned char>& data,
                                       VORN_FLASH_RESPONSE& response) {
    bool lasting = false;
    for (size_t i = 0; i < 2 && i < data.size() && command.registers[i] >= 0; ++i) {
        const int index = command.registers[i];
        const VORN_FLASH_REGISTER& reg = m_profile.registers[index];
        // One-time programmable bits can be set, never cleared.
        const unsigned char newly_set =
            static_cast<unsigned char>(data[i] & reg.otp & ~m_registers[index]);
        if (newly_set != 0) {
            response.otp_register = index;
            response.otp_set = newly_set;
        }
        m_registers[index] = static_cast<unsigned char>((m_registers[index] & ~reg.writable) |
                                                        (data[i] & reg.writable) | newly_set);
        if (reg.address_bits != 0) m_address_unconfirmed = !m_profile.address_bits_confirmed;
        // Parts of 128 Mbit and less have no 4-byte addressing to choose.
        if ((reg.four_byte & reg.writable) != 0 && m_config.density_bytes > VORN_THREE_BYTE_LIMIT)
            m_four_byte = (data[i] & reg.four_byte) != 0;
        lasting = lasting || !reg.is_volatile;
        response.answer += TARVEN::fmt_sprintf("%s%s = 0x%02X", response.answer.empty() ? "" : ", ",
                                               reg.name, m_registers[index]);
    }
    if (lasting && !m_volatile_write_enable) {
        start_busy(command);
        response.answer += ", busy";
    }
}

void VORN_FLASH_MODEL::program(unsigned long long address, const unsigned char* data, size_t size,
                               VORN_FLASH_RESPONSE& response) {
    const unsigned int page_size = m_profile.page_size;
    const unsigned long long page = address - address % page_size;
    // More than a page: the chip keeps the last page worth, wrapping inside the page.
    if (size > page_size) {
        data += size - page_size;
        size = page_size;
    }
    auto it = m_pages.find(page);
    if (it == m_pages.end()) {
        std::vector<unsigned char> contents(page_size);
        for (unsigned int i = 0; i < page_size; ++i) contents[i] = read_memory(page + i);
        it = m_pages.emplace(page, std::move(contents)).first;
    }
    const unsigned long long offset = address - page;
    for (size_t i = 0; i < size; ++i) {
        unsigned char& cell = it->second[(offset + i) % page_size];
        // Programming only clears bits: a cell that needs a bit set was not erased.
        if ((cell & data[i]) != data[i]) response.overwrote = true;
        cell = static_cast<unsigned char>(cell & data[i]);
    }
    start_busy(*response.command);
    response.answer = TARVEN::fmt_sprintf("programs %u bytes at %s, busy",
                                          static_cast<unsigned int>(size), hex_address(address));
}

void VORN_FLASH_MODEL::erase(unsigned long long begin, unsigned long long end) {
    m_pages.erase(m_pages.lower_bound(begin), m_pages.lower_bound(end));
    // Merge with every erased range that touches [begin, end).
    auto it = m_erased.upper_bound(begin);
    if (it != m_erased.begin() && std::prev(it)->second >= begin) --it;
    while (it != m_erased.end() && it->first <= end) {
        begin = std::min(begin, it->first);
        end = std::max(end, it->second);
        it = m_erased.erase(it);
    }
    m_erased.emplace(begin, end);
}

void VORN_FLASH_MODEL::reset() {
    m_write_enable_latch = false;
    m_latch_used_by = nullptr;
    m_four_byte = false;
    for (int i = 0; i < m_profile.register_count; ++i)
        if (m_profile.registers[i].is_volatile) m_registers[i] = 0;
}

void VORN_FLASH_MODEL::start_busy(const VORN_FLASH_COMMAND& command) {
    m_busy_transactions = BUSY_TRANSACTIONS;
    m_busy_command = &command;
}
