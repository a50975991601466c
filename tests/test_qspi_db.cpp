// The QSPI database on disk: which files a load takes, skips or stops at; what a save writes,
// byte for byte; flows read back from files; and the failures a save must survive.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "host_fault.h"
#include "pgm_common_xml_vorn_qspi_auto_export.h"
#include "test_qspi_fixture.h"

using namespace qspi_test;

namespace {

constexpr unsigned DUPLICATE = 20482;
constexpr unsigned FAILED_TO_UPDATE = 20560;

class QspiDb : public QspiTest {
  protected:
    void SetUp() override {
        QspiTest::SetUp();
        HOST_FAULT::clear();
    }
    void TearDown() override {
        HOST_FAULT::clear();
        QspiTest::TearDown();
    }
    std::string dir() const { return FIO_PATH(custom.path()).full_directory(); }
    static bool has(VORN_QSPI_MGR& mgr, const std::string& name) {
        return mgr.get_flash_map().count(name) == 1;
    }
    // Runs a save or delete that must fail with the one ordinary warning; gives its traces.
    template <typename CHANGE>
    static std::vector<std::string> failed_change(CHANGE change) {
        vorn_test::MessageCapture capture;
        EXPECT_FALSE(change());
        EXPECT_EQ(capture.message_ids(), std::vector<unsigned>{FAILED_TO_UPDATE});
        return capture.traces();
    }
    static int count(const std::vector<std::string>& traces, const std::string& prefix) {
        int n = 0;
        for (const std::string& trace : traces) n += trace.rfind(prefix, 0) == 0;
        return n;
    }
    // A complete, valid record of the ISSI template.
    static VORN_FLASH* issi(VORN_QSPI_MGR& mgr, VORN_FLASH* flash) {
        return complete_record(mgr, flash, VORN_PROG_FLOW_TEMPLATE_ISSI, "0x9D 0x60 0x19", "1.8V",
                               "256Mb");
    }
};

// ---- loading ------------------------------------------------------------------------------

TEST_F(QspiDb, UserFilesAreTakenWithTheirSourceAndPrecedence) {
    std::string builtin;
    {
        auto plain = load();
        builtin = plain->get_flash_map().begin()->first;
        EXPECT_FALSE(plain->get_flash_map().begin()->second->get_flash_removable_permission());
    }
    DEVICE replacement = device(builtin);
    replacement.id = "0xC2 0x25 0x3A";
    DEVICE clash = device(builtin);
    clash.id = "0x01 0x02";
    DEVICE twice = device("CUS1");
    twice.id = "0xEF 0x40";
    programmer.write("xml/pgm_flash_zen.xml",
                     document(flash_xml(device("ZEN1")) + flash_xml(clash) +
                              flash_xml(device("AFTER")) + template_xml("dropped_tpl")));
    write_custom("pgm_flash_cus.xml",
                 document(flash_xml(device("CUS1")) + flash_xml(replacement) + flash_xml(twice)));
    write_custom("pgm_flash_tpl.xml", document(template_xml("tplA")));
    write_custom("other_name.xml", document(flash_xml(device("IGNORED"))));
    vorn_test::MessageCapture capture;
    auto mgr = load();

    // A Zentro file repeating a built-in name ends there; a custom one replaces it.
    EXPECT_TRUE(has(*mgr, "ZEN1"));
    EXPECT_FALSE(has(*mgr, "AFTER"));
    EXPECT_FALSE(has(*mgr, "IGNORED"));
    EXPECT_EQ(mgr->get_user_template_list(), std::vector<std::string>{"tplA"});
    EXPECT_EQ(capture.message_ids(), (std::vector<unsigned>{DUPLICATE, DUPLICATE}));
    EXPECT_NE(capture.messages()[0].text.find("'" + builtin + "'"), std::string::npos);
    EXPECT_EQ(mgr->get_flash_map().at("CUS1")->get_parameter_value(VORN_FLASH_PARAM_ID),
              "0x20 0xBB 0x19")
        << "the first of two in one file is kept";
    VORN_FLASH* replaced = mgr->get_flash(builtin, true);
    EXPECT_EQ(replaced->get_parameter_value(VORN_FLASH_PARAM_ID), "0xC2 0x25 0x3A");
    EXPECT_TRUE(replaced->get_flash_removable_permission());
    EXPECT_EQ(replaced->get_db_dir(), custom.path());
    EXPECT_EQ(mgr->get_flash_db_active_dir_map().at(builtin), custom.file("pgm_flash_cus.xml"));
    EXPECT_EQ(mgr->get_zentro_dir_map().at("ZEN1"), programmer.file("xml/pgm_flash_zen.xml"));
    EXPECT_EQ(mgr->get_template_db_dir_map().at("tplA"), custom.file("pgm_flash_tpl.xml"));

    // The custom directory spelt differently but equal to the Zentro one is read once.
    VORN_MGR::set_db_custom_dir(programmer.path() + "/xml");
    capture.clear();
    mgr = load();
    EXPECT_TRUE(has(*mgr, "ZEN1"));
    EXPECT_TRUE(mgr->get_custom_dir_map().empty());
    EXPECT_EQ(capture.message_ids(), std::vector<unsigned>{DUPLICATE});
}

TEST_F(QspiDb, ARefusedValueStopsItsFileAfterEveryCheckSpoke) {
    const std::pair<void (*)(DEVICE&), std::vector<unsigned>> cases[] = {
        {[](DEVICE& d) { d.id = "0x1G"; }, {20477}},
        {[](DEVICE& d) { d.io_voltage = "2.5V"; }, {20476}},
        {[](DEVICE& d) { d.density = "3Mb"; }, {20478}},
        {[](DEVICE& d) { d.total_die = "0"; }, {20479}},
        {[](DEVICE& d) { d.dummy = "16"; }, {20543}},
        {[](DEVICE& d) { d.sdm.verify = read_reg("Poll", "0x05", "0xZZ", "0x01"); }, {20495}},
        {[](DEVICE& d) {
             d.id = "";
             d.total_die = "0";
             d.dummy_x4 = "20";
         },
         {20477, 20479, 20543}},
    };
    for (const auto& [spoil, warnings] : cases) {
        DEVICE bad = device("BAD");
        spoil(bad);
        write_custom("pgm_flash_check.xml",
                     document(flash_xml(device("FIRST")) + flash_xml(bad) +
                              flash_xml(device("LAST")) + template_xml("tpl_after")));
        vorn_test::MessageCapture capture;
        auto mgr = load();
        EXPECT_EQ(capture.message_ids(), warnings);
        EXPECT_TRUE(has(*mgr, "FIRST"));
        EXPECT_FALSE(has(*mgr, "BAD"));
        EXPECT_FALSE(has(*mgr, "LAST"));
        EXPECT_TRUE(mgr->get_user_template_list().empty());
    }
    FLOW bad_flow;
    bad_flow.program = write_reg("Bad Command", "0x106");
    write_custom("pgm_flash_check.xml",
                 document(template_xml("tpl_bad", bad_flow) + template_xml("tpl_one")));
    write_custom("pgm_flash_t2.xml",
                 document(flash_xml(device("DEV_IN_T2")) + template_xml("tpl_two") +
                          template_xml("tpl_one") + template_xml("tpl_three")));
    vorn_test::MessageCapture capture;
    auto mgr = load();
    EXPECT_EQ(capture.message_ids(), std::vector<unsigned>{20486});
    EXPECT_EQ(mgr->get_user_template_list(), (std::vector<std::string>{"tpl_one", "tpl_two"}));
    EXPECT_TRUE(has(*mgr, "DEV_IN_T2"));
}

// A user file is taken whole or not at all: devices read before a fault further on are dropped
// with it, and the record another directory holds under one of their names is kept.
TEST_F(QspiDb, AFaultAfterItsDevicesDropsTheWholeFile) {
    const std::string builtin = load()->get_flash_map().begin()->first;
    DEVICE replacement = device(builtin);
    replacement.id = "0xC2 0x25 0x3A";
    write_custom("pgm_flash_late.xml",
                 document(flash_xml(device("EARLY")) + flash_xml(replacement) +
                          template_xml("tpl_late") + "\n<FLASH/>"));
    vorn_test::MessageCapture capture;
    auto mgr = load();
    EXPECT_FALSE(has(*mgr, "EARLY"));
    EXPECT_NE(mgr->get_flash_map().at(builtin)->get_parameter_value(VORN_FLASH_PARAM_ID),
              "0xC2 0x25 0x3A");
    EXPECT_TRUE(mgr->get_user_template_list().empty());
    EXPECT_TRUE(capture.message_ids().empty());
    const std::string why = mgr->get_files_not_loaded().at(custom.file("pgm_flash_late.xml"));
    EXPECT_EQ(why.rfind("line 3: Element 'FLASH': Missing child element(s).", 0), 0u) << why;
}

// Every defect of the shipped file stops the load with an internal error; what was already
// built is released by the throwing constructor (the sanitizer build checks).
TEST_F(QspiDb, GoldenTemplateDefectsAreInternalErrors) {
    const std::string vendors[] = {"MICRON", "MACRONIX", "CYPRESS", "WINBOND", "ISSI"};
    std::vector<std::pair<std::string, std::string>> cases;
    for (size_t skip = 0; skip < 5; ++skip) {
        std::string missing;
        std::string twice;
        for (size_t i = 0; i < 5; ++i) {
            if (i != skip) missing += vendor_xml(vendors[i]);
            twice += vendor_xml(vendors[i]) + (i == skip ? vendor_xml(vendors[i]) : "");
        }
        const std::string condition =
            "template_list.at(0)->get_child_count(PGM_COMMON_XML_ENUM_" + vendors[skip] + ") == 1";
        cases.push_back({golden_document(missing, ""), condition});
        cases.push_back({golden_document(twice, ""), condition});
    }
    DEVICE bad_die = device("BAD");
    bad_die.total_die = "0";
    const FLOW bad_flow{write_reg("Write Enable", "0x06 0x07")};
    FLOW untyped;
    untyped.erase = "<ACTION>" + leaf("NAME", "x") + "</ACTION>";
    const std::string rest = vendor_xml("MACRONIX") + vendor_xml("WINBOND") + vendor_xml("ISSI");
    cases.insert(
        cases.end(),
        {{"<QSPI_FLASH version=\"1\"><GOLDEN_TEMPLATE>", "*object != 0"},
         {document(flash_xml(device("ONLY"))),
          "object->get_child_count(PGM_COMMON_XML_ENUM_GOLDEN_TEMPLATE) == 1"},
         {golden_document(all_vendors(), flash_xml(device("GOOD")) + flash_xml(bad_die)), "status"},
         {golden_document(all_vendors(), flash_xml(device("SAME")) + flash_xml(device("SAME"))),
          "status"},
         {golden_document(vendor_xml("MICRON") + vendor_xml("CYPRESS", bad_flow) + rest, ""),
          "status"},
         {golden_document(vendor_xml("MICRON", untyped) + vendor_xml("CYPRESS") + rest, ""),
          "Unknown action type"}});
    for (const auto& [text, condition] : cases) {
        write_golden(text);
        EXPECT_EQ(load_error(), condition) << text;
    }
    // A device before the vendor templates waits for them; one after a refused one is not read.
    write_golden(document(flash_xml(device("EARLY")) + "<GOLDEN_TEMPLATE>" + all_vendors() +
                          "</GOLDEN_TEMPLATE>" + flash_xml(device("LATE"))));
    EXPECT_EQ(load()->get_flash_map().size(), 2u);
    write_golden(
        document(flash_xml(bad_die) + "<GOLDEN_TEMPLATE>" + all_vendors() + "</GOLDEN_TEMPLATE>"));
    EXPECT_EQ(load_error(), "status");
    const FLOW issi{write_reg("Issi Only", "0x35")};
    write_golden(golden_document(vendor_xml("MICRON") + vendor_xml("MACRONIX") +
                                     vendor_xml("CYPRESS") + vendor_xml("WINBOND") +
                                     vendor_xml("ISSI", issi),
                                 flash_xml(device("ONLY"))));
    auto mgr = load();
    EXPECT_EQ(mgr->get_flash_map().size(), 1u);
    auto first_name = [&](VORN_PROG_FLOW_TEMPLATE tpl) {
        return values_of(mgr->get_prog_flow_template_operation_list(tpl, VORN_PROG_FLOW_TYPE_SDM)
                             ->at(0)
                             ->get_action_list()
                             ->at(0))[0];
    };
    EXPECT_EQ(first_name(VORN_PROG_FLOW_TEMPLATE_ISSI), "Issi Only");
    EXPECT_EQ(first_name(VORN_PROG_FLOW_TEMPLATE_WINBOND), "Write Enable");
    EXPECT_STREQ(vorn_test::internal_error_of([&] {
                     mgr->get_prog_flow_template_operation_list(
                         static_cast<VORN_PROG_FLOW_TEMPLATE>(5), VORN_PROG_FLOW_TYPE_SFL);
                 }).what(),
                 "Unknown programming flow template");

    std::remove(programmer.file("xml/pgm_flash_db_qspi.xml").c_str());
    EXPECT_EQ(load_error(), programmer.path() + "xml/pgm_flash_db_qspi.xml not found.");
}

// ---- flows read from a file ----------------------------------------------------------------

TEST_F(QspiDb, FlowsComeOutInTypeOrderWhateverTheFileOrder) {
    const std::string sfl =
        "<SFL>" + leaf("TERMINATION", write_reg("Exit", "0x04")) +
        leaf("VERIFY_BLANKCHECK_EXAMINE", "") + leaf("ERASE", write_reg("Erase Enable", "0x06")) +
        leaf("INITIALIZATION", write_reg("Reset Enable", "0x66", "", "100") +
                                   read_reg("Poll", "0x05", "0", "1", "7")) +
        leaf("PROGRAM",
             action("CUSTOM", leaf("DESCRIPTION", "typed\\n") + leaf("DIRECTION", "end"))) +
        "</SFL>";
    write_custom(
        "pgm_flash_order.xml",
        document("<FLASH><DEVICE_INFO>" + leaf("DEVICE_NAME", "ORDER") + leaf("DEVICE_ID", "0x20") +
                 leaf("DEVICE_IO_VOLTAGE", "1.8V") + leaf("DEVICE_DENSITY", "128Mb") +
                 leaf("TOTAL_DEVICE_DIE", "1") + leaf("DUMMY_CLOCK_CYCLE", "8") +
                 leaf("DUMMY_CLOCK_CYCLE_X4", "10") + leaf("PROG_FLOW_TEMPLATE", "Micron") +
                 "</DEVICE_INFO><PROGRAMMING_FLOW><SDM>" + flow_body({}) + "</SDM>" + sfl +
                 "</PROGRAMMING_FLOW></FLASH>"));
    auto mgr = load();
    ASSERT_TRUE(has(*mgr, "ORDER"));
    const auto& ops =
        *mgr->get_flash_map().at("ORDER")->get_operation_list(VORN_PROG_FLOW_TYPE_SFL);
    ASSERT_EQ(ops.size(), 5u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(ops[i]->get_type(), static_cast<VORN_OP_TYPE>(i));
    ASSERT_EQ(ops[0]->get_action_list()->size(), 2u);
    EXPECT_EQ(values_of(ops[0]->get_action_list()->at(1)),
              (std::vector<std::string>{"Poll", "0x05", "1", "0", "1", "7", "100", "1-1"}));
    EXPECT_EQ(values_of(ops[4]->get_action_list()->at(0))[1], "0x04");
    // A "\\n" typed at the very end of a description reads as a newline, and nothing more.
    EXPECT_EQ(values_of(ops[1]->get_action_list()->at(0))[0], "typed\n");
}

TEST_F(QspiDb, ARefusedActionKeepsDefaultsAndEveryPropertyIsJudged) {
    DEVICE d = device("D");
    d.sfl.initialization = write_reg("Write Enable", "0x06") +
                           read_reg("Poll", "0x05", "0xZZ", "0x01", "7") +
                           write_reg("After", "0x04", "0x00", "50");
    d.sfl.program = write_reg("Other Operation", "0x02");
    d.sfl.erase =
        action("ERASE", leaf("NAME", "Bad-Name") + leaf("COMMAND", "0x1FF") + leaf("ADDRESS", "") +
                            leaf("ERASE_SIZE", "0") + leaf("ADDRESSING_MODE", "0") + delay("0") +
                            leaf("BUS_WIDTH", "1-1-1"));
    d.sdm.program = write_reg("Good", "0x06");
    custom.write("doc.xml", document(flash_xml(d)));
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> root(
        PGM_COMMON_XML::parse_xml(PGM_COMMON_XML_FILE_VORN_QSPI, custom.file("doc.xml"),
                                  programmer.file("xsd/vorn_qspi.xsd"), true, "", "", ""));
    ASSERT_NE(root, nullptr);
    auto mgr = load();
    std::vector<VORN_OPERATION*> sfl;
    std::vector<VORN_OPERATION*> sdm;
    vorn_test::MessageCapture capture;
    EXPECT_FALSE(mgr->update_overall_operation_list(
        root->get_childs(PGM_COMMON_XML_ENUM_FLASH, true).at(0), sfl, sdm));
    EXPECT_EQ(capture.message_ids(),
              (std::vector<unsigned>{20495, 20485, 20486, 20502, 20499, 20503, 20505}));
    ASSERT_EQ(sfl.size(), 5u);
    const auto& init = *sfl[0]->get_action_list();
    ASSERT_EQ(init.size(), 3u);
    EXPECT_EQ(values_of(init[0])[0], "Write Enable");
    // The refused action and the ones after it in its operation keep their defaults.
    EXPECT_EQ(values_of(init[1])[0], "");
    EXPECT_EQ(values_of(init[2])[0], "");
    EXPECT_EQ(values_of(sfl[1]->get_action_list()->at(0))[0], "Other Operation");
    ASSERT_EQ(sdm.size(), 5u) << "the second flow is read although the first failed";
    EXPECT_EQ(values_of(sdm[1]->get_action_list()->at(0))[0], "Good");
    for (VORN_OPERATION* op : sfl) delete op;
    for (VORN_OPERATION* op : sdm) delete op;
}

// ---- saving -------------------------------------------------------------------------------

// The file a save writes is the documented layout, byte for byte (files/xml/written_device.xml),
// and a fresh load reads back what was saved, device and template alike.
TEST_F(QspiDb, ASavedDeviceIsWrittenAsDocumentedAndReadsBackEqual) {
    write_golden(golden_document(all_vendors(), ""));
    auto mgr = load();
    VORN_FLASH* flash =
        complete_record(*mgr, mgr->create_flash("ROUND_TRIP"), VORN_PROG_FLOW_TEMPLATE_WINBOND,
                        "0xEF 0x70 0x19", "3.0V/3.3V", "256Mb");
    flash->set_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME, "round_tpl");
    const std::vector<VORN_OPERATION*>& sfl = *flash->get_operation_list(VORN_PROG_FLOW_TYPE_SFL);
    VORN_OPERATION* erase = sfl.at(VORN_OP_TYPE_ERASE);
    erase->clear_action_list();
    auto add = [&](VORN_ACT_TYPE type, const std::vector<std::string>& values) {
        auto* act = new VORN_QSPI_ACTION(type);
        const auto& props = act->get_property_enum_list();
        EXPECT_EQ(props.size(), values.size());
        for (size_t i = 0; i < props.size() && i < values.size(); ++i)
            act->set_property_value(props[i], values[i]);
        erase->add_action_into_list(act);
    };
    add(VORN_ACT_TYPE_WRITE_REGISTER, {"Write Status", "0x01", "0x00 0x02", "5", "1-1"});
    add(VORN_ACT_TYPE_READ_REGISTER,
        {"Read Status", "0x05", "2", "0x00 0x00", "0x01 0x01", "300", "10", "1-1"});
    add(VORN_ACT_TYPE_WRITE_DATA,
        {"Quad Program", "0x34", "data.jic", "data.jic", "256", "4", "7", "1-1-1"});
    add(VORN_ACT_TYPE_READ_DATA,
        {"Fast Read", "0x0C", "0x0", "data.jic", "data.jic", "", "4", "8", "1", "1-1-1"});
    add(VORN_ACT_TYPE_ERASE, {"Sector Erase", "0xDC", "data.jic", "65536", "4", "3000", "1-1"});
    add(VORN_ACT_TYPE_CUSTOM, {"Erase data\nfollows here\n", "start"});
    add(VORN_ACT_TYPE_CUSTOM, {"x", "end"});
    ASSERT_TRUE(mgr->update_db(flash, dir()));
    EXPECT_EQ(custom.read("pgm_flash_ROUND_TRIP.xml"),
              vorn_test::read_test_file("xml/written_device.xml"));
    EXPECT_NE(custom.read("pgm_flash_template_round_tpl.xml").find("<TEMPLATE_NAME>round_tpl<"),
              std::string::npos);

    // Read back, the device writes the same text again, and its template holds the same flows.
    auto fresh = load();
    VORN_FLASH* back = fresh->get_flash("ROUND_TRIP", true);
    ASSERT_NE(back, nullptr);
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> again(fresh->create_xml_object_with_flash_list({back}));
    const std::string text = PGM_COMMON_XML::write_xml_string(again.get());
    EXPECT_EQ(text, vorn_test::read_test_file("xml/written_device.xml"));
    PGM_COMMON_XML_ELEMENT* tpl = nullptr;
    fresh->create_user_template_with_template_list(tpl, {"round_tpl"});
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> owned(tpl);
    const std::string tpl_text = PGM_COMMON_XML::write_xml_string(tpl);
    auto flows = [](const std::string& t) {
        return t.substr(t.find("<SFL>"), t.find("</SDM>") - t.find("<SFL>"));
    };
    EXPECT_EQ(flows(tpl_text), flows(text));
    std::string other_case = "Round_tpl";
    EXPECT_STREQ(vorn_test::internal_error_of([&] {
                     fresh->get_user_template_operation_list(other_case, VORN_PROG_FLOW_TYPE_SFL);
                 }).what(),
                 "Unknown user template Round_tpl");
}

// Past 32 bits a file cannot hold a number, so such a record fails its save with the ordinary
// failure and leaves nothing behind.
TEST_F(QspiDb, NumbersPast32BitsFailTheSaveQuietly) {
    auto mgr = load();
    for (const char* delay : {"4294967296", "99999999999999999999"}) {
        VORN_FLASH* flash = issi(*mgr, mgr->create_flash("HUGE"));
        flash->set_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME, "huge_tpl");
        flash->get_operation_list(VORN_PROG_FLOW_TYPE_SFL)
            ->at(0)
            ->get_action_list()
            ->at(0)
            ->set_property_value(VORN_ACT_PROPERTY_WRITE_REG_DELAY, delay);
        vorn_test::MessageCapture capture;
        EXPECT_FALSE(mgr->update_db(flash, dir()));
        EXPECT_EQ(capture.message_ids(),
                  (std::vector<unsigned>{FAILED_TO_UPDATE, FAILED_TO_UPDATE}));
        EXPECT_FALSE(has(*mgr, "HUGE"));
        EXPECT_FALSE(custom.exists("pgm_flash_HUGE.xml"));
        EXPECT_FALSE(custom.exists("pgm_flash_template_huge_tpl.xml"));
    }
}

