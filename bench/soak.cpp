// Soak: a long session of a host that keeps adding a device, checking it, saving it, looking it
// up, renewing its manager and deleting the device again. Memory must stay flat.
//
//   soak [CYCLES] [--full]
//
// CYCLES defaults to 100000. The programmer directory is a private copy of the shipped data;
// its golden template keeps the shipped vendor flows and first devices only (--full keeps every
// device, which makes each renewal several times slower). Prints resident memory after the
// first cycle, after a warm-up of 1% of the cycles (at least 100) and at the end; exits 1 when
// a step fails or memory grew by 1% or more after the warm-up.
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "vorn.h"

namespace fs = std::filesystem;

namespace {

constexpr int GOLDEN_DEVICES_KEPT = 4;

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_text(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Bytes the allocator has handed out and not had back: live heap, without the pages the
// allocator keeps for reuse that resident memory also counts.
long heap_in_use_kib() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long>((info.uordblks + info.hblkhd) / 1024);
}

// A /proc/self/status field in KiB: VmRSS is the resident total, RssAnon the heap and stacks,
// RssFile the pages of the program and its libraries that have been touched.
long status_kib(const char* field) {
    std::ifstream in("/proc/self/status");
    const std::string key = std::string(field) + ":";
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, key.size(), key) == 0) return std::atol(line.c_str() + key.size());
    return -1;
}

long resident_kib() { return status_kib("VmRSS"); }

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "soak: %s\n", what.c_str());
    std::exit(1);
}

std::string cut_golden(const std::string& full, int devices) {
    size_t end = full.find("</GOLDEN_TEMPLATE>");
    if (end == std::string::npos) return full;
    end += std::strlen("</GOLDEN_TEMPLATE>");
    for (int i = 0; i < devices; ++i) {
        const size_t next = full.find("</FLASH>", end);
        if (next == std::string::npos) break;
        end = next + std::strlen("</FLASH>");
    }
    return full.substr(0, end) + "\n</QSPI_FLASH>\n";
}

struct SANDBOX {
    std::string root;
    std::string programmer;
    std::string custom;

    explicit SANDBOX(bool full) {
        std::string templ = (fs::temp_directory_path() / "vorn-soak-XXXXXX").string();
        if (mkdtemp(templ.data()) == nullptr) fail("mkdtemp failed");
        root = templ + "/";
        programmer = root + "programmer/";
        custom = root + "custom/";
        const std::string data = VORN_SOAK_DATA_DIR;
        fs::create_directories(programmer + "xml");
        fs::create_directories(custom);
        for (const char* sub : {"xsd", "dev"})
            fs::copy(data + sub, programmer + sub, fs::copy_options::recursive);
        const std::string golden = read_text(data + "xml/pgm_flash_db_qspi.xml");
        write_text(programmer + "xml/pgm_flash_db_qspi.xml",
                   full ? golden : cut_golden(golden, GOLDEN_DEVICES_KEPT));
        fs::copy(data + "xml/pgm_flash_db_sdmmc.xml", programmer + "xml/");
        // Neither the user's switches nor the user's INI file.
        setenv("VORN_INI", (root + "vorn.ini").c_str(), 1);
        setenv("VORN_USER_INI", (root + "user.ini").c_str(), 1);
        PGM_COMMON::set_common_programmer(programmer);
        VORN_MGR::set_db_custom_dir(custom);
    }
    ~SANDBOX() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
};

std::vector<VORN_OPERATION*> copy_operations(const std::vector<VORN_OPERATION*>* from) {
    std::vector<VORN_OPERATION*> out;
    if (from == nullptr || !vorn_copy_flow(*from, out))
        fail("a vendor flow is missing or cannot be copied");
    return out;
}

// Every field and every action property through the validators a host calls before saving.
void validate(VORN_QSPI_MGR* mgr, VORN_FLASH* flash) {
    std::string msg;
    bool ok =
        mgr->device_name_is_valid(flash->get_name(), &msg) &&
        mgr->device_id_is_valid(flash->get_parameter_value(VORN_FLASH_PARAM_ID), &msg) &&
        mgr->device_density_is_valid(flash->get_density(), &msg) &&
        mgr->device_io_voltage_is_valid(flash->get_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE),
                                        &msg) &&
        mgr->total_device_die_is_valid(
            flash->get_parameter_value_in_dword(VORN_FLASH_PARAM_TOTAL_DIE, nullptr), &msg) &&
        mgr->dummy_clock_cycle_is_valid(
            flash->get_parameter_value_in_dword(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, nullptr), &msg) &&
        mgr->template_name_is_valid(flash->get_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME),
                                    &msg);
    if (!ok) fail("validation refused a valid device: " + msg);
    for (VORN_PROG_FLOW_TYPE type : {VORN_PROG_FLOW_TYPE_SFL, VORN_PROG_FLOW_TYPE_SDM})
        for (const VORN_OPERATION* op : *flash->get_operation_list(type))
            for (const VORN_ACTION* act : *op->get_action_list())
                for (VORN_ACT_PROPERTY p : act->get_property_enum_list())
                    if (!act->property_value_is_valid(p, act->get_property_value(p), &msg))
                        fail("validation refused a vendor action: " + msg);
}

