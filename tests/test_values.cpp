// Every value a user types, judged as the system's own texts say: the cases are data
// (files/values/cases.tsv); this runner only knows how to ask each judge.
#include <gtest/gtest.h>

#include <memory>

#include "test_qspi_fixture.h"

namespace {

std::string unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 't') {
            out += '\t';
            ++i;
        } else if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
            out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

struct CASE {
    int line;
    std::string target;
    int what;
    std::string value;
    unsigned warning;  // 0: accepted
    std::string text;
    std::string posted;  // the warning's text
};

std::vector<CASE> read_cases() {
    std::vector<CASE> cases;
    for (const vorn_test::TABLE_ROW& row : vorn_test::read_table("values/cases.tsv", 6)) {
        const std::vector<std::string>& f = row.fields;
        cases.push_back({row.line, f[0], std::stoi(f[1]), unescape(f[2]),
                         f[3] == "ok" ? 0u : static_cast<unsigned>(std::stoul(f[3])),
                         unescape(f[4]), unescape(f[5].empty() ? f[4] : f[5])});
    }
    return cases;
}

// The action type whose property run holds `property`, found through the actions themselves.
VORN_ACT_TYPE owner_of(VORN_ACT_PROPERTY property) {
    for (int t = 0; t < 6; ++t) {
        VORN_QSPI_ACTION action(static_cast<VORN_ACT_TYPE>(t));
        for (VORN_ACT_PROPERTY p : action.get_property_enum_list())
            if (p == property) return static_cast<VORN_ACT_TYPE>(t);
    }
    ADD_FAILURE() << "no action has property " << property;
    return VORN_ACT_TYPE_CUSTOM;
}

class Values : public qspi_test::QspiTest {
  protected:
    void SetUp() override {
        QspiTest::SetUp();
        cfg_clear_switches();
        MSG_INDEX::get_default_index()->clear_suppressed();
        programmer.write("dev/families.ini",
                         "[28]\nname = Low\nenabled = 1\nsdm = 1\nsdmmc = 1\n"
                         "flash_io_voltage = 1.8V\n");
        programmer.write("dev/legacy_flash.ini",
                         "[OLD3V]\nenabled = 1\nio_voltage = 3.0V/3.3V\ngroup = g\norder = 1\n");
        programmer.write("xml/pgm_flash_db_sdmmc.xml",
                         vorn_test::sdmmc_document({{"GOLD_A", "1.8V", "8GB"}}));
        qspi_test::DEVICE taken = qspi_test::device("TAKEN_3V");
        taken.io_voltage = "3.0V/3.3V";
        write_custom("pgm_flash_mine.xml",
                     qspi_test::document(qspi_test::template_xml("taken_tpl") +
                                         qspi_test::flash_xml(qspi_test::device("dev_name")) +
                                         qspi_test::flash_xml(taken)));
        qspi = load();
        qspi->set_active_device_family(static_cast<DEV_FAMILY_ENUM>(28));
        sdmmc = std::make_unique<VORN_SDMMC_MGR>();
        sdmmc->set_active_device_family(static_cast<DEV_FAMILY_ENUM>(28));
    }
    void TearDown() override {
        MSG_INDEX::get_default_index()->clear_suppressed();
        QspiTest::TearDown();
    }

    // Asks the judge the case names; `err` may be null.
    bool judge(const CASE& c, std::string* err) {
        const auto param = static_cast<VORN_FLASH_PARAM>(c.what);
        if (c.target == "action") {
            const auto property = static_cast<VORN_ACT_PROPERTY>(c.what);
            return VORN_QSPI_ACTION(owner_of(property))
                .property_value_is_valid(property, c.value, err);
        }
        if (c.target == "number")
            return qspi->is_parameter_valid(param, static_cast<unsigned>(std::stoul(c.value)), err);
        if (c.target == "compatible") return qspi->is_parameter_compatible(param, c.value, err);
        if (c.target == "sdmmc") return sdmmc->is_parameter_valid(param, c.value, err);
        return qspi->is_parameter_valid(param, c.value, err);
    }

    std::unique_ptr<VORN_QSPI_MGR> qspi;
    std::unique_ptr<VORN_SDMMC_MGR> sdmmc;
};

// Accepted values post nothing and leave the text alone. A refused one posts its one warning
// and explains itself in the same words, even with the warning suppressed; without a text to
// fill, only an action still warns.
TEST_F(Values, EachIsJudgedWithItsOwnWords) {
    const std::vector<CASE> cases = read_cases();
    ASSERT_GT(cases.size(), 200u);
    for (const CASE& c : cases) {
        SCOPED_TRACE(testing::Message() << "cases.tsv:" << c.line << " '" << c.value << "'");
        std::string err = "untouched";
        vorn_test::MessageCapture capture;
        EXPECT_EQ(judge(c, &err), c.warning == 0);
        if (c.warning == 0) {
            EXPECT_EQ(err, "untouched");
            EXPECT_TRUE(capture.messages().empty());
            continue;
        }
        EXPECT_EQ(err, c.text);
        const std::vector<MSG_RECORD> posted = capture.messages();
        ASSERT_EQ(posted.size(), 1u);
        EXPECT_EQ(posted[0].id, c.warning);
        EXPECT_EQ(posted[0].severity, 'W');
        EXPECT_EQ(posted[0].text, c.posted);

        capture.clear();
        EXPECT_FALSE(judge(c, nullptr));
        EXPECT_EQ(capture.messages().size(), c.target == "action" ? 1u : 0u);

        MSG_INDEX::get_default_index()->set_suppressed(c.warning, true);
        capture.clear();
        err.clear();
        EXPECT_FALSE(judge(c, &err));
        EXPECT_EQ(err, c.text);
        EXPECT_TRUE(capture.messages().empty());
        MSG_INDEX::get_default_index()->set_suppressed(c.warning, false);
    }
}

TEST_F(Values, EachManagerJudgesItsOwnParameters) {
    for (int p = 0; p <= 9; ++p) {
        EXPECT_EQ(qspi->is_parameter_valid(static_cast<VORN_FLASH_PARAM>(p)), p <= 8) << p;
        EXPECT_EQ(sdmmc->is_parameter_valid(static_cast<VORN_FLASH_PARAM>(p)),
                  p == VORN_FLASH_PARAM_NAME || p == VORN_FLASH_PARAM_IO_VOLTAGE ||
                      p == VORN_FLASH_PARAM_DENSITY)
            << p;
    }
}

}  // namespace