// The writer walks the property table by an action's type: a type or a property list that no
// run of the table matches stops it with an internal error instead of reading past the table.
// A host that skipped the validators meets the writer's condition of the first refused field.
TEST_F(QspiDb, TheWriterNamesTheFirstRefusedField) {
    auto mgr = load();
    using SPOIL = void (*)(VORN_FLASH&);
    const std::pair<SPOIL, const char*> cases[] = {
        {[](VORN_FLASH& f) { f.set_parameter_value(VORN_FLASH_PARAM_ID, "0x1G"); },
         "device_id_is_valid(flash->get_parameter_value(VORN_FLASH_PARAM_ID), &err_msg)"},
        {[](VORN_FLASH& f) { f.set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, "2.5V"); },
         "device_io_voltage_is_valid(flash->get_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE), "
         "&err_msg)"},
        {[](VORN_FLASH& f) { f.set_density("3Mb"); },
         "device_density_is_valid(flash->get_density(), &err_msg)"},
        {[](VORN_FLASH& f) {
             f.set_parameter_value(VORN_FLASH_PARAM_TOTAL_DIE, 0u);
             f.set_parameter_value(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, 16u);
         },
         "total_device_die_is_valid(flash->get_parameter_value_in_dword(VORN_FLASH_PARAM_TOTAL_"
         "DIE), &err_msg)"},
        {[](VORN_FLASH& f) { f.set_parameter_value(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, 16u); },
         "dummy_clock_cycle_is_valid(flash->get_parameter_value_in_dword(VORN_FLASH_PARAM_DUMMY_"
         "CLK_CYCLE), &err_msg)"},
        {[](VORN_FLASH& f) { f.set_parameter_value(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, 20u); },
         "dummy_clock_cycle_is_valid(flash->get_parameter_value_in_dword(VORN_FLASH_PARAM_DUMMY_"
         "CLK_CYCLE_X4), &err_msg)"},
    };
    vorn_test::MessageCapture quiet;
    for (const auto& [spoil, condition] : cases) {
        std::unique_ptr<VORN_FLASH> flash(issi(*mgr, new VORN_QSPI_FLASH("W")));
        spoil(*flash);
        EXPECT_STREQ(vorn_test::internal_error_of([&] {
                         delete mgr->create_xml_object_with_flash_list({flash.get()});
                     }).what(),
                     condition);
    }
}

