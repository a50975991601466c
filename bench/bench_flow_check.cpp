// Checking every device's flows on the model of its chip, as `vorn verify --all` does: the
// shipped database, and generated databases of 100, 1,000 and 10,000 user devices (written by
// gen_db) to show that the time grows linearly with the devices.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

#include "bench_common.h"
#include "vorn.h"

namespace {

// The shipped database alone: an empty custom directory.
void use_shipped_database() {
    const std::string custom = vorn_bench::root() + "empty-custom";
    std::filesystem::create_directories(custom);
    PGM_COMMON::set_common_programmer("");
    VORN_MGR::set_db_custom_dir(custom);
}

struct LOADED {
    long devices = -1;  // 0: the shipped database alone
    std::unique_ptr<VORN_QSPI_MGR> mgr;
};

// One database at a time: the 10,000-device one is large.
VORN_QSPI_MGR& database(long devices) {
    static LOADED loaded;
    if (loaded.devices != devices) {
        loaded.mgr.reset();
        if (devices == 0)
            use_shipped_database();
        else
            vorn_bench::use_database(devices);
        loaded.mgr = std::make_unique<VORN_QSPI_MGR>();
        loaded.devices = devices;
    }
    return *loaded.mgr;
}

void check_all(benchmark::State& state, long devices) {
    VORN_QSPI_MGR& mgr = database(devices);
    const VORN_FLOW_CHECKER checker;
    size_t findings = 0;
    for (auto _ : state) {
        findings = 0;
        for (const auto& entry : mgr.get_flash_map())
            findings += checker.check_flash(*entry.second).findings.size();
        benchmark::DoNotOptimize(findings);
    }
    const auto count = static_cast<int64_t>(mgr.get_flash_map().size());
    state.SetItemsProcessed(state.iterations() * count);
    state.SetComplexityN(count);
    state.counters["devices"] = static_cast<double>(count);
    state.counters["findings"] = static_cast<double>(findings);
}

void BM_VerifyShipped(benchmark::State& state) { check_all(state, 0); }
BENCHMARK(BM_VerifyShipped)->Unit(benchmark::kMillisecond);

// What `vorn verify --all` does on the shipped database besides printing: load, then check.
void BM_VerifyShippedWithLoad(benchmark::State& state) {
    use_shipped_database();
    for (auto _ : state) {
        VORN_QSPI_MGR mgr;
        for (const auto& entry : mgr.get_flash_map())
            benchmark::DoNotOptimize(VORN_FLOW_CHECKER().check_flash(*entry.second));
    }
}
BENCHMARK(BM_VerifyShippedWithLoad)->Unit(benchmark::kMillisecond);

void BM_VerifyGenerated(benchmark::State& state) { check_all(state, state.range(0)); }
BENCHMARK(BM_VerifyGenerated)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
