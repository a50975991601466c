// Writing QSPI XML: device and template documents, number and description formats, template
// files and their failures, user templates, and round trips through a fresh manager.
#include <gtest/gtest.h>

#include <functional>

#include "host_fault.h"
#include "pgm_common_xml_vorn_qspi_auto_export.h"
#include "test_qspi_fixture.h"

using namespace qspi_test;

namespace {

using TAGS = std::vector<std::string>;

constexpr unsigned kFailedToUpdate = 20560;

TAGS tags_of(const PGM_COMMON_XML_ELEMENT* element) {
    TAGS out;
    for (const PGM_COMMON_XML_ELEMENT* child : element->get_all_childs())
        out.push_back(child->get_tag());
    return out;
}

// The value text of each child, as it goes into the file.
TAGS texts_of(const PGM_COMMON_XML_ELEMENT* element) {
    TAGS out;
    for (const PGM_COMMON_XML_ELEMENT* child : element->get_all_childs())
        out.push_back(child->get_value_text());
    return out;
}

PGM_COMMON_XML_ELEMENT* child(const PGM_COMMON_XML_ELEMENT* element, PGM_COMMON_XML_ENUM kind,
                              size_t index = 0) {
    return element->get_childs(kind, true).at(index);
}

template <typename LEAF>
auto value_of(const PGM_COMMON_XML_ELEMENT* parent, PGM_COMMON_XML_ENUM kind) {
    return static_cast<const LEAF*>(child(parent, kind))->value;
}

std::unique_ptr<VORN_ACTION> make_action(VORN_ACT_TYPE type,
                                         const std::vector<std::string>& values) {
    std::unique_ptr<VORN_ACTION> act(new VORN_QSPI_ACTION(type));
    const auto& props = act->get_property_enum_list();
    EXPECT_EQ(props.size(), values.size());
    for (size_t i = 0; i < props.size() && i < values.size(); ++i)
        act->set_property_value(props[i], values[i]);
    return act;
}

// One action of every type with every property set to a valid, non-default value.
std::vector<std::unique_ptr<VORN_ACTION>> every_action_kind() {
    std::vector<std::unique_ptr<VORN_ACTION>> acts;
    acts.push_back(make_action(VORN_ACT_TYPE_WRITE_REGISTER,
                               {"Write Status", "0x01", "0x00 0x02", "5", "1-1"}));
    acts.push_back(
        make_action(VORN_ACT_TYPE_READ_REGISTER,
                    {"Read Status", "0x05", "2", "0x00 0x00", "0x01 0x01", "300", "10", "1-1"}));
    acts.push_back(make_action(VORN_ACT_TYPE_WRITE_DATA, {"Quad Program", "0x34", "data.jic",
                                                          "data.jic", "256", "4", "7", "1-1-1"}));
    acts.push_back(make_action(VORN_ACT_TYPE_READ_DATA, {"Fast Read", "0x0C", "0x0", "data.jic",
                                                         "data.jic", "", "4", "8", "1", "1-1-1"}));
    acts.push_back(make_action(VORN_ACT_TYPE_ERASE,
                               {"Sector Erase", "0xDC", "data.jic", "65536", "4", "3000", "1-1"}));
    acts.push_back(make_action(VORN_ACT_TYPE_CUSTOM, {"Erase data\nfollows here\n", "start"}));
    return acts;
}

class QspiWrite : public QspiTest {
  protected:
    void SetUp() override {
        QspiTest::SetUp();
        HOST_FAULT::clear();
        mgr = load();
    }
    void TearDown() override {
        HOST_FAULT::clear();
        QspiTest::TearDown();
    }

    // A complete, valid record owned by the test: flows copied from the Macronix template.
    std::unique_ptr<VORN_FLASH> valid_flash(const std::string& name) {
        std::unique_ptr<VORN_FLASH> flash(new VORN_QSPI_FLASH(name));
        complete_record(*mgr, flash.get(), VORN_PROG_FLOW_TEMPLATE_MACRONIX, "0xC2 0x25 0x3A",
                        "1.8V", "512Mb");
        flash->set_parameter_value(VORN_FLASH_PARAM_TOTAL_DIE, 2u);
        return flash;
    }

    std::string internal_error(const std::function<void()>& call,
                               const std::string& file = "pgm/vorn/vorn_qspi_mgr") {
        try {
            call();
        } catch (const VORN_INTERNAL_ERROR& e) {
            EXPECT_EQ(std::string(e.file()), file);
            return e.what();
        }
        return "";
    }

    // The ACTION elements of one operation element of a flow element.
    static std::vector<PGM_COMMON_XML_ELEMENT*> actions_of(const PGM_COMMON_XML_ELEMENT* flow,
                                                           size_t op_index) {
        return flow->get_all_childs().at(op_index)->get_childs(PGM_COMMON_XML_ENUM_ACTION, true);
    }

