// Records: how flashes, operations and actions read the texts they hold (cases as data in
// files/values/conversions.tsv), what they own and release, and what they refuse.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <tuple>

#include "vorn.h"
#include "vorn_test_support.h"

namespace {

std::string read_back(const std::string& kind, const std::string& text) {
    if (kind == "density" || kind == "qspi-name" || kind == "id") {
        VORN_QSPI_FLASH flash("F");
        flash.set_density(text);
        flash.set_parameter_value(VORN_FLASH_PARAM_ID, text);
        if (kind == "density") return std::to_string(flash.get_density_in_bytes_qword());
        if (kind == "qspi-name") return flash.get_generic_name();
        unsigned mask = 0x5A5A5A5A;
        const unsigned value = flash.get_id_in_dword(&mask);
        EXPECT_EQ(flash.get_id_in_dword(nullptr), value);
        return TARVEN::fmt_sprintf("0x%X 0x%X", value, mask);
    }
    if (kind == "sdmmc-name") {
        VORN_SDMMC_FLASH card("S");
        card.set_density(text);
        return card.get_generic_name();
    }
    VORN_QSPI_ACTION action(VORN_ACT_TYPE_READ_REGISTER);
    const VORN_ACT_PROPERTY p = VORN_ACT_PROPERTY_READ_REG_EXPECTED_DATA;
    action.set_property_value(p, text);
    if (kind == "dword") return TARVEN::fmt_sprintf("0x%X", action.get_property_value_in_dword(p));
    if (kind == "jic") return action.property_value_is_jic_file(text) ? "true" : "false";
    unsigned int count = 99;
    bool ok = false;
    std::unique_ptr<unsigned char[]> bytes(action.get_property_value_in_byte_array(p, &count, &ok));
    if (!bytes) return ok ? "null but ok" : "null";
    std::string list;
    for (unsigned i = 0; i < count; ++i)
        list += TARVEN::fmt_sprintf("%s%02X", i ? " " : "", bytes[i]);
    return ok ? list : list + " not ok";
}

TEST(Records, TextsReadAsDocumented) {
    const auto rows = vorn_test::read_table("values/conversions.tsv", 3);
    EXPECT_GT(rows.size(), 80u);
    for (vorn_test::TABLE_ROW row : rows) {
        std::vector<std::string>& f = row.fields;
        for (size_t tab; (tab = f[1].find("\\t")) != std::string::npos;) f[1].replace(tab, 2, "\t");
        EXPECT_EQ(read_back(f[0], f[1]), f[2])
            << "conversions.tsv:" << row.line << " '" << f[1] << "'";
    }
}

// ---- ownership --------------------------------------------------------------------------------

class TrackedOperation : public VORN_QSPI_OPERATION {
  public:
    TrackedOperation(std::vector<std::string>* log, std::string tag)
        : VORN_QSPI_OPERATION(VORN_OP_TYPE_PROGRAM), m_log(log), m_tag(std::move(tag)) {
        add_action_into_list(new VORN_QSPI_ACTION(VORN_ACT_TYPE_WRITE_DATA));
    }
    ~TrackedOperation() override { m_log->push_back(m_tag); }

