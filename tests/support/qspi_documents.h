// Builders of small QSPI documents, for the tests and the fuzz targets alike (no test
// framework here).
#ifndef QSPI_DOCUMENTS_H
#define QSPI_DOCUMENTS_H

#include <string>

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
// Each starts empty, so FLOW{actions} is a flow that only initializes.
struct FLOW {
    std::string initialization{};
    std::string program{};
    std::string erase{};
    std::string verify{};
    std::string termination{};
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

}  // namespace qspi_test

#endif
