// Judging a user file value by value, with the loaders' reading and validators.
#define VORN_SOURCE_FILE "pgm/vorn/vorn_load_report"

#include "vorn_load_report.h"

#include <cstdlib>
#include <functional>
#include <memory>
#include <sstream>

#include "pgm_common_xml_vorn_qspi_auto_export.h"
#include "pgm_common_xml_vorn_sdmmc_auto_export.h"
#include "vorn_action.h"
#include "vorn_internal.h"
#include "database/vorn_db_files.h"
#include "vorn_msg_scope.h"
#include "vorn_qspi_flash.h"
#include "vorn_qspi_mgr.h"
#include "database/vorn_device_fields.h"
#include "qspi/vorn_qspi_reader.h"
#include "vorn_sdmmc_flash.h"
#include "vorn_sdmmc_mgr.h"

namespace {

using FINDINGS = std::vector<VORN_LOAD_FINDING>;

VORN_LOAD_FINDING finding(int line, const std::string& text) {
    VORN_LOAD_FINDING out;
    out.line = line;
    out.text = text;
    return out;
}

// Runs one validator; a refusal becomes findings at `line`: the messages it posted, or its
// explanation when it posted none (a suppressed warning). The field and value go with the last.
void judge(FINDINGS& findings, int line, const std::function<bool(std::string*)>& check,
           const char* field = "", const std::string& value = "") {
    std::string why;
    VORN_MSG_SCOPE scope;
    if (check(&why)) return;
    if (scope.records().empty()) findings.push_back(finding(line, why));
    for (const MSG_RECORD& record : scope.records()) {
        VORN_LOAD_FINDING out = finding(line, record.text);
        out.severity = record.severity;
        out.id = record.id;
        out.name = record.name;
        findings.push_back(out);
    }
    findings.back().field = field;
    findings.back().value = value;
}

template <typename LEAF>
int line_of(const std::vector<LEAF*>& list, const PGM_COMMON_XML_ELEMENT* parent) {
    return list.empty() ? parent->get_line() : list.front()->get_line();
}

PGM_COMMON_XML_ELEMENT* only_child(const PGM_COMMON_XML_ELEMENT* parent, PGM_COMMON_XML_ENUM tag) {
    const std::vector<PGM_COMMON_XML_ELEMENT*> children = parent->get_childs(tag, true);
    VORN_CHECK(children.size() == 1, "children.size() == 1");
    return children.front();
}

// In the order of VORN_OP_TYPE.
const PGM_COMMON_XML_ENUM OPERATION_TAGS[] = {
    PGM_COMMON_XML_ENUM_INITIALIZATION, PGM_COMMON_XML_ENUM_PROGRAM, PGM_COMMON_XML_ENUM_ERASE,
    PGM_COMMON_XML_ENUM_VERIFY_BLANKCHECK_EXAMINE, PGM_COMMON_XML_ENUM_TERMINATION};

void check_action(VORN_QSPI_MGR& mgr, FINDINGS& findings,
                  const PGM_COMMON_XML_VORN_QSPI_ACTION* xml_action) {
    VORN_ACT_TYPE type = VORN_ACT_TYPE_WRITE_REGISTER;
    VORN_CHECK(vorn_action_type_of_tag(xml_action->type, &type), "known action type");
    std::unique_ptr<VORN_ACTION> act(mgr.create_action(type));
    for (VORN_ACT_PROPERTY property : act->get_property_enum_list()) {
        std::string value;
        const PGM_COMMON_XML_ELEMENT* leaf = vorn_read_action_property(xml_action, property, value);
        if (leaf == nullptr) {
            // The loader needs every element of the action's type.
            findings.push_back(
                finding(xml_action->get_line(),
                        act->get_name() + " action without " +
                            PGM_COMMON_XML_ENUM_STRING[vorn_property_tag(property)]));
            continue;
        }
        judge(findings, leaf->get_line(),
              [&](std::string* why) { return act->property_value_is_valid(property, value, why); });
    }
}

// The schema holds one PROGRAMMING_FLOW with one SFL and SDM, each with every operation.
void check_flows(VORN_QSPI_MGR& mgr, FINDINGS& findings, const PGM_COMMON_XML_ELEMENT* owner) {
    const PGM_COMMON_XML_ELEMENT* flow = only_child(owner, PGM_COMMON_XML_ENUM_PROGRAMMING_FLOW);
    for (PGM_COMMON_XML_ENUM flow_tag : {PGM_COMMON_XML_ENUM_SFL, PGM_COMMON_XML_ENUM_SDM}) {
        const PGM_COMMON_XML_ELEMENT* list = only_child(flow, flow_tag);
        for (PGM_COMMON_XML_ENUM op_tag : OPERATION_TAGS)
            for (PGM_COMMON_XML_ELEMENT* op : list->get_childs(op_tag, true))
                for (PGM_COMMON_XML_ELEMENT* action :
                     op->get_childs(PGM_COMMON_XML_ENUM_ACTION, true))
                    check_action(mgr, findings,
                                 static_cast<const PGM_COMMON_XML_VORN_QSPI_ACTION*>(action));
    }
}

// The flows of `owner` onto `record`, as the loader reads them.
void read_flows(VORN_QSPI_MGR& mgr, PGM_COMMON_XML_ELEMENT* owner, VORN_FLASH& record) {
    std::vector<VORN_OPERATION*> sfl;
    std::vector<VORN_OPERATION*> sdm;
    struct OWNED {
        std::vector<VORN_OPERATION*>& list;
        ~OWNED() {
            for (VORN_OPERATION* op : list) delete op;
        }
    } owned_sfl{sfl}, owned_sdm{sdm};
    VORN_CHECK(mgr.update_overall_operation_list(owner, sfl, sdm),
               "update_overall_operation_list(owner, sfl, sdm)");
    record.set_operation_list(sfl, VORN_PROG_FLOW_TYPE_SFL);
    sfl.clear();
    record.set_operation_list(sdm, VORN_PROG_FLOW_TYPE_SDM);
    sdm.clear();
}

VORN_LOAD_ENTRY check_qspi_device(VORN_QSPI_MGR& mgr, PGM_COMMON_XML_VORN_QSPI_FLASH* flash) {
    VORN_CHECK(flash->device_info.size() == 1, "flash->device_info.size() == 1");
    const PGM_COMMON_XML_VORN_QSPI_DEVICE_INFO* info = flash->device_info.front();
    VORN_DEVICE_VALUES values;
    VORN_CHECK(vorn_read_device_info(info, values), "vorn_read_device_info(info, values)");
    VORN_LOAD_ENTRY entry;
    entry.name = values.name;
    entry.line = line_of(info->device_name, info);
    entry.id_line = line_of(info->device_id, info);
    FINDINGS& out = entry.findings;
    for (const VORN_DEVICE_FIELD& field : VORN_DEVICE_FIELDS) {
        if (field.label == nullptr) continue;
        judge(
            out, line_of(info->get_childs(field.tag, true), info),
            [&](std::string* why) { return vorn_device_field_is_valid(mgr, field, values, why); },
            field.label, vorn_device_field_text(field, values));
    }
    check_flows(mgr, out, flash);
    if (!out.empty()) return entry;

    std::unique_ptr<VORN_QSPI_FLASH> record = vorn_record_of(values);
    read_flows(mgr, flash, *record);
    entry.record = std::move(record);
    return entry;
}

VORN_LOAD_ENTRY check_template(VORN_QSPI_MGR& mgr, PGM_COMMON_XML_VORN_QSPI_USER_TEMPLATE* tmpl) {
    VORN_LOAD_ENTRY entry;
    VORN_CHECK(tmpl->template_name.size() == 1, "tmpl->template_name.size() == 1");
    entry.name = tmpl->template_name.front()->value;
    entry.line = tmpl->template_name.front()->get_line();
    check_flows(mgr, entry.findings, tmpl);
    if (!entry.findings.empty()) return entry;
    std::unique_ptr<VORN_QSPI_FLASH> carrier(new VORN_QSPI_FLASH(entry.name));
    carrier->set_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME, entry.name);
    read_flows(mgr, tmpl, *carrier);
    entry.record = std::move(carrier);
    return entry;
}

