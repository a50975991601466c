// The vendors' command sets and the part profiles built from them and the chip facts: what a
// chip of a vendor or a part answers to. The chip that runs commands is vorn_flash_model.cpp.
#define VORN_SOURCE_FILE "pgm/vorn/vorn_flash_model"

#include "vorn_flash_model.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "vorn_flash.h"
#include "vorn_internal.h"
#include "database/vorn_byte_list.h"
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

// Each vendor's command set and register layout. They say what an opcode does; which of them a
// part has, its erase sizes, and the register bits findings rest on (quad enable, 4-byte
// addressing, one-time programmable and address bits) come from the chip facts in data/facts (see
// VORN_FLASH_PART). Every line names where it was checked, in short:
//   spi-nor.h  Linux include/linux/mtd/spi-nor.h (SPINOR_OP_*, SR_*, SR2_* bits)
//   core.c     Linux drivers/mtd/spi-nor/core.c (what the driver sends around an opcode)
//   fr spi.h   flashrom include/spi.h (JEDEC_*, ALT_*)
//   table      the public chip table's entry for the vendor's parts (data/facts/spi_nor_parts.json,
//              from flashrom flashchips/*.c): erase opcodes, FEATURE_* bits, reg_bits
// "No WEL": a driver sends the command without a write enable before it. A line marked
// unconfirmed has no public source yet (data/README lists them).
// Address bytes follow the opcode's kind (MODE: the current mode; FOUR: the 4-byte opcodes of
// spi-nor.h); dummy cycles come from the device's parameters.
// clang-format off
// ---- Micron -------------------------------------------------------------------------------------
// "n25q512a.h": STMicroelectronics' STM32Cube BSP component header for the N25Q512A (command and
// register defines); its mt25ql512abb.h gives the MT25QL512ABB the same register bits.
const VORN_FLASH_REGISTER MICRON_REGISTERS[] = {
    // n25q512a.h N25Q512A_SR_*: WIP 0x01, WEL 0x02, BLOCKPR 0x5C (bits 2-4 and 6), PRBOTTOM 0x20,
    // SRWREN 0x80; Linux micron-st.c n25q parts: SPI_NOR_4BIT_BP | SPI_NOR_BP3_SR_BIT6.
    {"Status Register", "SR", 0xFC, 0x01, false, 0x02, 0x00, 0x00, false, 0x00, false, 0x00},
    // Bit 7 ready (1 = ready): Linux drivers/mtd/spi-nor/micron-st.c, FSR_READY; n25q512a.h
    // N25Q512A_FSR_READY. The error bits are not modelled.
    {"Flag Status Register", "FSR", 0x00, 0x80, true, 0x00, 0x00, 0x00, false, 0x00, false, 0x00},
    // n25q512a.h N25Q512A_VCR_NB_DUMMY 0xF0, _XIP 0x08, _WRAP 0x03 (mt25ql512abb.h
    // MT25QL512ABB_VCR_DC, _XIP, _WRAP); that bit 2 is writable is unconfirmed.
    {"Volatile Configuration Register", "VCR", 0xFF, 0x00, false, 0x00, 0x00, 0x00, true, 0x00, false, 0x00},
};

