// Flows checked against a model of the chip: `vorn verify`, and the flow check that add, edit,
// import and check run on the devices they handle.
#include <cstdio>
#include <iterator>
#include <iostream>

#include "vorn_tool.h"

namespace vorn_tool {

namespace {

const char* flow_name(int flow) { return flow == VORN_PROG_FLOW_TYPE_SDM ? "SDM" : "SFL"; }

// Null for a finding about the device rather than one of its flows or operations.
json flow_json(int flow) { return flow < 0 ? json(nullptr) : json(flow_name(flow)); }
json operation_json(int operation) {
    return operation < 0 ? json(nullptr)
                         : json(operation_key(static_cast<VORN_OP_TYPE>(operation)));
}

json finding_json(const VORN_FLOW_FINDING& f) {
    return json{{"severity", vorn_flow_severity_name(f.severity)},
                {"code", f.code},
                {"flow", flow_json(f.flow)},
                {"operation", operation_json(f.operation)},
                {"action", f.action},
                {"action_name", f.action_name},
                {"text", f.text}};
}

json bytes_json(const std::vector<unsigned char>& bytes, size_t begin) {
    std::string text;
    for (size_t i = begin; i < bytes.size(); ++i) {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "%s%02X", i == begin ? "" : " ", bytes[i]);
        text += buffer;
    }
    return text;
}

json trace_json(const VORN_FLOW_TRACE_ENTRY& e) {
    const unsigned int sent = e.sent_address_bytes();
    json address = nullptr;
    if (sent > 0) address = e.address();
    return json{{"flow", flow_json(e.flow)},
                {"operation", operation_json(e.operation)},
                {"action", e.action},
                {"command", e.transaction.command},
                {"address", address},
                {"out", bytes_json(e.transaction.out, sent)},
                {"dummy_cycles", e.transaction.dummy_cycles},
                {"in", bytes_json(e.response.in, 0)},
                {"answer", e.response.answer},
                {"repeats", e.repeats}};
}

std::string counts(const VORN_FLOW_CHECK_RESULT& result) {
    const unsigned int errors = result.count(VORN_FLOW_SEVERITY_ERROR);
    const unsigned int warnings = result.count(VORN_FLOW_SEVERITY_WARNING);
    if (errors + warnings == 0) return "no findings";
    return std::to_string(errors) + (errors == 1 ? " error, " : " errors, ") +
           std::to_string(warnings) + (warnings == 1 ? " warning" : " warnings");
}

void print_trace(std::ostream& out, const VORN_FLOW_CHECK_RESULT& result) {
    int flow = -1;
    int operation = -1;
    for (const VORN_FLOW_TRACE_ENTRY& e : result.trace) {
        if (e.flow != flow || e.operation != operation) {
            flow = e.flow;
            operation = e.operation;
            out << "  " << flow_name(flow) << ' ' << VORN_OP_TYPE_NAME[operation] << '\n';
        }
        out << "    " << e.describe() << '\n';
    }
}

struct VERIFY_ARGS {
    std::vector<std::string> names;
    bool all = false;
    bool trace = false;
    std::string judge_as;
    CLI::Option* judge_option = nullptr;
};

int run_verify(SESSION& session, const VERIFY_ARGS& args) {
    OUTPUT& output = session.output();
    if (args.names.empty() && !args.all) throw USAGE_ERROR("verify needs device names or --all");
    if (!args.names.empty() && args.all)
        throw USAGE_ERROR("verify takes device names or --all, not both");
    for (const std::string& name : args.names)
        if (!session.name_is_safe(name, false)) return STATUS_REJECTED;
    session.prepare();
    VORN_QSPI_MGR* mgr = session.qspi();

    // The map holds the database's devices; legacy devices, known to the host only, have no
    // flows and are not in it.
    const auto& map = mgr->get_flash_map();
    std::vector<VORN_FLASH*> devices;
    if (args.all)
        for (const auto& entry : map) devices.push_back(entry.second);
    for (const std::string& name : args.names) {
        auto it = map.find(name);
        if (it == map.end()) throw REFUSED("no QSPI device with flows named '" + name + "'");
        devices.push_back(it->second);
    }

    VORN_FLOW_CHECKER checker(args.trace);
    if (args.judge_option->count() > 0) {
        checker.judge_as(static_cast<VORN_PROG_FLOW_TEMPLATE>(parse_judge_as(args.judge_as)));
        // Named devices must need it; --all applies it to whichever do.
        for (const std::string& name : args.names) refuse_judge_as_for_known_maker(*map.at(name));
    }
    json list = json::array();
    unsigned int errors = 0;
    unsigned int warnings = 0;
    PROGRESS progress(output, "verifying", devices.size());
    for (VORN_FLASH* flash : devices) {
        const VORN_FLOW_CHECK_RESULT result = checker.check_flash(*flash);
        errors += result.count(VORN_FLOW_SEVERITY_ERROR);
        warnings += result.count(VORN_FLOW_SEVERITY_WARNING);
        progress.clear();
        print_flow_check(output.out(), flash->get_name(), result);
        if (args.trace) print_trace(output.out(), result);
        progress.step();
        json device = flow_check_json(flash->get_name(), result);
        if (args.trace) {
            json trace = json::array();
            for (const auto& entry : result.trace) trace.push_back(trace_json(entry));
            device["trace"] = trace;
        }
        list.push_back(device);
    }
    if (devices.size() > 1)
        output.out() << devices.size() << " devices checked: " << errors
                     << (errors == 1 ? " error, " : " errors, ") << warnings
                     << (warnings == 1 ? " warning\n" : " warnings\n");
    output.data()["devices"] = list;
    output.data()["summary"] =
        json{{"devices", devices.size()}, {"error_count", errors}, {"warning_count", warnings}};
    return errors == 0 ? STATUS_DONE : STATUS_REJECTED;
}

}  // namespace

