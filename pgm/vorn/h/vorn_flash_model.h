// A behavioural model of a QSPI serial NOR flash: the chip's state and its answer to each SPI
// transaction a programming flow sends. A profile says what the chip understands: a part's
// (its commands, erase sizes and registers from the chip facts kept in data/facts) or, for a
// chip no fact names, its vendor's; a device record says which part it is.
#ifndef VORN_FLASH_MODEL_H
#define VORN_FLASH_MODEL_H

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "vorn_api.h"
#include "vorn_common.h"

// The largest part that 3-byte addresses reach whole: 16 MiB.
inline constexpr unsigned long long VORN_THREE_BYTE_LIMIT = 1ULL << 24;

class VORN_FLASH;

// What a command does to the chip.
enum VORN_FLASH_COMMAND_KIND {
    VORN_FLASH_COMMAND_WRITE_ENABLE,
    VORN_FLASH_COMMAND_WRITE_DISABLE,
    // The next register write needs no write enable, and is volatile.
    VORN_FLASH_COMMAND_VOLATILE_WRITE_ENABLE,
    VORN_FLASH_COMMAND_READ_REGISTER,
    VORN_FLASH_COMMAND_WRITE_REGISTER,
    // Clears error flags, which the model does not raise: no effect.
    VORN_FLASH_COMMAND_CLEAR_FLAGS,
    VORN_FLASH_COMMAND_READ_ID,
    VORN_FLASH_COMMAND_READ,
    VORN_FLASH_COMMAND_PROGRAM,
    VORN_FLASH_COMMAND_ERASE,
    VORN_FLASH_COMMAND_CHIP_ERASE,
    VORN_FLASH_COMMAND_ENTER_4BYTE,
    VORN_FLASH_COMMAND_EXIT_4BYTE,
    VORN_FLASH_COMMAND_RESET_ENABLE,
    VORN_FLASH_COMMAND_RESET
};

// The address bytes that follow a command.
enum VORN_FLASH_ADDRESS {
    VORN_FLASH_ADDRESS_NONE,
    VORN_FLASH_ADDRESS_MODE,  // 3 or 4, as the chip's address mode
    VORN_FLASH_ADDRESS_FOUR   // always 4
};

// Where a read command's dummy cycles come from.
enum VORN_FLASH_DUMMY {
    VORN_FLASH_DUMMY_NONE,
    VORN_FLASH_DUMMY_DEVICE,    // the record's dummy clock cycles
    VORN_FLASH_DUMMY_DEVICE_X4  // the record's dummy clock cycles in x4 mode
};

// What the chip must have seen just before it accepts the command.
enum VORN_FLASH_NEEDS {
    VORN_FLASH_NEEDS_NOTHING,
    VORN_FLASH_NEEDS_WRITE_ENABLE,
    VORN_FLASH_NEEDS_RESET_ENABLE
};

// An 8-bit register. Each special bit is 0 when the register has none.
struct VORN_FLASH_REGISTER {
    const char* name;
    const char* key;         // how the chip facts name it: "SR", "SR2", "CR1", "FSR", "BAR", "EAR"
    unsigned char writable;  // bits a register write changes
    unsigned char busy;      // bit showing a program, erase or register write in progress
    bool ready_bit;          // `busy` reads 1 when ready (a flag status register), not when busy
    unsigned char write_enable_latch;
    unsigned char four_byte;  // shows 4-byte addressing; when writable, also chooses it
    unsigned char quad_enable;
    bool is_volatile;            // written at once, without a busy period; cleared by a reset
    unsigned char otp;           // bits a write can set but nothing clears again
    bool otp_confirmed;          // whether a public source confirms `otp`
    unsigned char address_bits;  // bits that give 3-byte commands the address above 16MB
};

// Where an erase command works: [begin, end) of the memory; end 0 for everywhere.
struct VORN_FLASH_REGION {
    unsigned long long begin;
    unsigned long long end;
    bool confirmed;
};

// One erase command of a part, as the chip facts give it.
struct VORN_FLASH_PART_ERASER {
    unsigned char opcode;
    unsigned long long block_size;
    bool four_byte;  // takes a 4-byte address whatever the mode
    VORN_FLASH_REGION region;
};

// A fact about register bits: `reg` null when the facts say nothing, "" for "none".
struct VORN_FLASH_BITS_FACT {
    const char* reg;
    unsigned int mask;
    bool confirmed;
};