TEST_F(QspiDb, AnActionOutsideThePropertyTableIsNeverWritten) {
    auto mgr = load();
    struct STRAY_ACTION : VORN_QSPI_ACTION {
        STRAY_ACTION(int type, size_t properties)
            : VORN_QSPI_ACTION(VORN_ACT_TYPE_CUSTOM), own(properties) {
            m_type = static_cast<VORN_ACT_TYPE>(type);
            m_property_list = &own;
        }
        std::vector<VORN_ACT_PROPERTY> own;
    };
    auto writing = [&](VORN_ACTION* action) {
        VORN_QSPI_OPERATION op(VORN_OP_TYPE_ERASE);
        op.add_action_into_list(action);
        return std::string(vorn_test::internal_error_of([&] {
                               mgr->create_xml_action_list_for_one_operation(&op);
                           }).what());
    };
    EXPECT_EQ(writing(new STRAY_ACTION(VORN_ACT_TYPE_COUNT, 2)), "Unknown action type");
    EXPECT_EQ(writing(new STRAY_ACTION(VORN_ACT_TYPE_CUSTOM, 1)), "enum_list.size() == 2");
}

TEST_F(QspiDb, TemplatesAreSavedBesideTheDeviceAndSurviveFailures) {
    write_custom("pgm_flash_kept.xml", document(template_xml("kept") + template_xml("gone")));
    auto mgr = load();
    VORN_FLASH* flash = issi(*mgr, mgr->create_flash("CARRIER"));
    flash->set_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME, "carried");
    HOST_FAULT::fail_next(HOST_FAULT::CHANGE_WRITE);  // the device file only
    EXPECT_TRUE(mgr->update_db(flash, dir()));
    EXPECT_FALSE(has(*mgr, "CARRIER"));
    EXPECT_FALSE(custom.exists("pgm_flash_CARRIER.xml"));
    EXPECT_EQ(mgr->get_user_template_list(), (std::vector<std::string>{"carried", "gone", "kept"}));

    std::unique_ptr<VORN_FLASH> other(issi(*mgr, new VORN_QSPI_FLASH("DEV")));
    other->set_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME, "abc");
    custom.write("pgm_flash_template_abc.xml", "an earlier file");
    for (HOST_FAULT::OP op : {HOST_FAULT::CHANGE_WRITE, HOST_FAULT::CHANGE_COMMIT}) {
        const auto dirs_before = mgr->get_template_db_dir_map();
        HOST_FAULT::fail_next(op);
        vorn_test::MessageCapture capture;
        EXPECT_FALSE(mgr->update_template_db(other.get(), custom.path()));
        ASSERT_EQ(capture.message_ids(), std::vector<unsigned>{FAILED_TO_UPDATE});
        EXPECT_EQ(capture.messages()[0].text,
                  "Failed to update the device database in the " + custom.path() + " directory.");
        EXPECT_EQ(mgr->get_template_db_dir_map(), dirs_before);
        EXPECT_EQ(custom.read("pgm_flash_template_abc.xml"), "an earlier file");
    }
    EXPECT_TRUE(mgr->update_template_db(other.get(), custom.path()));
    // The template owns copies: dropping the record leaves its flows alone.
    other.reset();
    std::string abc = "abc";
    EXPECT_EQ(mgr->get_user_template_operation_list(abc, VORN_PROG_FLOW_TYPE_SFL)->size(), 5u);

    EXPECT_FALSE(mgr->delete_template("never_there"));
    EXPECT_TRUE(mgr->delete_template("gone"));
    EXPECT_EQ(mgr->get_template_db_dir_map().count("gone"), 0u);
    mgr = load();
    EXPECT_EQ(mgr->get_user_template_list(), (std::vector<std::string>{"abc", "carried", "kept"}));
    EXPECT_TRUE(mgr->delete_template("kept"));
    EXPECT_FALSE(custom.exists("pgm_flash_kept.xml"));
}