const VORN_FLASH_COMMAND MICRON_COMMANDS[] = {
    // spi-nor.h SPINOR_OP_WREN, fr spi.h JEDEC_WRDI, SPINOR_OP_RDSR, SPINOR_OP_WRSR; core.c
    // spi_nor_write_sr sends a write enable first.
    {0x06, "Write Enable", WREN, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x04, "Write Disable", WRDI, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x05, "Read Status Register", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {0, -1}, 0, 0},
    {0x01, "Write Status Register", WRREG, NONE, NO_DUMMY, X1, 0, WEL, {0, -1}, 0, 0},
    // micron-st.c SPINOR_OP_RDFSR, SPINOR_OP_CLFSR (no WEL, micron_st_nor_clear_fsr).
    {0x70, "Read Flag Status Register", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {1, -1}, 0, 0},
    {0x50, "Clear Flag Status Register", CLEAR, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    // n25q512a.h READ_VOL_CFG_REG_CMD, WRITE_VOL_CFG_REG_CMD (its driver sends a write enable
    // first); no address, unlike micron-st.c SPINOR_OP_MT_*_ANY_REG on the octal parts.
    {0x85, "Read Volatile Config Register", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {2, -1}, 0, 0},
    {0x81, "Write Volatile Config Register", WRREG, NONE, NO_DUMMY, X1, 0, WEL, {2, -1}, 0, 0},
    // n25q512a.h READ_ID_CMD2 0x9F, READ_ID_CMD 0x9E.
    {0x9F, "Read ID", RDID, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x9E, "Read ID", RDID, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    // spi-nor.h SPINOR_OP_READ, READ_FAST, READ_1_1_2, READ_1_1_4, READ_1_4_4 (bus widths as
    // named), READ_4B, READ_FAST_4B; n25q512a.h READ_CMD .. QUAD_INOUT_FAST_READ_CMD.
    {0x03, "Read", READ, MODE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x0B, "Fast Read", READ, MODE, DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x3B, "Dual Output Fast Read", READ, MODE, DUMMY, X2, 0, FREE, {-1, -1}, 0, 0},
    {0x6B, "Quad Output Fast Read", READ, MODE, DUMMY, X4, 0, FREE, {-1, -1}, 0, 0},
    {0xEB, "Quad IO Fast Read", READ, MODE, DUMMY_X4, X44, 0, FREE, {-1, -1}, 0, 0},
    {0x13, "4 Byte Read", READ, FOUR, NO_DUMMY, X1, 0, FREE, {-1, -1}, BIG, 0},
    {0x0C, "4 Byte Fast Read", READ, FOUR, DUMMY, X1, 0, FREE, {-1, -1}, BIG, 0},
    // spi-nor.h SPINOR_OP_PP, PP_4B, BE_4K, BE_32K, SE, BE_4K_4B, BE_32K_4B, SE_4B, CHIP_ERASE;
    // fr spi.h JEDEC_CE_60. Table: MT25QL256 has 0x20/0x21, 0x52/0x5C, 0xD8/0xDC, 0xC7 and 0x60;
    // the N25Q parts lack the 32KB erases. Erases and programs need the latch (core.c).
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
    // Erases the die the address falls in: Linux drivers/mtd/spi-nor/micron-st.c,
    // SPINOR_OP_MT_DIE_ERASE; fr spi.h JEDEC_BE_C4. Its size is the part's die.
    {0xC4, "Die Erase", ERASE, MODE, NO_DUMMY, X1, 0, WEL, {-1, -1}, 0, 0},
    // A write enable before either: micron-st.c micron_st_nor_late_init uses core.c
    // spi_nor_set_4byte_addr_mode_wren_en4b_ex4b ("typically used by ST and Micron"); table
    // FEATURE_4BA_WREN. Whether the latch stays set is a vendor fact.
    {0xB7, "Enter 4 Byte Address Mode", EN4B, NONE, NO_DUMMY, X1, 0, WEL, {-1, -1}, BIG, 0},
    {0xE9, "Exit 4 Byte Address Mode", EX4B, NONE, NO_DUMMY, X1, 0, WEL, {-1, -1}, BIG, 0},
    // spi-nor.h SPINOR_OP_SRSTEN, SPINOR_OP_SRST; n25q512a.h RESET_ENABLE_CMD, RESET_MEMORY_CMD.
    {0x66, "Reset Enable", RSTE, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x99, "Reset Memory", RST, NONE, NO_DUMMY, X1, 0, RSTEN, {-1, -1}, 0, 0},
};

// ---- Macronix -----------------------------------------------------------------------------------
// "mx25l512.h": STMicroelectronics' STM32Cube BSP component header for the MX25L51245G.
const VORN_FLASH_REGISTER MACRONIX_REGISTERS[] = {
    // Bit 0 WIP, bit 1 WEL (spi-nor.h SR_WIP, SR_WEL), bits 2-5 block protect and bit 7 SRWD
    // (table MX25L12835F reg_bits bp, srp), bit 6 QE (spi-nor.h SR1_QUAD_EN_BIT6).
    {"Status Register", "SR", 0xFC, 0x01, false, 0x02, 0x00, 0x00, false, 0x00, false, 0x00},
    // mx25l512.h MX25L512_CR_ODS 0x07, _TB 0x08, _PBE 0x10, _4BYTE 0x20, _NB_DUMMY 0xC0. 4BYTE
    // follows 0xB7/0xE9; TB is one-time programmable (table reg_bits tb CONFIG 3 OTP).
    {"Configuration Register", "CR", 0xD7, 0x00, false, 0x00, 0x00, 0x00, false, 0x00, false, 0x00},
};

const VORN_FLASH_COMMAND MACRONIX_COMMANDS[] = {
    // spi-nor.h SPINOR_OP_WREN, RDSR; fr spi.h JEDEC_WRDI, JEDEC_RDCR (0x15).
    {0x06, "Write Enable", WREN, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x04, "Write Disable", WRDI, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x05, "Read Status Register", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {0, -1}, 0, 0},
    {0x15, "Read Configuration Register", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {1, -1}, 0, 0},
    // One data byte writes the status register; a second, the configuration register: core.c
    // spi_nor_write_16bit_cr_and_check, mx25l512.h WRITE_STATUS_CFG_REG_CMD with two bytes, after
    // a write enable (core.c spi_nor_write_sr).
    {0x01, "Write Status Register", WRREG, NONE, NO_DUMMY, X1, 0, WEL, {0, 1}, 0, 0},
    {0x9F, "Read ID", RDID, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    // spi-nor.h read, program and erase opcodes as for Micron; table MX25L25635F/MX25L25645G:
    // FEATURE_4BA (0x13, 0x0C, 0x12), erasers 0x20/0x21, 0x52/0x5C, 0xD8/0xDC, 0x60, 0xC7;
    // fr spi.h JEDEC_CE_60 and JEDEC_CE_C7 name Macronix.
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
    // No WEL: core.c spi_nor_set_4byte_addr_mode_en4b_ex4b ("typically used by Winbond and
    // Macronix"); table FEATURE_4BA_ENTER.
    {0xB7, "Enter 4 Byte Mode", EN4B, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, BIG, 0},
    {0xE9, "Exit 4 Byte Mode", EX4B, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, BIG, 0},
    // spi-nor.h SPINOR_OP_SRSTEN, SPINOR_OP_SRST; mx25l512.h RESET_ENABLE_CMD, RESET_MEMORY_CMD.
    {0x66, "Reset Enable", RSTE, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x99, "Reset Memory", RST, NONE, NO_DUMMY, X1, 0, RSTEN, {-1, -1}, 0, 0},
};

// ---- Cypress (Infineon) -------------------------------------------------------------------------
// "s25fl512s.h": STMicroelectronics' STM32Cube BSP component header for the S25FL512S. The
// S25FL-S parts have no 0xB7: they reach 4-byte addressing through the bank register or the
// 4-byte commands (table FEATURE_4BA_NATIVE, FEATURE_4BA_ENTER_EAR7).
const VORN_FLASH_REGISTER CYPRESS_REGISTERS[] = {
    // s25fl512s.h S25FL512S_SR1_*: WIP, WREN, BP0-BP2 (bits 2-4), ERERR, PGERR (not modelled),
    // SRWD; spi-nor.h SR_E_ERR, SR_P_ERR.
    {"Status Register 1", "SR", 0x9C, 0x01, false, 0x02, 0x00, 0x00, false, 0x00, false, 0x00},
    // s25fl512s.h S25FL512S_CR1_FREEZE 0x01, _QUAD 0x02, _LC_MASK 0xC0; bits 2, 3 and 5 are
    // one-time programmable (vendor facts).
    {"Configuration Register 1", "CR1", 0xC3, 0x00, false, 0x00, 0x00, 0x00, false, 0x00, false, 0x00},
    // s25fl512s.h S25FL512S_BA_BA24, _BA25, _EXTADD; volatile: core.c
    // spi_nor_set_4byte_addr_mode_brwr ("8-bit volatile bank register").
    {"Bank Address Register", "BAR", 0x83, 0x00, false, 0x00, 0x00, 0x00, true, 0x00, false, 0x00},
};

const VORN_FLASH_COMMAND CYPRESS_COMMANDS[] = {
    // s25fl512s.h S25FL512S_WRITE_ENABLE_CMD .. S25FL512S_CLEAR_STATUS_REG1_CMD; spi-nor.h
    // SPINOR_OP_RDCR 0x35, SPINOR_OP_CLSR.
    {0x06, "Write Enable", WREN, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x04, "Write Disable", WRDI, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x05, "Read Status Register 1", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {0, -1}, 0, 0},
    {0x35, "Read Configuration Register", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {1, -1}, 0, 0},
    // WRR: status register 1, then configuration register 1 when a second byte follows
    // (s25fl512s.h S25FL512S_WRITE_STATUS_CMD_REG_CMD; table FEATURE_WRSR_EXT2, FEATURE_WRSR_WREN).
    {0x01, "Write Registers", WRREG, NONE, NO_DUMMY, X1, 0, WEL, {0, 1}, 0, 0},
    {0x30, "Clear Status Register", CLEAR, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    // s25fl512s.h S25FL512S_READ_BANK_REG_CMD, _WRITE_BANK_REG_CMD; no WEL: core.c
    // spi_nor_set_4byte_addr_mode_brwr sends SPINOR_OP_BRWR alone.
    {0x16, "Bank Register Read", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {2, -1}, 0, 0},
    {0x17, "Bank Register Write", WRREG, NONE, NO_DUMMY, X1, 0, FREE, {2, -1}, 0, 0},
    // s25fl512s.h S25FL512S_READ_ID_CMD2 and the read and program opcodes (0x03 .. 0xEB, 0x13,
    // 0x0C, 0x02, 0x12).
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
    // The 4KB erases reach the parameter sectors of the 128 and 256 Mbit parts only (vendor facts:
    // S25FL128S/S25FL256S datasheet); the table's entries list no 4KB eraser.
    {0x20, "Parameter Sector Erase 4KB", ERASE, MODE, NO_DUMMY, X1, K4, WEL, {-1, -1}, 0, 256},
    {0x21, "4 Byte Parameter Erase 4KB", ERASE, FOUR, NO_DUMMY, X1, K4, WEL, {-1, -1}, BIG, 256},
    // Sectors are 64KB up to 256 Mbit and 256KB on the 512 Mbit part: table S25FL256S......0 and
    // S25FL512S erasers; s25fl512s.h S25FL512S_SECTOR_SIZE, _SECTOR_ERASE_CMD, _4_BYTE_ADDR_CMD.
    {0xD8, "Sector Erase 64KB", ERASE, MODE, NO_DUMMY, X1, K64, WEL, {-1, -1}, 0, 256},
    {0xD8, "Sector Erase 256KB", ERASE, MODE, NO_DUMMY, X1, K256, WEL, {-1, -1}, 512, 0},
    {0xDC, "4 Byte Sector Erase 64KB", ERASE, FOUR, NO_DUMMY, X1, K64, WEL, {-1, -1}, BIG, 256},
    {0xDC, "4 Byte Sector Erase 256KB", ERASE, FOUR, NO_DUMMY, X1, K256, WEL, {-1, -1}, 512, 0},
    // s25fl512s.h S25FL512S_BULK_ERASE_CMD 0x60, _BULK_ERASE_ALTERNATE_CMD 0xC7.
    {0x60, "Bulk Erase", CHIP, NONE, NO_DUMMY, X1, 0, WEL, {-1, -1}, 0, 0},
    {0xC7, "Bulk Erase", CHIP, NONE, NO_DUMMY, X1, 0, WEL, {-1, -1}, 0, 0},
    // s25fl512s.h S25FL512S_SOFTWARE_RESET_CMD, one command with no enable before it.
    {0xF0, "Software Reset", RST, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
};

// ---- Winbond ------------------------------------------------------------------------------------
// "device_nor_w25.h": Arm SCP-firmware's W25Q256JV command header (from the W25Q256JV datasheet);
// "w25_defs.h": a public W25Q command and register header (xent's memory/w25_defs.h) and its
// driver.
const VORN_FLASH_REGISTER WINBOND_REGISTERS[] = {
    // Bit 0 BUSY, bit 1 WEL (spi-nor.h SR_WIP, SR_WEL); bits 2-6 block protect, top/bottom and
    // sector protect, bit 7 SRP (table W25Q128.V and W25Q256JV_Q reg_bits, all RW).
    {"Status Register 1", "SR", 0xFC, 0x01, false, 0x02, 0x00, 0x00, false, 0x00, false, 0x00},
    // Bit 0 SRL and bit 6 CMP (table reg_bits srl, cmp: RW), bit 1 QE (spi-nor.h
    // SR2_QUAD_EN_BIT1), bits 3-5 the lock bits (spi-nor.h SR2_LB1-3, one-time programmable).
    {"Status Register 2", "SR2", 0x43, 0x00, false, 0x00, 0x00, 0x00, false, 0x00, false, 0x00},
    // w25_defs.h SR3_ADS (bit 0, read only: vendor facts), SR3_ADP (bit 1), SR3_WPS (bit 2;
    // table W25Q128.V reg_bits wps: RW), SR3_DRV0-1 (bits 5-6, written with 0x11 and read back by
    // its driver's changeDriverStrength). That ADP is writable is unconfirmed.
    {"Status Register 3", "SR3", 0x66, 0x00, false, 0x00, 0x00, 0x00, false, 0x00, false, 0x00},
    // The upper address byte of 3-byte commands: Linux drivers/mtd/spi-nor/winbond.c.
    {"Extended Address Register", "EAR", 0xFF, 0x00, false, 0x00, 0x00, 0x00, true, 0x00, false, 0x00},
};

const VORN_FLASH_COMMAND WINBOND_COMMANDS[] = {
    // device_nor_w25.h COMMAND_WRITE_ENABLE, _WRITE_DISABLE, _READ_STATUS_REG,
    // W25_COMMAND_READ_STATUS_REG_2, _3; fr spi.h JEDEC_RDSR2, JEDEC_RDSR3.
    {0x06, "Write Enable", WREN, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x04, "Write Disable", WRDI, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    // w25_defs.h CMD_WRITE_ENABLE_VOLATILE: its driver's writeStatusRegister sends it instead of
    // 0x06 for a volatile write. That the write then has no busy period is unconfirmed.
    {0x50, "Volatile SR Write Enable", VWREN, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x05, "Read Status Register 1", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {0, -1}, 0, 0},
    {0x35, "Read Status Register 2", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {1, -1}, 0, 0},
    {0x15, "Read Status Register 3", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {2, -1}, 0, 0},
    // A second data byte after 0x01 writes status register 2 on a part whose table entry has
    // FEATURE_WRSR_EXT2 (W25Q128.V, W25Q32BV; flashrom spi25_statusreg.c spi_write_register sends
    // 0x01, SR1, SR2 for them; core.c spi_nor_write_16bit_sr_and_check); 0x31 and 0x11 write
    // registers 2 and 3 (fr spi.h JEDEC_WRSR2, JEDEC_WRSR3; device_nor_w25.h). All after a write
    // enable (table FEATURE_WRSR_WREN).
    {0x01, "Write Status Register 1", WRREG, NONE, NO_DUMMY, X1, 0, WEL, {0, 1}, 0, 0},
    {0x31, "Write Status Register 2", WRREG, NONE, NO_DUMMY, X1, 0, WEL, {1, -1}, 0, 0},
    {0x11, "Write Status Register 3", WRREG, NONE, NO_DUMMY, X1, 0, WEL, {2, -1}, 0, 0},
    // Linux drivers/mtd/spi-nor/winbond.c: WINBOND_NOR_OP_WREAR 0xC5 after a write enable,
    // WINBOND_NOR_OP_RDEAR 0xC8.
    {0xC5, "Write Extended Address Register", WRREG, NONE, NO_DUMMY, X1, 0, WEL, {3, -1}, BIG, 0},
    {0xC8, "Read Extended Address Register", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {3, -1}, BIG, 0},
    // device_nor_w25.h COMMAND_READ_ID and the read, program and erase commands below, with
    // their address bytes and bus widths; it has no 4-byte 32KB erase (COMMAND_ERASE_32KB_4B
    // empty), nor does the table's W25Q256JV_Q.
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
    // device_nor_w25.h COMMAND_ERASE_CHIP 0x60; spi-nor.h SPINOR_OP_CHIP_ERASE 0xC7; table
    // W25Q256JV_Q erasers 0x60 and 0xC7.
    {0xC7, "Chip Erase", CHIP, NONE, NO_DUMMY, X1, 0, WEL, {-1, -1}, 0, 0},
    {0x60, "Chip Erase", CHIP, NONE, NO_DUMMY, X1, 0, WEL, {-1, -1}, 0, 0},
    // device_nor_w25.h W25_COMMAND_ENTER_4BYTE, _EXIT_4BYTE; no WEL: Linux winbond.c
    // winbond_nor_set_4byte_addr_mode uses core.c spi_nor_set_4byte_addr_mode_en4b_ex4b.
    {0xB7, "Enter 4 Byte Address Mode", EN4B, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, BIG, 0},
    {0xE9, "Exit 4 Byte Address Mode", EX4B, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, BIG, 0},
    // device_nor_w25.h COMMAND_RESET_ENABLE, COMMAND_RESET_MEMORY.
    {0x66, "Enable Reset", RSTE, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x99, "Reset Device", RST, NONE, NO_DUMMY, X1, 0, RSTEN, {-1, -1}, 0, 0},
};

// ---- ISSI ---------------------------------------------------------------------------------------
// "DIS25_def.h": a public ISSI IS25 series command header (IS25LP/WP 032 to 512): its
// instruction list and status register bits. ISSI leaves 4-byte mode with 0x29 (D_IS25_CMD_EX4B),
// not 0xE9.
const VORN_FLASH_REGISTER ISSI_REGISTERS[] = {
    // DIS25_def.h D_IS25_SR_BIT_*: WIP, WEL, BP0-BP3 (bits 2-5), QE (bit 6), SRWD.
    {"Status Register", "SR", 0xFC, 0x01, false, 0x02, 0x00, 0x00, false, 0x00, false, 0x00},
    // Bit 7 EXTADD: table IS25LP256 FEATURE_4BA_ENTER_EAR7; volatile: DIS25_def.h
    // D_IS25_CMD_WRBRV ("Write Volatile Bank Address Register"). Bit 0 BA24 unconfirmed.
    {"Bank Address Register", "BAR", 0x81, 0x00, false, 0x00, 0x00, 0x00, true, 0x00, false, 0x00},
};

const VORN_FLASH_COMMAND ISSI_COMMANDS[] = {
    // DIS25_def.h D_IS25_CMD_WREN, _WRDI, _RDSR, _WRSR; table FEATURE_WRSR_WREN.
    {0x06, "Write Enable", WREN, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x04, "Write Disable", WRDI, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x05, "Read Status Register", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {0, -1}, 0, 0},
    {0x01, "Write Status Register", WRREG, NONE, NO_DUMMY, X1, 0, WEL, {0, -1}, 0, 0},
    // DIS25_def.h D_IS25_CMD_RDBR 0x16, D_IS25_CMD_WRBRV 0x17; table IS25LP256
    // FEATURE_4BA_EAR_1716. 0xC8 and 0xC5 as their aliases, and 0x17 needing no write enable,
    // unconfirmed.
    {0x16, "Read Bank Address Register", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {1, -1}, BIG, 0},
    {0xC8, "Read Bank Address Register", RDREG, NONE, NO_DUMMY, X1, 0, FREE, {1, -1}, BIG, 0},
    {0x17, "Write Bank Address Register", WRREG, NONE, NO_DUMMY, X1, 0, FREE, {1, -1}, BIG, 0},
    {0xC5, "Write Bank Address Register", WRREG, NONE, NO_DUMMY, X1, 0, FREE, {1, -1}, BIG, 0},
    // DIS25_def.h D_IS25_CMD_RDJDID and the read, program and erase commands below, with
    // their address bytes; 0xD7 also spi-nor.h SPINOR_OP_BE_4K_PMC. Table IS25LP256 erasers
    // 0x20/0x21, 0x52/0x5C, 0xD8/0xDC, 0x60, 0xC7; IS25LP128 also 0xD7.
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
    // DIS25_def.h D_IS25_CMD_EN4B, D_IS25_CMD_EX4B; that neither needs a write enable is
    // unconfirmed.
    {0xB7, "Enter 4 Byte Address Mode", EN4B, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, BIG, 0},
    {0x29, "Exit 4 Byte Address Mode", EX4B, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, BIG, 0},
    // DIS25_def.h D_IS25_CMD_RSTEN, D_IS25_CMD_RST ("only along with RSTEN 66h").
    {0x66, "Software Reset Enable", RSTE, NONE, NO_DUMMY, X1, 0, FREE, {-1, -1}, 0, 0},
    {0x99, "Software Reset", RST, NONE, NO_DUMMY, X1, 0, RSTEN, {-1, -1}, 0, 0},
};

// clang-format on

template <typename T, size_t N>
constexpr int count_of(const T (&)[N]) {
    return static_cast<int>(N);
}

// The vendor command sets, indexed by VORN_PROG_FLOW_TEMPLATE, with their JEDEC JEP106
// manufacturer bytes (bank 1) and the vendor name the chip facts use. Every vendor's parts
// program 256-byte pages.
struct VENDOR_SET {
    VORN_PROG_FLOW_TEMPLATE vendor;
    const char* facts_name;
    unsigned char manufacturer_id;
    const VORN_FLASH_REGISTER* registers;
    int register_count;
    const VORN_FLASH_COMMAND* commands;
    int command_count;
};

const VENDOR_SET VENDOR_SETS[VORN_PROG_FLOW_TEMPLATE_COUNT] = {
    {VORN_PROG_FLOW_TEMPLATE_MICRON, "Micron", 0x20, MICRON_REGISTERS, count_of(MICRON_REGISTERS),
     MICRON_COMMANDS, count_of(MICRON_COMMANDS)},
    {VORN_PROG_FLOW_TEMPLATE_MACRONIX, "Macronix", 0xC2, MACRONIX_REGISTERS,
     count_of(MACRONIX_REGISTERS), MACRONIX_COMMANDS, count_of(MACRONIX_COMMANDS)},
    {VORN_PROG_FLOW_TEMPLATE_CYPRESS, "Cypress", 0x01, CYPRESS_REGISTERS,
     count_of(CYPRESS_REGISTERS), CYPRESS_COMMANDS, count_of(CYPRESS_COMMANDS)},
    {VORN_PROG_FLOW_TEMPLATE_WINBOND, "Winbond", 0xEF, WINBOND_REGISTERS,
     count_of(WINBOND_REGISTERS), WINBOND_COMMANDS, count_of(WINBOND_COMMANDS)},
    {VORN_PROG_FLOW_TEMPLATE_ISSI, "ISSI", 0x9D, ISSI_REGISTERS, count_of(ISSI_REGISTERS),
     ISSI_COMMANDS, count_of(ISSI_COMMANDS)},
};

// A command a part lacks stays in its profile, out of reach of every density, so that the
// checker can tell "not on this part" from "not in the vendor's set".
constexpr unsigned int NEVER = ~0u;

bool fits_density(const VORN_FLASH_COMMAND& command, unsigned long long density_bytes) {
    const unsigned long long mbit = density_bytes / (1024 * 1024 / 8);
    if (command.min_mbit != 0 && mbit < command.min_mbit) return false;
    if (command.max_mbit != 0 && mbit > command.max_mbit) return false;
    return true;
}

int register_named(const std::vector<VORN_FLASH_REGISTER>& registers, const char* key) {
    for (size_t i = 0; i < registers.size(); ++i)
        if (std::strcmp(registers[i].key, key) == 0) return static_cast<int>(i);
    return -1;
}

// The register a bits fact names; -1 when the fact is absent or says "none".
int register_of(const std::vector<VORN_FLASH_REGISTER>& registers,
                const VORN_FLASH_BITS_FACT& fact) {
    if (fact.reg == nullptr || fact.reg[0] == '\0') return -1;
    const int index = register_named(registers, fact.reg);
    VORN_CHECK(index >= 0, "a chip fact names a register of its vendor's set");
    return index;
}

// Puts the facts' bits into the vendor's registers and fills the profile's fact fields.
void apply_facts(const VORN_FLASH_FACTS& facts, std::vector<VORN_FLASH_REGISTER>& registers,
                 VORN_FLASH_VENDOR_PROFILE& profile) {
    auto mark = [&](const VORN_FLASH_BITS_FACT& fact, unsigned char VORN_FLASH_REGISTER::*bits) {
        for (VORN_FLASH_REGISTER& reg : registers) reg.*bits = 0;
        const int index = register_of(registers, fact);
        if (index >= 0) registers[index].*bits = static_cast<unsigned char>(fact.mask);
        return index;
    };
    mark(facts.quad_enable, &VORN_FLASH_REGISTER::quad_enable);
    mark(facts.four_byte_bit, &VORN_FLASH_REGISTER::four_byte);
    mark(facts.address_bits, &VORN_FLASH_REGISTER::address_bits);
    const int otp = mark(facts.otp_bits, &VORN_FLASH_REGISTER::otp);
    if (otp >= 0) registers[otp].otp_confirmed = facts.otp_bits.confirmed;
    profile.stacked_ready_register = register_of(registers, facts.stacked_ready);
    profile.exit_4byte_register = register_of(registers, facts.exit_4byte_sets);
    profile.exit_4byte_value = static_cast<unsigned char>(facts.exit_4byte_sets.mask);
    profile.exit_4byte_confirmed = facts.exit_4byte_sets.confirmed;
    profile.mode_switch_clears_latch = facts.mode_switch_clears_latch == 1;
    profile.address_bits_confirmed = facts.address_bits.confirmed;
    profile.dummy_fast_read = facts.dummy_fast_read;
    profile.dummy_quad_io = facts.dummy_quad_io;
}

// A vendor's set with its vendor facts: what the model knows of a chip no part fact names.
struct BUILT_VENDOR {
    std::vector<VORN_FLASH_REGISTER> registers;
    VORN_FLASH_VENDOR_PROFILE profile{};
};

const std::vector<BUILT_VENDOR>& built_vendors() {
    static const std::vector<BUILT_VENDOR> vendors = [] {
        std::vector<BUILT_VENDOR> out(VORN_PROG_FLOW_TEMPLATE_COUNT);
        for (int i = 0; i < VORN_PROG_FLOW_TEMPLATE_COUNT; ++i) {
            const VENDOR_SET& set = VENDOR_SETS[i];
            BUILT_VENDOR& built = out[i];
            built.registers.assign(set.registers, set.registers + set.register_count);
            VORN_FLASH_VENDOR_PROFILE& p = built.profile;
            p.vendor = set.vendor;
            p.manufacturer_id = set.manufacturer_id;
            p.page_size = 256;
            p.commands = set.commands;
            p.command_count = set.command_count;
            const VORN_FLASH_FACTS* facts = VORN_FLASH_PART::find_vendor_facts(set.facts_name);
            VORN_CHECK(facts != nullptr, "every vendor set has its vendor facts");
            apply_facts(*facts, built.registers, p);
            p.registers = built.registers.data();
            p.register_count = static_cast<int>(built.registers.size());
        }
        return out;
    }();
    return vendors;
}

// One name of a shared entry up to its first wildcard, variant or option mark.
std::string user_name(const std::string& name) {
    return name.substr(0, name.find_first_of("._- ("));
}

bool has_digit(const std::string& text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
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
    return built_vendors()[index].profile;
}

const VORN_FLASH_VENDOR_PROFILE* VORN_FLASH_VENDOR_PROFILE::find_profile_of_manufacturer(
    unsigned char id) {
    for (const BUILT_VENDOR& built : built_vendors())
        if (built.profile.manufacturer_id == id) return &built.profile;
    return nullptr;
}

// ---- parts --------------------------------------------------------------------------------------

std::vector<std::string> VORN_FLASH_PART::user_names() const {
    // Names are separated by '/' outside parentheses: "MX25L4005(A/C)/MX25L4006E" is two, the
    // options in parentheses cut off (a device MX25L4005A starts with MX25L4005). A name without
    // a digit is a variant letter of the one before it: "MX25U3235E/F" is also MX25U3235F.
    std::vector<std::string> names;
    const std::string all = name;
    std::string previous;
    int depth = 0;
    size_t begin = 0;
    for (size_t i = 0; i <= all.size(); ++i) {
        if (i < all.size()) {
            depth += all[i] == '(' ? 1 : (all[i] == ')' ? -1 : 0);
            if (all[i] != '/' || depth > 0) continue;
        }
        std::string one = user_name(all.substr(begin, i - begin));
        begin = i + 1;
        if (!one.empty() && !has_digit(one) && one.size() < previous.size())
            one = previous.substr(0, previous.size() - one.size()) + one;
        if (!has_digit(one)) continue;
        previous = one;
        if (std::find(names.begin(), names.end(), one) == names.end()) names.push_back(one);
    }
    return names;
}

unsigned int VORN_FLASH_PART::dies() const {
    // A die erase block smaller than the part: as many dies as blocks.
    for (int i = 0; i < eraser_count; ++i)
        if (erasers[i].opcode == 0xC4 && erasers[i].block_size < density_bytes)
            return static_cast<unsigned int>(density_bytes / erasers[i].block_size);
    return 1;
}

bool VORN_FLASH_PART::has_eraser(unsigned char opcode) const {
    for (int i = 0; i < eraser_count; ++i)
        if (erasers[i].opcode == opcode) return true;
    return false;
}

std::vector<const VORN_FLASH_PART*> VORN_FLASH_PART::find_by_id(
    const std::vector<unsigned char>& id, unsigned long long density_bytes) {
    std::vector<const VORN_FLASH_PART*> found;
    if (id.size() < 3) return found;
    int count = 0;
    const VORN_FLASH_PART* parts = get_all(&count);
    for (int i = 0; i < count; ++i)
        if (std::equal(id.begin(), id.begin() + 3, parts[i].id) &&
            (density_bytes == 0 || parts[i].density_bytes == density_bytes))
            found.push_back(&parts[i]);
    return found;
}

std::vector<const VORN_FLASH_PART*> VORN_FLASH_PART::find_answering(unsigned int value,
                                                                    unsigned int mask) {
    constexpr unsigned int FIRST_THREE = 0xFFFFFF;
    std::vector<const VORN_FLASH_PART*> found;
    if ((mask & FIRST_THREE) == 0) return found;
    int count = 0;
    const VORN_FLASH_PART* parts = get_all(&count);
    for (int i = 0; i < count; ++i) {
        const unsigned int id = parts[i].id[0] | (parts[i].id[1] << 8) | (parts[i].id[2] << 16);
        if (((id ^ value) & mask & FIRST_THREE) == 0) found.push_back(&parts[i]);
    }
    return found;
}

std::vector<const VORN_FLASH_PART*> VORN_FLASH_PART::find_by_name(const std::string& typed) {
    // ASCII letters only: the host's locale must not change which part a name finds.
    auto same = [&typed](const std::string& name) { return gen_stricmp(name, typed) == 0; };
    std::vector<const VORN_FLASH_PART*> found;
    int count = 0;
    const VORN_FLASH_PART* parts = get_all(&count);
    for (int i = 0; i < count; ++i) {
        const std::vector<std::string> names = parts[i].user_names();
        if (same(parts[i].name) || std::any_of(names.begin(), names.end(), same))
            found.push_back(&parts[i]);
    }
    return found;
}

std::vector<const VORN_FLASH_PART*> VORN_FLASH_PART::pick_by_name(
    const std::vector<const VORN_FLASH_PART*>& candidates, const std::string& device_name) {
    std::vector<const VORN_FLASH_PART*> picked;
    size_t longest = 0;
    for (const VORN_FLASH_PART* part : candidates) {
        for (const std::string& name : part->user_names()) {
            if (device_name.compare(0, name.size(), name) != 0 || name.size() < longest) continue;
            if (name.size() > longest) picked.clear();
            longest = name.size();
            if (std::find(picked.begin(), picked.end(), part) == picked.end())
                picked.push_back(part);
        }
    }
    return picked.empty() ? candidates : picked;
}

VORN_FLASH_PART_PROFILE::VORN_FLASH_PART_PROFILE(const VORN_FLASH_PART& part) : m_profile() {
    const VENDOR_SET& set = VENDOR_SETS[static_cast<int>(part.shape)];
    m_registers.assign(set.registers, set.registers + set.register_count);
    const unsigned int f = part.features;
    for (int i = 0; i < set.command_count; ++i) {
        VORN_FLASH_COMMAND c = set.commands[i];
        VORN_FLASH_REGION region{0, 0, true};
        // The part's facts decide; the vendor set's density bounds do not apply.
        c.min_mbit = 0;
        c.max_mbit = 0;
        bool has = true;
        const bool bank =
            c.registers[0] >= 0 && (std::strcmp(set.registers[c.registers[0]].key, "BAR") == 0 ||
                                    std::strcmp(set.registers[c.registers[0]].key, "EAR") == 0);
        if (c.kind == VORN_FLASH_COMMAND_ERASE || c.kind == VORN_FLASH_COMMAND_CHIP_ERASE) {
            has = false;
            const bool first_of_opcode =
                std::none_of(m_commands.begin(), m_commands.end(),
                             [&](const VORN_FLASH_COMMAND& k) { return k.opcode == c.opcode; });
            for (int e = 0; e < part.eraser_count && first_of_opcode && !has; ++e) {
                if (part.erasers[e].opcode != c.opcode) continue;
                has = true;
                if (c.kind == VORN_FLASH_COMMAND_ERASE)
                    c.erase_size = static_cast<unsigned int>(part.erasers[e].block_size);
                region = part.erasers[e].region;
            }
        } else if (c.kind == VORN_FLASH_COMMAND_ENTER_4BYTE ||
                   c.kind == VORN_FLASH_COMMAND_EXIT_4BYTE) {
            has = (f & VORN_FLASH_PART_ENTER_4BYTE) != 0;
        } else if (c.address == VORN_FLASH_ADDRESS_FOUR) {
            const unsigned int needs =
                c.kind == VORN_FLASH_COMMAND_PROGRAM
                    ? VORN_FLASH_PART_PROGRAM_4BYTE
                    : (c.dummy == VORN_FLASH_DUMMY_NONE ? VORN_FLASH_PART_READ_4BYTE
                                                        : VORN_FLASH_PART_FAST_READ_4BYTE);
            has = (f & needs) != 0;
        } else if (bank) {
            has = (f & (VORN_FLASH_PART_BANK_REGISTER | VORN_FLASH_PART_EXT_ADDR_REGISTER)) != 0;
        } else if (c.kind == VORN_FLASH_COMMAND_WRITE_REGISTER && c.opcode == 0x31 &&
                   part.shape == VORN_PROG_FLOW_TEMPLATE_WINBOND) {
            has = (f & VORN_FLASH_PART_WRITE_SR2) != 0;
        } else if (c.kind == VORN_FLASH_COMMAND_WRITE_REGISTER && c.opcode == 0x11 &&
                   part.shape == VORN_PROG_FLOW_TEMPLATE_WINBOND) {
            has = (f & VORN_FLASH_PART_WRITE_SR3) != 0;
        } else if (c.kind == VORN_FLASH_COMMAND_WRITE_REGISTER && c.opcode == 0x01 &&
                   part.shape == VORN_PROG_FLOW_TEMPLATE_WINBOND &&
                   (f & VORN_FLASH_PART_WRITE_SR2_BY_WRSR) == 0) {
            // Without the table's two-byte form, flashrom's spi_write_register (spi25_statusreg.c)
            // writes status register 2 by 0x31 or not at all: a second byte is not known to land.
            c.registers[1] = -1;
        }
        const char* absent = part.facts.absent_commands;
        if (absent != nullptr && std::strchr(absent, static_cast<char>(c.opcode)) != nullptr)
            has = false;
        if (!has) c.min_mbit = NEVER;
        m_commands.push_back(c);
        m_regions.push_back(region);
    }
    // Erases the part has that the vendor's set does not name.
    for (int e = 0; e < part.eraser_count; ++e) {
        const VORN_FLASH_PART_ERASER& eraser = part.erasers[e];
        const bool known =
            std::any_of(m_commands.begin(), m_commands.end(),
                        [&](const VORN_FLASH_COMMAND& k) { return k.opcode == eraser.opcode; });
        if (known) continue;
        m_names.push_back(TARVEN::fmt_sprintf("Erase %lluKB%s", eraser.block_size / 1024,
                                              eraser.four_byte ? " 4 Byte Address" : ""));
        m_commands.push_back({eraser.opcode,
                              m_names.back().c_str(),
                              VORN_FLASH_COMMAND_ERASE,
                              eraser.four_byte ? VORN_FLASH_ADDRESS_FOUR : VORN_FLASH_ADDRESS_MODE,
                              VORN_FLASH_DUMMY_NONE,
                              "1-1-1",
                              static_cast<unsigned int>(eraser.block_size),
                              VORN_FLASH_NEEDS_WRITE_ENABLE,
                              {-1, -1},
                              0,
                              0});
        m_regions.push_back(eraser.region);
    }
    m_profile.vendor = set.vendor;
    m_profile.manufacturer_id = part.id[0];
    m_profile.page_size = part.page_size;
    apply_facts(part.facts, m_registers, m_profile);
    m_profile.registers = m_registers.data();
    m_profile.register_count = static_cast<int>(m_registers.size());
    m_profile.commands = m_commands.data();
    m_profile.command_count = static_cast<int>(m_commands.size());
    m_profile.regions = m_regions.data();
    m_profile.part = &part;
}

VORN_FLASH_CONFIG VORN_FLASH_CONFIG::from_flash(const VORN_FLASH& flash) {
    VORN_FLASH_CONFIG config;
    config.id = vorn_byte_list_bytes(flash.get_parameter_value(VORN_FLASH_PARAM_ID));
    config.density_bytes = flash.get_density_in_bytes_qword();
    config.dies = flash.get_parameter_value_in_dword(VORN_FLASH_PARAM_TOTAL_DIE, nullptr);
    config.dummy_cycles =
        flash.get_parameter_value_in_dword(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, nullptr);
    config.dummy_cycles_x4 =
        flash.get_parameter_value_in_dword(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, nullptr);
    return config;
}
