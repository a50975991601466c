// Operation lists from XML: order, values, the Custom description escapes, rejected values,
// the vendor and user template getters, and the structural internal errors.
#include <gtest/gtest.h>

#include <functional>

#include "pgm_common_xml_vorn_qspi_auto_export.h"
#include "test_qspi_fixture.h"

using namespace qspi_test;

namespace {

// Owns the operations a reader put into a list.
struct OWNED_LIST {
    std::vector<VORN_OPERATION*> ops;
    ~OWNED_LIST() {
        for (VORN_OPERATION* op : ops) delete op;
    }
};

class QspiFlows : public QspiTest {
  protected:
    void SetUp() override {
        QspiTest::SetUp();
        mgr = load();
    }

    // Parses `text` (a QSPI document) with the host parser, without the schema check.
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> parse(const std::string& text) {
        scratch.write("doc.xml", text);
        std::unique_ptr<PGM_COMMON_XML_ELEMENT> root(
            PGM_COMMON_XML::parse_xml(PGM_COMMON_XML_FILE_VORN_QSPI, scratch.file("doc.xml"),
                                      programmer.file("xsd/vorn_qspi.xsd"), true, "", "", ""));
        EXPECT_NE(root, nullptr) << PGM_COMMON_XML::last_error();
        return root;
    }

    // The SFL element of the first FLASH of a parsed document.
    static PGM_COMMON_XML_ELEMENT* first_sfl(PGM_COMMON_XML_ELEMENT* root) {
        return root->get_childs(PGM_COMMON_XML_ENUM_FLASH, true)
            .at(0)
            ->get_childs(PGM_COMMON_XML_ENUM_PROGRAMMING_FLOW, true)
            .at(0)
            ->get_childs(PGM_COMMON_XML_ENUM_SFL, true)
            .at(0);
    }

    // Loads one custom file holding `d` and returns the record, or null when it was dropped.
    VORN_FLASH* load_device(const DEVICE& d) {
        write_custom("pgm_flash_one.xml", document(flash_xml(d)));
        mgr = load();
        auto it = mgr->get_flash_map().find(d.name);
        return it == mgr->get_flash_map().end() ? nullptr : it->second;
    }

    std::string internal_error(const std::function<void()>& call) {
        try {
            call();
        } catch (const VORN_INTERNAL_ERROR& e) {
            EXPECT_EQ(std::string(e.file()), "pgm/vorn/vorn_qspi_mgr");
            return e.what();
        }
        return "";
    }