// Beside its bool, a save says which files it changed, and after a failure which stood in the
// way; each public call starts afresh, and a save that makes another reports both.
TEST_F(QspiDb, ASaveTellsWhichFilesItChanged) {
    write_custom("pgm_flash_TYPO.xml", document(flash_xml(device("TYPO"))).replace(20, 1, ""));
    auto mgr = load();
    auto record = [&](const std::string& name) { return issi(*mgr, mgr->create_flash(name)); };
    const VORN_SAVE_FILES& last = mgr->get_last_save_files();

    VORN_FLASH* flash = record("NEW");
    flash->set_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME, "carried");
    ASSERT_TRUE(mgr->update_db(flash, dir()));
    EXPECT_EQ(last.device_file, dir() + "pgm_flash_NEW.xml");
    EXPECT_EQ(last.template_file, dir() + "pgm_flash_template_carried.xml");
    EXPECT_EQ(last.deleted_from, "");
    EXPECT_TRUE(last.refused.empty());

    // Saved again: the old copy goes first.
    ASSERT_TRUE(mgr->update_db(record("NEW"), dir()));
    EXPECT_EQ(last.device_file, dir() + "pgm_flash_NEW.xml");
    EXPECT_EQ(last.template_file, "");
    EXPECT_EQ(last.deleted_from, dir() + "pgm_flash_NEW.xml");

    // A file that did not load whole stands in the way; the next save starts afresh.
    {
        vorn_test::MessageCapture quiet;
        EXPECT_FALSE(mgr->update_db(record("TYPO"), dir()));
    }
    EXPECT_EQ(last.device_file, "");
    EXPECT_EQ(last.refused, std::vector<std::string>{dir() + "pgm_flash_TYPO.xml"});
    ASSERT_TRUE(mgr->delete_db("NEW", dir()));
    EXPECT_EQ(last.deleted_from, dir() + "pgm_flash_NEW.xml");
    EXPECT_EQ(last.device_file, "");
    EXPECT_TRUE(last.refused.empty());

    // Files that cannot be put in place are named too; what was not committed is not.
    for (HOST_FAULT::OP op : {HOST_FAULT::CHANGE_WRITE, HOST_FAULT::CHANGE_COMMIT}) {
        HOST_FAULT::fail_next(op);
        vorn_test::MessageCapture quiet;
        EXPECT_FALSE(mgr->update_db(record("LATE"), dir()));
        EXPECT_EQ(last.device_file, "");
        EXPECT_EQ(last.refused, std::vector<std::string>{dir() + "pgm_flash_LATE.xml"});
    }
}

