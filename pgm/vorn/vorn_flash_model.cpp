#define VORN_SOURCE_FILE "pgm/vorn/vorn_flash_model"

#include "vorn_flash_model.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "vorn_flash.h"
#include "vorn_internal.h"
#include "vorn_qspi_flash.h"

static MEM_INITIALIZER mem_initializer("VORN");

namespace {

// Short names keep the tables readable.
constexpr VORN_FLASH_ADDRESS NONE = VORN_FLASH_ADDRESS_NONE;
constexpr VORN_FLASH_ADDRESS MODE = VORN_FLASH_ADDRESS_MODE;
constexpr VORN_FLASH_ADDRESS FOUR = VORN_FLASH_ADDRESS_FOUR;
constexpr VORN_FLASH_DUMMY NO_DUMMY = VORN_FLASH_DUMMY_NONE;
constexpr VORN_FLASH_DUMMY DUMMY = VORN_FLASH_DUMMY_DEVICE;
constexpr VORN_FLASH_DUMMY DUMMY_X4 = VORN_FLASH_DUMMY_DEVICE_X4;
constexpr VORN_FLASH_NEEDS FREE = VORN_FLASH_NEEDS_NOTHING;
constexpr VORN_FLASH_NEEDS WEL = VORN_FLASH_NEEDS_WRITE_ENABLE;
constexpr VORN_FLASH_NEEDS RSTEN = VORN_FLASH_NEEDS_RESET_ENABLE;
constexpr VORN_FLASH_COMMAND_KIND WREN = VORN_FLASH_COMMAND_WRITE_ENABLE;
constexpr VORN_FLASH_COMMAND_KIND WRDI = VORN_FLASH_COMMAND_WRITE_DISABLE;
constexpr VORN_FLASH_COMMAND_KIND VWREN = VORN_FLASH_COMMAND_VOLATILE_WRITE_ENABLE;
constexpr VORN_FLASH_COMMAND_KIND RDREG = VORN_FLASH_COMMAND_READ_REGISTER;
constexpr VORN_FLASH_COMMAND_KIND WRREG = VORN_FLASH_COMMAND_WRITE_REGISTER;
constexpr VORN_FLASH_COMMAND_KIND CLEAR = VORN_FLASH_COMMAND_CLEAR_FLAGS;
constexpr VORN_FLASH_COMMAND_KIND RDID = VORN_FLASH_COMMAND_READ_ID;
constexpr VORN_FLASH_COMMAND_KIND READ = VORN_FLASH_COMMAND_READ;
constexpr VORN_FLASH_COMMAND_KIND PROG = VORN_FLASH_COMMAND_PROGRAM;
constexpr VORN_FLASH_COMMAND_KIND ERASE = VORN_FLASH_COMMAND_ERASE;
constexpr VORN_FLASH_COMMAND_KIND CHIP = VORN_FLASH_COMMAND_CHIP_ERASE;
constexpr VORN_FLASH_COMMAND_KIND EN4B = VORN_FLASH_COMMAND_ENTER_4BYTE;
constexpr VORN_FLASH_COMMAND_KIND EX4B = VORN_FLASH_COMMAND_EXIT_4BYTE;
constexpr VORN_FLASH_COMMAND_KIND RSTE = VORN_FLASH_COMMAND_RESET_ENABLE;
constexpr VORN_FLASH_COMMAND_KIND RST = VORN_FLASH_COMMAND_RESET;
constexpr const char* X1 = "1-1-1";
constexpr const char* X2 = "1-1-2";
constexpr const char* X4 = "1-1-4";
constexpr const char* X44 = "1-4-4";
constexpr unsigned int K4 = 4096;
constexpr unsigned int K32 = 32768;
constexpr unsigned int K64 = 65536;
constexpr unsigned int K256 = 262144;
// Parts above 128 Mbit: 4-byte addressing and the commands that carry 4-byte addresses.
constexpr unsigned int BIG = 256;

// clang-format off
// ---- Micron -------------------------------------------------------------------------------------
// Micron MT25QL512ABB / MT25QU01GBBB datasheets, tables "Status Register", "Flag Status Register",
// "Volatile Configuration Register" and "Command Set"; the N25Q256A datasheet has the same
// opcodes but for the 32KB subsector erase.
const VORN_FLASH_REGISTER k_micron_registers[] = {
    // Bit 0 write in progress, bit 1 write enable latch, bits 2-4 and 6 block protect, bit 5
    // top/bottom, bit 7 status register write disable.
    {"Status Register", 0xFC, 0x01, false, 0x02, 0x00, 0x00, false},
    // Bit 7 program or erase controller ready (1 = ready), bit 0 4-byte addressing; the error
    // bits are not modelled.
    {"Flag Status Register", 0x00, 0x80, true, 0x00, 0x01, 0x00, false},
    // Bits 7-4 dummy cycles, bit 3 XIP, bits 1-0 wrap.
    {"Volatile Configuration Register", 0xFF, 0x00, false, 0x00, 0x00, 0x00, true},
};

const VORN_FLASH_COMMAND k_micron_commands[] = {
    {0x06, "Write Enable", WREN, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x04, "Write Disable", WRDI, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x05, "Read Status Register", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {0, -1}, 0, 0},
    {0x01, "Write Status Register", WRREG, NONE, NO_DUMMY, X1, 0, WEL, {0, -1}, 0, 0},
    {0x70, "Read Flag Status Register", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {1, -1}, 0, 0},
    {0x50, "Clear Flag Status Register", CLEAR, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x85, "Read Volatile Config Register", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {2, -1}, 0, 0},
    {0x81, "Write Volatile Config Register", WRREG, NONE, NO_DUMMY, X1, 0, WEL, {2, -1}, 0, 0},
    {0x9F, "Read ID", RDID, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x9E, "Read ID", RDID, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x03, "Read", READ, MODE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x0B, "Fast Read", READ, MODE, DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x3B, "Dual Output Fast Read", READ, MODE, DUMMY, X2, 0, FREE, {-1, -1}, 0, 0},
    {0x6B, "Quad Output Fast Read", READ, MODE, DUMMY, X4, 0, FREE, {-1, -1}, 0, 0},
    {0xEB, "Quad IO Fast Read", READ, MODE, DUMMY_X4, X44, 0, FREE, {-1, -1}, 0, 0},
    {0x13, "4 Byte Read", READ, FOUR, NO_DUMMY, X1, 0, FREE, {-1, -1}, BIG, 0},
    {0x0C, "4 Byte Fast Read", READ, FOUR, DUMMY, X1, 0, FREE, {-1, -1}, BIG, 0},
    {0x02, "Page Program", PROG, MODE, NO_DUMMY, X1, 0, WEL, {-1, -1}, 0, 0},
    {0x12, "4 Byte Page Program", PROG, FOUR, NO_DUMMY, X1, 0, WEL, {-1, -1}, BIG, 0},
    {0x20, "Subsector Erase 4KB", ERASE, MODE, NO_DUMMY, X1, K4, WEL, {-1, -1}, 0, 0},
    {0x52, "Subsector Erase 32KB", ERASE, MODE, NO_DUMMY, X1, K32, WEL, {-1, -1}, 0, 0},
    {0xD8, "Sector Erase 64KB", ERASE, MODE, NO_DUMMY, X1, K64, WEL, {-1, -1}, 0, 0},
    {0x21, "4 Byte Subsector Erase 4KB", ERASE, FOUR, NO_DUMMY, X1, K4, WEL, {-1, -1}, BIG, 0},
    {0x5C, "4 Byte Subsector Erase 32KB", ERASE, FOUR, NO_DUMMY, X1, K32, WEL, {-1, -1}, BIG, 0},
    {0xDC, "4 Byte Sector Erase 64KB", ERASE, FOUR, NO_DUMMY, X1, K64, WEL, {-1, -1}, BIG, 0},
    {0xC7, "Bulk Erase", CHIP, NONE, NO_DUMMY, X1, 0, WEL, {-1, -1}, 0, 0},
    {0x60, "Bulk Erase", CHIP, NONE, NO_DUMMY, X1, 0, WEL, {-1, -1}, 0, 0},
    // Micron asks for a write enable before either; the latch stays set.
    {0xB7, "Enter 4 Byte Address Mode", EN4B, NONE, NO_DUMMY, X1, 0, WEL, {-1, -1}, BIG, 0},
    {0xE9, "Exit 4 Byte Address Mode", EX4B, NONE, NO_DUMMY, X1, 0, WEL, {-1, -1}, BIG, 0},
    {0x66, "Reset Enable", RSTE, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x99, "Reset Memory", RST, NONE, NO_DUMMY, X1, 0, RSTEN, {-1, -1}, 0, 0},
};

// ---- Macronix -----------------------------------------------------------------------------------
// Macronix MX25L25645G and MX25L12835F datasheets, tables "Status Register", "Configuration
// Register" and "Command Set".
const VORN_FLASH_REGISTER k_macronix_registers[] = {
    // Bit 0 WIP, bit 1 WEL, bits 2-5 block protect, bit 6 QE, bit 7 SRWD.
    {"Status Register", 0xFC, 0x01, false, 0x02, 0x00, 0x40, false},
    // Bits 0-2 output driver strength, bit 5 4BYTE (read only), bits 6-7 dummy cycle setting;
    // bit 3, top/bottom, is one-time programmable and not modelled.
    {"Configuration Register", 0xC7, 0x00, false, 0x00, 0x20, 0x00, false},
};

const VORN_FLASH_COMMAND k_macronix_commands[] = {
    {0x06, "Write Enable", WREN, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x04, "Write Disable", WRDI, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x05, "Read Status Register", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {0, -1}, 0, 0},
    {0x15, "Read Configuration Register", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {1, -1}, 0, 0},
    // One data byte writes the status register; a second, the configuration register.
    {0x01, "Write Status Register", WRREG, NONE, NO_DUMMY, X1, 0, WEL, {0, 1}, 0, 0},
    {0x9F, "Read ID", RDID, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x03, "Read", READ, MODE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x0B, "Fast Read", READ, MODE, DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x3B, "Dual Read", READ, MODE, DUMMY, X2, 0, FREE, {-1, -1}, 0, 0},
    {0x6B, "Quad Read", READ, MODE, DUMMY, X4, 0, FREE, {-1, -1}, 0, 0},
    {0xEB, "Quad IO Read", READ, MODE, DUMMY_X4, X44, 0, FREE, {-1, -1}, 0, 0},
    {0x13, "Read 4B", READ, FOUR, NO_DUMMY, X1, 0, FREE, {-1, -1}, BIG, 0},
    {0x0C, "Fast Read 4B", READ, FOUR, DUMMY, X1, 0, FREE, {-1, -1}, BIG, 0},
    {0x02, "Page Program", PROG, MODE, NO_DUMMY, X1, 0, WEL, {-1, -1}, 0, 0},
    {0x12, "Page Program 4B", PROG, FOUR, NO_DUMMY, X1, 0, WEL, {-1, -1}, BIG, 0},
    {0x20, "Sector Erase 4KB", ERASE, MODE, NO_DUMMY, X1, K4, WEL, {-1, -1}, 0, 0},
    {0x52, "Block Erase 32KB", ERASE, MODE, NO_DUMMY, X1, K32, WEL, {-1, -1}, 0, 0},
    {0xD8, "Block Erase 64KB", ERASE, MODE, NO_DUMMY, X1, K64, WEL, {-1, -1}, 0, 0},
    {0x21, "Sector Erase 4KB 4B", ERASE, FOUR, NO_DUMMY, X1, K4, WEL, {-1, -1}, BIG, 0},
    {0x5C, "Block Erase 32KB 4B", ERASE, FOUR, NO_DUMMY, X1, K32, WEL, {-1, -1}, BIG, 0},
    {0xDC, "Block Erase 64KB 4B", ERASE, FOUR, NO_DUMMY, X1, K64, WEL, {-1, -1}, BIG, 0},
    {0x60, "Chip Erase", CHIP, NONE, NO_DUMMY, X1, 0, WEL, {-1, -1}, 0, 0},
    {0xC7, "Chip Erase", CHIP, NONE, NO_DUMMY, X1, 0, WEL, {-1, -1}, 0, 0},
    {0xB7, "Enter 4 Byte Mode", EN4B, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, BIG, 0},
    {0xE9, "Exit 4 Byte Mode", EX4B, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, BIG, 0},
    {0x66, "Reset Enable", RSTE, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x99, "Reset Memory", RST, NONE, NO_DUMMY, X1, 0, RSTEN, {-1, -1}, 0, 0},
};

// ---- Cypress (Infineon) -------------------------------------------------------------------------
// Cypress S25FL128S/S25FL256S and S25FL512S datasheets, tables "Status Register 1",
// "Configuration Register 1", "Bank Address Register" and "Command Summary". The S25FL-S parts
// have no 0xB7: they reach 4-byte addressing through the bank register or the 4-byte commands.
const VORN_FLASH_REGISTER k_cypress_registers[] = {
    // Bit 0 WIP, bit 1 WEL, bits 2-4 block protect, bits 5-6 erase and program errors (not
    // modelled), bit 7 SRWD.
    {"Status Register 1", 0x9C, 0x01, false, 0x02, 0x00, 0x00, false},
    // Bit 0 FREEZE, bit 1 QUAD, bits 6-7 latency code; bits 2, 3 and 5 are one-time
    // programmable and not modelled.
    {"Configuration Register 1", 0xC3, 0x00, false, 0x00, 0x00, 0x02, false},
    // Bit 7 EXTADD (4-byte addressing for the 3-byte commands), bits 0-1 bank address.
    {"Bank Address Register", 0x83, 0x00, false, 0x00, 0x80, 0x00, true},
};

const VORN_FLASH_COMMAND k_cypress_commands[] = {
    {0x06, "Write Enable", WREN, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x04, "Write Disable", WRDI, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x05, "Read Status Register 1", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {0, -1}, 0, 0},
    {0x35, "Read Configuration Register", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {1, -1}, 0, 0},
    // WRR: status register 1, then configuration register 1 when a second byte follows.
    {0x01, "Write Registers", WRREG, NONE, NO_DUMMY, X1, 0, WEL, {0, 1}, 0, 0},
    {0x30, "Clear Status Register", CLEAR, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x16, "Bank Register Read", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {2, -1}, 0, 0},
    {0x17, "Bank Register Write", WRREG, NONE, NO_DUMMY, X1, 0, FREE, {2, -1}, 0, 0},
    {0x9F, "Read ID", RDID, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x03, "Read", READ, MODE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x0B, "Fast Read", READ, MODE, DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x3B, "Dual Output Read", READ, MODE, DUMMY, X2, 0, FREE, {-1, -1}, 0, 0},
    {0x6B, "Quad Output Read", READ, MODE, DUMMY, X4, 0, FREE, {-1, -1}, 0, 0},
    {0xEB, "Quad IO Read", READ, MODE, DUMMY_X4, X44, 0, FREE, {-1, -1}, 0, 0},
    {0x13, "4 Byte Read", READ, FOUR, NO_DUMMY, X1, 0, FREE, {-1, -1}, BIG, 0},
    {0x0C, "4 Byte Fast Read", READ, FOUR, DUMMY, X1, 0, FREE, {-1, -1}, BIG, 0},
    {0x02, "Page Program", PROG, MODE, NO_DUMMY, X1, 0, WEL, {-1, -1}, 0, 0},
    {0x12, "4 Byte Page Program", PROG, FOUR, NO_DUMMY, X1, 0, WEL, {-1, -1}, BIG, 0},
    // The 4KB erases reach the parameter sectors of the 128 and 256 Mbit parts only; the model
    // does not tell those sectors apart.
    {0x20, "Parameter Sector Erase 4KB", ERASE, MODE, NO_DUMMY, X1, K4, WEL, {-1, -1}, 0, 256},
    {0x21, "4 Byte Parameter Erase 4KB", ERASE, FOUR, NO_DUMMY, X1, K4, WEL, {-1, -1}, BIG, 256},
    // Sectors are 64KB up to 256 Mbit and 256KB on the 512 Mbit part.
    {0xD8, "Sector Erase 64KB", ERASE, MODE, NO_DUMMY, X1, K64, WEL, {-1, -1}, 0, 256},
    {0xD8, "Sector Erase 256KB", ERASE, MODE, NO_DUMMY, X1, K256, WEL, {-1, -1}, 512, 0},
    {0xDC, "4 Byte Sector Erase 64KB", ERASE, FOUR, NO_DUMMY, X1, K64, WEL, {-1, -1}, BIG, 256},
    {0xDC, "4 Byte Sector Erase 256KB", ERASE, FOUR, NO_DUMMY, X1, K256, WEL, {-1, -1}, 512, 0},
    {0x60, "Bulk Erase", CHIP, NONE, NO_DUMMY, X1, 0, WEL, {-1, -1}, 0, 0},
    {0xC7, "Bulk Erase", CHIP, NONE, NO_DUMMY, X1, 0, WEL, {-1, -1}, 0, 0},
    {0xF0, "Software Reset", RST, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
};

// ---- Winbond ------------------------------------------------------------------------------------
// Winbond W25Q256JV and W25Q128JV datasheets, tables "Status Register-1/2/3" and "Instruction
// Set Table 1 (Standard SPI Instructions)".
const VORN_FLASH_REGISTER k_winbond_registers[] = {
    // Bit 0 BUSY, bit 1 WEL, bits 2-6 block protect, top/bottom and sector protect, bit 7 SRP.
    {"Status Register 1", 0xFC, 0x01, false, 0x02, 0x00, 0x00, false},
    // Bit 0 SRL, bit 1 QE, bit 6 CMP; the lock bits 3-5 are one-time programmable.
    {"Status Register 2", 0x43, 0x00, false, 0x00, 0x00, 0x02, false},
    // Bit 0 ADS (current address mode, read only), bit 1 ADP, bit 2 WPS, bits 5-6 DRV.
    {"Status Register 3", 0x66, 0x00, false, 0x00, 0x01, 0x00, false},
};

const VORN_FLASH_COMMAND k_winbond_commands[] = {
    {0x06, "Write Enable", WREN, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x04, "Write Disable", WRDI, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x50, "Volatile SR Write Enable", VWREN, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x05, "Read Status Register 1", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {0, -1}, 0, 0},
    {0x35, "Read Status Register 2", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {1, -1}, 0, 0},
    {0x15, "Read Status Register 3", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {2, -1}, 0, 0},
    // A second data byte after 0x01 writes status register 2.
    {0x01, "Write Status Register 1", WRREG, NONE, NO_DUMMY, X1, 0, WEL, {0, 1}, 0, 0},
    {0x31, "Write Status Register 2", WRREG, NONE, NO_DUMMY, X1, 0, WEL, {1, -1}, 0, 0},
    {0x11, "Write Status Register 3", WRREG, NONE, NO_DUMMY, X1, 0, WEL, {2, -1}, 0, 0},
    {0x9F, "JEDEC ID", RDID, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x03, "Read Data", READ, MODE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x0B, "Fast Read", READ, MODE, DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x3B, "Fast Read Dual Output", READ, MODE, DUMMY, X2, 0, FREE, {-1, -1}, 0, 0},
    {0x6B, "Fast Read Quad Output", READ, MODE, DUMMY, X4, 0, FREE, {-1, -1}, 0, 0},
    {0xEB, "Fast Read Quad IO", READ, MODE, DUMMY_X4, X44, 0, FREE, {-1, -1}, 0, 0},
    {0x13, "Read Data with 4 Byte Address", READ, FOUR, NO_DUMMY, X1, 0, FREE, {-1, -1}, BIG, 0},
    {0x0C, "Fast Read with 4 Byte Address", READ, FOUR, DUMMY, X1, 0, FREE, {-1, -1}, BIG, 0},
    {0x02, "Page Program", PROG, MODE, NO_DUMMY, X1, 0, WEL, {-1, -1}, 0, 0},
    {0x12, "Page Program with 4 Byte Address", PROG, FOUR, NO_DUMMY, X1, 0, WEL, {-1, -1}, BIG, 0},
    {0x20, "Sector Erase 4KB", ERASE, MODE, NO_DUMMY, X1, K4, WEL, {-1, -1}, 0, 0},
    {0x52, "Block Erase 32KB", ERASE, MODE, NO_DUMMY, X1, K32, WEL, {-1, -1}, 0, 0},
    {0xD8, "Block Erase 64KB", ERASE, MODE, NO_DUMMY, X1, K64, WEL, {-1, -1}, 0, 0},
    {0x21, "Sector Erase 4KB 4 Byte Addr", ERASE, FOUR, NO_DUMMY, X1, K4, WEL, {-1, -1}, BIG, 0},
    {0xDC, "Block Erase 64KB 4 Byte Addr", ERASE, FOUR, NO_DUMMY, X1, K64, WEL, {-1, -1}, BIG, 0},
    {0xC7, "Chip Erase", CHIP, NONE, NO_DUMMY, X1, 0, WEL, {-1, -1}, 0, 0},
    {0x60, "Chip Erase", CHIP, NONE, NO_DUMMY, X1, 0, WEL, {-1, -1}, 0, 0},
    {0xB7, "Enter 4 Byte Address Mode", EN4B, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, BIG, 0},
    {0xE9, "Exit 4 Byte Address Mode", EX4B, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, BIG, 0},
    {0x66, "Enable Reset", RSTE, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x99, "Reset Device", RST, NONE, NO_DUMMY, X1, 0, RSTEN, {-1, -1}, 0, 0},
};

// ---- ISSI ---------------------------------------------------------------------------------------
// ISSI IS25LP256D/IS25WP256D and IS25LP128F datasheets, tables "Status Register", "Bank Address
// Register" and "Instruction Set". ISSI leaves 4-byte mode with 0x29, not 0xE9.
const VORN_FLASH_REGISTER k_issi_registers[] = {
    // Bit 0 WIP, bit 1 WEL, bits 2-5 block protect, bit 6 QE, bit 7 SRWD.
    {"Status Register", 0xFC, 0x01, false, 0x02, 0x00, 0x40, false},
    // Bit 7 EXTADD (4-byte addressing), bit 0 BA24.
    {"Bank Address Register", 0x81, 0x00, false, 0x00, 0x80, 0x00, true},
};

const VORN_FLASH_COMMAND k_issi_commands[] = {
    {0x06, "Write Enable", WREN, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x04, "Write Disable", WRDI, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x05, "Read Status Register", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {0, -1}, 0, 0},
    {0x01, "Write Status Register", WRREG, NONE, NO_DUMMY, X1, 0, WEL, {0, -1}, 0, 0},
    {0x16, "Read Bank Address Register", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {1, -1}, BIG, 0},
    {0xC8, "Read Bank Address Register", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {1, -1}, BIG, 0},
    {0x17, "Write Bank Address Register", WRREG, NONE, NO_DUMMY, X1, 0, FREE, {1, -1}, BIG, 0},
    {0xC5, "Write Bank Address Register", WRREG, NONE, NO_DUMMY, X1, 0, FREE, {1, -1}, BIG, 0},
    {0x9F, "Read JEDEC ID", RDID, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x03, "Normal Read", READ, MODE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x0B, "Fast Read", READ, MODE, DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x3B, "Fast Read Dual Output", READ, MODE, DUMMY, X2, 0, FREE, {-1, -1}, 0, 0},
    {0x6B, "Fast Read Quad Output", READ, MODE, DUMMY, X4, 0, FREE, {-1, -1}, 0, 0},
    {0xEB, "Fast Read Quad IO", READ, MODE, DUMMY_X4, X44, 0, FREE, {-1, -1}, 0, 0},
    {0x13, "4 Byte Normal Read", READ, FOUR, NO_DUMMY, X1, 0, FREE, {-1, -1}, BIG, 0},
    {0x0C, "4 Byte Fast Read", READ, FOUR, DUMMY, X1, 0, FREE, {-1, -1}, BIG, 0},
    {0x02, "Page Program", PROG, MODE, NO_DUMMY, X1, 0, WEL, {-1, -1}, 0, 0},
    {0x12, "4 Byte Page Program", PROG, FOUR, NO_DUMMY, X1, 0, WEL, {-1, -1}, BIG, 0},
    {0x20, "Sector Erase 4KB", ERASE, MODE, NO_DUMMY, X1, K4, WEL, {-1, -1}, 0, 0},
    {0xD7, "Sector Erase 4KB", ERASE, MODE, NO_DUMMY, X1, K4, WEL, {-1, -1}, 0, 0},
    {0x52, "Block Erase 32KB", ERASE, MODE, NO_DUMMY, X1, K32, WEL, {-1, -1}, 0, 0},
    {0xD8, "Block Erase 64KB", ERASE, MODE, NO_DUMMY, X1, K64, WEL, {-1, -1}, 0, 0},
    {0x21, "4 Byte Sector Erase 4KB", ERASE, FOUR, NO_DUMMY, X1, K4, WEL, {-1, -1}, BIG, 0},
    {0x5C, "4 Byte Block Erase 32KB", ERASE, FOUR, NO_DUMMY, X1, K32, WEL, {-1, -1}, BIG, 0},
    {0xDC, "4 Byte Block Erase 64KB", ERASE, FOUR, NO_DUMMY, X1, K64, WEL, {-1, -1}, BIG, 0},
    {0xC7, "Chip Erase", CHIP, NONE, NO_DUMMY, X1, 0, WEL, {-1, -1}, 0, 0},
    {0x60, "Chip Erase", CHIP, NONE, NO_DUMMY, X1, 0, WEL, {-1, -1}, 0, 0},
    {0xB7, "Enter 4 Byte Address Mode", EN4B, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, BIG, 0},
    {0x29, "Exit 4 Byte Address Mode", EX4B, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, BIG, 0},
    {0x66, "Software Reset Enable", RSTE, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x99, "Software Reset", RST, NONE, NO_DUMMY, X1, 0, RSTEN, {-1, -1}, 0, 0},
};

// clang-format on

template <typename T, size_t N>
constexpr int count_of(const T (&)[N]) {
    return static_cast<int>(N);
}

// Indexed by VORN_PROG_FLOW_TEMPLATE. Manufacturer bytes: JEDEC JEP106, bank 1. Every vendor's
// parts program 256-byte pages. Only Micron's stacked parts need their flag status register
// polled: it is the one that reports every die ready.
const VORN_FLASH_VENDOR_PROFILE k_profiles[5] = {
    {VORN_PROG_FLOW_TEMPLATE_MICRON, 0x20, 256, k_micron_registers, count_of(k_micron_registers),
     k_micron_commands, count_of(k_micron_commands), 1},
    {VORN_PROG_FLOW_TEMPLATE_MACRONIX, 0xC2, 256, k_macronix_registers,
     count_of(k_macronix_registers), k_macronix_commands, count_of(k_macronix_commands), -1},
    {VORN_PROG_FLOW_TEMPLATE_CYPRESS, 0x01, 256, k_cypress_registers, count_of(k_cypress_registers),
     k_cypress_commands, count_of(k_cypress_commands), -1},
    {VORN_PROG_FLOW_TEMPLATE_WINBOND, 0xEF, 256, k_winbond_registers, count_of(k_winbond_registers),
     k_winbond_commands, count_of(k_winbond_commands), -1},
    {VORN_PROG_FLOW_TEMPLATE_ISSI, 0x9D, 256, k_issi_registers, count_of(k_issi_registers),
     k_issi_commands, count_of(k_issi_commands), -1},
};

constexpr unsigned long long k_three_byte_limit = 1ULL << 24;

bool fits_density(const VORN_FLASH_COMMAND& command, unsigned long long density_bytes) {
    const unsigned long long mbit = density_bytes / (1024 * 1024 / 8);
    if (command.min_mbit != 0 && mbit < command.min_mbit) return false;
    if (command.max_mbit != 0 && mbit > command.max_mbit) return false;
    return true;
}

std::string hex_address(unsigned long long address) {
    return TARVEN::fmt_sprintf("0x%06llX", address);
}

}  // namespace

// ---- profiles -----------------------------------------------------------------------------------

const VORN_FLASH_COMMAND* VORN_FLASH_VENDOR_PROFILE::find_command(
    unsigned char opcode, unsigned long long density_bytes) const {
    for (int i = 0; i < command_count; ++i)
        if (commands[i].opcode == opcode && fits_density(commands[i], density_bytes))
            return &commands[i];
    return nullptr;
}

const VORN_FLASH_COMMAND* VORN_FLASH_VENDOR_PROFILE::find_command_on_any_part(
    unsigned char opcode) const {
    for (int i = 0; i < command_count; ++i)
        if (commands[i].opcode == opcode) return &commands[i];
    return nullptr;
}

const VORN_FLASH_VENDOR_PROFILE& VORN_FLASH_VENDOR_PROFILE::get_profile(
    VORN_PROG_FLOW_TEMPLATE vendor) {
    const int index = static_cast<int>(vendor);
    if (index < 0 || index >= 5) VORN_FAIL("Unknown programming flow template");
    return k_profiles[index];
}

const VORN_FLASH_VENDOR_PROFILE* VORN_FLASH_VENDOR_PROFILE::find_profile_of_manufacturer(
    unsigned char id) {
    for (const VORN_FLASH_VENDOR_PROFILE& profile : k_profiles)
        if (profile.manufacturer_id == id) return &profile;
    return nullptr;
}

VORN_FLASH_CONFIG VORN_FLASH_CONFIG::from_flash(const VORN_FLASH& flash) {
    VORN_FLASH_CONFIG config;
    const std::string id = flash.get_parameter_value(VORN_FLASH_PARAM_ID);
    unsigned int count = 0;
    if (vorn_scan_byte_list(id, nullptr, count) && count > 0) {
        config.id.resize(count);
        vorn_scan_byte_list(id, config.id.data(), count);
    }
    config.density_bytes = flash.get_density_in_bytes_qword();
    config.dies = flash.get_parameter_value_in_dword(VORN_FLASH_PARAM_TOTAL_DIE, nullptr);
    config.dummy_cycles =
        flash.get_parameter_value_in_dword(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, nullptr);
    config.dummy_cycles_x4 =
        flash.get_parameter_value_in_dword(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, nullptr);
    return config;
}

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
        // byte) is not executed; a read takes the missing address bits from the dummy cycles.
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
    if (response.outcome == VORN_FLASH_OUTCOME_DONE) {
        perform(*command, transaction, response);
    } else {
        // Nothing drives the data line: the programmer samples ones.
        response.in.assign(transaction.in_length, 0xFF);
        static const char* const k_ignored[] = {"",
                                                "ignored: not in the command set",
                                                "ignored: not on a part of this density",
                                                "ignored: busy",
                                                "ignored: write enable latch clear",
                                                "ignored: no reset enable just before",
                                                "ignored: cut short",
                                                "ignored: quad enable clear"};
        response.answer = k_ignored[response.outcome];
    }
    // Each enable holds for the one command after it.
    if (volatile_write_enable) m_volatile_write_enable = false;
    if (reset_enabled) m_reset_enabled = false;
    if (response.outcome == VORN_FLASH_OUTCOME_DONE && command != nullptr) {
        if (command->kind == VORN_FLASH_COMMAND_VOLATILE_WRITE_ENABLE)
            m_volatile_write_enable = true;
        if (command->kind == VORN_FLASH_COMMAND_RESET_ENABLE) m_reset_enabled = true;
    }
    // Time passes with every transaction; the last busy one completes the operation.
    if (response.busy && --m_busy_transactions == 0) m_write_enable_latch = false;
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
    response.address %= m_config.density_bytes;

