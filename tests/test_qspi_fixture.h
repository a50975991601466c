// Shared by the QSPI manager suites: a programmer directory with the shipped data, an empty
// custom directory, and builders of small QSPI documents.
#ifndef TEST_QSPI_FIXTURE_H
#define TEST_QSPI_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "vorn.h"
#include "vorn_test_support.h"

namespace qspi_test {

// One action element; `children` are the property elements, in any order.
inline std::string action(const std::string& type, const std::string& children) {
    return "<ACTION type=\"" + type + "\">" + children + "</ACTION>";
}

inline std::string leaf(const std::string& tag, const std::string& value) {
    return "<" + tag + ">" + value + "</" + tag + ">";
}

inline std::string delay(const std::string& value) {
    return "<DELAY unit=\"us\">" + value + "</DELAY>";
}

inline std::string write_reg(const std::string& name, const std::string& command,
                             const std::string& data = "", const std::string& delay_us = "0") {
    return action("WRITE_REG", leaf("NAME", name) + leaf("COMMAND", command) + leaf("DATA", data) +
                                   delay(delay_us) + leaf("BUS_WIDTH", "1-1"));
}

inline std::string read_reg(const std::string& name, const std::string& command,
                            const std::string& expected, const std::string& mask,
                            const std::string& attempts = "10") {
    return action("READ_REG",
                  leaf("NAME", name) + leaf("COMMAND", command) + leaf("DATA_LENGTH", "1") +
                      leaf("EXPECTED_DATA", expected) + leaf("EXPECTED_DATA_MASK", mask) +
                      leaf("ATTEMPT_COUNT", attempts) + delay("100") + leaf("BUS_WIDTH", "1-1"));
}

// The five operations of one flow; each argument is the action elements of one operation.
struct FLOW {
    std::string initialization;
    std::string program;
    std::string erase;
    std::string verify;
    std::string termination;
};

inline std::string flow_body(const FLOW& flow) {
    return leaf("INITIALIZATION", flow.initialization) + leaf("PROGRAM", flow.program) +
           leaf("ERASE", flow.erase) + leaf("VERIFY_BLANKCHECK_EXAMINE", flow.verify) +
           leaf("TERMINATION", flow.termination);
}

inline std::string programming_flow(const FLOW& sfl = {}, const FLOW& sdm = {}) {
    return "<PROGRAMMING_FLOW><SFL>" + flow_body(sfl) + "</SFL><SDM>" + flow_body(sdm) +
           "</SDM></PROGRAMMING_FLOW>";
}

struct DEVICE {
    std::string name;
    std::string id = "0x20 0xBB 0x19";
    std::string io_voltage = "1.8V";
    std::string density = "256Mb";
    std::string total_die = "1";
    std::string dummy = "10";
    std::string dummy_x4 = "10";
    std::string prog_flow_template = "Micron";
    FLOW sfl;
    FLOW sdm;
};

inline DEVICE device(const std::string& name) {
    DEVICE d;
    d.name = name;
    return d;
}

inline std::string flash_xml(const DEVICE& d) {
    return "<FLASH><DEVICE_INFO>" + leaf("DEVICE_NAME", d.name) + leaf("DEVICE_ID", d.id) +
           leaf("DEVICE_IO_VOLTAGE", d.io_voltage) + leaf("DEVICE_DENSITY", d.density) +
           leaf("TOTAL_DEVICE_DIE", d.total_die) + leaf("DUMMY_CLOCK_CYCLE", d.dummy) +
           leaf("DUMMY_CLOCK_CYCLE_X4", d.dummy_x4) +
           leaf("PROG_FLOW_TEMPLATE", d.prog_flow_template) + "</DEVICE_INFO>" +
           programming_flow(d.sfl, d.sdm) + "</FLASH>";
}

inline std::string template_xml(const std::string& name, const FLOW& sfl = {},
                                const FLOW& sdm = {}) {
    return "<USER_TEMPLATE>" + leaf("TEMPLATE_NAME", name) + programming_flow(sfl, sdm) +
           "</USER_TEMPLATE>";
}

inline std::string document(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QSPI_FLASH version=\"1\">" + body +
           "</QSPI_FLASH>\n";
}

// The text of a golden template whose vendor flows each hold one Write Enable, followed by
// `body` (devices); `vendors` replaces the five vendor elements when given.
inline std::string vendor_xml(const std::string& tag, const FLOW& sfl = {}) {
    FLOW flow = sfl;
    if (flow.initialization.empty()) flow.initialization = write_reg("Write Enable", "0x06");
    return "<" + tag + ">" + programming_flow(flow, flow) + "</" + tag + ">";
}

inline std::string all_vendors() {
    return vendor_xml("MICRON") + vendor_xml("MACRONIX") + vendor_xml("CYPRESS") +
           vendor_xml("WINBOND") + vendor_xml("ISSI");
}

inline std::string golden_document(const std::string& vendors, const std::string& devices) {
    return document("<GOLDEN_TEMPLATE>" + vendors + "</GOLDEN_TEMPLATE>" + devices);
}

// A programmer directory holding the shipped data and an empty custom directory, both made
// current for the test; the custom directory is reset afterwards.
class QspiTest : public ::testing::Test {
  protected:
    void SetUp() override { VORN_MGR::set_db_custom_dir(custom.path()); }
    void TearDown() override { VORN_MGR::set_db_custom_dir(""); }

    // Writes a user file into the tool-suite database directory.
    void write_zentro(const std::string& file, const std::string& text) {
        programmer.write("xml/" + file, text);
    }
    void write_custom(const std::string& file, const std::string& text) {
        custom.write(file, text);
    }
    void write_golden(const std::string& text) {
        programmer.write("xml/pgm_flash_db_qspi.xml", text);
    }
    std::unique_ptr<VORN_QSPI_MGR> load() { return std::make_unique<VORN_QSPI_MGR>(); }

    // The internal error the constructor ends with, or "" when it loads.
    std::string load_error() {
        try {
            VORN_QSPI_MGR mgr;
        } catch (const VORN_INTERNAL_ERROR& e) {
            return e.what();
        }
        return "";
    }

    vorn_test::ProgrammerDir programmer;
    vorn_test::TempDir custom;
};

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