    std::unique_ptr<VORN_QSPI_MGR> mgr;
};

TEST_F(QspiWrite, DeviceDocumentLayoutAndValues) {
    auto flash = valid_flash("WRITTEN");
    flash->set_parameter_value(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE, "");
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> root(
        mgr->create_xml_object_with_flash_list({flash.get()}));
    ASSERT_NE(dynamic_cast<PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH*>(root.get()), nullptr);
    EXPECT_EQ(static_cast<PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH*>(root.get())->version, 1u);
    EXPECT_EQ(tags_of(root.get()), TAGS{"FLASH"});
    const PGM_COMMON_XML_ELEMENT* flash_element = child(root.get(), PGM_COMMON_XML_ENUM_FLASH);
    EXPECT_EQ(tags_of(flash_element), (TAGS{"DEVICE_INFO", "PROGRAMMING_FLOW"}));
    const PGM_COMMON_XML_ELEMENT* info = child(flash_element, PGM_COMMON_XML_ENUM_DEVICE_INFO);
    EXPECT_EQ(tags_of(info), (TAGS{"DEVICE_NAME", "DEVICE_ID", "DEVICE_IO_VOLTAGE",
                                   "DEVICE_DENSITY", "TOTAL_DEVICE_DIE", "DUMMY_CLOCK_CYCLE",
                                   "DUMMY_CLOCK_CYCLE_X4", "PROG_FLOW_TEMPLATE"}));
    // An empty template is still written.
    EXPECT_EQ(texts_of(info),
              (TAGS{"WRITTEN", "0xC2 0x25 0x3A", "1.8V", "512Mb", "2", "8", "6", ""}));
    EXPECT_EQ(value_of<PGM_COMMON_XML_VORN_QSPI_TOTAL_DEVICE_DIE>(
                  info, PGM_COMMON_XML_ENUM_TOTAL_DEVICE_DIE),
              2u);

    const PGM_COMMON_XML_ELEMENT* flow = child(flash_element, PGM_COMMON_XML_ENUM_PROGRAMMING_FLOW);
    EXPECT_EQ(tags_of(flow), (TAGS{"SFL", "SDM"}));
    EXPECT_EQ(
        tags_of(child(flow, PGM_COMMON_XML_ENUM_SFL)),
        (TAGS{"INITIALIZATION", "PROGRAM", "ERASE", "VERIFY_BLANKCHECK_EXAMINE", "TERMINATION"}));

    // Several devices go in list order, not name order.
    auto second = valid_flash("AAA");
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> two(
        mgr->create_xml_object_with_flash_list({flash.get(), second.get()}));
    auto flashes = two->get_childs(PGM_COMMON_XML_ENUM_FLASH, true);
    ASSERT_EQ(flashes.size(), 2u);
    EXPECT_EQ(texts_of(child(flashes[1], PGM_COMMON_XML_ENUM_DEVICE_INFO)).front(), "AAA");
}

TEST_F(QspiWrite, FlowsKeepListOrderAndAnEmptyFlowIsAnEmptyElement) {
    auto flash = valid_flash("FLOWS");
    // Two operations of one type in an SFL list out of type order; the SDM list emptied.
    std::vector<VORN_OPERATION*> list;
    list.push_back(new VORN_QSPI_OPERATION(VORN_OP_TYPE_PROGRAM));
    list.push_back(new VORN_QSPI_OPERATION(VORN_OP_TYPE_PROGRAM));
    list.push_back(new VORN_QSPI_OPERATION(VORN_OP_TYPE_INITIALIZATION));
    list[1]->add_action_into_list(
        make_action(VORN_ACT_TYPE_WRITE_REGISTER, {"Second", "0x06", "", "0", "1-1"}).release());
    flash->set_operation_list(list, VORN_PROG_FLOW_TYPE_SFL);
    std::vector<VORN_OPERATION*> sfl_only = copy_operations(list);
    flash->clear_operation_list();
    flash->set_operation_list(sfl_only, VORN_PROG_FLOW_TYPE_SFL);

    std::unique_ptr<PGM_COMMON_XML_VORN_QSPI_PROGRAMMING_FLOW> flow(
        mgr->create_xml_programming_flow(flash.get()));
    EXPECT_EQ(tags_of(flow.get()), (TAGS{"SFL", "SDM"}));
    const PGM_COMMON_XML_ELEMENT* sfl_element = child(flow.get(), PGM_COMMON_XML_ENUM_SFL);
    EXPECT_EQ(tags_of(sfl_element), (TAGS{"PROGRAM", "PROGRAM", "INITIALIZATION"}));
    EXPECT_TRUE(actions_of(sfl_element, 0).empty());
    EXPECT_EQ(actions_of(sfl_element, 1).size(), 1u);
    EXPECT_TRUE(child(flow.get(), PGM_COMMON_XML_ENUM_SDM)->get_all_childs().empty());
}

TEST_F(QspiWrite, ActionsCarryTheirTypeAndTheFixedPropertyRun) {
    auto flash = valid_flash("ACTIONS");
    std::vector<VORN_OPERATION*> list;
    list.push_back(new VORN_QSPI_OPERATION(VORN_OP_TYPE_PROGRAM));
    for (auto& act : every_action_kind()) list[0]->add_action_into_list(act.release());
    flash->set_operation_list(list, VORN_PROG_FLOW_TYPE_SDM);
    std::unique_ptr<PGM_COMMON_XML_VORN_QSPI_PROGRAMMING_FLOW> flow(
        mgr->create_xml_programming_flow(flash.get()));
    const auto acts = actions_of(child(flow.get(), PGM_COMMON_XML_ENUM_SDM), 0);
    ASSERT_EQ(acts.size(), 6u);
    const PGM_COMMON_XML_ENUM types[] = {
        PGM_COMMON_XML_ENUM_WRITE_REG, PGM_COMMON_XML_ENUM_READ_REG, PGM_COMMON_XML_ENUM_WRITE_DATA,
        PGM_COMMON_XML_ENUM_READ_DATA, PGM_COMMON_XML_ENUM_ERASE,    PGM_COMMON_XML_ENUM_CUSTOM};
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(static_cast<PGM_COMMON_XML_VORN_QSPI_ACTION*>(acts[i])->type, types[i]);
    EXPECT_EQ(tags_of(acts[0]), (TAGS{"NAME", "COMMAND", "DATA", "DELAY", "BUS_WIDTH"}));
    EXPECT_EQ(tags_of(acts[1]),
              (TAGS{"NAME", "COMMAND", "DATA_LENGTH", "EXPECTED_DATA", "EXPECTED_DATA_MASK",
                    "ATTEMPT_COUNT", "DELAY", "BUS_WIDTH"}));
    EXPECT_EQ(tags_of(acts[2]), (TAGS{"NAME", "COMMAND", "ADDRESS", "DATA", "PAGE_SIZE",
                                      "ADDRESSING_MODE", "DELAY", "BUS_WIDTH"}));
    EXPECT_EQ(tags_of(acts[3]), (TAGS{"NAME", "COMMAND", "ADDRESS", "DATA_LENGTH", "EXPECTED_DATA",
                                      "EXPECTED_DATA_MASK", "ADDRESSING_MODE",
                                      "ACT_DUMMY_CLOCK_CYCLE", "DELAY", "BUS_WIDTH"}));
    EXPECT_EQ(tags_of(acts[4]), (TAGS{"NAME", "COMMAND", "ADDRESS", "ERASE_SIZE", "ADDRESSING_MODE",
                                      "DELAY", "BUS_WIDTH"}));
    EXPECT_EQ(tags_of(acts[5]), (TAGS{"DESCRIPTION", "DIRECTION"}));
    EXPECT_EQ(texts_of(acts[1]),
              (TAGS{"Read Status", "0x05", "2", "0x00 0x00", "0x01 0x01", "300", "10", "1-1"}));
    EXPECT_EQ(texts_of(acts[4]),
              (TAGS{"Sector Erase", "0xDC", "data.jic", "65536", "4", "3000", "1-1"}));
    EXPECT_EQ(texts_of(acts[5]), (TAGS{"Erase data\\nfollows here\n", "start"}));
    const auto* delay_element = static_cast<const PGM_COMMON_XML_VORN_QSPI_DELAY*>(
        child(acts[4], PGM_COMMON_XML_ENUM_DELAY));
    EXPECT_EQ(delay_element->value, 3000u);
    EXPECT_EQ(delay_element->unit, "us");
}

TEST_F(QspiWrite, NumbersAreReadWithAutomaticBase) {
    struct CASE {
        const char* text;
        unsigned int written;
    };
    const CASE cases[] = {{"100", 100},
                          {"0x64", 100},
                          {"010", 8},
                          {"0", 0},
                          {"0x", 0},
                          {"0xFFFFFFFF", 4294967295u},
                          {"4294967295", 4294967295u}};
    for (const CASE& c : cases) {
        auto act = make_action(VORN_ACT_TYPE_WRITE_REGISTER, {"Step", "0x06", "", c.text, "1-1"});
        PGM_COMMON_XML_VORN_QSPI_ACTION element(PGM_COMMON_XML_ENUM_ACTION);
        mgr->update_xml_action_property(act.get(), &element, VORN_ACT_PROPERTY_WRITE_REG_DELAY);
        const auto* delay_element = static_cast<const PGM_COMMON_XML_VORN_QSPI_DELAY*>(
            child(&element, PGM_COMMON_XML_ENUM_DELAY));
        EXPECT_EQ(delay_element->value, c.written) << c.text;
        EXPECT_EQ(delay_element->unit, "us");
    }
    auto act = make_action(VORN_ACT_TYPE_READ_DATA,
                           {"Read", "0x03", "0x0", "1", "", "", "010", "0xF", "0", "1-1-1"});
    PGM_COMMON_XML_VORN_QSPI_ACTION element(PGM_COMMON_XML_ENUM_ACTION);
    mgr->update_xml_action_property(act.get(), &element,
                                    VORN_ACT_PROPERTY_READ_DATA_ADDRESSING_MODE);
    mgr->update_xml_action_property(act.get(), &element,
                                    VORN_ACT_PROPERTY_READ_DATA_DUMMY_CLOCK_CYCLE);
    EXPECT_EQ(value_of<PGM_COMMON_XML_VORN_QSPI_ADDRESSING_MODE>(
                  &element, PGM_COMMON_XML_ENUM_ADDRESSING_MODE),
              8u);
    EXPECT_EQ(value_of<PGM_COMMON_XML_VORN_QSPI_ACT_DUMMY_CLOCK_CYCLE>(
                  &element, PGM_COMMON_XML_ENUM_ACT_DUMMY_CLOCK_CYCLE),
              15u);
    // Text properties keep their text, a hexadecimal prefix included.
    mgr->update_xml_action_property(act.get(), &element, VORN_ACT_PROPERTY_READ_DATA_ADDRESS);
    EXPECT_EQ(value_of<PGM_COMMON_XML_VORN_QSPI_ADDRESS>(&element, PGM_COMMON_XML_ENUM_ADDRESS),
              "0x0");

    // A number past 32 bits cannot be written without changing it.
    auto big =
        make_action(VORN_ACT_TYPE_WRITE_REGISTER, {"Step", "0x06", "", "0x100000000", "1-1"});
    EXPECT_EQ(internal_error([&] {
                  mgr->update_xml_action_property(big.get(), &element,
                                                  VORN_ACT_PROPERTY_WRITE_REG_DELAY);
              }),
              "value <= 0xFFFFFFFF");
}

TEST_F(QspiWrite, DescriptionEscaping) {
    struct CASE {
        std::string value;
        std::string written;
    };
    const CASE cases[] = {
        {"a\nb", "a\\nb"},
        {"one\ntwo\nthree", "one\\ntwo\\nthree"},
        {"ends with\n", "ends with\n"},
        {"\n\n", "\\n\n"},
        {"ab", "ab"},
        {"x", "x"},
        {"\n", "\n"},
    };
    for (const CASE& c : cases) {
        auto act = make_action(VORN_ACT_TYPE_CUSTOM, {c.value, "end"});
        PGM_COMMON_XML_VORN_QSPI_ACTION element(PGM_COMMON_XML_ENUM_ACTION);
        mgr->update_xml_action_property(act.get(), &element, VORN_ACT_PROPERTY_CUSTOM_DESCRIPTION);
        EXPECT_EQ(value_of<PGM_COMMON_XML_VORN_QSPI_DESCRIPTION>(&element,
                                                                 PGM_COMMON_XML_ENUM_DESCRIPTION),
                  c.written);
    }
}

// Validation lets numbers of any size through where a file holds 32 bits: such a record is not
// saved, with the ordinary failure, and nothing is written.
TEST_F(QspiWrite, NumbersTooLargeForAFileFailTheSaveQuietly) {
    const std::string dir = FIO_PATH(custom.path()).full_directory();
    for (const char* delay : {"4294967296", "0x100000000", "99999999999999999999"}) {
        SCOPED_TRACE(delay);
        VORN_FLASH* flash =
            complete_record(*mgr, mgr->create_flash("HUGE"), VORN_PROG_FLOW_TEMPLATE_MICRON,
                            "0x20 0xBA 0x19", "1.8V", "256Mb");
        flash->set_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME, "huge_tpl");
        VORN_ACTION* act =
            flash->get_operation_list(VORN_PROG_FLOW_TYPE_SFL)->at(0)->get_action_list()->at(0);
        ASSERT_TRUE(act->property_value_is_valid(VORN_ACT_PROPERTY_WRITE_REG_DELAY, delay));
        act->set_property_value(VORN_ACT_PROPERTY_WRITE_REG_DELAY, delay);
        vorn_test::MessageCapture capture;
        EXPECT_FALSE(mgr->update_db(flash, dir));
        EXPECT_EQ(capture.message_ids(), (std::vector<unsigned>{20560, 20560}));
        EXPECT_EQ(mgr->get_flash_map().count("HUGE"), 0u);
        EXPECT_FALSE(custom.exists("pgm_flash_HUGE.xml"));
        EXPECT_FALSE(custom.exists("pgm_flash_template_huge_tpl.xml"));
    }
}