    switch (command.kind) {
        case VORN_FLASH_COMMAND_WRITE_ENABLE:
            m_write_enable_latch = true;
            response.answer = "write enable latch set";
            break;
        case VORN_FLASH_COMMAND_WRITE_DISABLE:
            m_write_enable_latch = false;
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
            const unsigned long long block =
                response.address - response.address % command.erase_size;
            erase(block, block + command.erase_size);
            start_busy();
            response.answer = TARVEN::fmt_sprintf("erases %s-%s, busy", hex_address(block),
                                                  hex_address(block + command.erase_size - 1));
            break;
        }
        case VORN_FLASH_COMMAND_CHIP_ERASE:
            erase(0, m_config.density_bytes);
            start_busy();
            response.answer = "erases the whole chip, busy";
            break;
        case VORN_FLASH_COMMAND_ENTER_4BYTE:
            m_four_byte = true;
            response.answer = "4-byte addressing";
            break;
        case VORN_FLASH_COMMAND_EXIT_4BYTE:
            m_four_byte = false;
            response.answer = "3-byte addressing";
            break;
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

void VORN_FLASH_MODEL::write_registers(const VORN_FLASH_COMMAND& command,
                                       const std::vector<unsigned char>& data,
                                       VORN_FLASH_RESPONSE& response) {
    bool lasting = false;
    for (size_t i = 0; i < 2 && i < data.size() && command.registers[i] >= 0; ++i) {
        const int index = command.registers[i];
        const VORN_FLASH_REGISTER& reg = m_profile.registers[index];
        m_registers[index] = static_cast<unsigned char>((m_registers[index] & ~reg.writable) |
                                                        (data[i] & reg.writable));
        // Parts of 128 Mbit and less have no 4-byte addressing to choose.
        if ((reg.four_byte & reg.writable) != 0 && m_config.density_bytes > k_three_byte_limit)
            m_four_byte = (data[i] & reg.four_byte) != 0;
        lasting = lasting || !reg.is_volatile;
        response.answer += TARVEN::fmt_sprintf("%s%s = 0x%02X", response.answer.empty() ? "" : ", ",
                                               reg.name, m_registers[index]);
    }
    if (lasting && !m_volatile_write_enable) {
        start_busy();
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
    start_busy();
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
    m_four_byte = false;
    for (int i = 0; i < m_profile.register_count; ++i)
        if (m_profile.registers[i].is_volatile) m_registers[i] = 0;
}

void VORN_FLASH_MODEL::start_busy() { m_busy_transactions = k_busy_transactions; }