void one_cycle(long cycle, const std::string& custom) {
    VORN_QSPI_MGR* mgr =
        dynamic_cast<VORN_QSPI_MGR*>(VORN_HELPER::get_flash_manager(DEV_FAMILY_QSPI_FLASH, false));
    if (mgr == nullptr) fail("no QSPI manager");
    const std::string name = "SOAK_" + std::to_string(cycle % 8);
    const std::string tmpl = "soak_tpl_" + std::to_string(cycle % 3);
    const auto vendor = static_cast<VORN_PROG_FLOW_TEMPLATE>(cycle % 5);

    // create
    VORN_FLASH* flash = mgr->create_flash(name);
    flash->set_parameter_value(VORN_FLASH_PARAM_ID, std::string("0xEF 0x40 0x19"));
    flash->set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, std::string("3.0V/3.3V"));
    flash->set_density("256Mb");
    flash->set_parameter_value(VORN_FLASH_PARAM_TOTAL_DIE, 1u);
    flash->set_parameter_value(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, 8u);
    flash->set_parameter_value(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, 10u);
    flash->set_parameter_value(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE,
                               std::string(VORN_PROG_FLOW_TEMPLATE_NAME[vendor]));
    flash->set_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME, tmpl);
    for (VORN_PROG_FLOW_TYPE type : {VORN_PROG_FLOW_TYPE_SFL, VORN_PROG_FLOW_TYPE_SDM})
        flash->set_operation_list(
            copy_operations(mgr->get_prog_flow_template_operation_list(vendor, type)), type);

    // validate, save
    validate(mgr, flash);
    if (!mgr->update_db(flash, custom)) fail("update_db failed in cycle " + std::to_string(cycle));

    // look up
    if (mgr->get_flash(name, true) != flash) fail("the saved device is not found by name");
    unsigned int mask = 0;
    const unsigned int id = static_cast<VORN_QSPI_FLASH*>(flash)->get_id_in_dword(&mask);
    if (mgr->get_flash_with_id(id, mask) == nullptr) fail("the saved device is not found by ID");
    if (!mgr->device_exist_in_db(name, true)) fail("the saved device does not exist");
    std::string copy = tmpl;
    if (mgr->get_user_template_operation_list(copy, VORN_PROG_FLOW_TYPE_SFL) == nullptr)
        fail("the saved template is missing");

    // renew: every file read again
    mgr = dynamic_cast<VORN_QSPI_MGR*>(VORN_HELPER::get_flash_manager(DEV_FAMILY_QSPI_FLASH, true));
    if (mgr == nullptr || mgr->get_flash(name, true) == nullptr)
        fail("the saved device is missing after renewal");

    // delete
    if (!mgr->delete_db(name, custom) || !mgr->delete_db(tmpl, custom))
        fail("delete_db failed in cycle " + std::to_string(cycle));
    if (FIO_FILE_SYSTEM::exists(custom + "pgm_flash_" + name + ".xml"))
        fail("a deleted device's file is still there");
}

}  // namespace

int main(int argc, char** argv) {
    long cycles = 100000;
    bool full = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--full") == 0) {
            full = true;
        } else {
            char* end = nullptr;
            cycles = std::strtol(argv[i], &end, 10);
            if (end == argv[i] || *end != '\0' || cycles < 2) {
                std::fprintf(stderr, "usage: soak [CYCLES >= 2] [--full]\n");
                return 2;
            }
        }
    }
    msg_set_sink([](const MSG_RECORD& record) {
        if (record.severity != 'D')
            std::fprintf(stderr, "soak: unexpected message %u: %s\n", record.id,
                         record.text.c_str());
    });

    // Allocator pools and the manager's maps reach their working size in the first cycles;
    // growth is measured from the end of that warm-up, and the first cycle is shown too.
    const long warm_up = std::min(std::max(100L, cycles / 100), cycles / 2);
    long first_kib = 0;
    long start_kib = 0;
    long start_anon_kib = 0;
    long start_heap_kib = 0;
    double seconds = 0;
    {
        SANDBOX sandbox(full);
        try {
            const auto start = std::chrono::steady_clock::now();
            const long report_every = cycles >= 10 ? cycles / 10 : 1;
            for (long cycle = 0; cycle < cycles; ++cycle) {
                one_cycle(cycle, sandbox.custom);
                if (cycle == 0) first_kib = resident_kib();
                if (cycle + 1 == warm_up) {
                    start_kib = resident_kib();
                    start_anon_kib = status_kib("RssAnon");
                    start_heap_kib = heap_in_use_kib();
                }
                if (cycle > 0 && cycle % report_every == 0) {
                    std::printf(
                        "cycle %ld: resident %ld KiB (anonymous %ld, files %ld), heap in use "
                        "%ld KiB\n",
                        cycle, resident_kib(), status_kib("RssAnon"), status_kib("RssFile"),
                        heap_in_use_kib());
                    std::fflush(stdout);
                }
            }
            seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        } catch (const VORN_INTERNAL_ERROR& e) {
            fail(std::string("internal error: ") + e.what());
        }
    }
    const long end_kib = resident_kib();
    const long end_heap_kib = heap_in_use_kib();
    const double growth =
        100.0 * static_cast<double>(end_kib - start_kib) / static_cast<double>(start_kib);
    std::printf("cycles: %ld (%s golden template), %.1f s, %.2f ms per cycle\n", cycles,
                full ? "full" : "cut-down", seconds,
                1000.0 * seconds / static_cast<double>(cycles));
    std::printf(
        "resident memory: after cycle 1 %ld KiB, after %ld warm-up cycles %ld KiB, "
        "end %ld KiB\n",
        first_kib, warm_up, start_kib, end_kib);
    std::printf("anonymous resident memory: after %ld warm-up cycles %ld KiB, end %ld KiB\n",
                warm_up, start_anon_kib, status_kib("RssAnon"));
    std::printf("heap in use: after %ld warm-up cycles %ld KiB, end %ld KiB\n", warm_up,
                start_heap_kib, end_heap_kib);
    std::printf("growth since warm-up: %.2f%%\n", growth);
    return growth < 1.0 ? 0 : 1;
}
