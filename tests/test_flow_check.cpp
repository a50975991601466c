// The flash model against the vendor facts it encodes, and the flow checker against faults
// planted into copies of shipped flows.
#include <algorithm>
#include <memory>
#include <sstream>
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

// Every shipped device is judged as a part of the chip facts and passes; the only findings are
// those files/flowcheck/shipped.tsv lists, each of them made.
TEST(FlowCheck, EveryShippedDevicePassesOnItsParts) {
    ASSERT_GT(shipped().get_flash_map().size(), 40u);
    std::vector<vorn_test::TABLE_ROW> expected = vorn_test::read_table("flowcheck/shipped.tsv", 3);
    for (const auto& entry : shipped().get_flash_map()) {
        const VORN_FLOW_CHECK_RESULT result = VORN_FLOW_CHECKER().check_flash(*entry.second);
        EXPECT_FALSE(result.vendor.empty()) << entry.first;
        EXPECT_FALSE(result.parts.empty()) << entry.first << " is no part of the chip facts";
        for (const auto& f : result.findings) {
            const std::string line = f.describe();
            auto it = std::find_if(expected.begin(), expected.end(), [&](const auto& row) {
                return row.fields[0] == entry.first && row.fields[1] == f.code &&
                       line.find(row.fields[2]) != std::string::npos;
            });
            if (it == expected.end())
                ADD_FAILURE() << entry.first << ": " << line;
            else
                expected.erase(it);
            EXPECT_EQ(f.severity, VORN_FLOW_SEVERITY_WARNING) << entry.first << ": " << line;
        }
    }
    for (const auto& row : expected)
        ADD_FAILURE() << "no finding " << row.fields[1] << " on " << row.fields[0];
}

// A copy of a device under another name.
std::unique_ptr<VORN_QSPI_FLASH> renamed(const VORN_FLASH& flash, const std::string& name) {
    auto copy = std::make_unique<VORN_QSPI_FLASH>(name);
    copy->set_density(flash.get_density());
    for (auto p : {VORN_FLASH_PARAM_ID, VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE})
        copy->set_parameter_value(p, flash.get_parameter_value(p));
    for (auto p : {VORN_FLASH_PARAM_TOTAL_DIE, VORN_FLASH_PARAM_DUMMY_CLK_CYCLE})
        copy->set_parameter_value(p, flash.get_parameter_value_in_dword(p, nullptr));
    for (auto flow : {VORN_PROG_FLOW_TYPE_SFL, VORN_PROG_FLOW_TYPE_SDM}) {
        std::vector<VORN_OPERATION*> ops;
        for (const VORN_OPERATION* op : *flash.get_operation_list(flow))
            ops.push_back(new VORN_QSPI_OPERATION(*static_cast<const VORN_QSPI_OPERATION*>(op)));
        copy->set_operation_list(ops, flow);
    }
    return copy;
}

std::unique_ptr<VORN_QSPI_FLASH> copy_of(const std::string& name) {
    return renamed(*shipped().get_flash_map().at(name), name);
}

// One planted fault: a row of files/flowcheck/faults.tsv.
struct FAULT {
    std::string device, flow, op, action, what, value, at_op, at_action, code, text;
};

int operation_index(const std::string& name) {
    if (name == "device") return -1;
    for (int i = 0; i < 5; ++i)
        if (std::string(VORN_OP_TYPE_NAME[i]).rfind(name, 0) == 0) return i;
    return 0;
}

// An action property by the label a user sees: "Write Register/Command:".
VORN_ACT_PROPERTY property_named(const std::string& label) {
    for (int t = 0; t < 6; ++t) {
        const VORN_QSPI_ACTION action(static_cast<VORN_ACT_TYPE>(t));
        for (VORN_ACT_PROPERTY p : action.get_property_enum_list())
            if (std::string(VORN_ACT_TYPE_NAME[t]) + "/" + VORN_ACT_PROPERTY_NAME[p] == label)
                return p;
    }
    ADD_FAILURE() << "no property " << label;
    return VORN_ACT_PROPERTY_WRITE_REG_NAME;
}

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> out;
    std::string field;
    std::istringstream in(text);
    while (std::getline(in, field, ';')) out.push_back(field);
    if (out.empty()) out.emplace_back();
    return out;
}

// Several properties of one action change at once when `what` and `value` list them,
// separated by ';'.
void plant(std::unique_ptr<VORN_QSPI_FLASH>& flash, const FAULT& fault) {
    if (fault.what == "density") return flash->set_density(fault.value);
    if (fault.what == "id") return flash->set_parameter_value(VORN_FLASH_PARAM_ID, fault.value);
    if (fault.what == "name") {
        flash = renamed(*flash, fault.value);
        return;
    }
    const auto flow = fault.flow == "SDM" ? VORN_PROG_FLOW_TYPE_SDM : VORN_PROG_FLOW_TYPE_SFL;
    auto* op = static_cast<VORN_QSPI_OPERATION*>(
        flash->get_operation_list(flow)->at(operation_index(fault.op)));
    const unsigned int action = std::stoul(fault.action);
    if (fault.what != "remove") {
        const std::vector<std::string> whats = split(fault.what);
        const std::vector<std::string> values = split(fault.value);
        EXPECT_EQ(whats.size(), values.size()) << fault.device << " / " << fault.code;
        for (size_t i = 0; i < whats.size() && i < values.size(); ++i)
            op->get_action_list()
                ->at(action - 1)
                ->set_property_value(property_named(whats[i]), values[i]);
        return;
    }
    const VORN_QSPI_OPERATION kept(*op);
    op->clear_action_list();
    for (unsigned int i = 0; i < kept.get_action_list()->size(); ++i)
        if (i + 1 != action)
            op->add_action_into_list(new VORN_QSPI_ACTION(
                *static_cast<const VORN_QSPI_ACTION*>(kept.get_action_list()->at(i))));
}

TEST(FlowCheck, NamesEachPlantedFaultAtItsAction) {
    const auto rows = vorn_test::read_table("flowcheck/faults.tsv", 10);
    EXPECT_GE(rows.size(), 19u);
    for (const vorn_test::TABLE_ROW& row : rows) {
        const std::vector<std::string>& f = row.fields;
        const FAULT fault{f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9]};
        const std::string label = fault.device + " / " + fault.code;
        std::unique_ptr<VORN_QSPI_FLASH> flash = copy_of(fault.device);
        plant(flash, fault);
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
        const int at_op = operation_index(fault.at_op);
        EXPECT_EQ(found->flow, at_op < 0 ? -1 : (fault.flow == "SDM" ? 1 : 0)) << label;
        EXPECT_EQ(found->operation, at_op) << label;
        EXPECT_EQ(found->action, std::stoul(fault.at_action)) << label;
        EXPECT_NE(found->text.find(fault.text), std::string::npos) << label << ": " << found->text;
    }
}

}  // namespace
