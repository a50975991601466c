// Saving into a custom directory of 1,000 files (the 10,000-device database): update_db of a
// new device, delete_db of a device that shares its file with nine others, and the anchor:
// write_xml of the same trees alone.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_common.h"
#include "vorn.h"

namespace fs = std::filesystem;

namespace {

constexpr long DEVICES = 10000;

// A scratch copy of the custom directory, so the generated database stays as it was.
struct SCRATCH {
    std::string dir;
    std::unique_ptr<VORN_QSPI_MGR> mgr;
    std::map<long, std::string> by_index;  // generator index -> device name
    SCRATCH() {
        char templ[] = "/tmp/vorn-bench-save-XXXXXX";
        if (mkdtemp(templ) == nullptr) throw std::runtime_error("mkdtemp failed");
        dir = std::string(templ) + "/";
        for (const auto& entry :
             fs::directory_iterator(vorn_bench::programmer_dir(DEVICES) + "custom"))
            fs::copy_file(entry.path(), dir + entry.path().filename().string());
        vorn_bench::use_database(DEVICES, dir);
        mgr = std::make_unique<VORN_QSPI_MGR>();
        for (const auto& entry : mgr->get_flash_map()) {
            const size_t pos = entry.first.rfind("_U");
            if (pos != std::string::npos)
                by_index[std::atol(entry.first.c_str() + pos + 2)] = entry.first;
        }
    }
    ~SCRATCH() {
        mgr.reset();
        fs::remove_all(dir);
    }
    std::string db_dir() const { return VORN_MGR::get_db_custom_dir(); }
};

// A new record with the identity and flows of an existing one.
VORN_FLASH* copy_of(const VORN_FLASH& model, const std::string& name) {
    VORN_FLASH* flash = vorn_make_draft(&model);
    flash->set_name(name);
    return flash;
}

void BM_UpdateDbNewDevice(benchmark::State& state) {
    SCRATCH scratch;
    const VORN_FLASH& model = *scratch.mgr->get_flash_map().begin()->second;
    const std::string name = "BENCH_NEW_DEVICE";
    for (auto _ : state) {
        state.PauseTiming();
        VORN_FLASH* flash = copy_of(model, name);
        state.ResumeTiming();
        if (!scratch.mgr->update_db(flash, scratch.db_dir())) state.SkipWithError("update_db");
        state.PauseTiming();
        if (!scratch.mgr->delete_db(name, scratch.db_dir())) state.SkipWithError("delete_db");
        state.ResumeTiming();
    }
}
BENCHMARK(BM_UpdateDbNewDevice)->Unit(benchmark::kMicrosecond);

void BM_UpdateDbAnchor(benchmark::State& state) {
    SCRATCH scratch;
    const VORN_FLASH& model = *scratch.mgr->get_flash_map().begin()->second;
    std::unique_ptr<VORN_FLASH> flash(copy_of(model, "BENCH_NEW_DEVICE"));
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> tree(
        scratch.mgr->create_xml_object_with_flash_list({flash.get()}));
    const std::string file = scratch.dir + "pgm_flash_BENCH_NEW_DEVICE.xml";
    for (auto _ : state)
        if (!PGM_COMMON_XML::write_xml(tree.get(), file)) state.SkipWithError("write_xml");
}
BENCHMARK(BM_UpdateDbAnchor)->Unit(benchmark::kMicrosecond);

// Each iteration deletes the first device of another file; the file keeps the nine others.
void BM_DeleteDbSharedFile(benchmark::State& state) {
    SCRATCH scratch;
    long file = 0;
    for (auto _ : state) {
        const std::string& name = scratch.by_index.at(file++ * 10);
        if (!scratch.mgr->delete_db(name, scratch.db_dir())) state.SkipWithError("delete_db");
    }
}
BENCHMARK(BM_DeleteDbSharedFile)->Unit(benchmark::kMicrosecond)->Iterations(200);

void BM_DeleteDbAnchor(benchmark::State& state) {
    SCRATCH scratch;
    std::vector<VORN_FLASH*> nine;
    for (long i = 1; i < 10; ++i)
        nine.push_back(scratch.mgr->get_flash_map().at(scratch.by_index.at(i)));
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> tree(
        scratch.mgr->create_xml_object_with_flash_list(nine));
    const std::string file = scratch.dir + "pgm_flash_gen_00000.xml";
    for (auto _ : state)
        if (!PGM_COMMON_XML::write_xml(tree.get(), file)) state.SkipWithError("write_xml");
}
BENCHMARK(BM_DeleteDbAnchor)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