VORN_LOAD_ENTRY check_sdmmc_device(VORN_SDMMC_MGR& mgr, PGM_COMMON_XML_VORN_SDMMC_FLASH* flash) {
    VORN_CHECK(flash->device_info.size() == 1, "flash->device_info.size() == 1");
    const PGM_COMMON_XML_VORN_SDMMC_DEVICE_INFO* info = flash->device_info.front();
    VORN_CHECK(info->device_name.size() == 1 && info->device_io_voltage.size() == 1 &&
                   info->device_density.size() == 1,
               "one DEVICE_NAME, DEVICE_IO_VOLTAGE and DEVICE_DENSITY");
    VORN_LOAD_ENTRY entry;
    entry.name = info->device_name.front()->value;
    entry.line = info->device_name.front()->get_line();
    VORN_DEVICE_VALUES values;
    values.io_voltage = info->device_io_voltage.front()->value;
    values.density = info->device_density.front()->value;
    for (const VORN_DEVICE_FIELD& field : VORN_DEVICE_FIELDS) {
        if (!field.sdmmc || field.label == nullptr) continue;
        judge(
            entry.findings, line_of(info->get_childs(field.tag, true), info),
            [&](std::string* why) { return vorn_device_field_is_valid(mgr, field, values, why); },
            field.label, vorn_device_field_text(field, values));
    }
    if (!entry.findings.empty()) return entry;
    std::unique_ptr<VORN_SDMMC_FLASH> record(new VORN_SDMMC_FLASH(entry.name));
    record->set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, values.io_voltage);
    record->set_density(values.density);
    entry.record = std::move(record);
    return entry;
}