// update_db of a device that names a template: the template update runs whether or not the
// device file could be written, and its result is update_db's.
TEST_F(QspiWrite, TheTemplateUpdateDecidesTheResultOfASave) {
    const std::string dir = FIO_PATH(custom.path()).full_directory();
    VORN_FLASH* flash =
        complete_record(*mgr, mgr->create_flash("CARRIER"), VORN_PROG_FLOW_TEMPLATE_ISSI,
                        "0x9D 0x60 0x19", "1.8V", "256Mb");
    flash->set_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME, "carried");
    HOST_FAULT::fail_next(HOST_FAULT::CHANGE_WRITE);  // the device file only
    EXPECT_TRUE(mgr->update_db(flash, dir));
    EXPECT_EQ(mgr->get_flash_map().count("CARRIER"), 0u);
    EXPECT_FALSE(custom.exists("pgm_flash_CARRIER.xml"));
    EXPECT_EQ(mgr->get_user_template_list(), std::vector<std::string>{"carried"});
    EXPECT_TRUE(custom.exists("pgm_flash_template_carried.xml"));
}

TEST_F(QspiWrite, InvalidRecordsAreInternalErrors) {
    struct CASE {
        void (*spoil)(VORN_FLASH&);
        const char* condition;
    };
    const CASE cases[] = {
        {[](VORN_FLASH& f) { f.set_parameter_value(VORN_FLASH_PARAM_ID, "0xZZ"); },
         "device_id_is_valid(flash->get_parameter_value(VORN_FLASH_PARAM_ID), &err_msg)"},
        {[](VORN_FLASH& f) { f.set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, "5V"); },
         "device_io_voltage_is_valid(flash->get_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE), "
         "&err_msg)"},
        {[](VORN_FLASH& f) { f.set_density("3Mb"); },
         "device_density_is_valid(flash->get_density(), &err_msg)"},
        {[](VORN_FLASH& f) { f.set_parameter_value(VORN_FLASH_PARAM_TOTAL_DIE, 0u); },
         "total_device_die_is_valid(flash->get_parameter_value_in_dword(VORN_FLASH_PARAM_TOTAL_DIE)"
         ", &err_msg)"},
        {[](VORN_FLASH& f) { f.set_parameter_value(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, 16u); },
         "dummy_clock_cycle_is_valid(flash->get_parameter_value_in_dword(VORN_FLASH_PARAM_DUMMY_"
         "CLK_CYCLE), &err_msg)"},
        {[](VORN_FLASH& f) { f.set_parameter_value(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, 16u); },
         "dummy_clock_cycle_is_valid(flash->get_parameter_value_in_dword(VORN_FLASH_PARAM_DUMMY_"
         "CLK_CYCLE_X4), &err_msg)"},
        {[](VORN_FLASH& f) {
             VORN_ACTION* act = f.get_operation_list(VORN_PROG_FLOW_TYPE_SDM)
                                    ->at(VORN_OP_TYPE_PROGRAM)
                                    ->get_action_list()
                                    ->front();
             act->set_property_value(act->get_property_enum_list().back(), "1-2-3");
         },
         "act->property_value_is_valid(property_enum, act->get_property_value(property_enum))"},
    };
    for (const CASE& c : cases) {
        auto good = valid_flash("GOOD");
        auto bad = valid_flash("BAD");
        c.spoil(*bad);
        // The faulty record comes after a complete one, so half a tree exists when it fails.
        EXPECT_EQ(internal_error([&] {
                      delete mgr->create_xml_object_with_flash_list({good.get(), bad.get()});
                  }),
                  c.condition);
    }
    EXPECT_EQ(internal_error([&] { delete mgr->create_xml_object_with_flash_list({}); }),
              "flash_list.size() > 0");
    EXPECT_EQ(internal_error([&] { delete mgr->create_xml_device_info(nullptr); }), "flash");
    EXPECT_EQ(internal_error([&] { delete mgr->create_xml_programming_flow(nullptr); }), "flash");
    EXPECT_EQ(internal_error([&] { delete mgr->create_user_template_xml_object(nullptr); }),
              "flash");
    EXPECT_EQ(internal_error([&] { mgr->create_xml_action_list_for_one_operation(nullptr); }),
              "op");
    PGM_COMMON_XML_VORN_QSPI_ACTION element(PGM_COMMON_XML_ENUM_ACTION);
    auto act = make_action(VORN_ACT_TYPE_CUSTOM, {"ab", "end"});
    EXPECT_EQ(internal_error([&] {
                  mgr->update_xml_action_property(nullptr, &element,
                                                  VORN_ACT_PROPERTY_CUSTOM_DIRECTION);
              }),
              "act");
    EXPECT_EQ(internal_error([&] {
                  mgr->update_xml_action_property(act.get(), nullptr,
                                                  VORN_ACT_PROPERTY_CUSTOM_DIRECTION);
              }),
              "xml_action");
    std::vector<VORN_OPERATION*> none;
    PGM_COMMON_XML_VORN_QSPI_SFL sfl(PGM_COMMON_XML_ENUM_SFL);
    PGM_COMMON_XML_VORN_QSPI_SDM sdm(PGM_COMMON_XML_ENUM_SDM);
    EXPECT_EQ(
        internal_error([&] { mgr->create_xml_for_one_programming_flow(&none, nullptr, nullptr); }),
        "xml_sfl_flow || xml_sdm_flow");
    EXPECT_EQ(internal_error([&] { mgr->create_xml_for_one_programming_flow(&none, &sfl, &sdm); }),
              "xml_sfl_flow == NULL || xml_sdm_flow == NULL");
}

