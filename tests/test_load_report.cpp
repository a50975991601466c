// What reading a user file found: the loaders' report of the files they did not take whole,
// and vorn_check_user_file, which judges every value of a file with the loaders' reading and
// says where each refused one stands.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_qspi_fixture.h"

using namespace qspi_test;

namespace {

// A finding as a host shows it: "line id severity name field=value".
std::string shown(const VORN_LOAD_FINDING& f) {
    return std::to_string(f.line) + " " + std::to_string(f.id) + " " +
           std::string(1, f.severity ? f.severity : '-') + " " + f.name + " " + f.field + "=" +
           f.value;
}

}  // namespace

class LoadReport : public QspiTest {
  protected:
    // Device A (line 2) with a density no list holds, device B (line 3) with no dies, and
    // template T (line 4) with a command of three digits.
    std::string three_problems() {
        DEVICE a = device("A");
        a.density = "3Mb";
        DEVICE b = device("B");
        b.total_die = "0";
        return document(flash_xml(a) + "\n" + flash_xml(b) + "\n" +
                        template_xml("T", FLOW{write_reg("Write Enable", "0x106")}));
    }
    // The loader's reports on the custom directory (the shipped directory holds the SD/MMC
    // golden template, which the QSPI loader reads and refuses like any file of the other
    // family).
    std::vector<const VORN_LOAD_REPORT*> custom_reports(const VORN_MGR& mgr) {
        std::vector<const VORN_LOAD_REPORT*> out;
        for (const VORN_LOAD_REPORT& r : mgr.get_load_report())
            if (r.file.rfind(custom.path(), 0) == 0) out.push_back(&r);
        return out;
    }
    vorn_test::MessageCapture capture;
};

TEST_F(LoadReport, ACheckGoesOnWhereALoadStopsAndNamesEachLine) {
    write_custom("pgm_flash_bad.xml", three_problems());
    auto mgr = load();

    // The load stops at the first refused device and says so without lines.
    const std::vector<const VORN_LOAD_REPORT*> loaded = custom_reports(*mgr);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0]->file, custom.file("pgm_flash_bad.xml"));
    EXPECT_FALSE(loaded[0]->loaded);
    ASSERT_EQ(loaded[0]->findings.size(), 1u);
    EXPECT_EQ(loaded[0]->findings[0].id, 20478u);

    const VORN_USER_FILE_REPORT report =
        vorn_check_user_file(mgr.get(), nullptr, custom.file("pgm_flash_bad.xml"));
    EXPECT_TRUE(report.read);
    EXPECT_FALSE(report.loaded);
    EXPECT_TRUE(report.findings.empty());
    ASSERT_EQ(report.devices.size(), 2u);
    ASSERT_EQ(report.templates.size(), 1u);

    const VORN_LOAD_ENTRY& a = report.devices[0];
    EXPECT_EQ(a.name + " " + std::to_string(a.line), "A 2");
    ASSERT_EQ(a.findings.size(), 1u);
    EXPECT_EQ(shown(a.findings[0]), "2 20478 W VORN_INVALID_DEVICE_DENSITY density=3Mb");
    EXPECT_EQ(a.record, nullptr);

    const VORN_LOAD_ENTRY& b = report.devices[1];
    EXPECT_EQ(b.name + " " + std::to_string(b.line), "B 3");
    ASSERT_EQ(b.findings.size(), 1u);
    EXPECT_EQ(shown(b.findings[0]), "3 20479 W VORN_INVALID_TOTAL_DEVICE_DIE total dies=0");

    const VORN_LOAD_ENTRY& t = report.templates[0];
    EXPECT_EQ(t.name + " " + std::to_string(t.line), "T 4");
    ASSERT_EQ(t.findings.size(), 1u);
    EXPECT_EQ(shown(t.findings[0]),
              "4 20486 W VORN_INVALID_ACTION_COMMAND_WITH_EMPTY_STRING_OR_SPECIAL_CHAR =");
    EXPECT_EQ(t.record, nullptr);
    // The validators still post: a host that shows messages sees them.
    EXPECT_GT(capture.count_id(20486), 0u);
}