  private:
    std::vector<std::string>* m_log;
    std::string m_tag;
};

// A record owns its flows: replacing, clearing or destroying deletes what it held, last first;
// a refused change leaves the record and what the caller offered as they were.
TEST(Records, FlowsAreOwnedAndRefusedChangesChangeNothing) {
    std::vector<std::string> log;
    {
        VORN_QSPI_FLASH flash("F");
        flash.add_operation_into_list(new TrackedOperation(&log, "sfl1"), VORN_PROG_FLOW_TYPE_SFL);
        flash.add_operation_into_list(new TrackedOperation(&log, "sfl2"), VORN_PROG_FLOW_TYPE_SFL);
        flash.add_operation_into_list(new TrackedOperation(&log, "sdm1"), VORN_PROG_FLOW_TYPE_SDM);
        flash.set_operation_list({new TrackedOperation(&log, "new1")}, VORN_PROG_FLOW_TYPE_SFL);
        EXPECT_EQ(log, (std::vector<std::string>{"sfl2", "sfl1"}));
        EXPECT_EQ(flash.get_operation_list(VORN_PROG_FLOW_TYPE_SDM)->size(), 1u);

        const auto bad_flow = static_cast<VORN_PROG_FLOW_TYPE>(2);
        std::unique_ptr<VORN_OPERATION> spare(new TrackedOperation(&log, "spare"));
        for (const auto& [call, text] : std::vector<std::pair<std::function<void()>, std::string>>{
                 {[&] { flash.add_operation_into_list(nullptr, VORN_PROG_FLOW_TYPE_SFL); },
                  "operation"},
                 {[&] { flash.set_operation_list({}, VORN_PROG_FLOW_TYPE_SFL); },
                  "!operation_list.empty()"},
                 {[&] { flash.set_operation_list({spare.get()}, bad_flow); },
                  "Unknown programming flow type"},
                 {[&] {
                      flash.set_operation_list({spare.get(), nullptr}, bad_flow);
                  },
                  "Unknown programming flow type"}})
            EXPECT_EQ(vorn_test::internal_error_of(call).what(), text);
        EXPECT_EQ(log.size(), 2u);
        EXPECT_EQ(flash.get_operation_list(VORN_PROG_FLOW_TYPE_SFL)->size(), 1u);
    }
    EXPECT_EQ(log, (std::vector<std::string>{"sfl2", "sfl1", "spare", "new1", "sdm1"}));
    VORN_SDMMC_FLASH card("S");  // a card has the SDM flow only
    EXPECT_THROW(card.set_operation_list({}, VORN_PROG_FLOW_TYPE_SDM), VORN_INTERNAL_ERROR);
    card.set_operation_list({new VORN_QSPI_OPERATION(VORN_OP_TYPE_PROGRAM)},
                            VORN_PROG_FLOW_TYPE_SDM);
}

// Every operation reads its type's name and description, copies too, whatever became of the
// operation it was copied from.
TEST(Records, OperationsReadTheirTypesNameAndDescription) {
    for (int t = 0; t < VORN_OP_TYPE_COUNT; ++t) {
        auto original = std::make_unique<VORN_QSPI_OPERATION>(static_cast<VORN_OP_TYPE>(t));
        const VORN_QSPI_OPERATION copy(*original);
        original.reset();
        EXPECT_EQ(copy.get_name(), VORN_OP_TYPE_NAME[t]);
        EXPECT_EQ(copy.get_description(), VORN_OP_TYPE_DESC[t]);
    }
}

// A setter given a parameter its family does not carry ends in an internal error that names
// the parameter and the family's source.
TEST(Records, SettersRefuseParametersTheirFamilyLacks) {
    VORN_QSPI_FLASH flash("F");
    VORN_SDMMC_FLASH card("S");
    const std::string qspi = "pgm/vorn/vorn_qspi_flash";
    const std::string sdmmc = "pgm/vorn/vorn_sdmmc_flash";
    using CASE = std::tuple<std::function<void()>, std::string, std::string>;
    for (const auto& [call, file, text] : std::vector<CASE>{
             {[&] { flash.set_parameter_value(VORN_FLASH_PARAM_DENSITY, 1u); }, qspi, "3"},
             {[&] { flash.set_parameter_value(VORN_FLASH_PARAM_NAME, "N"); }, qspi, "0"},
             {[&] { card.set_parameter_value(VORN_FLASH_PARAM_TOTAL_DIE, 1u); }, sdmmc, "4"},
             {[&] { card.set_parameter_value(VORN_FLASH_PARAM_ID, "1"); }, sdmmc, "1"}}) {
        const VORN_INTERNAL_ERROR error = vorn_test::internal_error_of(call);
        EXPECT_EQ(error.file(), file);
        EXPECT_EQ(error.what(), "Unknown flash parameter: " + text);
    }
}

TEST(Records, ActionsStartWithDefaultsTheirOwnRulesAccept) {
    const std::vector<std::vector<std::string>> defaults = {
        {"", "", "", "0", "1-1"},
        {"", "", "", "", "", "1", "0", "1-1"},
        {"", "", "", "", "256", "", "0", "1-1-1"},
        {"", "", "", "", "", "", "", "", "0", "1-1-1"},
        {"", "", "", "", "", "0", "1-1"},
        {"", ""}};
    for (int t = 0; t < 6; ++t) {
        VORN_QSPI_ACTION action(static_cast<VORN_ACT_TYPE>(t));
        std::vector<std::string> values;
        vorn_test::MessageCapture capture;
        for (VORN_ACT_PROPERTY p : action.get_property_enum_list()) {
            values.push_back(action.get_property_value(p));
            if (!values.back().empty()) {
                EXPECT_TRUE(action.property_value_is_valid(p, values.back()));
            }
        }
        EXPECT_EQ(values, defaults[t]) << VORN_ACT_TYPE_NAME[t];
        EXPECT_EQ(VORN_QSPI_ACTION(action).get_name(), VORN_ACT_TYPE_NAME[t]);
        EXPECT_TRUE(capture.messages().empty());
    }
    EXPECT_THROW(VORN_QSPI_ACTION(static_cast<VORN_ACT_TYPE>(6)), VORN_INTERNAL_ERROR);
    VORN_QSPI_ACTION write(VORN_ACT_TYPE_WRITE_DATA);
    for (int p = 0; p < 40; ++p) {
        const bool locked = p == 4 || p == 12 || p == 17 || p == 20 || p == 30 || p == 37;
        EXPECT_EQ(write.property_value_is_enable(static_cast<VORN_ACT_PROPERTY>(p)), !locked) << p;
    }
}

// Values of any length and any bytes, set in any order, read back by property.
TEST(Records, ActionValuesSurviveTheirNeighbours) {
    VORN_QSPI_ACTION action(VORN_ACT_TYPE_WRITE_DATA);
    const std::string long_text(300, 'x');
    const std::string with_nul("a\0b", 3);
    const std::string huge(70000, '\x80');
    const auto far_above = static_cast<VORN_ACT_PROPERTY>(1000);
    action.set_property_value(far_above, huge);
    action.set_property_value(VORN_ACT_PROPERTY_WRITE_DATA_COMMAND, with_nul);
    action.set_property_value(VORN_ACT_PROPERTY_WRITE_DATA_NAME, long_text);
    action.set_property_value(VORN_ACT_PROPERTY_CUSTOM_DIRECTION, "above");
    action.set_property_value(VORN_ACT_PROPERTY_WRITE_REG_NAME, "below");
    action.set_property_value(VORN_ACT_PROPERTY_WRITE_DATA_NAME, "n");
    action.set_property_value(VORN_ACT_PROPERTY_WRITE_DATA_ADDRESS, long_text + long_text);
    VORN_QSPI_ACTION copy(action);
    for (const VORN_QSPI_ACTION* a : {&action, &copy}) {
        EXPECT_EQ(a->get_property_value(VORN_ACT_PROPERTY_WRITE_DATA_NAME), "n");
        EXPECT_EQ(a->get_property_value(VORN_ACT_PROPERTY_WRITE_DATA_COMMAND), with_nul);
        EXPECT_EQ(a->get_property_value(VORN_ACT_PROPERTY_WRITE_DATA_ADDRESS),
                  long_text + long_text);
        EXPECT_EQ(a->get_property_value(far_above), huge);
        EXPECT_EQ(a->get_property_value(VORN_ACT_PROPERTY_CUSTOM_DIRECTION), "above");
        EXPECT_EQ(a->get_property_value(VORN_ACT_PROPERTY_WRITE_REG_NAME), "below");
        EXPECT_EQ(a->get_property_value(VORN_ACT_PROPERTY_WRITE_DATA_BUS_WIDTH), "1-1-1");
        EXPECT_EQ(a->get_property_value(VORN_ACT_PROPERTY_ERASE_NAME), "");
    }
}

}  // namespace