TEST_F(QspiWrite, UnknownTypesAreInternalErrors) {
    // Records that claim a type outside the enumerations (still within their value range), as
    // a corrupted caller would make.
    class ODD_OPERATION : public VORN_QSPI_OPERATION {
      public:
        ODD_OPERATION() : VORN_QSPI_OPERATION(VORN_OP_TYPE_TERMINATION) {
            m_type = static_cast<VORN_OP_TYPE>(7);
        }
    };
    class ODD_ACTION : public VORN_QSPI_ACTION {
      public:
        explicit ODD_ACTION(VORN_ACT_TYPE claimed, bool trim)
            : VORN_QSPI_ACTION(VORN_ACT_TYPE_ERASE) {
            m_type = claimed;
            if (trim) m_property_list.pop_back();
        }
    };
    std::vector<VORN_OPERATION*> list{new ODD_OPERATION()};
    list[0]->add_action_into_list(
        make_action(VORN_ACT_TYPE_WRITE_REGISTER, {"Step", "0x06", "", "0", "1-1"}).release());
    PGM_COMMON_XML_VORN_QSPI_SFL sfl(PGM_COMMON_XML_ENUM_SFL);
    EXPECT_EQ(
        internal_error([&] { mgr->create_xml_for_one_programming_flow(&list, &sfl, nullptr); }),
        "Unknown operation type");
    delete list[0];

    VORN_QSPI_OPERATION op(VORN_OP_TYPE_ERASE);
    op.add_action_into_list(new ODD_ACTION(static_cast<VORN_ACT_TYPE>(7), false));
    EXPECT_EQ(internal_error([&] { mgr->create_xml_action_list_for_one_operation(&op); }),
              "Unknown action type");
    VORN_QSPI_OPERATION trimmed(VORN_OP_TYPE_ERASE);
    trimmed.add_action_into_list(
        make_action(VORN_ACT_TYPE_WRITE_REGISTER, {"Step", "0x06", "", "0", "1-1"}).release());
    trimmed.add_action_into_list(new ODD_ACTION(VORN_ACT_TYPE_ERASE, true));
    EXPECT_EQ(internal_error([&] { mgr->create_xml_action_list_for_one_operation(&trimmed); }),
              "enum_list.size() == 7");
    auto act = make_action(VORN_ACT_TYPE_CUSTOM, {"ab", "end"});
    PGM_COMMON_XML_VORN_QSPI_ACTION element(PGM_COMMON_XML_ENUM_ACTION);
    EXPECT_EQ(internal_error(
                  [&] {
                      mgr->update_xml_action_property(act.get(), &element,
                                                      static_cast<VORN_ACT_PROPERTY>(40));
                  },
                  // the action's own check meets it first
                  "pgm/vorn/vorn_qspi_action"),
              "Unknown action property enum");
}