// The facts kept beside the public chip table, for a vendor or resolved for one part.
struct VORN_FLASH_FACTS {
    VORN_FLASH_BITS_FACT quad_enable;
    VORN_FLASH_BITS_FACT otp_bits;
    VORN_FLASH_BITS_FACT four_byte_bit;
    VORN_FLASH_BITS_FACT address_bits;
    VORN_FLASH_BITS_FACT exit_4byte_sets;  // mask holds the value written
    VORN_FLASH_BITS_FACT stacked_ready;
    int mode_switch_clears_latch;  // -1 unknown, 0 no, 1 yes
    // Opcodes of the vendor's command set the part does not have, as confirmed facts say; the
    // string's bytes, or null for none.
    const char* absent_commands;
    // Dummy clock cycles at power-up of the fast read (0x0B) and of the quad I/O read (0xEB);
    // -1 unknown.
    int dummy_fast_read;
    int dummy_quad_io;
};

// What the public chip table's feature bits say a part has.
enum VORN_FLASH_PART_FEATURE {
    VORN_FLASH_PART_ENTER_4BYTE = 1 << 0,        // 0xB7 / 0xE9
    VORN_FLASH_PART_ENTER_4BYTE_WREN = 1 << 1,   // ... after a write enable
    VORN_FLASH_PART_BANK_REGISTER = 1 << 2,      // bank register 0x17 / 0x16, bit 7 4-byte mode
    VORN_FLASH_PART_EXT_ADDR_REGISTER = 1 << 3,  // extended address register 0xC5 / 0xC8
    VORN_FLASH_PART_READ_4BYTE = 1 << 4,         // 0x13
    VORN_FLASH_PART_FAST_READ_4BYTE = 1 << 5,    // 0x0C
    VORN_FLASH_PART_PROGRAM_4BYTE = 1 << 6,      // 0x12
    VORN_FLASH_PART_WRITE_SR2 = 1 << 7,          // 0x31
    VORN_FLASH_PART_WRITE_SR3 = 1 << 8,          // 0x11
    VORN_FLASH_PART_WRITE_SR2_BY_WRSR = 1 << 9   // a second data byte of 0x01 writes SR2
};

// An ID byte past the first three that the chip table compares: the byte at `offset` of the
// 0x9F answer (0 is the manufacturer byte) and the value it must have.
struct VORN_FLASH_ID_BYTE {
    unsigned char offset;
    unsigned char value;
};

// One part of the chip facts: the public chip table's entry with the vendor facts resolved.
struct VORN_API VORN_FLASH_PART {
    const char* name;    // as the chip table spells it: "N25Q128..3E", "MX25L25635F/MX25L25645G"
    const char* vendor;  // "Micron", "Macronix", "Cypress", "Winbond", "ISSI", "GigaDevice"
    VORN_PROG_FLOW_TEMPLATE shape;  // the vendor command set the part is modelled with
    unsigned char id[3];            // the first bytes it answers to 0x9F
    unsigned long long density_bytes;
    unsigned int page_size;
    unsigned int features;  // VORN_FLASH_PART_FEATURE bits
    const VORN_FLASH_PART_ERASER* erasers;
    int eraser_count;
    VORN_FLASH_FACTS facts;
    VORN_FLASH_ID_BYTE further_id[2];  // what tells it from a part of the same first bytes
    int further_id_count;

    // The names a user types for it: the table's name cut at its first wildcard, variant or
    // option mark ("N25Q128", "W25Q128", "GD25Q16"), once per name of a shared entry, a variant
    // letter made whole ("MX25U3235E/F" gives MX25U3235E and MX25U3235F).
    std::vector<std::string> user_names() const;
    // Its dies: the count of its die erase blocks, else 1.
    unsigned int dies() const;
    bool has_eraser(unsigned char opcode) const;

    static const VORN_FLASH_PART* get_all(int* count);
    // Every part that answers `id` (its first three bytes) at `density_bytes`.
    static std::vector<const VORN_FLASH_PART*> find_by_id(const std::vector<unsigned char>& id,
                                                          unsigned long long density_bytes);
    // Every part whose first three ID bytes answer `value` under `mask`, both as a device's ID
    // in a double word (first byte least significant); none for a mask of no ID byte.
    static std::vector<const VORN_FLASH_PART*> find_answering(unsigned int value,
                                                              unsigned int mask);
    // The parts a user means by `typed`: those whose chip table name or user name it equals,
    // ignoring case.
    static std::vector<const VORN_FLASH_PART*> find_by_name(const std::string& typed);
    // Among `candidates`, those whose user name the device name equals or starts with (the
    // longest such names win); every candidate when no name fits.
    static std::vector<const VORN_FLASH_PART*> pick_by_name(
        const std::vector<const VORN_FLASH_PART*>& candidates, const std::string& device_name);
    // The facts of a vendor, by VORN_PROG_FLOW_TEMPLATE, or "GigaDevice".
    static const VORN_FLASH_FACTS* find_vendor_facts(const std::string& vendor);
};

