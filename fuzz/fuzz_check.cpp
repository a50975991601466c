// `vorn check FILE`, run in-process through the tool's own session and checker against the
// shipped database: no user file may make it fail other than by reporting problems.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>

#include "fuzz_support.h"
#include "vorn_tool.h"

namespace {

std::string g_programmer;
std::string g_custom;
std::string g_file;

// What `vorn --json check FILE` does between parsing its command line and exiting.
void check_once(bool for_update) {
    vorn_tool::OPTIONS options;
    options.programmer_dir = g_programmer;
    options.custom_dir = g_custom;
    options.json = true;  // the document is the larger surface; stdout goes nowhere
    vorn_tool::OUTPUT output(options);
    vorn_tool::SESSION session(options, output);
    if (vorn_is_sdmmc_file(g_file)) session.want_sdmmc();
    session.prepare();
    vorn_tool::CHECK_POLICY policy;
    policy.saved_by_update = for_update;
    vorn_tool::USER_FILE_CHECKER checker(session, policy);
    vorn_tool::USER_FILE file = checker.check(g_file);
    vorn_tool::report_file(output.out(), file);
    // A file that checks clean has its flows run on the model of its chip.
    if (!file.sdmmc && file.report.read && file.problems.empty()) {
        for (const VORN_LOAD_ENTRY& device : file.report.devices)
            vorn_tool::print_flow_check(output.out(), device.name,
                                        VORN_FLOW_CHECKER(true).check_flash(*device.record));
    }
    output.data()["files"] = vorn_tool::json::array({vorn_tool::file_json(file)});
    output.data()["problems"] = file.problems.size();
    output.finish(file.problems.empty() ? vorn_tool::STATUS_DONE : vorn_tool::STATUS_REJECTED);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vorn_fuzz::silence_messages();
    if (std::freopen("/dev/null", "w", stdout) == nullptr) vorn_fuzz::finding("set-up", "stdout");
    g_programmer = vorn_fuzz::make_programmer_dir(
        vorn_fuzz::read_text(vorn_fuzz::shipped_data_dir() + "xml/pgm_flash_db_qspi.xml"),
        vorn_fuzz::read_text(vorn_fuzz::shipped_data_dir() + "xml/pgm_flash_db_sdmmc.xml"));
    // Both managers from the start, so that the database is loaded once for the whole run.
    cfg_set_switch("pgm_enable_sdmmc", true);
    cfg_set_switch("pgm_enable_custom_sdmmc", true);
    g_custom = vorn_fuzz::SCRATCH::get().dir("custom");
    g_file = vorn_fuzz::SCRATCH::get().dir("input") + "pgm_flash_fuzz.xml";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorn_fuzz::write_text(g_file, reinterpret_cast<const char*>(data), size);
    try {
        check_once(false);
        check_once(true);  // as `vorn import` judges it
    } catch (const VORN_INTERNAL_ERROR& e) {
        vorn_fuzz::internal_error_finding(e);
    } catch (const std::exception& e) {
        // The tool turns these into "unexpected failure" and exit status 3.
        vorn_fuzz::finding("exception out of the checker", e.what());
    }
    return 0;
}
