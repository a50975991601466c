// Lookups a host makes from its editing dialogs, on the 10,000-device database with 1,000
// legacy devices.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench_common.h"
#include "vorn.h"

namespace {

constexpr long DEVICES = 10000;
// A family that accepts "3.0V/3.3V" flash, as most generated devices are.
constexpr DEV_FAMILY_ENUM FAMILY = static_cast<DEV_FAMILY_ENUM>(12);
constexpr PGMIO_CONFIG_SCHEME SCHEME = static_cast<PGMIO_CONFIG_SCHEME>(13);

// The manager as loaded; it only takes its first device out of the map and puts it back, as a
// host's subclass may, without touching the shared database on disk.
class BENCH_MGR : public VORN_QSPI_MGR {
  public:
    ~BENCH_MGR() override {
        if (m_taken.second != nullptr) m_flash_map.insert(m_taken);
    }
    void change_map() {
        if (m_taken.second == nullptr) {
            m_taken = *m_flash_map.begin();
            m_flash_map.erase(m_flash_map.begin());
        } else {
            m_flash_map.insert(m_taken);
            m_taken = {};
        }
    }

  private:
    std::pair<std::string, VORN_FLASH*> m_taken;
};

struct DATABASE {
    // The shipped manager class: a subclass asks its own legacy list on every name lookup.
    std::unique_ptr<VORN_QSPI_MGR> mgr;
    std::string middle_name;  // a visible database device halfway through the name order
    std::string last_name;    // the last device in name order: the longest walks
    std::string legacy_name;  // a legacy device visible to FAMILY under SCHEME
    unsigned last_id = 0;
};

DATABASE& database() {
    static DATABASE* db = [] {
        auto* d = new DATABASE;
        vorn_bench::use_database(DEVICES);
        d->mgr = std::make_unique<VORN_QSPI_MGR>();
        d->mgr->set_active_device_family(FAMILY);
        d->mgr->set_active_config_mode(SCHEME);
        const std::vector<std::string> visible =
            d->mgr->get_new_config_device_list(FAMILY, SCHEME, false);
        d->middle_name = visible.at(visible.size() / 2);
        d->last_name = d->mgr->get_flash_map().rbegin()->first;
        d->last_id = d->mgr->get_flash_map().rbegin()->second->get_parameter_value_in_dword(
            VORN_FLASH_PARAM_ID, nullptr);
        const std::vector<std::string> legacy =
            d->mgr->get_legacy_config_device_list(FAMILY, SCHEME, false);
        d->legacy_name = legacy.at(legacy.size() / 2);
        return d;
    }();
    return *db;
}

void BM_GetFlashFiltered(benchmark::State& state) {
    DATABASE& db = database();
    for (auto _ : state) benchmark::DoNotOptimize(db.mgr->get_flash(db.middle_name, false));
    if (db.mgr->get_flash(db.middle_name, false) == nullptr) state.SkipWithError("not found");
}
BENCHMARK(BM_GetFlashFiltered);

void BM_GetFlashUnfiltered(benchmark::State& state) {
    DATABASE& db = database();
    for (auto _ : state) benchmark::DoNotOptimize(db.mgr->get_flash(db.middle_name, true));
    if (db.mgr->get_flash(db.middle_name, true) == nullptr) state.SkipWithError("not found");
}
BENCHMARK(BM_GetFlashUnfiltered);

// A legacy name makes a new record each time and drops the previous one.
void BM_GetFlashLegacy(benchmark::State& state) {
    DATABASE& db = database();
    for (auto _ : state) benchmark::DoNotOptimize(db.mgr->get_flash(db.legacy_name, false));
    if (db.mgr->get_flash(db.legacy_name, false) == nullptr) state.SkipWithError("not found");
}
BENCHMARK(BM_GetFlashLegacy);

void BM_DeviceExistInDb(benchmark::State& state) {
    DATABASE& db = database();
    for (auto _ : state)
        benchmark::DoNotOptimize(db.mgr->device_exist_in_db(db.middle_name, false));
    if (!db.mgr->device_exist_in_db(db.middle_name, false)) state.SkipWithError("not found");
}
BENCHMARK(BM_DeviceExistInDb);

void BM_DeviceExistInDbMissing(benchmark::State& state) {
    DATABASE& db = database();
    for (auto _ : state)
        benchmark::DoNotOptimize(db.mgr->device_exist_in_db("NO_SUCH_PART", false));
}
BENCHMARK(BM_DeviceExistInDbMissing);

void BM_GetFlashWithIdFullMask(benchmark::State& state) {
    DATABASE& db = database();
    for (auto _ : state)
        benchmark::DoNotOptimize(db.mgr->get_flash_with_id(db.last_id, 0xFFFFFFFFu));
    if (db.mgr->get_flash_with_id(db.last_id, 0xFFFFFFFFu) == nullptr)
        state.SkipWithError("not found");
}
BENCHMARK(BM_GetFlashWithIdFullMask);

// No device matches: the whole map is walked.
void BM_GetFlashWithIdMiss(benchmark::State& state) {
    DATABASE& db = database();
    for (auto _ : state)
        benchmark::DoNotOptimize(db.mgr->get_flash_with_id(0x5A5A5A5Au, 0xFFFFFFFFu));
}
BENCHMARK(BM_GetFlashWithIdMiss);

void BM_GetFlashWithIdPartialMask(benchmark::State& state) {
    DATABASE& db = database();
    for (auto _ : state)
        benchmark::DoNotOptimize(db.mgr->get_flash_with_id(db.last_id, 0x00FFFF00u));
}
BENCHMARK(BM_GetFlashWithIdPartialMask);

void BM_GetFlashWithDensityMiss(benchmark::State& state) {
    DATABASE& db = database();
    for (auto _ : state) benchmark::DoNotOptimize(db.mgr->get_flash_with_density(12345));
}
BENCHMARK(BM_GetFlashWithDensityMiss);

void BM_GetFlashWithDensityHit(benchmark::State& state) {
    DATABASE& db = database();
    const unsigned long long bytes = 2048ull * 1024 * 1024 / 8;
    for (auto _ : state) benchmark::DoNotOptimize(db.mgr->get_flash_with_density(bytes));
}
BENCHMARK(BM_GetFlashWithDensityHit);

// Each lookup follows an edit of a record in place.
void BM_GetFlashWithIdAfterEdit(benchmark::State& state) {
    DATABASE& db = database();
    VORN_FLASH* edited = db.mgr->get_flash_map().begin()->second;
    const std::string density = edited->get_density();
    for (auto _ : state) {
        edited->set_density(density);
        benchmark::DoNotOptimize(db.mgr->get_flash_with_id(db.last_id, 0xFFFFFFFFu));
    }
}
BENCHMARK(BM_GetFlashWithIdAfterEdit)->Unit(benchmark::kMicrosecond);

// Each lookup follows a change of the map (as after a save or a deletion): names copied again.
void BM_GetFlashWithIdAfterMapChange(benchmark::State& state) {
    DATABASE& db = database();
    vorn_bench::use_database(DEVICES);
    BENCH_MGR mgr;
    for (auto _ : state) {
        mgr.change_map();
        benchmark::DoNotOptimize(mgr.get_flash_with_id(db.last_id, 0xFFFFFFFFu));
    }
}
BENCHMARK(BM_GetFlashWithIdAfterMapChange)->Unit(benchmark::kMicrosecond);

void BM_NewConfigDeviceList(benchmark::State& state) {
    DATABASE& db = database();
    const bool ignore_filter = state.range(0) != 0;
    size_t size = 0;
    for (auto _ : state) {
        std::vector<std::string> list =
            db.mgr->get_new_config_device_list(FAMILY, SCHEME, ignore_filter);
        size = list.size();
        benchmark::DoNotOptimize(list);
    }
    state.counters["names"] = static_cast<double>(size);
}
BENCHMARK(BM_NewConfigDeviceList)
    ->ArgName("ignore_filter")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond);

void BM_LegacyConfigDeviceList(benchmark::State& state) {
    DATABASE& db = database();
    const bool ignore_filter = state.range(0) != 0;
    size_t size = 0;
    for (auto _ : state) {
        std::vector<std::string> list =
            db.mgr->get_legacy_config_device_list(FAMILY, SCHEME, ignore_filter);
        size = list.size();
        benchmark::DoNotOptimize(list);
    }
    state.counters["names"] = static_cast<double>(size);
}
BENCHMARK(BM_LegacyConfigDeviceList)
    ->ArgName("ignore_filter")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
