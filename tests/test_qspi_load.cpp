// Loading the QSPI database: sources, precedence, duplicates, rejected user files, golden
// template defects and teardown.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "test_qspi_fixture.h"

using namespace qspi_test;

namespace {

constexpr unsigned kDuplicateId = 20482;
constexpr unsigned kInvalidDieId = 20479;

class QspiLoad : public QspiTest {};

bool has_flash(VORN_QSPI_MGR& mgr, const std::string& name) {
    return mgr.get_flash_map().count(name) > 0;
}

TEST_F(QspiLoad, FreshManagerStateAndShippedDatabase) {
    auto mgr = load();
    EXPECT_EQ(mgr->get_flash_family(), DEV_FAMILY_QSPI_FLASH);
    EXPECT_EQ(mgr->get_active_device_family(), 73);
    EXPECT_EQ(mgr->get_active_config_mode(), PGMIO_CONFIG_SCHEME_AS_X4);
    EXPECT_FALSE(mgr->get_use_sdm_mode());
    EXPECT_EQ(mgr->get_current_flash(), nullptr);
    EXPECT_GE(mgr->get_flash_map().size(), 40u);
    for (const auto& entry : mgr->get_flash_map()) {
        EXPECT_FALSE(entry.second->get_flash_removable_permission()) << entry.first;
        EXPECT_EQ(entry.second->get_db_dir(), FIO_PATH(programmer.xml_dir()).full_directory());
        EXPECT_EQ(mgr->get_zentro_dir_map().count(entry.first), 1u);
        EXPECT_EQ(mgr->get_flash_db_active_dir_map().at(entry.first),
                  mgr->get_zentro_dir_map().at(entry.first));
    }
    EXPECT_TRUE(mgr->get_custom_dir_map().empty());
    EXPECT_TRUE(mgr->get_user_template_list().empty());
}

TEST_F(QspiLoad, DeviceInformationAndLegacyListComeFromTheHostTables) {
    programmer.write("dev/families.ini",
                     "[0]\nname = none\nenabled = 1\nflash_io_voltage = 1.8V\n"
                     "[40]\nname = Off\nenabled = 0\nsdm = 1\nflash_io_voltage = 1.8V\n"
                     "[41]\nname = Low\nenabled = 1\nsdm = 1\nflash_io_voltage = 1.8V\n"
                     "[42]\nname = High\nenabled = 1\nsdm = 0\nflash_io_voltage = 3.0V/3.3V\n");
    programmer.write("dev/legacy_flash.ini",
                     "[OLDA]\nenabled = 1\nio_voltage = 1.8V\ngroup = g\norder = 1\n"
                     "[OLDB]\nenabled = 0\nio_voltage = 1.8V\ngroup = g\norder = 2\n"
                     "[OLDC]\nenabled = 1\nio_voltage = \ngroup = g\norder = 3\n");
    auto mgr = load();
    EXPECT_EQ(mgr->get_device_family_list(),
              (std::vector<DEV_FAMILY_ENUM>{static_cast<DEV_FAMILY_ENUM>(41),
                                            static_cast<DEV_FAMILY_ENUM>(42)}));
    EXPECT_TRUE(mgr->get_dev_info_map().at(static_cast<DEV_FAMILY_ENUM>(41)).use_sdm_mode);
    EXPECT_EQ(mgr->get_dev_info_map().at(static_cast<DEV_FAMILY_ENUM>(42)).io_voltage, "3.0V/3.3V");
    // Disabled records and records without a voltage are not legacy devices.
    EXPECT_EQ(mgr->get_legacy_flash_map(), (std::map<std::string, std::string>{{"OLDA", "1.8V"}}));
}

TEST_F(QspiLoad, UserFilesOfBothDirectoriesAreLoadedWithTheirSource) {
    write_zentro("pgm_flash_zen.xml", document(flash_xml(device("ZEN1"))));
    write_custom("pgm_flash_cus.xml", document(flash_xml(device("CUS1")) + template_xml("tplA")));
    write_custom("other_name.xml", document(flash_xml(device("IGNORED"))));
    auto mgr = load();

    ASSERT_TRUE(has_flash(*mgr, "ZEN1"));
    ASSERT_TRUE(has_flash(*mgr, "CUS1"));
    EXPECT_FALSE(has_flash(*mgr, "IGNORED"));
    VORN_FLASH* zen = mgr->get_flash_map().at("ZEN1");
    EXPECT_TRUE(zen->get_flash_removable_permission());
    EXPECT_EQ(zen->get_db_dir(), FIO_PATH(programmer.xml_dir()).full_directory());
    EXPECT_EQ(mgr->get_zentro_dir_map().at("ZEN1"), programmer.file("xml/pgm_flash_zen.xml"));
    EXPECT_EQ(mgr->get_custom_dir_map().at("CUS1"), custom.file("pgm_flash_cus.xml"));
    EXPECT_EQ(mgr->get_flash_map().at("CUS1")->get_db_dir(), custom.path());
    EXPECT_EQ(mgr->get_user_template_list(), std::vector<std::string>{"tplA"});
    EXPECT_EQ(mgr->get_template_db_dir_map().at("tplA"), custom.file("pgm_flash_cus.xml"));

    // Values are taken as written.
    VORN_FLASH* cus = mgr->get_flash_map().at("CUS1");
    EXPECT_EQ(cus->get_parameter_value(VORN_FLASH_PARAM_ID), "0x20 0xBB 0x19");
    EXPECT_EQ(cus->get_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE), "1.8V");
    EXPECT_EQ(cus->get_density(), "256Mb");
    EXPECT_EQ(cus->get_parameter_value_in_dword(VORN_FLASH_PARAM_TOTAL_DIE, nullptr), 1u);
    EXPECT_EQ(cus->get_parameter_value_in_dword(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, nullptr), 10u);
    EXPECT_EQ(cus->get_parameter_value(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE), "Micron");
    EXPECT_EQ(cus->get_operation_list(VORN_PROG_FLOW_TYPE_SFL)->size(), 5u);
    EXPECT_EQ(cus->get_operation_list(VORN_PROG_FLOW_TYPE_SDM)->size(), 5u);
}