TEST_F(LoadReport, AnAcceptedFileGivesTheRecordsALoadStores) {
    DEVICE d = device("GOOD");
    d.sfl.initialization = write_reg("Write Enable", "0x06");
    d.sdm.program = read_reg("Read Status", "0x05", "0x00", "0x01", "7");
    write_custom("pgm_flash_good.xml",
                 document(flash_xml(d) + template_xml("FLOWS", FLOW{write_reg("WE", "0x06")})));
    auto mgr = load();
    EXPECT_TRUE(custom_reports(*mgr).empty()) << "a file taken whole draws no report";

    VORN_USER_FILE_REPORT report =
        vorn_check_user_file(mgr.get(), nullptr, custom.file("pgm_flash_good.xml"));
    EXPECT_TRUE(report.loaded);
    EXPECT_FALSE(report.sdmmc);
    ASSERT_EQ(report.devices.size(), 1u);
    ASSERT_NE(report.devices[0].record, nullptr);
    EXPECT_TRUE(report.devices[0].findings.empty());
    EXPECT_EQ(text_of(*mgr, report.devices[0].record.get()),
              text_of(*mgr, mgr->get_flash_map().at("GOOD")));

    ASSERT_EQ(report.templates.size(), 1u);
    VORN_FLASH* carrier = report.templates[0].record.get();
    ASSERT_NE(carrier, nullptr);
    EXPECT_EQ(carrier->get_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME), "FLOWS");
    std::string name = "FLOWS";
    const auto* stored = mgr->get_user_template_operation_list(name, VORN_PROG_FLOW_TYPE_SFL);
    const auto* read = carrier->get_operation_list(VORN_PROG_FLOW_TYPE_SFL);
    ASSERT_EQ(read->size(), stored->size());
    ASSERT_EQ(read->front()->get_action_list()->size(), 1u);
    EXPECT_EQ(values_of(read->front()->get_action_list()->front()),
              values_of(stored->front()->get_action_list()->front()));
}

TEST_F(LoadReport, ASuppressedWarningStillNamesTheRefusedValue) {
    DEVICE d = device("A");
    d.density = "3Mb";
    write_custom("pgm_flash_a.xml", document(flash_xml(d)));
    auto mgr = load();
    MSG_INDEX::get_default_index()->set_suppressed(20478, true);
    const VORN_USER_FILE_REPORT report =
        vorn_check_user_file(mgr.get(), nullptr, custom.file("pgm_flash_a.xml"));
    MSG_INDEX::get_default_index()->set_suppressed(20478, false);
    ASSERT_EQ(report.devices.size(), 1u);
    ASSERT_EQ(report.devices[0].findings.size(), 1u);
    const VORN_LOAD_FINDING& f = report.devices[0].findings[0];
    EXPECT_EQ(shown(f), "2 0 -  density=3Mb");
    EXPECT_EQ(f.text, "Device density '3Mb' is invalid.");
}

// An action without an element its type needs and a golden template are refused in
// database.md; a schema error's line and reason, and what is not a file, here.
TEST_F(LoadReport, WhatTheReaderRefusesBeforeAnyValue) {
    auto mgr = load();
    auto check = [&](const std::string& file) {
        return vorn_check_user_file(mgr.get(), nullptr, custom.file(file));
    };
    write_custom("schema.xml", document("\n<FLASH><COLOUR/></FLASH>"));
    VORN_USER_FILE_REPORT schema = check("schema.xml");
    EXPECT_FALSE(schema.read);
    ASSERT_FALSE(schema.findings.empty());
    EXPECT_EQ(schema.findings[0].line, 3);
    EXPECT_EQ(schema.findings[0].text.rfind("schema: ", 0), 0u) << schema.findings[0].text;

    EXPECT_EQ(check("none.xml").findings.at(0).text, "no such file");
    custom.write("folder.xml/inside", "");
    EXPECT_EQ(check("folder.xml").findings.at(0).text, "not a file");
}

// The tool's wording of the card's findings is database.md's.
TEST_F(LoadReport, SdmmcFilesAreReadWithTheirOwnManager) {
    write_custom("card.xml", vorn_test::read_test_file("tool/sdmmc_bad_density.xml"));
    auto qspi = load();
    const VORN_USER_FILE_REPORT off =
        vorn_check_user_file(qspi.get(), nullptr, custom.file("card.xml"));
    EXPECT_TRUE(off.sdmmc);
    ASSERT_EQ(off.findings.size(), 1u);
    EXPECT_EQ(off.findings[0].text, "an SD/MMC file, but SD/MMC support is off");

    VORN_SDMMC_MGR sdmmc;
    const VORN_USER_FILE_REPORT report =
        vorn_check_user_file(qspi.get(), &sdmmc, custom.file("card.xml"));
    EXPECT_TRUE(report.skipped_by_switch) << "user cards are read only with the switch on";
    ASSERT_EQ(report.devices.size(), 1u);
    ASSERT_EQ(report.devices[0].findings.size(), 1u);
    EXPECT_EQ(report.devices[0].findings[0].id, 20478u);
    EXPECT_EQ(report.devices[0].findings[0].line, 8);
}