TEST_F(QspiWrite, TemplatesAppendAfterTheDevicesOfARoot) {
    write_custom("pgm_flash_t.xml", document(template_xml("tpl_b") + template_xml("tpl_a")));
    mgr = load();
    auto flash = valid_flash("DEV");
    PGM_COMMON_XML_ELEMENT* root = mgr->create_xml_object_with_flash_list({flash.get()});
    mgr->create_user_template_with_template_list(root, {"tpl_b", "tpl_a"});
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> owned(root);
    EXPECT_EQ(tags_of(root), (TAGS{"FLASH", "USER_TEMPLATE", "USER_TEMPLATE"}));
    const PGM_COMMON_XML_ELEMENT* first = child(root, PGM_COMMON_XML_ENUM_USER_TEMPLATE);
    EXPECT_EQ(tags_of(first), (TAGS{"TEMPLATE_NAME", "PROGRAMMING_FLOW"}));
    EXPECT_EQ(
        value_of<PGM_COMMON_XML_VORN_QSPI_TEMPLATE_NAME>(first, PGM_COMMON_XML_ENUM_TEMPLATE_NAME),
        "tpl_b");
    EXPECT_EQ(tags_of(child(first, PGM_COMMON_XML_ENUM_PROGRAMMING_FLOW)), (TAGS{"SFL", "SDM"}));

    PGM_COMMON_XML_ELEMENT* fresh = nullptr;
    mgr->create_user_template_with_template_list(fresh, {"tpl_a"});
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> owned_fresh(fresh);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(static_cast<PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH*>(fresh)->version, 1u);
    EXPECT_EQ(tags_of(fresh), TAGS{"USER_TEMPLATE"});

    PGM_COMMON_XML_ELEMENT* none = nullptr;
    EXPECT_EQ(internal_error([&] {
                  mgr->create_user_template_with_template_list(none, {"tpl_a", "nope"});
              }),
              "m_user_flash_template_map.find(template_name) != m_user_flash_template_map.end()");
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(internal_error([&] { mgr->create_user_template_with_template_list(none, {}); }),
              "template_list.size() > 0");
}

