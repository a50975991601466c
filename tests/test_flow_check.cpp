// The flash model against the vendor facts it encodes, and the flow checker against faults
// planted into copies of shipped flows.
#include <memory>
#include <string>
#include <vector>

#include "vorn.h"
#include "vorn_test_support.h"

namespace {

// ---- the model, vendor by vendor ------------------------------------------------------------

struct STEP {
    unsigned char command;
    std::vector<unsigned char> out = {};
    int in = -1;  // the first byte read back; -1 when nothing is read
    VORN_FLASH_OUTCOME outcome = VORN_FLASH_OUTCOME_DONE;
    unsigned int dummy = 0;
};

struct FACT {
    const char* fact;
    VORN_PROG_FLOW_TEMPLATE vendor;
    unsigned long long mbit;
    std::vector<STEP> steps;
};

constexpr VORN_FLASH_OUTCOME NO_WEL = VORN_FLASH_OUTCOME_NO_WRITE_ENABLE;
constexpr VORN_FLASH_OUTCOME UNKNOWN = VORN_FLASH_OUTCOME_UNKNOWN_COMMAND;

// Each vendor's row cites the public datasheet and tables the model's profile encodes.
constexpr auto MICRON = VORN_PROG_FLOW_TEMPLATE_MICRON;
constexpr auto MACRONIX = VORN_PROG_FLOW_TEMPLATE_MACRONIX;
constexpr auto CYPRESS = VORN_PROG_FLOW_TEMPLATE_CYPRESS;
constexpr auto WINBOND = VORN_PROG_FLOW_TEMPLATE_WINBOND;
constexpr auto ISSI = VORN_PROG_FLOW_TEMPLATE_ISSI;

// clang-format off
const FACT k_facts[] = {
    // Micron MT25QL512ABB, "Command Set": 0xB7 needs the write enable latch; "Flag Status
    // Register": bit 7 ready, bit 0 4-byte addressing; "Status Register": bit 0 WIP, bit 1 WEL.
    {"Micron enters 4-byte mode after a write enable only", MICRON, 512,
     {{0xB7, {}, -1, NO_WEL}, {0x06}, {0xB7}, {0x70, {}, 0x81}}},
    {"Micron flag status shows a program busy, the status register WIP and WEL", MICRON, 256,
     {{0x06}, {0x02, {0, 0, 0, 0xA5}}, {0x70, {}, 0x00}, {0x05, {}, 0x03}, {0x70, {}, 0x80}}},
    // Macronix MX25L25645G, "Command Set": EN4B needs no write enable; "Configuration
    // Register": bit 5 4BYTE; "Status Register": bit 6 QE, written by WRSR after WREN.
    {"Macronix enters 4-byte mode without a write enable", MACRONIX, 256,
     {{0xB7}, {0x15, {}, 0x20}, {0xE9}, {0x15, {}, 0x00}}},
    {"Macronix sets QE in the status register, busy for two transactions", MACRONIX, 128,
     {{0x01, {0x40}, -1, NO_WEL}, {0x06}, {0x01, {0x40}}, {0x05, {}, 0x43}, {0x05, {}, 0x43},
      {0x05, {}, 0x40}}},
    // Cypress S25FL512S and S25FL128S/S25FL256S, "Command Summary": no 0xB7; BRWR sets EXTADD
    // (bank register bit 7); WRR's second byte is configuration register 1 (QUAD, bit 1);
    // "Sector Address Map": 256KB sectors on the 512 Mbit part, 64KB below.
    {"Cypress has no 0xB7; the bank register chooses 4-byte mode", CYPRESS, 512,
     {{0xB7, {}, -1, UNKNOWN}, {0x17, {0x80}}, {0x16, {}, 0x80}, {0x06}, {0x01, {0x00, 0x02}},
      {0x35, {}, 0x02}}},
    {"Cypress 512 Mbit sector erase clears 256KB", CYPRESS, 512,
     {{0x06}, {0xD8, {0, 0, 0}}, {0x05}, {0x05}, {0x03, {0x03, 0xFF, 0xFF}, 0xFF},
      {0x03, {0x04, 0, 0}, 0x00}}},
    {"Cypress 256 Mbit sector erase clears 64KB", CYPRESS, 256,
     {{0x06}, {0xD8, {0, 0, 0}}, {0x05}, {0x05}, {0x03, {0x00, 0xFF, 0xFF}, 0xFF},
      {0x03, {0x01, 0, 0}, 0x00}}},
    // Winbond W25Q256JV, "Status Register-2/3": QE is SR2 bit 1 (0x31/0x35), ADS is SR3 bit 0;
    // "Instruction Set Table 1": 0x50 makes the next status write volatile, without WREN;
    // 0x99 resets right after 0x66 only.
    {"Winbond keeps QE in SR2 and shows 4-byte mode in SR3", WINBOND, 256,
     {{0x06}, {0x31, {0x02}}, {0x35, {}, 0x02}, {0x35}, {0xB7}, {0x15, {}, 0x01}}},
    {"Winbond writes a volatile status register at once after 0x50", WINBOND, 128,
     {{0x50}, {0x31, {0x02}}, {0x05, {}, 0x00}, {0x35, {}, 0x02}, {0x31, {0x00}, -1, NO_WEL}}},
    {"Winbond resets after a reset enable only, back to 3-byte mode", WINBOND, 256,
     {{0xB7}, {0x99, {}, -1, VORN_FLASH_OUTCOME_NO_RESET_ENABLE}, {0x66}, {0x99},
      {0x15, {}, 0x00}}},
    // ISSI IS25LP256D, "Instruction Set": EX4B is 0x29; "Bank Address Register": bit 7 EXTADD.
    {"ISSI leaves 4-byte mode with 0x29, not 0xE9", ISSI, 256,
     {{0xB7}, {0x16, {}, 0x80}, {0xE9, {}, -1, UNKNOWN}, {0x29}, {0x16, {}, 0x00}}},
    // Every vendor: no 4-byte addressing up to 128 Mbit; 0x9F answers the JEP106 maker byte.
    {"A 128 Mbit part has no 4-byte mode and answers its maker byte", ISSI, 128,
     {{0xB7, {}, -1, VORN_FLASH_OUTCOME_NOT_ON_THIS_PART}, {0x9F, {}, 0x9D}}},
    // A read samples after its own dummy cycles; too few sample the idle line first. Program
    // only clears bits: never-erased memory (old contents, 0x00 in the model) stays 0x00.
    {"Fast Read returns erased and programmed data after the dummy cycles", MACRONIX, 64,
     {{0x06}, {0x20, {0, 0, 0}}, {0x05}, {0x05}, {0x06}, {0x02, {0, 0, 0, 0x5A}}, {0x05}, {0x05},
      {0x0B, {0, 0, 0}, 0x5A, {}, 8}, {0x0B, {0, 0, 0}, 0xFF, {}, 0}, {0x03, {0, 1, 0}, 0xFF},
      {0x03, {0, 0x10, 0}, 0x00}}},
};
// clang-format on

TEST(FlashModel, VendorFacts) {
    for (const FACT& fact : k_facts) {
        const auto& profile = VORN_FLASH_VENDOR_PROFILE::get_profile(fact.vendor);
        VORN_FLASH_CONFIG config;
        config.id = {profile.manufacturer_id, 0x40, 0x19};
        config.density_bytes = fact.mbit * 131072;
        config.dummy_cycles = 8;
        VORN_FLASH_MODEL chip(profile, config);
        for (size_t i = 0; i < fact.steps.size(); ++i) {
            const STEP& step = fact.steps[i];
            VORN_FLASH_TRANSACTION t;
            t.command = step.command;
            t.out = step.out;
            t.dummy_cycles = step.dummy;
            t.in_length = step.in >= 0 ? 1 : 0;
            const VORN_FLASH_RESPONSE r = chip.execute(t);
            EXPECT_EQ(r.outcome, step.outcome) << fact.fact << ", step " << i;
            if (step.in >= 0 && r.in.size() == 1) {
                EXPECT_EQ(r.in[0], step.in) << fact.fact << ", step " << i << ": " << r.answer;
            }
        }
    }
}

// ---- the checker on shipped flows -----------------------------------------------------------

VORN_QSPI_MGR& shipped() {
    static vorn_test::TempDir custom;
    static const std::unique_ptr<VORN_QSPI_MGR> mgr = [] {
        PGM_COMMON::set_common_programmer(VORN_TEST_DATA_DIR);
        VORN_MGR::set_db_custom_dir(custom.path());
        return std::make_unique<VORN_QSPI_MGR>();
    }();
    return *mgr;
}

TEST(FlowCheck, EveryShippedDeviceIsClean) {
    ASSERT_GT(shipped().get_flash_map().size(), 40u);
    for (const auto& entry : shipped().get_flash_map()) {
        const VORN_FLOW_CHECK_RESULT result = VORN_FLOW_CHECKER().check_flash(*entry.second);
        EXPECT_FALSE(result.vendor.empty()) << entry.first;
        for (const auto& f : result.findings) ADD_FAILURE() << entry.first << ": " << f.describe();
    }
}

std::unique_ptr<VORN_QSPI_FLASH> copy_of(const std::string& name) {
    const VORN_FLASH& source = *shipped().get_flash_map().at(name);
    auto copy = std::make_unique<VORN_QSPI_FLASH>(name);
    copy->set_density(source.get_density());
    for (auto p : {VORN_FLASH_PARAM_ID, VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE})
        copy->set_parameter_value(p, source.get_parameter_value(p));
    for (auto p : {VORN_FLASH_PARAM_TOTAL_DIE, VORN_FLASH_PARAM_DUMMY_CLK_CYCLE})
        copy->set_parameter_value(p, source.get_parameter_value_in_dword(p, nullptr));
    for (auto flow : {VORN_PROG_FLOW_TYPE_SFL, VORN_PROG_FLOW_TYPE_SDM}) {
        std::vector<VORN_OPERATION*> ops;
        for (const VORN_OPERATION* op : *source.get_operation_list(flow))
            ops.push_back(new VORN_QSPI_OPERATION(*static_cast<const VORN_QSPI_OPERATION*>(op)));
        copy->set_operation_list(ops, flow);
    }
    return copy;
}

constexpr int REMOVE = -1;   // the planted fault drops the action
constexpr int DENSITY = -2;  // ... changes the density
constexpr int ID = -3;       // ... changes the ID
constexpr int DEVICE = -1;   // the finding concerns the device, not an operation

struct FAULT {
    const char* device;
    VORN_PROG_FLOW_TYPE flow;
    int op;
    unsigned int action;
    int property;  // VORN_ACT_PROPERTY, or REMOVE, DENSITY, ID
    const char* value;
    int at_op;  // where the checker must name it
    unsigned int at_action;
    const char* code;
    const char* text;
};

constexpr auto SFL = VORN_PROG_FLOW_TYPE_SFL;
constexpr int INIT = VORN_OP_TYPE_INITIALIZATION;
constexpr int PROGRAM = VORN_OP_TYPE_PROGRAM;
constexpr int ERASE = VORN_OP_TYPE_ERASE;
constexpr int VERIFY = VORN_OP_TYPE_VERIFY_BLANKCHECK_EXAMINE;
constexpr int TERM = VORN_OP_TYPE_TERMINATION;

const FAULT k_faults[] = {
    {"S25FL256S", SFL, PROGRAM, 1, VORN_ACT_PROPERTY_WRITE_REG_COMMAND, "0x04", PROGRAM, 2,
     "no-write-enable", "issued without a preceding write enable; the chip ignores it"},
    {"W25Q256JV", SFL, ERASE, 7, VORN_ACT_PROPERTY_READ_REG_EXPECTED_DATA_MASK, "0x02", ERASE, 7,
     "busy-mask", "polls Status Register 1 with mask 0x02, which never sees the busy bit 0x01"},
    {"W25Q256JV", SFL, 0, 0, DENSITY, "64Mb", INIT, 5, "no-4byte-mode",
     "enters 4-byte mode on a 64Mb part, which has no such mode"},
    {"MT25QL512", SFL, VERIFY, 1, VORN_ACT_PROPERTY_READ_DATA_DUMMY_CLOCK_CYCLE, "10", VERIFY, 1,
     "dummy-cycles", "10 dummy cycles, device says 8"},
    {"MX25L25645G", SFL, PROGRAM, 2, VORN_ACT_PROPERTY_WRITE_DATA_DATA, "0xFF", VERIFY, 1,
     "verify-mismatch", "reads back data that Program did not write, at 0x000000"},
    {"S25FL512S", SFL, INIT, 2, VORN_ACT_PROPERTY_WRITE_REG_COMMAND, "0xB7", INIT, 2,
     "unknown-command", "sends 0xB7, which is not in the Cypress command set"},
    {"IS25LP256", SFL, PROGRAM, 3, VORN_ACT_PROPERTY_READ_REG_ATTEMPT_COUNT, "2", PROGRAM, 3,
     "poll-too-short", "gives up while the chip is still busy (attempt count 2)"},
    {"MX25L12835F", SFL, ERASE, 3, VORN_ACT_PROPERTY_ERASE_ERASE_SIZE, "65536", ERASE, 3,
     "erase-size", "declares 65536 bytes, but Sector Erase 4KB (0x20) erases 4096"},
    {"MT25QL256", SFL, PROGRAM, 2, VORN_ACT_PROPERTY_WRITE_DATA_ADDRESSING_MODE, "3", PROGRAM, 2,
     "address-length", "sends a 3-byte address, but the chip takes 4 in 4-byte mode"},
    {"W25Q128JV", SFL, 0, 0, DENSITY, "256Mb", ERASE, 3, "address-range",
     "address 0x1FFF000 needs 4 bytes; a 3-byte address reaches 0xFFF000 instead"},
    {"MX25L25645G", SFL, INIT, 2, VORN_ACT_PROPERTY_WRITE_REG_DATA, "0x00", INIT, 4,
     "read-mismatch", "reads 0x00, expects 0x40 under mask 0x40"},
    {"MT25QL01G", SFL, PROGRAM, 3, VORN_ACT_PROPERTY_READ_REG_COMMAND, "0x05", PROGRAM, 3,
     "stacked-poll", "on a 2-die part, where only Flag Status Register shows every die ready"},
    {"W25Q256JV", VORN_PROG_FLOW_TYPE_SDM, PROGRAM, 3, REMOVE, "", PROGRAM, 1, "busy",
     "issued while the chip is still busy; the chip ignores it"},
    {"W25Q256JV", SFL, TERM, 1, VORN_ACT_PROPERTY_WRITE_REG_COMMAND, "0x06", TERM, 0, "ends-4byte",
     "leaves the chip in 4-byte address mode"},
    {"MT25QL128", VORN_PROG_FLOW_TYPE_SDM, INIT, 3, VORN_ACT_PROPERTY_WRITE_REG_DATA, "", INIT, 3,
     "cut-short", "sends 0 bytes after the command, Write Status Register (0x01) needs 1"},
    {"W25Q256JV", SFL, 0, 0, ID, "0xC2 0x40 0x19", DEVICE, 0, "vendor-mismatch",
     "the flows follow the Winbond template, but manufacturer byte 0xC2 is Macronix's"},
    {"W25Q256JV", SFL, VERIFY, 1, VORN_ACT_PROPERTY_READ_DATA_COMMAND, "0x6B", VERIFY, 1,
     "bus-width", "but Fast Read Quad Output (0x6B) uses 1-1-4"},
    {"MT25QL128", SFL, ERASE, 3, VORN_ACT_PROPERTY_ERASE_ADDRESS, "0x0", PROGRAM, 2, "unerased",
     "programs 0x018000, which no erase has cleared"},
    {"MT25QL128", SFL, PROGRAM, 1, VORN_ACT_PROPERTY_WRITE_REG_DATA, "0x00", PROGRAM, 1,
     "extra-data", "sends 1 byte(s) of data that Write Enable (0x06) does not take"},
};

void plant(VORN_QSPI_FLASH& flash, const FAULT& fault) {
    if (fault.property == DENSITY) return flash.set_density(fault.value);
    if (fault.property == ID) return flash.set_parameter_value(VORN_FLASH_PARAM_ID, fault.value);
    auto* op =
        static_cast<VORN_QSPI_OPERATION*>(flash.get_operation_list(fault.flow)->at(fault.op));
    if (fault.property != REMOVE) {
        op->get_action_list()
            ->at(fault.action - 1)
            ->set_property_value(static_cast<VORN_ACT_PROPERTY>(fault.property), fault.value);
        return;
    }
    const VORN_QSPI_OPERATION kept(*op);
    op->clear_action_list();
    for (unsigned int i = 0; i < kept.get_action_list()->size(); ++i)
        if (i + 1 != fault.action)
            op->add_action_into_list(new VORN_QSPI_ACTION(
                *static_cast<const VORN_QSPI_ACTION*>(kept.get_action_list()->at(i))));
}

TEST(FlowCheck, NamesEachPlantedFaultAtItsAction) {
    for (const FAULT& fault : k_faults) {
        const std::string label = std::string(fault.device) + " / " + fault.code;
        std::unique_ptr<VORN_QSPI_FLASH> flash = copy_of(fault.device);
        plant(*flash, fault);
        const VORN_FLOW_CHECK_RESULT result = VORN_FLOW_CHECKER().check_flash(*flash);
        // The fault's own finding comes first among those of its severity.
        const VORN_FLOW_FINDING* found = nullptr;
        for (const auto& f : result.findings)
            if (f.code == fault.code && (found == nullptr || found->severity != f.severity))
                found = &f;
        ASSERT_NE(found, nullptr) << label;
        for (const auto& f : result.findings) {
            if (f.severity != found->severity) continue;
            EXPECT_EQ(&f, found) << label << ": first is " << f.describe();
            break;
        }
        EXPECT_EQ(found->flow, fault.at_op == DEVICE ? -1 : static_cast<int>(fault.flow)) << label;
        EXPECT_EQ(found->operation, fault.at_op) << label;
        EXPECT_EQ(found->action, fault.at_action) << label;
        EXPECT_NE(found->text.find(fault.text), std::string::npos) << label << ": " << found->text;
    }
}

TEST(FlowCheck, TraceLogsWhatTheChipAnswered) {
    std::unique_ptr<VORN_QSPI_FLASH> flash = copy_of("MT25QL256");
    const VORN_FLOW_CHECK_RESULT result = VORN_FLOW_CHECKER(true).check_flash(*flash);
    ASSERT_FALSE(result.trace.empty());
    EXPECT_EQ(result.trace.front().describe(),
              "#1 Clear Flag Status Register 0x50 -> error flags cleared");
    EXPECT_EQ(VORN_FLOW_CHECKER().check_flash(*flash).trace.size(), 0u);
}

}  // namespace