// ---- what a failed save leaves ------------------------------------------------------------

// A write that cannot be made goes from the deletion trace straight to the warning: the write
// and the map changes are never traced.
TEST_F(QspiDb, AFailedWriteIsNotTracedAsWritten) {
    write_custom("pgm_flash_shared.xml",
                 document(flash_xml(device("SA")) + flash_xml(device("SB"))));
    auto mgr = load();
    {
        // A folder where the file would go.
        ASSERT_EQ(mkdir((custom.path() + "pgm_flash_BLOCKED.xml").c_str(), 0755), 0);
        VORN_FLASH* flash = issi(*mgr, mgr->create_flash("BLOCKED"));
        const auto traces = failed_change([&] { return mgr->update_db(flash, dir()); });
        EXPECT_EQ(count(traces, "Touch new XML file"), 0);
        EXPECT_EQ(count(traces, "Deleting old XML file " + dir() + "pgm_flash_BLOCKED.xml"), 1);
        EXPECT_EQ(count(traces, "Writing new XML file"), 0);
        EXPECT_EQ(count(traces, "Before:"), 0);
        EXPECT_EQ(count(traces, "After:"), 0);
    }
    {
        // Moving out of a shared file: the deletion rewrites the file and is traced so; the
        // write that then fails is not, nor are its map changes.
        ASSERT_EQ(mkdir((custom.path() + "pgm_flash_SA.xml").c_str(), 0755), 0);
        VORN_FLASH* flash = issi(*mgr, mgr->create_flash("SA"));
        const auto traces = failed_change([&] { return mgr->update_db(flash, dir()); });
        EXPECT_EQ(count(traces, "Writing XML file, " + dir() + "pgm_flash_shared.xml"), 1);
        EXPECT_EQ(count(traces, "Writing new XML file"), 0);
        EXPECT_EQ(count(traces, "Before: db_dir_map->size()"), 1);
        EXPECT_EQ(custom.read("pgm_flash_shared.xml"),
                  document(flash_xml(device("SA")) + flash_xml(device("SB"))));
        EXPECT_TRUE(has(*mgr, "SA"));
    }
    {
        // The same for a template file.
        ASSERT_EQ(mkdir((custom.path() + "pgm_flash_template_held.xml").c_str(), 0755), 0);
        std::unique_ptr<VORN_FLASH> flash(issi(*mgr, new VORN_QSPI_FLASH("T")));
        flash->set_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME, "held");
        std::string d = dir();
        const auto traces = failed_change([&] { return mgr->update_template_db(flash.get(), d); });
        EXPECT_EQ(count(traces, "Deleting old XML file"), 1);
        EXPECT_EQ(count(traces, "Writing new XML file"), 0);
    }
    {
        // A folder that is gone by the time of the save: the touch fails.
        vorn_test::TempDir other;
        const std::string gone = other.path() + "gone/";
        ASSERT_EQ(mkdir(gone.c_str(), 0755), 0);
        VORN_MGR::set_db_custom_dir(gone);
        auto fresh = load();
        ASSERT_EQ(rmdir(gone.c_str()), 0);
        VORN_FLASH* flash = issi(*fresh, fresh->create_flash("NOWHERE"));
        const auto traces =
            failed_change([&] { return fresh->update_db(flash, FIO_PATH(gone).full_directory()); });
        EXPECT_EQ(count(traces, "Touch new XML file, " + gone + "pgm_flash_NOWHERE.xml"), 1);
        EXPECT_EQ(count(traces, "Deleting old XML file"), 1);
        EXPECT_EQ(count(traces, "Writing new XML file"), 0);
        EXPECT_EQ(count(traces, "Before:"), 0);
        VORN_MGR::set_db_custom_dir(custom.path());
    }
}