TEST_F(QspiWrite, TemplateDocumentNeedsAValidNewName) {
    auto flash = valid_flash("DEV");
    flash->set_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME, "my_tpl");
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> root(mgr->create_user_template_xml_object(flash.get()));
    EXPECT_EQ(tags_of(root.get()), TAGS{"USER_TEMPLATE"});
    const PGM_COMMON_XML_ELEMENT* tpl = child(root.get(), PGM_COMMON_XML_ENUM_USER_TEMPLATE);
    EXPECT_EQ(tags_of(tpl), (TAGS{"TEMPLATE_NAME", "PROGRAMMING_FLOW"}));
    for (const char* bad : {"Issi", "bad name", ""}) {
        flash->set_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME, bad);
        EXPECT_EQ(internal_error([&] { delete mgr->create_user_template_xml_object(flash.get()); }),
                  "template_name_is_valid(flash->get_parameter_value(VORN_FLASH_PARAM_TEMPLATE_"
                  "NAME))")
            << bad;
    }
}

// ---- template files ---------------------------------------------------------------------

TEST_F(QspiWrite, TemplateFileIsNamedAfterTheTemplate) {
    auto flash = valid_flash("DEV");
    flash->set_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME, "abc");
    custom.write("pgm_flash_template_abc.xml", "an earlier file");
    std::string dir = custom.path();
    vorn_test::MessageCapture capture;
    ASSERT_TRUE(mgr->write_template_xml_and_update_dir_map(flash.get(), dir));
    const std::string file = custom.path() + "pgm_flash_template_abc.xml";
    EXPECT_EQ(mgr->get_template_db_dir_map().at("abc"), file);
    EXPECT_NE(custom.read("pgm_flash_template_abc.xml").find("<TEMPLATE_NAME>abc</TEMPLATE_NAME>"),
              std::string::npos);
    EXPECT_TRUE(capture.has_trace("Deleting old XML file " + file));
    EXPECT_TRUE(capture.has_trace("Writing new XML file, " + file));
    EXPECT_FALSE(capture.has_trace("Touch new XML file, " + file));
    // The writer records the file only; the template itself is update_template_db's.
    EXPECT_TRUE(mgr->get_user_template_list().empty());

    flash->set_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME, "xyz");
    capture.clear();
    ASSERT_TRUE(mgr->write_template_xml_and_update_dir_map(flash.get(), dir));
    EXPECT_TRUE(
        capture.has_trace("Touch new XML file, " + custom.path() + "pgm_flash_template_xyz.xml"));

    flash->set_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME, "");
    EXPECT_EQ(internal_error([&] { mgr->write_template_xml_and_update_dir_map(flash.get(), dir); }),
              "!flash->get_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME).empty()");
    EXPECT_EQ(internal_error([&] { mgr->write_template_xml_and_update_dir_map(nullptr, dir); }),
              "flash");
}