TEST_F(QspiLoad, EmptyDirectoriesAndEmptyDocumentsAddNothing) {
    auto plain = load();
    const size_t shipped = plain->get_flash_map().size();
    write_zentro("pgm_flash_empty.xml", document(""));
    write_custom("pgm_flash_empty.xml", document(""));
    auto mgr = load();
    EXPECT_EQ(mgr->get_flash_map().size(), shipped);
    EXPECT_TRUE(mgr->get_user_template_list().empty());
}

TEST_F(QspiLoad, GoldenAndZentroShareOneDuplicateDomain) {
    auto plain = load();
    const std::string builtin = plain->get_flash_map().begin()->first;
    plain.reset();

    DEVICE clash = device(builtin);
    clash.id = "0x01 0x02";
    write_zentro("pgm_flash_dup.xml",
                 document(flash_xml(device("BEFORE")) + flash_xml(clash) +
                          flash_xml(device("AFTER")) + template_xml("dropped_tpl")));
    vorn_test::MessageCapture capture;
    auto mgr = load();

    ASSERT_TRUE(capture.has_id(kDuplicateId));
    for (const auto& m : capture.messages()) {
        if (m.id != kDuplicateId) continue;
        EXPECT_NE(m.text.find("'" + builtin + "'"), std::string::npos) << m.text;
        EXPECT_NE(m.text.find(FIO_PATH(programmer.xml_dir()).full_directory()), std::string::npos)
            << m.text;
    }
    EXPECT_TRUE(has_flash(*mgr, "BEFORE"));
    EXPECT_FALSE(has_flash(*mgr, "AFTER"));
    EXPECT_TRUE(mgr->get_user_template_list().empty());
    // The built-in record survives untouched.
    EXPECT_FALSE(mgr->get_flash_map().at(builtin)->get_flash_removable_permission());
    EXPECT_NE(mgr->get_flash_map().at(builtin)->get_parameter_value(VORN_FLASH_PARAM_ID),
              "0x01 0x02");
}

TEST_F(QspiLoad, CustomDeviceReplacesTheBuiltInOne) {
    auto plain = load();
    const std::string builtin = plain->get_flash_map().begin()->first;
    plain.reset();

    DEVICE replacement = device(builtin);
    replacement.id = "0xC2 0x25 0x3A";
    write_custom("pgm_flash_repl.xml", document(flash_xml(replacement)));
    vorn_test::MessageCapture capture;
    auto mgr = load();

    EXPECT_FALSE(capture.has_id(kDuplicateId));
    VORN_FLASH* flash = mgr->get_flash(builtin, true);
    ASSERT_NE(flash, nullptr);
    EXPECT_TRUE(flash->get_flash_removable_permission());
    EXPECT_EQ(flash->get_db_dir(), custom.path());
    EXPECT_EQ(flash->get_parameter_value(VORN_FLASH_PARAM_ID), "0xC2 0x25 0x3A");
    EXPECT_EQ(mgr->get_flash_db_active_dir_map().at(builtin), custom.file("pgm_flash_repl.xml"));
    EXPECT_EQ(mgr->get_custom_dir_map().count(builtin), 1u);
    EXPECT_EQ(mgr->get_zentro_dir_map().count(builtin), 1u);
}