// When the old copy of a device cannot be deleted, the save stops there: neither the device
// nor the template it names is written.
TEST_F(QspiDb, AFailedDeletionOfTheOldCopyStopsTheSave) {
    write_custom("pgm_flash_OLD.xml", document(flash_xml(device("OLD"))));
    auto mgr = load();
    ASSERT_TRUE(has(*mgr, "OLD"));
    ASSERT_EQ(std::remove((custom.path() + "pgm_flash_OLD.xml").c_str()), 0);
    ASSERT_EQ(mkdir((custom.path() + "pgm_flash_OLD.xml").c_str(), 0755), 0);
    VORN_FLASH* flash = issi(*mgr, mgr->create_flash("OLD"));
    flash->set_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME, "riding");
    failed_change([&] { return mgr->update_db(flash, dir()); });
    EXPECT_FALSE(custom.exists("pgm_flash_template_riding.xml"));
    EXPECT_EQ(mgr->get_user_template_list(), std::vector<std::string>{});
    EXPECT_EQ(mgr->get_custom_dir_map().count("OLD"), 1u);
}

// A user file that did not load whole holds what the maps do not: no save replaces, rewrites
// or removes it, whether it is unreadable, empty, or loaded in part.
TEST_F(QspiDb, AFileThatDidNotLoadWholeIsNeverChangedByASave) {
    DEVICE refused = device("REFUSED");
    refused.total_die = "0";
    const std::string broken = document(flash_xml(device("TYPO"))).replace(20, 1, "");
    const std::string partial = document(flash_xml(device("FIRST")) + flash_xml(refused));
    const FLOW bad{write_reg("Write Enable", "0xZZ")};
    const std::string bad_template = document(template_xml("tbad", bad));
    write_custom("pgm_flash_TYPO.xml", broken);
    write_custom("pgm_flash_EMPTY.xml", "");
    write_custom("pgm_flash_pair.xml", partial);
    write_custom("pgm_flash_template_tbad.xml", bad_template);
    auto mgr = load();
    std::map<std::string, std::string> not_loaded;  // the custom directory's
    for (const auto& entry : mgr->get_files_not_loaded())
        if (entry.first.rfind(dir(), 0) == 0) not_loaded.insert(entry);
    EXPECT_EQ(not_loaded.size(), 4u);
    for (const char* file : {"pgm_flash_TYPO.xml", "pgm_flash_EMPTY.xml", "pgm_flash_pair.xml",
                             "pgm_flash_template_tbad.xml"})
        EXPECT_FALSE(not_loaded.count(dir() + file) == 0 || not_loaded.at(dir() + file).empty())
            << file;
    ASSERT_TRUE(has(*mgr, "FIRST"));

    for (const char* name : {"TYPO", "EMPTY", "FIRST"}) {
        SCOPED_TRACE(name);
        VORN_FLASH* flash = issi(*mgr, mgr->create_flash(name));
        failed_change([&] { return mgr->update_db(flash, dir()); });
    }
    failed_change([&] { return mgr->delete_db("FIRST", dir()); });
    std::unique_ptr<VORN_FLASH> carrier(issi(*mgr, new VORN_QSPI_FLASH("C")));
    carrier->set_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME, "tbad");
    std::string d = dir();
    EXPECT_FALSE(mgr->update_template_db(carrier.get(), d));

    EXPECT_EQ(custom.read("pgm_flash_TYPO.xml"), broken);
    EXPECT_EQ(custom.read("pgm_flash_EMPTY.xml"), "");
    EXPECT_EQ(custom.read("pgm_flash_pair.xml"), partial);
    EXPECT_EQ(custom.read("pgm_flash_template_tbad.xml"), bad_template);
    EXPECT_TRUE(has(*mgr, "FIRST"));

    // Files that loaded whole are saved over as ever.
    auto fresh = load();
    VORN_FLASH* flash = issi(*fresh, fresh->create_flash("NEW"));
    EXPECT_TRUE(fresh->update_db(flash, dir()));
    EXPECT_EQ(fresh->get_files_not_loaded(), mgr->get_files_not_loaded());
}

}  // namespace