struct FAULT_CASE {
    HOST_FAULT::OP op;
    bool earlier_file;      // a file of that name is there before
    bool earlier_survives;  // its content is still there after the failure
};

class QspiTemplateFaults : public QspiWrite, public ::testing::WithParamInterface<FAULT_CASE> {};

TEST_P(QspiTemplateFaults, FailureIsReportedAndChangesNoMap) {
    const FAULT_CASE c = GetParam();
    write_custom("pgm_flash_kept.xml", document(template_xml("kept")));
    mgr = load();
    if (c.earlier_file) custom.write("pgm_flash_template_abc.xml", "an earlier file");
    auto flash = valid_flash("DEV");
    flash->set_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME, "abc");
    const auto templates_before = mgr->get_user_template_list();
    const auto dirs_before = mgr->get_template_db_dir_map();

    HOST_FAULT::fail_next(c.op);
    vorn_test::MessageCapture capture;
    EXPECT_FALSE(mgr->update_template_db(flash.get(), custom.path()));
    ASSERT_EQ(capture.message_ids(), std::vector<unsigned>{kFailedToUpdate});
    EXPECT_EQ(capture.messages()[0].text,
              "Failed to update the device database in the " + custom.path() + " directory.");
    EXPECT_EQ(mgr->get_user_template_list(), templates_before);
    EXPECT_EQ(mgr->get_template_db_dir_map(), dirs_before);
    if (c.earlier_survives) {
        EXPECT_EQ(custom.read("pgm_flash_template_abc.xml"), "an earlier file");
    }
    HOST_FAULT::clear();

    // Once the file system behaves, the same save goes through.
    EXPECT_TRUE(mgr->update_template_db(flash.get(), custom.path()));
    EXPECT_EQ(mgr->get_user_template_list(), (std::vector<std::string>{"abc", "kept"}));
}

INSTANTIATE_TEST_SUITE_P(EveryStep, QspiTemplateFaults,
                         ::testing::Values(FAULT_CASE{HOST_FAULT::CHANGE_WRITE, false, false},
                                           FAULT_CASE{HOST_FAULT::CHANGE_WRITE, true, true},
                                           FAULT_CASE{HOST_FAULT::CHANGE_COMMIT, true, true}));

// ---- user templates ---------------------------------------------------------------------

TEST_F(QspiWrite, UpdateTemplateDbStoresDeepCopies) {
    auto flash = valid_flash("DEV");
    flash->set_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME, "copied");
    ASSERT_TRUE(mgr->update_template_db(flash.get(), custom.path()));
    EXPECT_EQ(mgr->get_user_template_list(), std::vector<std::string>{"copied"});
    std::string name = "copied";
    const auto* sfl = mgr->get_user_template_operation_list(name, VORN_PROG_FLOW_TYPE_SFL);
    const auto* sdm = mgr->get_user_template_operation_list(name, VORN_PROG_FLOW_TYPE_SDM);
    expect_same_flow(*sfl, *flash->get_operation_list(VORN_PROG_FLOW_TYPE_SFL));
    expect_same_flow(*sdm, *flash->get_operation_list(VORN_PROG_FLOW_TYPE_SDM));
    EXPECT_NE(sfl->at(0), flash->get_operation_list(VORN_PROG_FLOW_TYPE_SFL)->at(0));

    // Editing or dropping the flash's flows leaves the template alone.
    VORN_ACTION* act =
        flash->get_operation_list(VORN_PROG_FLOW_TYPE_SFL)->at(1)->get_action_list()->at(0);
    const std::string before = sfl->at(1)->get_action_list()->at(0)->get_property_value(
        act->get_property_enum_list().front());
    act->set_property_value(act->get_property_enum_list().front(), "Changed Later");
    flash.reset();
    EXPECT_EQ(sfl->at(1)->get_action_list()->at(0)->get_property_value(
                  sfl->at(1)->get_action_list()->at(0)->get_property_enum_list().front()),
              before);

    EXPECT_EQ(internal_error([&] { mgr->update_template_db(nullptr, custom.path()); }), "flash");
    auto unnamed = valid_flash("DEV2");
    EXPECT_EQ(internal_error([&] { mgr->update_template_db(unnamed.get(), custom.path()); }),
              "!flash->get_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME).empty()");
}