TEST_F(QspiLoad, SameNameTwiceInOneCustomFileKeepsTheFirst) {
    DEVICE second = device("TWICE");
    second.id = "0xEF 0x40";
    write_custom("pgm_flash_twice.xml", document(flash_xml(device("TWICE")) + flash_xml(second)));
    vorn_test::MessageCapture capture;
    auto mgr = load();
    EXPECT_TRUE(capture.has_id(kDuplicateId));
    ASSERT_TRUE(has_flash(*mgr, "TWICE"));
    EXPECT_EQ(mgr->get_flash_map().at("TWICE")->get_parameter_value(VORN_FLASH_PARAM_ID),
              "0x20 0xBB 0x19");
}

TEST_F(QspiLoad, CustomDirectoryEqualToZentroIsReadOnce) {
    write_zentro("pgm_flash_once.xml", document(flash_xml(device("ONCE"))));
    // A differently spelt path to the same directory still counts as the same one.
    VORN_MGR::set_db_custom_dir(programmer.path() + "/xml");
    vorn_test::MessageCapture capture;
    auto mgr = load();
    EXPECT_FALSE(capture.has_id(kDuplicateId));
    EXPECT_TRUE(has_flash(*mgr, "ONCE"));
    EXPECT_TRUE(mgr->get_custom_dir_map().empty());
    EXPECT_FALSE(capture.has_trace("Parsing XML file in custom directory: " +
                                   programmer.file("xml/pgm_flash_once.xml")));
}

TEST_F(QspiLoad, EachFileIsTracedAndTheGoldenTemplateIsNotReadAgain) {
    write_zentro("pgm_flash_a.xml", document(""));
    write_custom("pgm_flash_b.xml", document(""));
    vorn_test::MessageCapture capture;
    auto mgr = load();
    EXPECT_TRUE(capture.has_trace("Parsing XML file in Zentro directory: " +
                                  programmer.file("xml/pgm_flash_a.xml")));
    EXPECT_TRUE(capture.has_trace("Parsing XML file in custom directory: " +
                                  custom.file("pgm_flash_b.xml")));
    EXPECT_FALSE(capture.has_trace("Parsing XML file in Zentro directory: " +
                                   programmer.file("xml/pgm_flash_db_qspi.xml")));
}

TEST_F(QspiLoad, BrokenUserFilesAreSkippedWithATraceAndNeverStopTheLoad) {
    write_zentro("pgm_flash_bad1.xml", "<QSPI_FLASH version=\"1\"><FLASH>");
    write_zentro("pgm_flash_bad2.xml", document("<FLASH><DEVICE_INFO/></FLASH>"));
    write_custom("pgm_flash_bad3.xml", "not xml at all");
    write_custom("pgm_flash_bad4.xml",
                 "<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY e SYSTEM \"file:///etc/passwd\">]>"
                 "<QSPI_FLASH version=\"1\">&e;</QSPI_FLASH>");
    write_custom("pgm_flash_good.xml", document(flash_xml(device("GOOD"))));
    vorn_test::MessageCapture capture;
    std::unique_ptr<VORN_QSPI_MGR> mgr;
    ASSERT_NO_THROW(mgr = load());
    EXPECT_TRUE(has_flash(*mgr, "GOOD"));
    int skipped = 0;
    for (const auto& t : capture.traces())
        if (t.rfind("Skip pgm_flash_bad", 0) == 0 &&
            t.find(" due to parsing error: ") != std::string::npos)
            ++skipped;
    EXPECT_EQ(skipped, 4);
}

TEST_F(QspiLoad, ADeviceFailingAValueCheckStopsItsFile) {
    struct CASE {
        const char* what;
        void (*spoil)(DEVICE&);
        unsigned warning;
    };
    const CASE cases[] = {
        {"id", [](DEVICE& d) { d.id = "0x1G"; }, 20477},
        {"voltage", [](DEVICE& d) { d.io_voltage = "2.5V"; }, 20476},
        {"density", [](DEVICE& d) { d.density = "3Mb"; }, 20478},
        {"die", [](DEVICE& d) { d.total_die = "0"; }, kInvalidDieId},
        {"dummy", [](DEVICE& d) { d.dummy = "16"; }, 20543},
        {"dummy x4", [](DEVICE& d) { d.dummy_x4 = "99"; }, 20543},
        {"action property",
         [](DEVICE& d) { d.sdm.verify = read_reg("Poll", "0x05", "0xZZ", "0x01"); }, 20495},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        DEVICE bad = device("BAD");
        c.spoil(bad);
        write_custom("pgm_flash_check.xml",
                     document(flash_xml(device("FIRST")) + flash_xml(bad) +
                              flash_xml(device("LAST")) + template_xml("tpl_after")));
        vorn_test::MessageCapture capture;
        auto mgr = load();
        EXPECT_TRUE(capture.has_id(c.warning));
        EXPECT_TRUE(has_flash(*mgr, "FIRST"));
        EXPECT_FALSE(has_flash(*mgr, "BAD"));
        EXPECT_FALSE(has_flash(*mgr, "LAST"));
        EXPECT_TRUE(mgr->get_user_template_list().empty());
    }
}