struct VORN_FLASH_COMMAND {
    unsigned char opcode;
    const char* name;  // letters, digits and spaces: it may become an action name
    VORN_FLASH_COMMAND_KIND kind;
    VORN_FLASH_ADDRESS address;
    VORN_FLASH_DUMMY dummy;
    const char* bus;          // lines for command, address and data: "1-1-1", "1-1-4", "1-4-4"
    unsigned int erase_size;  // bytes an erase clears; 0 for other commands
    VORN_FLASH_NEEDS needs;
    signed char registers[2];  // registers read or written, in byte order; -1 for none
    unsigned int min_mbit;     // only on parts of at least this many Mbit; 0 for any
    unsigned int max_mbit;     // only on parts of at most this many Mbit; 0 for any
};

// What one vendor's parts understand.
struct VORN_API VORN_FLASH_VENDOR_PROFILE {
    VORN_PROG_FLOW_TEMPLATE vendor;
    unsigned char manufacturer_id;  // JEDEC JEP106, the first byte of the ID
    unsigned int page_size;
    const VORN_FLASH_REGISTER* registers;
    int register_count;
    const VORN_FLASH_COMMAND* commands;
    int command_count;
    // On parts of several dies, the register that shows all of them ready; -1 when any will do.
    int stacked_ready_register;
    const VORN_FLASH_PART* part;       // the part it describes; null for the vendor's command set
    const VORN_FLASH_REGION* regions;  // where each command works, parallel to `commands`; or null
    int exit_4byte_register;           // register that leaving 4-byte mode sets; -1 for none
    unsigned char exit_4byte_value;
    bool exit_4byte_confirmed;
    bool mode_switch_clears_latch;  // entering or leaving 4-byte mode uses up the latch
    // Whether a public source confirms which register bits give 3-byte commands the upper address.
    bool address_bits_confirmed = true;
    // The vendor's power-up dummy clock cycles (VORN_FLASH_FACTS); -1 unknown.
    int dummy_fast_read = -1;
    int dummy_quad_io = -1;

    // The command as a part of `density_bytes` has it, or null.
    const VORN_FLASH_COMMAND* find_command(unsigned char opcode,
                                           unsigned long long density_bytes) const;
    // The command as some part of the vendor has it, or null.
    const VORN_FLASH_COMMAND* find_command_on_any_part(unsigned char opcode) const;

    static const VORN_FLASH_VENDOR_PROFILE& get_profile(VORN_PROG_FLOW_TEMPLATE vendor);
    // Null for a manufacturer without a profile.
    static const VORN_FLASH_VENDOR_PROFILE* find_profile_of_manufacturer(unsigned char id);
};

// The profile of one part: its vendor's command set cut down and sized to what the part has.
class VORN_API VORN_FLASH_PART_PROFILE {
  public:
    explicit VORN_FLASH_PART_PROFILE(const VORN_FLASH_PART& part);
    VORN_FLASH_PART_PROFILE(const VORN_FLASH_PART_PROFILE&) = delete;
    VORN_FLASH_PART_PROFILE& operator=(const VORN_FLASH_PART_PROFILE&) = delete;

    const VORN_FLASH_VENDOR_PROFILE& get() const { return m_profile; }

  private:
    VORN_FLASH_VENDOR_PROFILE m_profile;
    std::vector<VORN_FLASH_COMMAND> m_commands;
    std::vector<VORN_FLASH_REGION> m_regions;
    std::vector<VORN_FLASH_REGISTER> m_registers;
    std::deque<std::string> m_names;  // names of erase commands the vendor set does not hold
};

// The part the chip is, from its device record.
struct VORN_API VORN_FLASH_CONFIG {
    std::vector<unsigned char> id;
    unsigned long long density_bytes = 0;
    unsigned int dies = 1;
    unsigned int dummy_cycles = 0;
    unsigned int dummy_cycles_x4 = 0;

    static VORN_FLASH_CONFIG from_flash(const VORN_FLASH& flash);
};

// What the programmer clocks out: the command, then `out` (address bytes, then data), then
// `dummy_cycles`, then it samples `in_length` bytes.
struct VORN_FLASH_TRANSACTION {
    unsigned char command = 0;
    std::vector<unsigned char> out;
    unsigned int dummy_cycles = 0;
    unsigned int in_length = 0;
};

