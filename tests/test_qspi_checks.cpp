// QSPI value checks and the parameter dispatch; the shipped database against every check.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "test_qspi_fixture.h"

using namespace qspi_test;

namespace {

class QspiChecks : public QspiTest {
  protected:
    void SetUp() override {
        QspiTest::SetUp();
        mgr = load();
    }

    // Runs `check` with a text pointer: the result, the text and the one warning it posted.
    template <typename CHECK>
    bool judge(CHECK check, std::string& text, unsigned& warning) {
        vorn_test::MessageCapture capture;
        text = "untouched";
        const bool ok = check(&text);
        const auto ids = capture.message_ids();
        EXPECT_LE(ids.size(), 1u);
        warning = ids.empty() ? 0 : ids.front();
        return ok;
    }

    std::unique_ptr<VORN_QSPI_MGR> mgr;
};

TEST_F(QspiChecks, DeviceId) {
    std::string text;
    unsigned warning = 0;
    for (const char* good : {"0x20 0xBB 0x19", "0xef 0x40 0x18", "32 187", " 0x01  0x02 "}) {
        EXPECT_TRUE(
            judge([&](std::string* m) { return mgr->device_id_is_valid(good, m); }, text, warning))
            << good;
        EXPECT_EQ(text, "untouched");
        EXPECT_EQ(warning, 0u);
    }
    for (const char* bad : {"", "0x20,0xBB", "0X20", "0x1G", "0x123", "256", "   ", "0x20\t0xBB"}) {
        EXPECT_FALSE(
            judge([&](std::string* m) { return mgr->device_id_is_valid(bad, m); }, text, warning))
            << bad;
        EXPECT_EQ(warning, 20477u) << bad;
        EXPECT_EQ(text, std::string("Device ID '") + bad +
                            "' is invalid. It either contains an empty string or special "
                            "characters, or it is not in the list of byte formats.");
    }
}

TEST_F(QspiChecks, DieCountAndDummyCycles) {
    std::string text;
    unsigned warning = 0;
    EXPECT_TRUE(mgr->total_device_die_is_valid(1, &text));
    EXPECT_TRUE(mgr->total_device_die_is_valid(4294967295u, &text));
    EXPECT_FALSE(
        judge([&](std::string* m) { return mgr->total_device_die_is_valid(0, m); }, text, warning));
    EXPECT_EQ(warning, 20479u);
    EXPECT_EQ(text, "Total device die '0' is invalid.");

    EXPECT_TRUE(mgr->dummy_clock_cycle_is_valid(0, &text));
    EXPECT_TRUE(mgr->dummy_clock_cycle_is_valid(15, &text));
    EXPECT_FALSE(judge([&](std::string* m) { return mgr->dummy_clock_cycle_is_valid(16, m); }, text,
                       warning));
    EXPECT_EQ(warning, 20543u);
    EXPECT_EQ(text, "Device dummy clock cycle '16' is invalid.");
    EXPECT_FALSE(mgr->dummy_clock_cycle_is_valid(4000000000u, &text));
    EXPECT_EQ(text, "Device dummy clock cycle '4000000000' is invalid.");
}

TEST_F(QspiChecks, WithoutATextPointerNothingIsPosted) {
    vorn_test::MessageCapture capture;
    EXPECT_FALSE(mgr->device_id_is_valid("zz", nullptr));
    EXPECT_FALSE(mgr->total_device_die_is_valid(0, nullptr));
    EXPECT_FALSE(mgr->dummy_clock_cycle_is_valid(16, nullptr));
    EXPECT_FALSE(mgr->prog_flow_template_is_valid("nope", nullptr));
    EXPECT_FALSE(mgr->template_name_is_valid("", nullptr));
    EXPECT_FALSE(mgr->template_name_is_valid("Micron", nullptr));
    EXPECT_TRUE(capture.messages().empty());
}

TEST_F(QspiChecks, ProgrammingFlowTemplate) {
    std::string text;
    unsigned warning = 0;
    for (const char* vendor : VORN_PROG_FLOW_TEMPLATE_NAME)
        EXPECT_TRUE(mgr->prog_flow_template_is_valid(vendor, &text)) << vendor;
    for (const char* bad : {"ISSI", "", "micron", "Issi "}) {
        EXPECT_FALSE(judge([&](std::string* m) { return mgr->prog_flow_template_is_valid(bad, m); },
                           text, warning))
            << bad;
        EXPECT_EQ(warning, 20481u);
        EXPECT_EQ(text, std::string("Programming flow template '") + bad + "' is invalid.");
    }
    // The current record's own template is accepted, and so is a user template's name.
    VORN_FLASH* flash = mgr->create_flash("NEWDEV");
    flash->set_parameter_value(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE, "ISSI");
    EXPECT_TRUE(mgr->prog_flow_template_is_valid("ISSI", &text));
    EXPECT_FALSE(mgr->prog_flow_template_is_valid("", &text));
    // A record made by create_flash stays the caller's; an empty lookup lets go of it.
    EXPECT_EQ(mgr->get_flash("", true), nullptr);
    delete flash;
    EXPECT_FALSE(mgr->prog_flow_template_is_valid("ISSI", &text));

    write_custom("pgm_flash_tpl.xml", document(template_xml("ISSI")));
    auto with_template = load();
    EXPECT_TRUE(with_template->prog_flow_template_is_valid("ISSI", &text));
}

TEST_F(QspiChecks, TemplateNameRulesInOrder) {
    write_custom("pgm_flash_tpl.xml",
                 document(template_xml("taken_tpl") + flash_xml(device("Cypress")) +
                          flash_xml(device("dev_name"))));
    mgr = load();
    ASSERT_EQ(mgr->get_flash_map().count("Cypress"), 1u);
    struct CASE {
        std::string name;
        unsigned warning;
        std::string text;
    };
    const CASE cases[] = {
        {"", 20673,
         "Template name '' is invalid as it contains either an empty string or special "
         "characters."},
        {"db", 20673,
         "Template name 'db' is invalid as it contains either an empty string or special "
         "characters."},
        {"my tpl", 20673,
         "Template name 'my tpl' is invalid as it contains either an empty string or special "
         "characters."},
        // Reserved and an existing device at once: only the reserved-name rule speaks.
        {"Cypress", 20674,
         "Template name 'Cypress' is invalid as it conflicts with the reserved name for the "
         "programming flow template."},
        {"taken_tpl", 20676,
         "Template name 'taken_tpl' is invalid as it already exist in the template database."},
        {"dev_name", 20675,
         "Tempate name 'dev_name' is invalid as it conflicts with existing device name in the "
         "device database."},
    };
    for (const CASE& c : cases) {
        std::string text;
        unsigned warning = 0;
        EXPECT_FALSE(judge([&](std::string* m) { return mgr->template_name_is_valid(c.name, m); },
                           text, warning))
            << c.name;
        EXPECT_EQ(warning, c.warning) << c.name;
        EXPECT_EQ(text, c.text);
    }
    std::string text = "untouched";
    EXPECT_TRUE(mgr->template_name_is_valid("fresh_tpl", &text));
    EXPECT_TRUE(mgr->template_name_is_valid("cypress", &text));
    EXPECT_EQ(text, "untouched");
}

TEST_F(QspiChecks, TemplateNameConflictsWithALegacyDeviceOfAnyFamily) {
    programmer.write("dev/legacy_flash.ini",
                     "[OLD3V]\nenabled = 1\nio_voltage = 3.0V/3.3V\ngroup = g\norder = 1\n");
    mgr = load();
    mgr->set_active_device_family(static_cast<DEV_FAMILY_ENUM>(28));  // a 1.8V family
    std::string text;
    EXPECT_FALSE(mgr->template_name_is_valid("OLD3V", &text));
    EXPECT_EQ(text.rfind("Tempate name 'OLD3V'", 0), 0u);
}

TEST_F(QspiChecks, ParameterDispatch) {
    for (VORN_FLASH_PARAM p :
         {VORN_FLASH_PARAM_NAME, VORN_FLASH_PARAM_ID, VORN_FLASH_PARAM_IO_VOLTAGE,
          VORN_FLASH_PARAM_DENSITY, VORN_FLASH_PARAM_TOTAL_DIE, VORN_FLASH_PARAM_DUMMY_CLK_CYCLE,
          VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, VORN_FLASH_PARAM_TEMPLATE_NAME,
          VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE})
        EXPECT_TRUE(mgr->is_parameter_valid(p)) << p;
    EXPECT_FALSE(mgr->is_parameter_valid(static_cast<VORN_FLASH_PARAM>(9)));

    std::string text;
    unsigned warning = 0;
    auto text_check = [&](VORN_FLASH_PARAM p, const std::string& v) {
        return judge([&](std::string* m) { return mgr->is_parameter_valid(p, v, m); }, text,
                     warning);
    };
    auto number_check = [&](VORN_FLASH_PARAM p, unsigned v) {
        return judge([&](std::string* m) { return mgr->is_parameter_valid(p, v, m); }, text,
                     warning);
    };
    EXPECT_FALSE(text_check(VORN_FLASH_PARAM_ID, "0xZZ"));
    EXPECT_EQ(warning, 20477u);
    EXPECT_FALSE(text_check(VORN_FLASH_PARAM_TEMPLATE_NAME, "Winbond"));
    EXPECT_EQ(warning, 20674u);
    EXPECT_FALSE(text_check(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE, "Spansion"));
    EXPECT_EQ(warning, 20481u);
    EXPECT_FALSE(number_check(VORN_FLASH_PARAM_TOTAL_DIE, 0));
    EXPECT_EQ(warning, 20479u);
    EXPECT_FALSE(number_check(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, 16));
    EXPECT_EQ(warning, 20543u);
    EXPECT_FALSE(number_check(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, 17));
    EXPECT_EQ(text, "Device dummy clock cycle '17' is invalid.");
    // The base rules answer for the others, through the QSPI choice lists.
    EXPECT_FALSE(text_check(VORN_FLASH_PARAM_DENSITY, "4096Mb"));
    EXPECT_EQ(warning, 20478u);
    EXPECT_TRUE(text_check(VORN_FLASH_PARAM_DENSITY, "2048Mb"));
    EXPECT_FALSE(text_check(VORN_FLASH_PARAM_IO_VOLTAGE, "3.3V"));
    EXPECT_EQ(warning, 20476u);
    EXPECT_TRUE(text_check(VORN_FLASH_PARAM_NAME, "brand_new_part"));

    EXPECT_STREQ(vorn_test::internal_error_of([&] {
                     mgr->is_parameter_valid(VORN_FLASH_PARAM_TOTAL_DIE, "1", &text);
                 }).what(),
                 "Unknown flash parameter: 4");
    EXPECT_STREQ(vorn_test::internal_error_of([&] {
                     mgr->is_parameter_valid(VORN_FLASH_PARAM_ID, 1u, &text);
                 }).what(),
                 "Unknown flash parameter: 1");
}

TEST_F(QspiChecks, LegacyMembershipMatchesTheLegacyList) {
    programmer.write("dev/families.ini",
                     "[28]\nname = Low\nenabled = 1\nsdm = 1\nflash_io_voltage = 1.8V\n"
                     "[48]\nname = High\nenabled = 1\nsdm = 0\nflash_io_voltage = 3.0V/3.3V\n");
    programmer.write("dev/legacy_flash.ini",
                     "[SCDV16]\nenabled = 1\nio_voltage = 3.0V/3.3V\ngroup = s\norder = 2\n"
                     "[QX64]\nenabled = 1\nio_voltage = 3.0V/3.3V\ngroup = q\norder = 1\n"
                     "[QL128]\nenabled = 1\nio_voltage = 1.8V\ngroup = q\norder = 1\n");
    for (bool skip : {false, true}) {
        cfg_set_switch("pgm_vorn_skip_device_filtering", skip);
        mgr = load();
        for (int family : {28, 48, 99}) {
            for (int scheme : {7, 13, 23}) {
                mgr->set_active_device_family(static_cast<DEV_FAMILY_ENUM>(family));
                mgr->set_active_config_mode(static_cast<PGMIO_CONFIG_SCHEME>(scheme));
                for (bool ignore : {false, true}) {
                    const auto list = mgr->get_legacy_config_device_list(
                        static_cast<DEV_FAMILY_ENUM>(family),
                        static_cast<PGMIO_CONFIG_SCHEME>(scheme), ignore);
                    for (const char* name : {"SCDV16", "QX64", "QL128", "NOPE", ""}) {
                        const bool listed = std::find(list.begin(), list.end(), name) != list.end();
                        EXPECT_EQ(mgr->device_is_legacy(name, ignore), listed)
                            << name << " family " << family << " scheme " << scheme << " ignore "
                            << ignore << " skip " << skip;
                    }
                }
            }
        }
    }
}

// ---- the shipped database -----------------------------------------------------------

TEST_F(QspiChecks, EveryShippedDevicePassesEveryValueCheck) {
    ASSERT_FALSE(mgr->get_flash_map().empty());
    for (const auto& entry : mgr->get_flash_map()) {
        SCOPED_TRACE(entry.first);
        VORN_FLASH* f = entry.second;
        std::string text;
        EXPECT_TRUE(mgr->is_valid_name(const_cast<std::string&>(entry.first)));
        EXPECT_TRUE(mgr->device_id_is_valid(f->get_parameter_value(VORN_FLASH_PARAM_ID), &text));
        EXPECT_TRUE(mgr->device_io_voltage_is_valid(
            f->get_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE), &text));
        EXPECT_TRUE(mgr->device_density_is_valid(f->get_density(), &text));
        EXPECT_TRUE(mgr->total_device_die_is_valid(
            f->get_parameter_value_in_dword(VORN_FLASH_PARAM_TOTAL_DIE, nullptr), &text));
        EXPECT_TRUE(mgr->dummy_clock_cycle_is_valid(
            f->get_parameter_value_in_dword(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, nullptr), &text));
        EXPECT_TRUE(mgr->dummy_clock_cycle_is_valid(
            f->get_parameter_value_in_dword(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, nullptr), &text));
        EXPECT_TRUE(mgr->prog_flow_template_is_valid(
            f->get_parameter_value(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE), &text));
        // A built-in device's ID identifies it: its manufacturer byte comes first.
        unsigned int mask = 0;
        f->get_parameter_value_in_dword(VORN_FLASH_PARAM_ID, &mask);
        EXPECT_GE(mask, 0xFFFFu);
    }
}