TEST_F(QspiLoad, AllSixChecksRunEvenAfterTheFirstFails) {
    DEVICE bad = device("BAD");
    bad.id = "";
    bad.total_die = "0";
    bad.dummy_x4 = "20";
    write_custom("pgm_flash_check.xml", document(flash_xml(bad)));
    vorn_test::MessageCapture capture;
    auto mgr = load();
    EXPECT_TRUE(capture.has_id(20477));
    EXPECT_TRUE(capture.has_id(kInvalidDieId));
    EXPECT_TRUE(capture.has_id(20543));
}

TEST_F(QspiLoad, RepeatedTemplateNameDropsTheRestOfTheFilesTemplates) {
    write_custom("pgm_flash_t1.xml", document(template_xml("tpl_one")));
    write_custom("pgm_flash_t2.xml",
                 document(flash_xml(device("DEV_IN_T2")) + template_xml("tpl_two") +
                          template_xml("tpl_one") + template_xml("tpl_three")));
    vorn_test::MessageCapture capture;
    auto mgr = load();
    EXPECT_EQ(mgr->get_user_template_list(), (std::vector<std::string>{"tpl_one", "tpl_two"}));
    EXPECT_EQ(mgr->get_template_db_dir_map().at("tpl_one"), custom.file("pgm_flash_t1.xml"));
    EXPECT_TRUE(has_flash(*mgr, "DEV_IN_T2"));
    EXPECT_TRUE(capture.messages().empty());
}

TEST_F(QspiLoad, TemplateWithARejectedPropertyIsDroppedAlone) {
    FLOW bad;
    bad.program = write_reg("Bad Command", "0x106");
    write_custom("pgm_flash_t.xml",
                 document(template_xml("tpl_bad", bad) + template_xml("tpl_good")));
    vorn_test::MessageCapture capture;
    auto mgr = load();
    EXPECT_TRUE(capture.has_id(20486));
    EXPECT_EQ(mgr->get_user_template_list(), std::vector<std::string>{"tpl_good"});
}

TEST_F(QspiLoad, GetNewInstanceReadsTheFilesAgain) {
    auto mgr = load();
    EXPECT_FALSE(has_flash(*mgr, "LATE"));
    write_custom("pgm_flash_late.xml", document(flash_xml(device("LATE"))));
    std::unique_ptr<VORN_MGR> renewed(mgr->get_new_instance());
    ASSERT_NE(dynamic_cast<VORN_QSPI_MGR*>(renewed.get()), nullptr);
    EXPECT_EQ(renewed->get_flash_map().count("LATE"), 1u);
    EXPECT_FALSE(has_flash(*mgr, "LATE"));
}

TEST_F(QspiLoad, CreateFlashDeletesOnlyALegacyPredecessor) {
    programmer.write("dev/legacy_flash.ini",
                     "[OLDA]\nenabled = 1\nio_voltage = 1.8V\ngroup = g\norder = 1\n");
    auto mgr = load();
    VORN_FLASH* first = mgr->create_flash("NEWDEV");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->get_family(), DEV_FAMILY_QSPI_FLASH);
    EXPECT_EQ(mgr->get_current_flash(), first);
    VORN_FLASH* second = mgr->create_flash("OLDA");
    EXPECT_EQ(mgr->get_current_flash(), second);
    // The first was not legacy, so it is still the caller's; touching it must be safe.
    EXPECT_EQ(first->get_name(), "NEWDEV");
    delete first;
    // A legacy current record is released by the next create_flash (and by teardown).
    VORN_FLASH* third = mgr->create_flash("OLDA");
    EXPECT_NE(third, nullptr);
    EXPECT_EQ(mgr->get_current_flash(), third);
}

