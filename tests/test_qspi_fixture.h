// Shared by the QSPI manager suites: a programmer directory with the shipped data, an empty
// custom directory, and builders of small QSPI documents.
#ifndef TEST_QSPI_FIXTURE_H
#define TEST_QSPI_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "qspi_documents.h"
#include "vorn.h"
#include "vorn_test_support.h"

namespace qspi_test {

// A programmer directory holding the shipped data and an empty custom directory, both made
// current for the test; the custom directory is reset afterwards.
class QspiTest : public ::testing::Test {
  protected:
    void SetUp() override { VORN_MGR::set_db_custom_dir(custom.path()); }
    void TearDown() override { VORN_MGR::set_db_custom_dir(""); }

    void write_custom(const std::string& file, const std::string& text) {
        custom.write(file, text);
    }
    void write_golden(const std::string& text) {
        programmer.write("xml/pgm_flash_db_qspi.xml", text);
    }
    std::unique_ptr<VORN_QSPI_MGR> load() { return std::make_unique<VORN_QSPI_MGR>(); }

    // The internal error the constructor must end with.
    std::string load_error() {
        return vorn_test::internal_error_of([] { VORN_QSPI_MGR mgr; }).what();
    }

    vorn_test::ProgrammerDir programmer;
    vorn_test::TempDir custom;
};

// The document a manager writes for one record.
inline std::string text_of(VORN_MGR& mgr, const VORN_FLASH* flash) {
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> root(
        mgr.create_xml_object_with_flash_list({const_cast<VORN_FLASH*>(flash)}));
    return PGM_COMMON_XML::write_xml_string(root.get());
}

// The property values of an action, in its property order.
inline std::vector<std::string> values_of(const VORN_ACTION* act) {
    std::vector<std::string> out;
    for (VORN_ACT_PROPERTY p : act->get_property_enum_list())
        out.push_back(act->get_property_value(p));
    return out;
}

// Makes `flash` a complete, valid record whose flows are copies of a vendor template's.
inline VORN_FLASH* complete_record(VORN_MGR& mgr, VORN_FLASH* flash, VORN_PROG_FLOW_TEMPLATE vendor,
                                   const std::string& id, const std::string& voltage,
                                   const std::string& density) {
    flash->set_parameter_value(VORN_FLASH_PARAM_ID, id);
    flash->set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, voltage);
    flash->set_density(density);
    flash->set_parameter_value(VORN_FLASH_PARAM_TOTAL_DIE, 1u);
    flash->set_parameter_value(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, 8u);
    flash->set_parameter_value(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, 6u);
    flash->set_parameter_value(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE,
                               std::string(VORN_PROG_FLOW_TEMPLATE_NAME[vendor]));
    for (VORN_PROG_FLOW_TYPE type : {VORN_PROG_FLOW_TYPE_SFL, VORN_PROG_FLOW_TYPE_SDM}) {
        std::vector<VORN_OPERATION*> copies;
        vorn_copy_flow(*mgr.get_prog_flow_template_operation_list(vendor, type), copies);
        flash->set_operation_list(copies, type);
    }
    return flash;
}

}  // namespace qspi_test

#endif
