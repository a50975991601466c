// The flash model against the chip facts, and the flow checker against faults planted into
// copies of shipped flows.
#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "vorn.h"
#include "vorn_flow_fit.h"
#include "vorn_test_support.h"

namespace {

// ---- the model against the chip facts: files/flowcheck/model.tsv ------------------------------

struct STEP {
    VORN_FLASH_TRANSACTION transaction;
    int in = -1;  // the first byte read back; -1 when nothing is read
    VORN_FLASH_OUTCOME outcome = VORN_FLASH_OUTCOME_DONE;
};

VORN_FLASH_OUTCOME outcome_named(const std::string& name) {
    static const std::pair<const char*, VORN_FLASH_OUTCOME> OUTCOME_NAMES[] = {
        {"wel", VORN_FLASH_OUTCOME_NO_WRITE_ENABLE},
        {"rsten", VORN_FLASH_OUTCOME_NO_RESET_ENABLE},
        {"busy", VORN_FLASH_OUTCOME_BUSY},
        {"unknown", VORN_FLASH_OUTCOME_UNKNOWN_COMMAND},
        {"notonpart", VORN_FLASH_OUTCOME_NOT_ON_THIS_PART},
        {"quad", VORN_FLASH_OUTCOME_QUAD_DISABLED},
        {"outside", VORN_FLASH_OUTCOME_OUTSIDE_REGION},
        {"short", VORN_FLASH_OUTCOME_INCOMPLETE}};
    for (const auto& n : OUTCOME_NAMES)
        if (name == n.first) return n.second;
    ADD_FAILURE() << "no outcome " << name;
    return VORN_FLASH_OUTCOME_DONE;
}

std::vector<STEP> parse_steps(const std::string& text) {
    std::vector<STEP> steps;
    std::istringstream all(text);
    for (std::string one; std::getline(all, one, ';');) {
        STEP step;
        std::istringstream words(one);
        std::string word;
        words >> word;
        step.transaction.command = static_cast<unsigned char>(std::stoul(word, nullptr, 16));
        while (words >> word) {
            if (word[0] == '>')
                step.in = static_cast<int>(std::stoul(word.substr(1), nullptr, 16));
            else if (word[0] == '~')
                step.transaction.dummy_cycles = std::stoul(word.substr(1));
            else if (word[0] == '!')
                step.outcome = outcome_named(word.substr(1));
            else
                step.transaction.out.push_back(
                    static_cast<unsigned char>(std::stoul(word, nullptr, 16)));
        }
        step.transaction.in_length = step.in >= 0 ? 1 : 0;
        steps.push_back(step);
    }
    return steps;
}

std::vector<std::string> sorted_names(const std::vector<const VORN_FLASH_PART*>& parts) {
    std::vector<std::string> out;
    for (const VORN_FLASH_PART* p : parts) out.push_back(p->name);
    std::sort(out.begin(), out.end());
    return out;
}

const VORN_FLASH_PART* part_named(const std::string& name) {
    int count = 0;
    const VORN_FLASH_PART* parts = VORN_FLASH_PART::get_all(&count);
    for (int i = 0; i < count; ++i)
        if (name == parts[i].name) return &parts[i];
    return nullptr;
}

void run_steps(const std::string& label, const VORN_FLASH_VENDOR_PROFILE& profile,
               const VORN_FLASH_CONFIG& config, const std::vector<STEP>& steps) {
    VORN_FLASH_MODEL chip(profile, config);
    for (size_t i = 0; i < steps.size(); ++i) {
        const VORN_FLASH_RESPONSE r = chip.execute(steps[i].transaction);
        EXPECT_EQ(r.outcome, steps[i].outcome) << label << ", step " << i + 1 << ": " << r.answer;
        if (steps[i].in >= 0 && r.in.size() == 1) {
            EXPECT_EQ(r.in[0], steps[i].in) << label << ", step " << i + 1 << ": " << r.answer;
        }
    }
}

TEST(FlashModel, AnswersAsTheChipFactsSay) {
    const auto rows = vorn_test::read_table("flowcheck/model.tsv", 4);
    EXPECT_GE(rows.size(), 20u);
    for (const vorn_test::TABLE_ROW& row : rows) {
        const std::vector<std::string>& f = row.fields;
        const std::string label = f[0] + ": " + f[3];
        const std::vector<STEP> steps = parse_steps(f[2]);
        VORN_FLASH_CONFIG config;
        config.dummy_cycles = 8;
        if (f[0].rfind("part:", 0) == 0) {
            const VORN_FLASH_PART* part = part_named(f[0].substr(5));
            ASSERT_NE(part, nullptr) << label;
            config.id.assign(part->id, part->id + 3);
            config.density_bytes = part->density_bytes;
            config.dies = part->dies();
            const VORN_FLASH_PART_PROFILE profile(*part);
            run_steps(label, profile.get(), config, steps);
            continue;
        }
        const int vendor = vorn_vendor_template_index(f[0]);
        ASSERT_GE(vendor, 0) << label;
        const auto& profile =
            VORN_FLASH_VENDOR_PROFILE::get_profile(static_cast<VORN_PROG_FLOW_TEMPLATE>(vendor));
        config.id = {profile.manufacturer_id, 0x40, 0x19};
        config.density_bytes = std::stoull(f[1]) * 131072;
        run_steps(label, profile, config, steps);
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
    std::unique_ptr<VORN_QSPI_FLASH> copy(static_cast<VORN_QSPI_FLASH*>(vorn_make_draft(&flash)));
    copy->set_name(name);
    return copy;
}

std::unique_ptr<VORN_QSPI_FLASH> copy_of(const std::string& name) {
    return renamed(*shipped().get_flash_map().at(name), name);
}

// The parts a device is judged as: its ID and density give the candidates, its name picks
// among them, and a name that picks none leaves them all.
TEST(FlowCheck, JudgesADeviceAsThePartsItsIdAndNameGive) {
    struct CASE {
        const char* device;
        const char* renamed_to;
        const char* id;  // the copy's ID, when not the device's
        std::vector<std::string> parts;
        const char* vendor;
    };
    const CASE cases[] = {
        {"MT25QL128", nullptr, nullptr, {"MT25QL128"}, "Micron"},
        {"N25Q128A13", nullptr, nullptr, {"N25Q128..3E"}, "Micron"},
        {"W25Q256JV", nullptr, nullptr, {"W25Q256JV_Q"}, "Winbond"},
        // A name no part of the ID has: every part of the ID and density.
        {"MX25L12835F",
         "MX25L12845G",
         nullptr,
         {"MX25L12805D", "MX25L12833F", "MX25L12835F/MX25L12873F", "MX25L12845E/MX25L12865E",
          "MX25L12850F"},
         "Macronix"},
        {"W25Q128JV", "GD25Q128C", "0xC8 0x40 0x18", {"GD25Q128C"}, "GigaDevice"},
    };
    for (const CASE& c : cases) {
        std::unique_ptr<VORN_QSPI_FLASH> flash = copy_of(c.device);
        if (c.renamed_to != nullptr) flash = renamed(*flash, c.renamed_to);
        if (c.id != nullptr) flash->set_parameter_value(VORN_FLASH_PARAM_ID, c.id);
        const VORN_FLOW_CHECK_RESULT result = VORN_FLOW_CHECKER().check_flash(*flash);
        std::vector<std::string> parts = result.parts;
        std::sort(parts.begin(), parts.end());
        EXPECT_EQ(parts, c.parts) << c.device;
        EXPECT_EQ(result.vendor, c.vendor) << c.device;
    }
}

// A user names the part; the ID and a masked lookup find the parts behind an ID, and further
// ID bytes are kept where the chip table compares them.
TEST(FlashParts, AreFoundByTypedNameAndById) {
    using NAMES = std::vector<std::string>;
    EXPECT_EQ(sorted_names(VORN_FLASH_PART::find_by_name("mt25ql128")), NAMES{"MT25QL128"});
    EXPECT_EQ(sorted_names(VORN_FLASH_PART::find_by_name("N25Q128")),
              (NAMES{"N25Q128..1E", "N25Q128..3E"}));
    EXPECT_EQ(sorted_names(VORN_FLASH_PART::find_by_name("n25q128..3e")), NAMES{"N25Q128..3E"});
    EXPECT_EQ(sorted_names(VORN_FLASH_PART::find_by_name("MX25L12873F")),
              NAMES{"MX25L12835F/MX25L12873F"});
    EXPECT_TRUE(VORN_FLASH_PART::find_by_name("MT25QL12").empty());
    EXPECT_TRUE(VORN_FLASH_PART::find_by_name("").empty());

    EXPECT_EQ(sorted_names(VORN_FLASH_PART::find_answering(0x18BA20, 0xFFFFFF)),
              (NAMES{"MT25QL128", "N25Q128..3E"}));
    // The fourth byte of a lookup is none of a part's first three.
    EXPECT_EQ(sorted_names(VORN_FLASH_PART::find_answering(0x7718BA20, 0xFFFFFFFF)),
              (NAMES{"MT25QL128", "N25Q128..3E"}));
    const auto micron = VORN_FLASH_PART::find_answering(0x20, 0xFF);
    EXPECT_GT(micron.size(), 10u);
    for (const VORN_FLASH_PART* p : micron) EXPECT_EQ(p->id[0], 0x20) << p->name;
    EXPECT_TRUE(VORN_FLASH_PART::find_answering(0x18BA20, 0xFF000000).empty());
    int count = 0;
    const VORN_FLASH_PART* all = VORN_FLASH_PART::get_all(&count);
    for (const VORN_FLASH_PART* p = all; p != all + count; ++p) {
        const auto same =
            VORN_FLASH_PART::find_answering(p->id[0] | p->id[1] << 8 | p->id[2] << 16, 0xFFFFFF);
        EXPECT_EQ(std::count(same.begin(), same.end(), p), 1) << p->name << " by its own ID";
    }

    const VORN_FLASH_PART* fl512 = part_named("S25FL512S");
    const VORN_FLASH_PART* fs512 = part_named("S25FS512S");
    ASSERT_EQ(fl512->further_id_count, 2);
    ASSERT_EQ(fs512->further_id_count, 2);
    EXPECT_EQ(fl512->further_id[1].offset, 5);
    EXPECT_NE(fl512->further_id[1].value, fs512->further_id[1].value);
    EXPECT_EQ(part_named("MT25QL128")->further_id_count, 0);
}

// The chip table's shorthand names become whole part names: a variant letter after '/' names a
// part of its own, an option in parentheses is left to the name before it, and no fragment of
// a name picks a part for a device that merely starts with it.
TEST(FlashParts, UserNamesAreWholePartNames) {
    using NAMES = std::vector<std::string>;
    EXPECT_EQ(part_named("MX25U3235E/F")->user_names(), (NAMES{"MX25U3235E", "MX25U3235F"}));
    EXPECT_EQ(part_named("S25FL032A/P")->user_names(), (NAMES{"S25FL032A", "S25FL032P"}));
    EXPECT_EQ(part_named("MX25L4005(A/C)/MX25L4006E")->user_names(),
              (NAMES{"MX25L4005", "MX25L4006E"}));
    EXPECT_EQ(part_named("GD25Q16(B)")->user_names(), NAMES{"GD25Q16"});
    EXPECT_EQ(part_named("N25Q128..3E")->user_names(), NAMES{"N25Q128"});
    int count = 0;
    const VORN_FLASH_PART* parts = VORN_FLASH_PART::get_all(&count);
    for (int i = 0; i < count; ++i)
        for (const std::string& name : parts[i].user_names()) {
            EXPECT_GE(name.size(), 5u) << parts[i].name;
            EXPECT_EQ(name.find_first_of("()/"), std::string::npos) << parts[i].name;
        }
    EXPECT_EQ(VORN_FLASH_PART::find_by_name("mx25u3235f").size(), 1u);
    EXPECT_TRUE(VORN_FLASH_PART::find_by_name("F").empty());
    EXPECT_TRUE(VORN_FLASH_PART::find_by_name("C)").empty());

    auto picked = [](std::vector<unsigned char> id, unsigned long long bytes, const char* device) {
        return sorted_names(
            VORN_FLASH_PART::pick_by_name(VORN_FLASH_PART::find_by_id(id, bytes), device));
    };
    EXPECT_EQ(picked({0xC2, 0x25, 0x36}, 4u << 20, "MX25U3235F"), NAMES{"MX25U3235E/F"});
    EXPECT_EQ(picked({0xC2, 0x25, 0x36}, 4u << 20, "FLASH_A"),
              (NAMES{"MX25L3239E", "MX25U3235E/F"}));
    EXPECT_EQ(picked({0xC2, 0x20, 0x16}, 4u << 20, "MX25L3205A"), NAMES{"MX25L3205(A)"});
    EXPECT_EQ(picked({0xC2, 0x20, 0x16}, 4u << 20, "MX25L3205D"), NAMES{"MX25L3205D/MX25L3208D"});
}

// A maker with facts is judged by them whatever is asked; a maker without facts judged as the
// vendor a user names is parts.md's.
TEST(FlowCheck, JudgesAMakerWithFactsByThemWhateverIsAsked) {
    auto judged_as = [](const VORN_FLOW_CHECK_RESULT& r) {
        return std::any_of(r.findings.begin(), r.findings.end(),
                           [](const VORN_FLOW_FINDING& f) { return f.code == "judged-as"; });
    };
    VORN_FLOW_CHECKER as_winbond;
    as_winbond.judge_as(VORN_PROG_FLOW_TEMPLATE_WINBOND);
    // A part of the facts, and a Micron ID no part answers.
    std::unique_ptr<VORN_QSPI_FLASH> known = copy_of("MT25QL128");
    const VORN_FLOW_CHECK_RESULT part = as_winbond.check_flash(*known);
    EXPECT_EQ(part.parts, std::vector<std::string>{"MT25QL128"});
    EXPECT_FALSE(judged_as(part));
    known->set_parameter_value(VORN_FLASH_PARAM_ID, "0x20 0xBA 0x77");
    const VORN_FLOW_CHECK_RESULT vendor = as_winbond.check_flash(*known);
    EXPECT_EQ(vendor.vendor, "Micron");
    EXPECT_FALSE(judged_as(vendor));
}

// One planted fault: a row of files/flowcheck/faults.tsv.
struct FAULT {
    std::string device, flow, op, action, what, value, at_op, at_action, code, text, severity;
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

VORN_QSPI_ACTION* action_copy(const VORN_OPERATION& op, size_t index) {
    return new VORN_QSPI_ACTION(
        *static_cast<const VORN_QSPI_ACTION*>(op.get_action_list()->at(index)));
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
        if (i + 1 != action) op->add_action_into_list(action_copy(kept, i));
}

TEST(FlowCheck, NamesEachPlantedFaultAtItsAction) {
    const auto rows = vorn_test::read_table("flowcheck/faults.tsv", 11);
    EXPECT_GE(rows.size(), 19u);
    for (const vorn_test::TABLE_ROW& row : rows) {
        const std::vector<std::string>& f = row.fields;
        const FAULT fault{f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9], f[10]};
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
        EXPECT_EQ(vorn_flow_severity_name(found->severity), fault.severity) << label;
    }
}

// The programmer chooses among the erase actions between the markers only: one placed before
// them is no choice, and runs for every block as the write enable after it does.
TEST(FlowCheck, AnEraseActionBeforeTheMarkersRunsForEveryBlock) {
    std::unique_ptr<VORN_QSPI_FLASH> flash = copy_of("MX25L12835F");
    auto* erase = static_cast<VORN_QSPI_OPERATION*>(
        flash->get_operation_list(VORN_PROG_FLOW_TYPE_SFL)->at(VORN_OP_TYPE_ERASE));
    const VORN_QSPI_OPERATION kept(*erase);
    erase->clear_action_list();
    erase->add_action_into_list(action_copy(kept, 2));  // Sector Erase 4KB, as action 1
    for (size_t i = 0; i < kept.get_action_list()->size(); ++i)
        erase->add_action_into_list(action_copy(kept, i));
    unsigned int runs[3] = {};  // of actions 1 and 2 (the write enable)
    for (const VORN_FLOW_TRACE_ENTRY& t : VORN_FLOW_CHECKER(true).check_flash(*flash).trace)
        if (t.flow == VORN_PROG_FLOW_TYPE_SFL && t.operation == VORN_OP_TYPE_ERASE && t.action < 3)
            ++runs[t.action];
    EXPECT_GT(runs[2], 1u);
    EXPECT_EQ(runs[1], runs[2]);
}

// The properties that choose 3- or 4-byte addresses.
bool is_addressing_mode(VORN_ACT_PROPERTY p) {
    return p == VORN_ACT_PROPERTY_WRITE_DATA_ADDRESSING_MODE ||
           p == VORN_ACT_PROPERTY_READ_DATA_ADDRESSING_MODE ||
           p == VORN_ACT_PROPERTY_ERASE_ADDRESSING_MODE;
}

}  // namespace

// ---- flows fitted to a part's own 4-byte opcodes ------------------------------------------------

// The vendor flows fitted to a large part's own 4-byte-address commands never switch the mode,
// so nothing reads a bit that shows it, and every address reaches the whole part.
TEST(FlowFit, NativeFourByteFlowsNeverSwitchTheModeAndAddressTheWholePart) {
    const VORN_FLASH_VENDOR_PROFILE& winbond =
        VORN_FLASH_VENDOR_PROFILE::get_profile(VORN_PROG_FLOW_TEMPLATE_WINBOND);
    for (auto type : {VORN_PROG_FLOW_TYPE_SFL, VORN_PROG_FLOW_TYPE_SDM}) {
        const auto* vendor =
            shipped().get_prog_flow_template_operation_list(VORN_PROG_FLOW_TEMPLATE_WINBOND, type);
        std::vector<VORN_OPERATION*> fitted =
            vorn_fit_flow_to_native_four_bytes(winbond, 32ULL << 20, *vendor);
        unsigned int addressed = 0;
        for (const VORN_OPERATION* op : fitted) {
            for (const VORN_ACTION* action : *op->get_action_list()) {
                const auto& list = action->get_property_enum_list();
                if (action->get_type() == VORN_ACT_TYPE_CUSTOM) continue;
                const auto opcode =
                    static_cast<unsigned char>(action->get_property_value_in_dword(list[1]));
                const VORN_FLASH_COMMAND* c = winbond.find_command(opcode, 32ULL << 20);
                ASSERT_NE(c, nullptr) << static_cast<int>(opcode);
                EXPECT_NE(c->kind, VORN_FLASH_COMMAND_ENTER_4BYTE);
                EXPECT_NE(c->kind, VORN_FLASH_COMMAND_EXIT_4BYTE);
                EXPECT_NE(opcode, 0xC5) << "clears an address register nothing set";
                EXPECT_NE(opcode, 0x15) << "reads the mode bit";
                if (c->address == VORN_FLASH_ADDRESS_NONE) continue;
                ++addressed;
                // The set has no 4-byte 32KB erase: that one is kept for the checker to judge.
                EXPECT_EQ(c->address,
                          opcode == 0x52 ? VORN_FLASH_ADDRESS_MODE : VORN_FLASH_ADDRESS_FOUR)
                    << c->name;
                for (auto p : list) {
                    if (is_addressing_mode(p)) {
                        EXPECT_EQ(action->get_property_value_in_dword(p), 4u) << c->name;
                    }
                }
            }
            delete op;
        }
        EXPECT_GE(addressed, 5u);  // program, three erases, read
    }
}

// A new record takes a vendor template's 4-byte flows fitted to 3 bytes up to 16MB; a device's
// or a user template's flows are taken as they are.
TEST(FlowFit, NewRecordsFitOnlyVendorFlowsAndOnlyUpTo16MB) {
    const auto* flow = shipped().get_prog_flow_template_operation_list(
        VORN_PROG_FLOW_TEMPLATE_MICRON, VORN_PROG_FLOW_TYPE_SFL);
    auto four_byte_actions = [](const std::vector<VORN_OPERATION*>& ops) {
        int count = 0;
        for (const VORN_OPERATION* op : ops)
            for (const VORN_ACTION* action : *op->get_action_list())
                for (auto p : action->get_property_enum_list())
                    count += is_addressing_mode(p) && action->get_property_value_in_dword(p) == 4;
        return count;
    };
    ASSERT_GT(four_byte_actions(*flow), 0);
    const struct {
        const char* from;
        unsigned long long density;
        bool fitted;
    } cases[] = {{"Micron", 1ULL << 24, true},
                 {"Micron", (1ULL << 24) + 1, false},
                 {"MY_TEMPLATE", 1ULL << 20, false},
                 {"", 1ULL << 20, false}};
    for (const auto& c : cases) {
        std::vector<VORN_OPERATION*> out;
        bool fitted = !c.fitted;
        ASSERT_TRUE(vorn_flow_for_density(c.from, c.density, *flow, out, &fitted));
        EXPECT_EQ(fitted, c.fitted) << c.from << " " << c.density;
        EXPECT_EQ(out.size(), flow->size());
        EXPECT_EQ(four_byte_actions(out) == 0, c.fitted) << c.from << " " << c.density;
        for (VORN_OPERATION* op : out) delete op;
    }
}

// A part up to 16MB has no 4-byte addresses, and 3-byte addresses reach only the first 16MB of
// a larger one; flows that switch a large part to 4-byte mode fit it.
TEST(FlowFit, AddressingMisfitsAreNamedForThePartsDensity) {
    const VORN_FLASH_VENDOR_PROFILE& winbond =
        VORN_FLASH_VENDOR_PROFILE::get_profile(VORN_PROG_FLOW_TEMPLATE_WINBOND);
    auto misfit = [&](const char* device, bool three_byte_flows) {
        std::unique_ptr<VORN_QSPI_FLASH> flash = copy_of(device);
        for (auto type : {VORN_PROG_FLOW_TYPE_SFL, VORN_PROG_FLOW_TYPE_SDM})
            if (three_byte_flows)
                flash->set_operation_list(
                    vorn_fit_flow_to_three_bytes(winbond, *flash->get_operation_list(type)), type);
        return vorn_flow_addressing_misfit(*flash, "src");
    };
    EXPECT_EQ(misfit("W25Q128JV", false), "");
    EXPECT_EQ(misfit("W25Q128JV", true), "");
    EXPECT_EQ(misfit("W25Q256JV", false), "");
    EXPECT_EQ(misfit("W25Q256JV", true),
              "the flows of 'src' use 3-byte addresses, which reach only the first 16MB of a "
              "256Mb part");
    std::unique_ptr<VORN_QSPI_FLASH> small = copy_of("W25Q128JV");
    std::vector<VORN_OPERATION*> four_byte;
    ASSERT_TRUE(vorn_copy_flow(*copy_of("W25Q256JV")->get_operation_list(VORN_PROG_FLOW_TYPE_SFL),
                               four_byte));
    small->set_operation_list(four_byte, VORN_PROG_FLOW_TYPE_SFL);
    EXPECT_EQ(vorn_flow_addressing_misfit(*small, "src"),
              "the flows of 'src' use 4-byte addressing, which a 128Mb part does not have");
    // Entering 4-byte mode is 4-byte addressing, whatever the addresses say.
    std::unique_ptr<VORN_QSPI_FLASH> entering = copy_of("W25Q128JV");
    auto* enter = new VORN_QSPI_ACTION(VORN_ACT_TYPE_WRITE_REGISTER);
    enter->set_property_value(VORN_ACT_PROPERTY_WRITE_REG_COMMAND, "0xB7");
    entering->get_operation_list(VORN_PROG_FLOW_TYPE_SDM)->front()->add_action_into_list(enter);
    EXPECT_EQ(vorn_flow_addressing_misfit(*entering, "src"),
              "the flows of 'src' use 4-byte addressing, which a 128Mb part does not have");
}