TEST_F(QspiChecks, EveryShippedFlowPassesEveryPropertyCheck) {
    auto check_flow = [](const std::vector<VORN_OPERATION*>& ops, const std::string& where) {
        ASSERT_EQ(ops.size(), 5u) << where;
        size_t actions = 0;
        for (size_t i = 0; i < ops.size(); ++i) {
            EXPECT_EQ(ops[i]->get_type(), static_cast<VORN_OP_TYPE>(i)) << where;
            for (const VORN_ACTION* act : *ops[i]->get_action_list()) {
                ++actions;
                for (VORN_ACT_PROPERTY p : act->get_property_enum_list()) {
                    std::string text;
                    EXPECT_TRUE(act->property_value_is_valid(p, act->get_property_value(p), &text))
                        << where << " / " << ops[i]->get_name() << " / " << act->get_name() << ": "
                        << text;
                }
            }
        }
        // Program, erase and verify need at least one action each to do anything.
        EXPECT_FALSE(ops[VORN_OP_TYPE_PROGRAM]->get_action_list()->empty()) << where;
        EXPECT_FALSE(ops[VORN_OP_TYPE_ERASE]->get_action_list()->empty()) << where;
        EXPECT_GT(actions, 3u) << where;
    };
    for (int t = VORN_PROG_FLOW_TEMPLATE_MICRON; t <= VORN_PROG_FLOW_TEMPLATE_ISSI; ++t) {
        for (VORN_PROG_FLOW_TYPE type : {VORN_PROG_FLOW_TYPE_SFL, VORN_PROG_FLOW_TYPE_SDM}) {
            check_flow(*mgr->get_prog_flow_template_operation_list(
                           static_cast<VORN_PROG_FLOW_TEMPLATE>(t), type),
                       std::string(VORN_PROG_FLOW_TEMPLATE_NAME[t]) +
                           (type == VORN_PROG_FLOW_TYPE_SDM ? " SDM" : " SFL"));
        }
    }
    for (const auto& entry : mgr->get_flash_map()) {
        check_flow(*entry.second->get_operation_list(VORN_PROG_FLOW_TYPE_SFL),
                   entry.first + " SFL");
        check_flow(*entry.second->get_operation_list(VORN_PROG_FLOW_TYPE_SDM),
                   entry.first + " SDM");
    }
}

TEST_F(QspiChecks, ShippedDatabaseLoadsWithoutAWarning) {
    vorn_test::MessageCapture capture;
    auto fresh = load();
    EXPECT_TRUE(capture.messages().empty());
}

}  // namespace