TEST_F(QspiLoad, TeardownReleasesALegacyCurrentRecord) {
    programmer.write("dev/legacy_flash.ini",
                     "[OLDA]\nenabled = 1\nio_voltage = 1.8V\ngroup = g\norder = 1\n");
    auto mgr = load();
    ASSERT_NE(mgr->get_flash("OLDA", true), nullptr);
    mgr.reset();  // the sanitizer build reports the record if it is not released
}

// ---- golden template defects ------------------------------------------------------------

class QspiGolden : public QspiTest {};

TEST_F(QspiGolden, MinimalGoldenTemplateLoads) {
    write_golden(golden_document(all_vendors(), flash_xml(device("ONLY"))));
    auto mgr = load();
    EXPECT_EQ(mgr->get_flash_map().size(), 1u);
    for (int t = VORN_PROG_FLOW_TEMPLATE_MICRON; t <= VORN_PROG_FLOW_TEMPLATE_ISSI; ++t) {
        auto tpl = static_cast<VORN_PROG_FLOW_TEMPLATE>(t);
        EXPECT_EQ(mgr->get_prog_flow_template_operation_list(tpl, VORN_PROG_FLOW_TYPE_SFL)->size(),
                  5u);
    }
}

TEST_F(QspiGolden, MissingFileNamesItsPath) {
    programmer.write("xml/placeholder", "");
    std::remove(programmer.file("xml/pgm_flash_db_qspi.xml").c_str());
    EXPECT_EQ(load_error(), programmer.path() + "xml/pgm_flash_db_qspi.xml not found.");
}

TEST_F(QspiGolden, MissingOrRepeatedVendor) {
    const std::string vendors[] = {"MICRON", "MACRONIX", "CYPRESS", "WINBOND", "ISSI"};
    for (size_t skip = 0; skip < 5; ++skip) {
        std::string missing;
        std::string twice;
        for (size_t i = 0; i < 5; ++i) {
            if (i != skip) missing += vendor_xml(vendors[i]);
            twice += vendor_xml(vendors[i]);
            if (i == skip) twice += vendor_xml(vendors[i]);
        }
        const std::string expected =
            "template_list.at(0)->get_child_count(PGM_COMMON_XML_ENUM_" + vendors[skip] + ") == 1";
        write_golden(golden_document(missing, ""));
        EXPECT_EQ(load_error(), expected) << "missing " << vendors[skip];
        write_golden(golden_document(twice, ""));
        EXPECT_EQ(load_error(), expected) << "twice " << vendors[skip];
    }
}

// Every defect of the shipped file stops the load; built-in devices and vendor flows already in
// memory when it is met are released by the throwing constructor (the sanitizer build checks).
TEST_F(QspiGolden, DefectsAreInternalErrors) {
    DEVICE bad_die = device("BAD");
    bad_die.total_die = "0";
    DEVICE bad_dummy = device("BAD");
    bad_dummy.dummy = "16";
    std::string five;
    for (int i = 0; i < 5; ++i) five += flash_xml(device("D" + std::to_string(i)));
    FLOW bad_flow;
    bad_flow.initialization = write_reg("Write Enable", "0x06 0x07");
    FLOW untyped;
    untyped.erase = "<ACTION>" + leaf("NAME", "x") + "</ACTION>";
    auto with_micron_and_cypress = [](const FLOW& micron, const FLOW& cypress) {
        return golden_document(vendor_xml("MICRON", micron) + vendor_xml("MACRONIX") +
                                   vendor_xml("CYPRESS", cypress) + vendor_xml("WINBOND") +
                                   vendor_xml("ISSI"),
                               "");
    };
    const std::pair<std::string, const char*> cases[] = {
        {"<QSPI_FLASH version=\"1\"><GOLDEN_TEMPLATE>", "*object != 0"},
        {document(flash_xml(device("ONLY"))),
         "object->get_child_count(PGM_COMMON_XML_ENUM_GOLDEN_TEMPLATE) == 1"},
        {golden_document(all_vendors(), flash_xml(device("GOOD")) + flash_xml(bad_die)), "status"},
        {golden_document(all_vendors(), five + flash_xml(bad_dummy)), "status"},
        {with_micron_and_cypress(FLOW(), bad_flow), "status"},
        {with_micron_and_cypress(untyped, FLOW()), "Unknown action type"},
    };
    for (const auto& [text, error] : cases) {
        write_golden(text);
        EXPECT_EQ(load_error(), error) << text;
    }
    vorn_test::MessageCapture capture;
    write_golden(
        golden_document(all_vendors(), flash_xml(device("SAME")) + flash_xml(device("SAME"))));
    EXPECT_EQ(load_error(), "status");
    EXPECT_TRUE(capture.has_id(kDuplicateId));
}

}  // namespace
