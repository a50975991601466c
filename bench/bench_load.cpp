// Time to construct a QSPI manager: over the shipped database, over a custom directory
// holding many generated user devices (files of 100 devices each), and over the databases
// gen_db writes, next to the anchor: libxml2 alone reading and validating the same files, and
// the host's schema check of them alone.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <libxml/xmlschemas.h>

#include <filesystem>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_common.h"
#include "pgm_common_xml_export.h"
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

// The measured loop: a manager built (and freed) per iteration; counts the devices it loaded.
void construct_managers(benchmark::State& state) {
    size_t devices = 0;
    for (auto _ : state) {
        VORN_QSPI_MGR mgr;
        devices = mgr.get_flash_map().size();
        benchmark::DoNotOptimize(devices);
    }
    state.counters["devices"] = static_cast<double>(devices);
}

void BM_LoadShippedDatabase(benchmark::State& state) {
    CUSTOM_DIR custom(VORN_MGR::get_db_zentro_dir());
    construct_managers(state);
}
BENCHMARK(BM_LoadShippedDatabase)->Unit(benchmark::kMillisecond);

constexpr int DEVICES_PER_FILE = 100;

// Writes `count` copies of the first built-in device, renamed, into user files.
std::string write_generated_devices(int count, int* files) {
    const std::string dir = make_temp_dir();
    CUSTOM_DIR custom(VORN_MGR::get_db_zentro_dir());
    VORN_QSPI_MGR mgr;
    const VORN_FLASH* model = mgr.get_flash_map().begin()->second;
    std::vector<std::unique_ptr<VORN_FLASH>> owned;
    std::vector<VORN_FLASH*> flashes;
    for (int i = 0; i < count; ++i) {
        std::unique_ptr<VORN_FLASH> flash(vorn_make_draft(model));
        flash->set_name("GEN_" + std::to_string(i));
        flashes.push_back(flash.get());
        owned.push_back(std::move(flash));
    }
    *files = 0;
    for (size_t first = 0; first < flashes.size(); first += DEVICES_PER_FILE, ++*files) {
        const size_t last = std::min(flashes.size(), first + DEVICES_PER_FILE);
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
    construct_managers(state);
    for (int i = 0; i < files; ++i)
        std::remove((dir + "pgm_flash_generated_" + std::to_string(i) + ".xml").c_str());
    std::remove(dir.c_str());
}
BENCHMARK(BM_LoadGeneratedDevices)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

// ---- generated databases (gen_db) ----------------------------------------------------------

// Every file the manager reads for a database: the two files of the Zentro directory (the
// golden template, and the SD/MMC template the QSPI schema turns away) and the custom files.
std::vector<std::string> database_files(long devices) {
    const std::string dir = vorn_bench::programmer_dir(devices);
    std::vector<std::string> files;
    for (const std::string sub : {"xml", "custom"})
        for (const auto& entry : std::filesystem::directory_iterator(dir + sub)) {
            const std::string name = entry.path().filename().string();
            if (name.compare(0, 10, "pgm_flash_") == 0 && entry.path().extension() == ".xml")
                files.push_back(entry.path().string());
        }
    std::sort(files.begin(), files.end());
    return files;
}

void BM_Load(benchmark::State& state) {
    const long devices = state.range(0);
    vorn_bench::use_database(devices);
    size_t loaded = 0;
    for (auto _ : state) {
        // Construction only: tearing the records down again is not part of loading.
        auto mgr = std::make_unique<VORN_QSPI_MGR>();
        loaded = mgr->get_flash_map().size();
        benchmark::DoNotOptimize(loaded);
        state.PauseTiming();
        mgr.reset();
        state.ResumeTiming();
    }
    uintmax_t bytes = 0;
    for (const std::string& file : database_files(devices))
        bytes += std::filesystem::file_size(file);
    state.counters["devices"] = static_cast<double>(loaded);
    state.counters["xml_bytes"] = static_cast<double>(bytes);
    state.counters["per_device"] = benchmark::Counter(
        static_cast<double>(devices),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    if (loaded < static_cast<size_t>(devices)) state.SkipWithError("database not fully loaded");
}
// The databases every load figure and its anchors are measured on; 1300: one user file of about
// 15 MB. The load runs on one thread; CPU time is its cost.
void load_databases(benchmark::internal::Benchmark* b) {
    b->Arg(100)->Arg(1000)->Arg(10000)->Arg(1300)->MeasureProcessCPUTime()->Unit(
        benchmark::kMillisecond);
}
BENCHMARK(BM_Load)->Apply(load_databases);

void BM_LoadAnchor(benchmark::State& state) {
    const long devices = state.range(0);
    const std::vector<std::string> files = database_files(devices);
    const std::string xsd = vorn_bench::programmer_dir(devices) + "xsd/vorn_qspi.xsd";
    xmlSchemaParserCtxtPtr pctxt = xmlSchemaNewParserCtxt(xsd.c_str());
    xmlSchemaPtr schema = xmlSchemaParse(pctxt);
    xmlSchemaFreeParserCtxt(pctxt);
    if (schema == nullptr) {
        state.SkipWithError("schema does not compile");
        return;
    }
    int valid = 0;
    for (auto _ : state) {
        valid = 0;
        for (const std::string& file : files) {
            xmlDocPtr doc = xmlReadFile(file.c_str(), "UTF-8", XML_PARSE_NONET);
            if (doc == nullptr) continue;
            xmlSchemaValidCtxtPtr vctxt = xmlSchemaNewValidCtxt(schema);
            xmlSchemaSetValidStructuredErrors(
                vctxt, [](void*, xmlErrorPtr) {}, nullptr);
            valid += xmlSchemaValidateDoc(vctxt, doc) == 0;
            xmlSchemaFreeValidCtxt(vctxt);
            xmlFreeDoc(doc);
        }
        benchmark::DoNotOptimize(valid);
    }
    xmlSchemaFree(schema);
    state.counters["files"] = static_cast<double>(files.size());
    state.counters["valid"] = static_cast<double>(valid);
}
BENCHMARK(BM_LoadAnchor)->Apply(load_databases);

// The floor under BM_Load: the host's one pass over the same files with the schema check and
// nothing built (no elements, no records), the schema compiled beforehand as for the anchor.
// What BM_Load spends above it is the elements' and the records' share.
void BM_LoadCheckOnly(benchmark::State& state) {
    const long devices = state.range(0);
    const std::vector<std::string> files = database_files(devices);
    const std::string xsd = vorn_bench::programmer_dir(devices) + "xsd/vorn_qspi.xsd";
    std::string error;
    std::string warning;
    PGM_COMMON_XML::check_xsd(files.front(), xsd, error, warning);
    int valid = 0;
    for (auto _ : state) {
        valid = 0;
        for (const std::string& file : files)
            valid += PGM_COMMON_XML::check_xsd(file, xsd, error, warning);
        benchmark::DoNotOptimize(valid);
    }
    state.counters["files"] = static_cast<double>(files.size());
    state.counters["valid"] = static_cast<double>(valid);
}
BENCHMARK(BM_LoadCheckOnly)->Apply(load_databases);

}  // namespace

BENCHMARK_MAIN();