void print_flow_check(std::ostream& out, const std::string& name,
                      const VORN_FLOW_CHECK_RESULT& result) {
    out << name;
    if (!result.vendor.empty()) out << " (" << result.vendor << ")";
    out << ": " << counts(result) << '\n';
    for (const VORN_FLOW_FINDING& f : result.findings)
        out << "  " << vorn_flow_severity_name(f.severity) << ": " << f.describe() << '\n';
}

json flow_check_json(const std::string& name, const VORN_FLOW_CHECK_RESULT& result) {
    json findings = json::array();
    for (const VORN_FLOW_FINDING& f : result.findings) findings.push_back(finding_json(f));
    return json{{"name", name},
                {"vendor", result.vendor.empty() ? json(nullptr) : json(result.vendor)},
                {"parts", result.parts},
                {"error_count", result.count(VORN_FLOW_SEVERITY_ERROR)},
                {"warning_count", result.count(VORN_FLOW_SEVERITY_WARNING)},
                {"findings", findings}};
}

int parse_judge_as(const std::string& typed) {
    std::string names;
    for (size_t i = 0; i < std::size(VORN_PROG_FLOW_TEMPLATE_NAME); ++i) {
        const std::string name = VORN_PROG_FLOW_TEMPLATE_NAME[i];
        if (gen_stricmp(name, typed) == 0) return static_cast<int>(i);
        names += (names.empty() ? "" : ", ") + name;
    }
    throw USAGE_ERROR("--judge-as takes one of the vendors " + names + ", not '" + typed + "'");
}

void refuse_judge_as_for_known_maker(const VORN_FLASH& flash) {
    const VORN_FLASH_CONFIG config = VORN_FLASH_CONFIG::from_flash(flash);
    const VORN_FLASH_VENDOR_PROFILE* own =
        config.id.empty() ? nullptr
                          : VORN_FLASH_VENDOR_PROFILE::find_profile_of_manufacturer(config.id[0]);
    if (own == nullptr) return;
    char byte[8];
    std::snprintf(byte, sizeof byte, "0x%02X", config.id[0]);
    throw REFUSED("--judge-as is for a maker without facts; manufacturer byte " +
                  std::string(byte) + " of '" + flash.get_name() + "' is " +
                  VORN_PROG_FLOW_TEMPLATE_NAME[own->vendor] + "'s, whose facts judge it");
}

bool report_flow_check(OUTPUT& output, const VORN_FLASH& flash, bool strict, json& into,
                       int judge_as) {
    VORN_FLOW_CHECKER checker;
    if (judge_as >= 0) checker.judge_as(static_cast<VORN_PROG_FLOW_TEMPLATE>(judge_as));
    const VORN_FLOW_CHECK_RESULT result = checker.check_flash(flash);
    into = flow_check_json(flash.get_name(), result);
    if (!output.json_mode() && !result.findings.empty())
        print_flow_check(std::cerr, "Flow check of " + flash.get_name(), result);
    return strict && result.count(VORN_FLOW_SEVERITY_ERROR) > 0;
}

void add_verify_commands(CLI::App& app, std::vector<COMMAND>& commands) {
    auto verify = std::make_shared<VERIFY_ARGS>();
    CLI::App* cmd = app.add_subcommand(
        "verify", "Run devices' flows on a model of their chip and report what would go wrong");
    cmd->add_option("names", verify->names, "Device names");
    cmd->add_flag("--all", verify->all, "Every QSPI device of the database");
    cmd->add_flag("--trace", verify->trace,
                  "Also print every SPI transaction the model ran and what the chip answered");
    verify->judge_option = cmd->add_option(
        "--judge-as", verify->judge_as,
        "Check devices whose manufacturer byte has no facts by this vendor's command set "
        "(Micron, Macronix, Cypress, Winbond, Issi)");
    commands.push_back({cmd, [verify](SESSION& s) { return run_verify(s, *verify); }});
}

}  // namespace vorn_tool
