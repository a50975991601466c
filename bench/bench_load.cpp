// Time to construct a QSPI manager: over the shipped database, and over a custom directory
// holding many generated user devices (files of 100 devices each).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "vorn.h"

namespace {

// Keeps the custom directory away from whatever the current directory holds.
struct CUSTOM_DIR {
    explicit CUSTOM_DIR(const std::string& dir) { VORN_MGR::set_db_custom_dir(dir); }
    ~CUSTOM_DIR() { VORN_MGR::set_db_custom_dir(""); }
};

std::string make_temp_dir() {
    char templ[] = "/tmp/vorn-bench-XXXXXX";
    if (mkdtemp(templ) == nullptr) throw std::runtime_error("mkdtemp failed");
    return std::string(templ) + "/";
}

void BM_LoadShippedDatabase(benchmark::State& state) {
    CUSTOM_DIR custom(VORN_MGR::get_db_zentro_dir());
    size_t devices = 0;
    for (auto _ : state) {
        VORN_QSPI_MGR mgr;
        devices = mgr.get_flash_map().size();
        benchmark::DoNotOptimize(devices);
    }
    state.counters["devices"] = static_cast<double>(devices);
}
BENCHMARK(BM_LoadShippedDatabase)->Unit(benchmark::kMillisecond);

constexpr int kDevicesPerFile = 100;

// Writes `count` copies of the first built-in device, renamed, into user files.
std::string write_generated_devices(int count, int* files) {
    const std::string dir = make_temp_dir();
    CUSTOM_DIR custom(VORN_MGR::get_db_zentro_dir());
    VORN_QSPI_MGR mgr;
    const VORN_FLASH* model = mgr.get_flash_map().begin()->second;
    std::vector<std::unique_ptr<VORN_FLASH>> owned;
    std::vector<VORN_FLASH*> flashes;
    for (int i = 0; i < count; ++i) {
        auto flash = std::make_unique<VORN_QSPI_FLASH>("GEN_" + std::to_string(i));
        for (VORN_FLASH_PARAM p : {VORN_FLASH_PARAM_ID, VORN_FLASH_PARAM_IO_VOLTAGE,
                                   VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE})
            flash->set_parameter_value(p, model->get_parameter_value(p));
        for (VORN_FLASH_PARAM p : {VORN_FLASH_PARAM_TOTAL_DIE, VORN_FLASH_PARAM_DUMMY_CLK_CYCLE,
                                   VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4})
            flash->set_parameter_value(p, model->get_parameter_value_in_dword(p, nullptr));
        flash->set_density(model->get_density());
        for (VORN_PROG_FLOW_TYPE type : {VORN_PROG_FLOW_TYPE_SFL, VORN_PROG_FLOW_TYPE_SDM}) {
            std::vector<VORN_OPERATION*> copy;
            for (const VORN_OPERATION* op : *model->get_operation_list(type))
                copy.push_back(
                    new VORN_QSPI_OPERATION(*static_cast<const VORN_QSPI_OPERATION*>(op)));
            flash->set_operation_list(copy, type);
        }
        flashes.push_back(flash.get());
        owned.push_back(std::move(flash));
    }
    *files = 0;
    for (size_t first = 0; first < flashes.size(); first += kDevicesPerFile, ++*files) {
        const size_t last = std::min(flashes.size(), first + kDevicesPerFile);
        std::unique_ptr<PGM_COMMON_XML_ELEMENT> tree(mgr.create_xml_object_with_flash_list(
            std::vector<VORN_FLASH*>(flashes.begin() + first, flashes.begin() + last)));
        const std::string file = dir + "pgm_flash_generated_" + std::to_string(*files) + ".xml";
        if (!PGM_COMMON_XML::write_xml(tree.get(), file))
            throw std::runtime_error(PGM_COMMON_XML::last_error());
    }
    return dir;
}

void BM_LoadGeneratedDevices(benchmark::State& state) {
    int files = 0;
    const std::string dir = write_generated_devices(static_cast<int>(state.range(0)), &files);
    CUSTOM_DIR custom(dir);
    size_t devices = 0;
    for (auto _ : state) {
        VORN_QSPI_MGR mgr;
        devices = mgr.get_flash_map().size();
        benchmark::DoNotOptimize(devices);
    }
    state.counters["devices"] = static_cast<double>(devices);
    for (int i = 0; i < files; ++i)
        std::remove((dir + "pgm_flash_generated_" + std::to_string(i) + ".xml").c_str());
    std::remove(dir.c_str());
}
BENCHMARK(BM_LoadGeneratedDevices)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