    vorn_test::TempDir scratch;
    std::unique_ptr<VORN_QSPI_MGR> mgr;
};

TEST_F(QspiFlows, OperationsComeOutInTypeOrderWhateverTheFileOrder) {
    const std::string sfl =
        "<SFL>" + leaf("TERMINATION", write_reg("Exit", "0x04")) +
        leaf("VERIFY_BLANKCHECK_EXAMINE", "") + leaf("ERASE", write_reg("Erase Enable", "0x06")) +
        leaf("INITIALIZATION", write_reg("Reset Enable", "0x66") + write_reg("Reset", "0x99")) +
        leaf("PROGRAM", "") + "</SFL>";
    const std::string text =
        document("<FLASH><DEVICE_INFO>" + leaf("DEVICE_NAME", "ORDER") + leaf("DEVICE_ID", "0x20") +
                 leaf("DEVICE_IO_VOLTAGE", "1.8V") + leaf("DEVICE_DENSITY", "128Mb") +
                 leaf("TOTAL_DEVICE_DIE", "1") + leaf("DUMMY_CLOCK_CYCLE", "8") +
                 leaf("DUMMY_CLOCK_CYCLE_X4", "10") + leaf("PROG_FLOW_TEMPLATE", "Micron") +
                 "</DEVICE_INFO><PROGRAMMING_FLOW><SDM>" + flow_body({}) + "</SDM>" + sfl +
                 "</PROGRAMMING_FLOW></FLASH>");
    write_custom("pgm_flash_order.xml", text);
    mgr = load();
    ASSERT_EQ(mgr->get_flash_map().count("ORDER"), 1u);
    const auto& ops =
        *mgr->get_flash_map().at("ORDER")->get_operation_list(VORN_PROG_FLOW_TYPE_SFL);
    ASSERT_EQ(ops.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(ops[i]->get_type(), static_cast<VORN_OP_TYPE>(i));
        EXPECT_EQ(ops[i]->get_name(), VORN_OP_TYPE_NAME[i]);
    }
    ASSERT_EQ(ops[0]->get_action_list()->size(), 2u);
    EXPECT_EQ(
        ops[0]->get_action_list()->at(0)->get_property_value(VORN_ACT_PROPERTY_WRITE_REG_NAME),
        "Reset Enable");
    EXPECT_EQ(
        ops[0]->get_action_list()->at(1)->get_property_value(VORN_ACT_PROPERTY_WRITE_REG_NAME),
        "Reset");
    EXPECT_TRUE(ops[1]->get_action_list()->empty());
    EXPECT_EQ(
        ops[4]->get_action_list()->at(0)->get_property_value(VORN_ACT_PROPERTY_WRITE_REG_COMMAND),
        "0x04");
}

TEST_F(QspiFlows, EveryActionTypeIsReadWithItsValuesAsWritten) {
    DEVICE d = device("VALUES");
    d.sfl.program =
        write_reg("Write Enable", "0x06", "", "100") +
        action("WRITE_DATA", leaf("NAME", "Page Program") + leaf("COMMAND", "0x12") +
                                 leaf("ADDRESS", "0x1000") + leaf("DATA", "data.jic") +
                                 leaf("PAGE_SIZE", "256") + leaf("ADDRESSING_MODE", "4") +
                                 delay("0") + leaf("BUS_WIDTH", "1-1-1")) +
        read_reg("Read Status", "0x05", "0x00", "0x01", "5000");
    d.sfl.verify =
        action("READ_DATA", leaf("NAME", "Fast Read") + leaf("COMMAND", "0x0C") +
                                leaf("ADDRESS", "data.jic") + leaf("DATA_LENGTH", "data.jic") +
                                leaf("EXPECTED_DATA", "data.jic") + leaf("EXPECTED_DATA_MASK", "") +
                                leaf("ADDRESSING_MODE", "4") + leaf("ACT_DUMMY_CLOCK_CYCLE", "8") +
                                delay("2") + leaf("BUS_WIDTH", "1-1-1"));
    d.sfl.erase =
        action("ERASE", leaf("NAME", "Sector Erase") + leaf("COMMAND", "0xDC") +
                            leaf("ADDRESS", "data.jic") + leaf("ERASE_SIZE", "65536") +
                            leaf("ADDRESSING_MODE", "4") + delay("0") + leaf("BUS_WIDTH", "1-1"));
    VORN_FLASH* flash = load_device(d);
    ASSERT_NE(flash, nullptr);
    const auto& ops = *flash->get_operation_list(VORN_PROG_FLOW_TYPE_SFL);
    const auto& program = *ops[VORN_OP_TYPE_PROGRAM]->get_action_list();
    ASSERT_EQ(program.size(), 3u);
    EXPECT_EQ(values_of(program[0]),
              (std::vector<std::string>{"Write Enable", "0x06", "", "100", "1-1"}));
    EXPECT_EQ(values_of(program[1]),
              (std::vector<std::string>{"Page Program", "0x12", "0x1000", "data.jic", "256", "4",
                                        "0", "1-1-1"}));
    EXPECT_EQ(values_of(program[2]), (std::vector<std::string>{"Read Status", "0x05", "1", "0x00",
                                                               "0x01", "5000", "100", "1-1"}));
    EXPECT_EQ(values_of(ops[VORN_OP_TYPE_VERIFY_BLANKCHECK_EXAMINE]->get_action_list()->at(0)),
              (std::vector<std::string>{"Fast Read", "0x0C", "data.jic", "data.jic", "data.jic", "",
                                        "4", "8", "2", "1-1-1"}));
    EXPECT_EQ(
        values_of(ops[VORN_OP_TYPE_ERASE]->get_action_list()->at(0)),
        (std::vector<std::string>{"Sector Erase", "0xDC", "data.jic", "65536", "4", "0", "1-1"}));
}

TEST_F(QspiFlows, CustomDescriptionEscapes) {
    struct CASE {
        std::string stored;
        std::string read;
    };
    const CASE cases[] = {
        {"Erase data\\nEnd of data?", "Erase data\nEnd of data?"},
        {"ab", "ab"},
        {"\\n", "\n"},
        {"trailing\\n", "trailing\n"},
        {"a\\nb\\nc", "a\nb\nc"},
        {"back\\slash", "back\\slash"},
        {"x\\", "x\\"},
        {"\\\\n", "\\\n"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.stored);
        DEVICE d = device("CUSTOM");
        d.sdm.erase = custom_action(c.stored, "start");
        VORN_FLASH* flash = load_device(d);
        ASSERT_NE(flash, nullptr);
        const VORN_ACTION* act =
            flash->get_operation_list(VORN_PROG_FLOW_TYPE_SDM)->at(2)->get_action_list()->at(0);
        EXPECT_EQ(act->get_type(), VORN_ACT_TYPE_CUSTOM);
        EXPECT_EQ(act->get_property_value(VORN_ACT_PROPERTY_CUSTOM_DESCRIPTION), c.read);
        EXPECT_EQ(act->get_property_value(VORN_ACT_PROPERTY_CUSTOM_DIRECTION), "start");
    }
}

TEST_F(QspiFlows, EmptyDescriptionOrMissingChildRejectsTheFlowWithoutCrashing) {
    const std::string actions[] = {
        custom_action("", "end"),
        action("CUSTOM", leaf("DIRECTION", "end")),
        action("WRITE_REG", leaf("NAME", "No Command") + leaf("DATA", "") + delay("0") +
                                leaf("BUS_WIDTH", "1-1")),
        action("READ_DATA", leaf("NAME", "Read")),
        action("ERASE", ""),
    };
    for (const std::string& a : actions) {
        SCOPED_TRACE(a);
        DEVICE d = device("SHORT");
        d.sfl.termination = a;
        write_custom("pgm_flash_one.xml",
                     document(flash_xml(device("KEPT")) + flash_xml(d) + template_xml("tpl")));
        std::unique_ptr<VORN_QSPI_MGR> loaded;
        ASSERT_NO_THROW(loaded = load());
        EXPECT_EQ(loaded->get_flash_map().count("KEPT"), 1u);
        EXPECT_EQ(loaded->get_flash_map().count("SHORT"), 0u);
        EXPECT_TRUE(loaded->get_user_template_list().empty());
    }
}

TEST_F(QspiFlows, RejectedValueKeepsDefaultsForThatAndLaterActionsOfTheOperation) {
    const std::string actions = write_reg("Write Enable", "0x06") +
                                read_reg("Poll", "0x05", "0xZZ", "0x01", "7") +
                                write_reg("After", "0x04", "0x00", "50");
    auto root = parse(document(flash_xml([&] {
        DEVICE d = device("D");
        d.sfl.initialization = actions;
        d.sfl.program = write_reg("Other Operation", "0x02");
        return d;
    }())));
    ASSERT_NE(root, nullptr);
    OWNED_LIST list;
    vorn_test::MessageCapture capture;
    EXPECT_FALSE(mgr->update_operation_list(first_sfl(root.get()), list.ops));
    EXPECT_TRUE(capture.has_id(20495));
    ASSERT_EQ(list.ops.size(), 5u);
    const auto& init = *list.ops[0]->get_action_list();
    ASSERT_EQ(init.size(), 3u);
    EXPECT_EQ(init[0]->get_property_value(VORN_ACT_PROPERTY_WRITE_REG_NAME), "Write Enable");
    // The rejected action and the one after it keep their constructor defaults.
    EXPECT_EQ(values_of(init[1]), (std::vector<std::string>{"", "", "", "", "", "1", "0", "1-1"}));
    EXPECT_EQ(values_of(init[2]), (std::vector<std::string>{"", "", "", "0", "1-1"}));
    // Another operation is read normally.
    EXPECT_EQ(
        list.ops[1]->get_action_list()->at(0)->get_property_value(VORN_ACT_PROPERTY_WRITE_REG_NAME),
        "Other Operation");
}

TEST_F(QspiFlows, EveryPropertyOfARejectedActionIsChecked) {
    auto root = parse(document(flash_xml([&] {
        DEVICE d = device("D");
        d.sfl.erase = action("ERASE", leaf("NAME", "Bad-Name") + leaf("COMMAND", "0x1FF") +
                                          leaf("ADDRESS", "") + leaf("ERASE_SIZE", "0") +
                                          leaf("ADDRESSING_MODE", "0") + delay("0") +
                                          leaf("BUS_WIDTH", "1-1-1"));
        return d;
    }())));
    ASSERT_NE(root, nullptr);
    OWNED_LIST list;
    vorn_test::MessageCapture capture;
    EXPECT_FALSE(mgr->update_operation_list(first_sfl(root.get()), list.ops));
    EXPECT_EQ(capture.message_ids(),
              (std::vector<unsigned>{20485, 20486, 20502, 20499, 20503, 20505}));
}

TEST_F(QspiFlows, OverallReaderReadsBothFlowsEvenWhenTheFirstFails) {
    auto root = parse(document(flash_xml([&] {
        DEVICE d = device("D");
        d.sfl.program = write_reg("Bad", "0x06 0x06");
        d.sdm.program = write_reg("Good", "0x06");
        return d;
    }())));
    ASSERT_NE(root, nullptr);
    OWNED_LIST sfl;
    OWNED_LIST sdm;
    vorn_test::MessageCapture capture;
    PGM_COMMON_XML_ELEMENT* flash_element = root->get_childs(PGM_COMMON_XML_ENUM_FLASH, true).at(0);
    EXPECT_FALSE(mgr->update_overall_operation_list(flash_element, sfl.ops, sdm.ops));
    ASSERT_EQ(sdm.ops.size(), 5u);
    EXPECT_EQ(
        sdm.ops[1]->get_action_list()->at(0)->get_property_value(VORN_ACT_PROPERTY_WRITE_REG_NAME),
        "Good");
}

TEST_F(QspiFlows, StructuralFaultsAreInternalErrors) {
    OWNED_LIST list;
    EXPECT_EQ(internal_error([&] { mgr->update_operation_list(nullptr, list.ops); }), "xml");
    EXPECT_EQ(
        internal_error([&] { mgr->update_overall_operation_list(nullptr, list.ops, list.ops); }),
        "xml");
    EXPECT_EQ(internal_error(
                  [&] { mgr->add_operation_into_list(VORN_OP_TYPE_ERASE, nullptr, list.ops); }),
              "xml");

    // A flow element lacking its Erase operation.
    PGM_COMMON_XML_VORN_QSPI_SFL sfl(PGM_COMMON_XML_ENUM_SFL);
    sfl.add_child(new PGM_COMMON_XML_VORN_QSPI_INITIALIZATION(PGM_COMMON_XML_ENUM_INITIALIZATION));
    sfl.add_child(new PGM_COMMON_XML_VORN_QSPI_PROGRAM(PGM_COMMON_XML_ENUM_PROGRAM));
    sfl.add_child(new PGM_COMMON_XML_VORN_QSPI_VERIFY_BLANKCHECK_EXAMINE(
        PGM_COMMON_XML_ENUM_VERIFY_BLANKCHECK_EXAMINE));
    sfl.add_child(new PGM_COMMON_XML_VORN_QSPI_TERMINATION(PGM_COMMON_XML_ENUM_TERMINATION));
    EXPECT_EQ(internal_error([&] { mgr->update_operation_list(&sfl, list.ops); }),
              "xml->get_child_count(PGM_COMMON_XML_ENUM_ERASE) == 1");
    EXPECT_TRUE(list.ops.empty());

    // A second Termination.
    sfl.add_child(new PGM_COMMON_XML_VORN_QSPI_ERASE(PGM_COMMON_XML_ENUM_ERASE));
    sfl.add_child(new PGM_COMMON_XML_VORN_QSPI_TERMINATION(PGM_COMMON_XML_ENUM_TERMINATION));
    EXPECT_EQ(internal_error([&] { mgr->update_operation_list(&sfl, list.ops); }),
              "xml->get_child_count(PGM_COMMON_XML_ENUM_TERMINATION) == 1");

    // An output list that already holds operations.
    OWNED_LIST full;
    full.ops.push_back(mgr->create_operation(VORN_OP_TYPE_PROGRAM));
    EXPECT_EQ(internal_error([&] { mgr->update_operation_list(&sfl, full.ops); }),
              "op_list.size() == 0");

    // An element without a programming flow.
    PGM_COMMON_XML_VORN_QSPI_FLASH flash(PGM_COMMON_XML_ENUM_FLASH);
    OWNED_LIST sdm;
    EXPECT_EQ(
        internal_error([&] { mgr->update_overall_operation_list(&flash, list.ops, sdm.ops); }),
        "xml->get_child_count(PGM_COMMON_XML_ENUM_PROGRAMMING_FLOW) == 1");
    EXPECT_EQ(
        internal_error([&] { mgr->update_overall_operation_list(&flash, full.ops, sdm.ops); }),
        "sfl.size() == 0");
}

TEST_F(QspiFlows, UnknownActionTypeMidFlowLeaksNothing) {
    PGM_COMMON_XML_VORN_QSPI_SFL sfl(PGM_COMMON_XML_ENUM_SFL);
    for (PGM_COMMON_XML_ELEMENT* op : std::initializer_list<PGM_COMMON_XML_ELEMENT*>{
             new PGM_COMMON_XML_VORN_QSPI_INITIALIZATION(PGM_COMMON_XML_ENUM_INITIALIZATION),
             new PGM_COMMON_XML_VORN_QSPI_PROGRAM(PGM_COMMON_XML_ENUM_PROGRAM),
             new PGM_COMMON_XML_VORN_QSPI_ERASE(PGM_COMMON_XML_ENUM_ERASE),
             new PGM_COMMON_XML_VORN_QSPI_VERIFY_BLANKCHECK_EXAMINE(
                 PGM_COMMON_XML_ENUM_VERIFY_BLANKCHECK_EXAMINE),
             new PGM_COMMON_XML_VORN_QSPI_TERMINATION(PGM_COMMON_XML_ENUM_TERMINATION)})
        sfl.add_child(op);
    // An action whose type was never set, in the third operation.
    sfl.get_childs(PGM_COMMON_XML_ENUM_ERASE, true)
        .at(0)
        ->add_child(new PGM_COMMON_XML_VORN_QSPI_ACTION(PGM_COMMON_XML_ENUM_ACTION));
    OWNED_LIST list;
    EXPECT_EQ(internal_error([&] { mgr->update_operation_list(&sfl, list.ops); }),
              "Unknown action type");
    // The two operations read before the fault belong to the caller's list.
    EXPECT_EQ(list.ops.size(), 2u);
}

TEST_F(QspiFlows, VendorTemplateGetter) {
    for (int t = VORN_PROG_FLOW_TEMPLATE_MICRON; t <= VORN_PROG_FLOW_TEMPLATE_ISSI; ++t) {
        auto tpl = static_cast<VORN_PROG_FLOW_TEMPLATE>(t);
        auto* sfl = mgr->get_prog_flow_template_operation_list(tpl, VORN_PROG_FLOW_TYPE_SFL);
        auto* sdm = mgr->get_prog_flow_template_operation_list(tpl, VORN_PROG_FLOW_TYPE_SDM);
        ASSERT_NE(sfl, nullptr);
        ASSERT_NE(sdm, nullptr);
        EXPECT_NE(sfl, sdm);
        EXPECT_EQ(sfl->size(), 5u);
        EXPECT_EQ(sdm->size(), 5u);
        // Each call hands out the manager's own list, not a copy.
        EXPECT_EQ(mgr->get_prog_flow_template_operation_list(tpl, VORN_PROG_FLOW_TYPE_SFL), sfl);
    }
    EXPECT_NE(mgr->get_prog_flow_template_operation_list(VORN_PROG_FLOW_TEMPLATE_ISSI,
                                                         VORN_PROG_FLOW_TYPE_SDM),
              mgr->get_prog_flow_template_operation_list(VORN_PROG_FLOW_TEMPLATE_WINBOND,
                                                         VORN_PROG_FLOW_TYPE_SDM));
    EXPECT_EQ(internal_error([&] {
                  mgr->get_prog_flow_template_operation_list(
                      static_cast<VORN_PROG_FLOW_TEMPLATE>(5), VORN_PROG_FLOW_TYPE_SFL);
              }),
              "Unknown programming flow template");
}

TEST_F(QspiFlows, VendorFlowsComeFromTheirOwnGoldenElements) {
    FLOW issi;
    issi.initialization = write_reg("Issi Only", "0x35");
    FLOW cypress;
    cypress.initialization = write_reg("Cypress Only", "0x36");
    write_golden(golden_document(vendor_xml("MICRON") + vendor_xml("MACRONIX") +
                                     vendor_xml("CYPRESS", cypress) + vendor_xml("WINBOND") +
                                     vendor_xml("ISSI", issi),
                                 ""));
    mgr = load();
    auto first_name = [&](VORN_PROG_FLOW_TEMPLATE tpl) {
        return mgr->get_prog_flow_template_operation_list(tpl, VORN_PROG_FLOW_TYPE_SDM)
            ->at(0)
            ->get_action_list()
            ->at(0)
            ->get_property_value(VORN_ACT_PROPERTY_WRITE_REG_NAME);
    };
    EXPECT_EQ(first_name(VORN_PROG_FLOW_TEMPLATE_ISSI), "Issi Only");
    EXPECT_EQ(first_name(VORN_PROG_FLOW_TEMPLATE_CYPRESS), "Cypress Only");
    EXPECT_EQ(first_name(VORN_PROG_FLOW_TEMPLATE_MICRON), "Write Enable");
}

TEST_F(QspiFlows, UserTemplateGetter) {
    FLOW sfl;
    sfl.program = write_reg("Sfl Step", "0x06");
    FLOW sdm;
    sdm.program = write_reg("Sdm Step", "0x06");
    write_custom("pgm_flash_tpl.xml", document(template_xml("mine", sfl, sdm)));
    mgr = load();
    std::string name = "mine";
    auto* s = mgr->get_user_template_operation_list(name, VORN_PROG_FLOW_TYPE_SFL);
    auto* d = mgr->get_user_template_operation_list(name, VORN_PROG_FLOW_TYPE_SDM);
    EXPECT_EQ(
        s->at(1)->get_action_list()->at(0)->get_property_value(VORN_ACT_PROPERTY_WRITE_REG_NAME),
        "Sfl Step");
    EXPECT_EQ(
        d->at(1)->get_action_list()->at(0)->get_property_value(VORN_ACT_PROPERTY_WRITE_REG_NAME),
        "Sdm Step");
    std::string other_case = "Mine";
    EXPECT_EQ(internal_error([&] {
                  mgr->get_user_template_operation_list(other_case, VORN_PROG_FLOW_TYPE_SFL);
              }),
              "Unknown user template Mine");
}

}  // namespace