// The reader's "line N: reason" lines, each a finding of the schema.
void add_read_errors(FINDINGS& findings, const std::string& reasons) {
    std::istringstream lines(reasons);
    for (std::string text; std::getline(lines, text);) {
        int line = 0;
        if (text.compare(0, 5, "line ") == 0) {
            const size_t colon = text.find(": ");
            if (colon != std::string::npos) {
                line = std::atoi(text.c_str() + 5);
                text = text.substr(colon + 2);
            }
        }
        if (!text.empty()) findings.push_back(finding(line, "schema: " + text));
    }
}

// Whether no entry of a file read whole drew a finding.
bool all_loaded(const VORN_USER_FILE_REPORT& report) {
    for (const auto* entries : {&report.devices, &report.templates})
        for (const VORN_LOAD_ENTRY& entry : *entries)
            if (!entry.findings.empty()) return false;
    return true;
}

}  // namespace

bool vorn_is_sdmmc_file(const std::string& path) {
    return PGM_COMMON_XML::document_element(path) ==
           PGM_COMMON_XML_ENUM_STRING[PGM_COMMON_XML_ENUM_SDMMC_FLASH];
}

VORN_USER_FILE_REPORT vorn_check_user_file(VORN_QSPI_MGR* qspi, VORN_SDMMC_MGR* sdmmc,
                                           const std::string& path) {
    VORN_CHECK(qspi, "qspi");
    VORN_USER_FILE_REPORT report;
    report.file = path;
    if (!FIO_FILE_SYSTEM::exists(path) || FIO_FILE_SYSTEM::is_directory(path)) {
        report.findings.push_back(
            finding(0, FIO_FILE_SYSTEM::exists(path) ? "not a file" : "no such file"));
        return report;
    }
    report.sdmmc = vorn_is_sdmmc_file(path);
    if (report.sdmmc && sdmmc == nullptr) {
        report.findings.push_back(finding(0, "an SD/MMC file, but SD/MMC support is off"));
        return report;
    }
    if (report.sdmmc && !sdmmc->is_new_device_supported()) {
        report.skipped_by_switch = true;
        report.note =
            "SD/MMC user files are read only when the switch pgm_enable_custom_sdmmc is on";
    }

    std::string error;
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> root = vorn_read_db_file(
        report.sdmmc ? PGM_COMMON_XML_FILE_VORN_SDMMC : PGM_COMMON_XML_FILE_VORN_QSPI, path,
        report.sdmmc ? sdmmc->get_xsd_file() : qspi->get_xsd_file(), false, error);
    if (root == nullptr) {
        add_read_errors(report.findings, error);
        return report;
    }
    report.read = true;
    if (report.sdmmc) {
        auto* document = dynamic_cast<PGM_COMMON_XML_VORN_SDMMC_SDMMC_FLASH*>(root.get());
        VORN_CHECK(document, "document");
        for (PGM_COMMON_XML_VORN_SDMMC_FLASH* flash : document->flash)
            report.devices.push_back(check_sdmmc_device(*sdmmc, flash));
    } else {
        auto* document = dynamic_cast<PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH*>(root.get());
        VORN_CHECK(document, "document");
        const std::vector<PGM_COMMON_XML_ELEMENT*> golden =
            document->get_childs(PGM_COMMON_XML_ENUM_GOLDEN_TEMPLATE, true);
        if (!golden.empty()) {
            // The loaders read golden templates from one place only and never as user files.
            report.findings.push_back(
                finding(golden.front()->get_line(), "a golden template is not a user file"));
            return report;
        }
        for (PGM_COMMON_XML_VORN_QSPI_FLASH* flash : document->flash)
            report.devices.push_back(check_qspi_device(*qspi, flash));
        for (PGM_COMMON_XML_VORN_QSPI_USER_TEMPLATE* tmpl : document->user_template)
            report.templates.push_back(check_template(*qspi, tmpl));
    }
    report.loaded = all_loaded(report);
    return report;
}