TEST_F(QspiWrite, DeleteTemplate) {
    write_custom("pgm_flash_t.xml", document(template_xml("gone") + template_xml("stays")));
    mgr = load();
    EXPECT_FALSE(mgr->delete_template("never_there"));
    EXPECT_TRUE(mgr->delete_template("gone"));
    EXPECT_EQ(mgr->get_user_template_list(), std::vector<std::string>{"stays"});
    EXPECT_EQ(mgr->get_template_db_dir_map().count("gone"), 0u);
    // The file keeps the other template, which a fresh manager finds.
    mgr = load();
    EXPECT_EQ(mgr->get_user_template_list(), std::vector<std::string>{"stays"});
    EXPECT_TRUE(mgr->delete_template("stays"));
    EXPECT_FALSE(custom.exists("pgm_flash_t.xml"));
}

// ---- round trips ------------------------------------------------------------------------

TEST_F(QspiWrite, SavedDeviceReadsBackEqual) {
    VORN_FLASH* flash =
        complete_record(*mgr, mgr->create_flash("ROUND_TRIP"), VORN_PROG_FLOW_TEMPLATE_WINBOND,
                        "0xEF 0x70 0x19", "3.0V/3.3V", "256Mb");
    flash->set_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME, "round_tpl");
    // Every property kind set in the SFL flow, and an SDM action edited.
    for (auto& act : every_action_kind())
        flash->get_operation_list(VORN_PROG_FLOW_TYPE_SFL)
            ->at(VORN_OP_TYPE_ERASE)
            ->add_action_into_list(act.release());
    // A description of one character is written as it is and read back the same.
    flash->get_operation_list(VORN_PROG_FLOW_TYPE_SFL)
        ->at(VORN_OP_TYPE_TERMINATION)
        ->add_action_into_list(make_action(VORN_ACT_TYPE_CUSTOM, {"x", "end"}).release());
    VORN_ACTION* first_sdm =
        flash->get_operation_list(VORN_PROG_FLOW_TYPE_SDM)->at(0)->get_action_list()->at(0);
    first_sdm->set_property_value(first_sdm->get_property_enum_list().front(), "Renamed Step");

    // What was saved, kept aside to compare with what comes back.
    std::vector<std::vector<VORN_OPERATION*>> saved{
        copy_operations(*flash->get_operation_list(VORN_PROG_FLOW_TYPE_SFL)),
        copy_operations(*flash->get_operation_list(VORN_PROG_FLOW_TYPE_SDM))};

    ASSERT_TRUE(mgr->update_db(flash, FIO_PATH(custom.path()).full_directory()));
    EXPECT_TRUE(custom.exists("pgm_flash_ROUND_TRIP.xml"));
    EXPECT_TRUE(custom.exists("pgm_flash_template_round_tpl.xml"));

    auto fresh = load();
    ASSERT_EQ(fresh->get_flash_map().count("ROUND_TRIP"), 1u);
    VORN_FLASH* back = fresh->get_flash_map().at("ROUND_TRIP");
    for (VORN_FLASH_PARAM p :
         {VORN_FLASH_PARAM_ID, VORN_FLASH_PARAM_IO_VOLTAGE, VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE})
        EXPECT_EQ(back->get_parameter_value(p), flash->get_parameter_value(p)) << p;
    for (VORN_FLASH_PARAM p : {VORN_FLASH_PARAM_TOTAL_DIE, VORN_FLASH_PARAM_DUMMY_CLK_CYCLE,
                               VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4})
        EXPECT_EQ(back->get_parameter_value_in_dword(p, nullptr),
                  flash->get_parameter_value_in_dword(p, nullptr))
            << p;
    EXPECT_EQ(back->get_density(), "256Mb");
    EXPECT_TRUE(back->get_flash_removable_permission());
    EXPECT_EQ(back->get_db_dir(), custom.path());
    expect_same_flow(*back->get_operation_list(VORN_PROG_FLOW_TYPE_SFL), saved[0]);
    expect_same_flow(*back->get_operation_list(VORN_PROG_FLOW_TYPE_SDM), saved[1]);

    // The template saved alongside comes back with the same flows.
    std::string name = "round_tpl";
    ASSERT_EQ(fresh->get_user_template_list(), std::vector<std::string>{"round_tpl"});
    expect_same_flow(*fresh->get_user_template_operation_list(name, VORN_PROG_FLOW_TYPE_SFL),
                     saved[0]);
    expect_same_flow(*fresh->get_user_template_operation_list(name, VORN_PROG_FLOW_TYPE_SDM),
                     saved[1]);
    for (auto& list : saved)
        for (VORN_OPERATION* op : list) delete op;
}

}  // namespace