enum VORN_FLASH_OUTCOME {
    VORN_FLASH_OUTCOME_DONE,
    VORN_FLASH_OUTCOME_UNKNOWN_COMMAND,   // not in the vendor's command set
    VORN_FLASH_OUTCOME_NOT_ON_THIS_PART,  // the vendor has it, but not at this density
    VORN_FLASH_OUTCOME_BUSY,
    VORN_FLASH_OUTCOME_NO_WRITE_ENABLE,
    VORN_FLASH_OUTCOME_NO_RESET_ENABLE,
    VORN_FLASH_OUTCOME_INCOMPLETE,  // fewer bytes than the address or register needs
    VORN_FLASH_OUTCOME_QUAD_DISABLED,
    VORN_FLASH_OUTCOME_OUTSIDE_REGION  // an erase where the command does not erase
};

// The chip's side of a transaction. Every outcome but DONE means the chip ignored it.
struct VORN_FLASH_RESPONSE {
    VORN_FLASH_OUTCOME outcome = VORN_FLASH_OUTCOME_DONE;
    const VORN_FLASH_COMMAND* command = nullptr;  // the chip's entry, null when unknown
    unsigned int address_bytes = 0;               // address bytes the chip took
    unsigned long long address = 0;               // as the chip decoded it
    unsigned int dummy_cycles = 0;                // dummy cycles the chip waited
    bool busy = false;                            // the chip was busy when it came
    bool overwrote = false;                       // a program met cells no erase had cleared
    int otp_register = -1;                        // register whose one-time bits this write set
    unsigned char otp_set = 0;                    // ... and those bits
    // The command that last used up the write enable latch, when a command found it clear.
    const VORN_FLASH_COMMAND* latch_used_by = nullptr;
    std::vector<unsigned char> in;  // what the programmer sampled
    std::string answer;             // what the chip did, for the transaction log
};

class VORN_API VORN_FLASH_MODEL {
  public:
    // A chip just powered up: 3-byte addressing, latch clear, registers 0, memory not erased.
    VORN_FLASH_MODEL(const VORN_FLASH_VENDOR_PROFILE& profile, const VORN_FLASH_CONFIG& config);

    VORN_FLASH_RESPONSE execute(const VORN_FLASH_TRANSACTION& transaction);

    const VORN_FLASH_VENDOR_PROFILE& get_profile() const { return m_profile; }
    const VORN_FLASH_CONFIG& get_config() const { return m_config; }
    bool is_busy() const { return m_busy_transactions > 0; }
    bool get_write_enable_latch() const { return m_write_enable_latch; }
    unsigned int get_address_bytes() const { return m_four_byte ? 4 : 3; }
    bool is_quad_enabled() const;
    // The register as a read shows it.
    unsigned char read_register(int index) const;
    // The register that gives 3-byte commands their upper address bits, and whether its value
    // comes from a fact no public source confirms; -1 when none is set.
    int get_address_register() const;
    bool is_address_register_unconfirmed() const { return m_address_unconfirmed; }
    // Memory never erased reads 0x00 (old contents); erased memory 0xFF.
    unsigned char read_memory(unsigned long long address) const;

    // A program, erase or non-volatile register write keeps the chip busy for this many
    // transactions after it: a status poll needs at least one attempt more.
    static constexpr unsigned int BUSY_TRANSACTIONS = 2;

  private:
    VORN_FLASH_OUTCOME accept(const VORN_FLASH_COMMAND& command) const;
    void perform(const VORN_FLASH_COMMAND& command, const VORN_FLASH_TRANSACTION& transaction,
                 VORN_FLASH_RESPONSE& response);
    void write_registers(const VORN_FLASH_COMMAND& command, const std::vector<unsigned char>& data,
                         VORN_FLASH_RESPONSE& response);
    void program(unsigned long long address, const unsigned char* data, size_t size,
                 VORN_FLASH_RESPONSE& response);
    void erase(unsigned long long begin, unsigned long long end);
    void reset();
    void start_busy(const VORN_FLASH_COMMAND& command);
    void switch_mode(const VORN_FLASH_COMMAND& command, VORN_FLASH_RESPONSE& response);
    bool is_erased(unsigned long long address) const;

    const VORN_FLASH_VENDOR_PROFILE& m_profile;
    VORN_FLASH_CONFIG m_config;
    std::vector<unsigned char> m_registers;  // stored bits; role bits are added when read
    unsigned int m_busy_transactions = 0;
    bool m_write_enable_latch = false;
    bool m_volatile_write_enable = false;
    bool m_reset_enabled = false;
    bool m_four_byte = false;
    const VORN_FLASH_COMMAND* m_latch_used_by = nullptr;
    const VORN_FLASH_COMMAND* m_busy_command = nullptr;
    bool m_address_unconfirmed = false;
    // Sparse memory: programmed pages by start address, and erased ranges [begin, end) by
    // begin. A byte in neither is old contents.
    std::map<unsigned long long, std::vector<unsigned char>> m_pages;
    std::map<unsigned long long, unsigned long long> m_erased;
};

#endif