TEST_F(LoadReport, TheFamilyOfAFileIsItsDocumentElement) {
    auto is_sdmmc = [&](const std::string& text) {
        custom.write("f.xml", text);
        return vorn_is_sdmmc_file(custom.file("f.xml"));
    };
    EXPECT_TRUE(is_sdmmc("<?xml version=\"1.0\"?>\n<!-- <QSPI_FLASH> -->\n<SDMMC_FLASH/>"));
    EXPECT_FALSE(is_sdmmc("<!-- <SDMMC_FLASH> --><QSPI_FLASH/>"));
    EXPECT_FALSE(is_sdmmc("<SDMMC_FLASHES/>"));
    EXPECT_FALSE(is_sdmmc("<!-- <SDMMC_FLASH/>"));
    EXPECT_FALSE(vorn_is_sdmmc_file(custom.file("missing.xml")));
}

// A template's name gives its flows, a vendor's or a user's; a record takes copies of them.
TEST_F(LoadReport, TemplateNamesGiveFlowsThatCopiesLeaveAlone) {
    write_custom("pgm_flash_t.xml",
                 document(template_xml("mine", FLOW{write_reg("Write Enable", "0x06")})));
    auto mgr = load();
    const std::vector<VORN_OPERATION*>* sfl = nullptr;
    const std::vector<VORN_OPERATION*>* sdm = nullptr;
    ASSERT_TRUE(vorn_template_flows(*mgr, "Winbond", &sfl, &sdm));
    EXPECT_EQ(sfl, mgr->get_prog_flow_template_operation_list(VORN_PROG_FLOW_TEMPLATE_WINBOND,
                                                              VORN_PROG_FLOW_TYPE_SFL));
    EXPECT_EQ(sdm, mgr->get_prog_flow_template_operation_list(VORN_PROG_FLOW_TEMPLATE_WINBOND,
                                                              VORN_PROG_FLOW_TYPE_SDM));
    ASSERT_TRUE(vorn_template_flows(*mgr, "mine", &sfl, &sdm));
    std::string mine = "mine";
    EXPECT_EQ(sfl, mgr->get_user_template_operation_list(mine, VORN_PROG_FLOW_TYPE_SFL));
    EXPECT_FALSE(vorn_template_flows(*mgr, "winbond", &sfl, &sdm)) << "names keep their case";
    EXPECT_EQ(sfl, nullptr);
    EXPECT_EQ(sdm, nullptr);
    EXPECT_EQ(vorn_vendor_template_index("Issi"), VORN_PROG_FLOW_TEMPLATE_ISSI);
    EXPECT_EQ(vorn_vendor_template_index("mine"), -1);

    ASSERT_TRUE(vorn_template_flows(*mgr, "mine", &sfl, &sdm));
    std::vector<VORN_OPERATION*> copies;
    ASSERT_TRUE(vorn_copy_flow(*sfl, copies));
    ASSERT_EQ(copies.size(), sfl->size());
    for (size_t i = 0; i < copies.size(); ++i) {
        EXPECT_NE(copies[i], (*sfl)[i]);
        EXPECT_EQ(copies[i]->get_action_list()->size(), (*sfl)[i]->get_action_list()->size());
    }
    const VORN_ACTION* original = sfl->front()->get_action_list()->front();
    copies.front()->get_action_list()->front()->set_property_value(
        VORN_ACT_PROPERTY_WRITE_REG_COMMAND, "0x04");
    EXPECT_EQ(original->get_property_value(VORN_ACT_PROPERTY_WRITE_REG_COMMAND), "0x06");
    for (VORN_OPERATION* op : copies) delete op;

    // An operation of a class the library does not define is not copied, nor is its flow.
    struct FOREIGN : VORN_OPERATION {
        const std::vector<VORN_ACTION*>* get_action_list() const override { return &m_action_list; }
        void clear_action_list() override {}
        void add_action_into_list(VORN_ACTION*) override {}
    } foreign;
    std::vector<VORN_OPERATION*> mixed{sfl->front(), &foreign};
    std::vector<VORN_OPERATION*> none;
    EXPECT_FALSE(vorn_copy_flow(mixed, none));
    EXPECT_TRUE(none.empty());
}
