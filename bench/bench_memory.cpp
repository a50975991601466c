// Peak resident memory of a process that loads one generated database, against the bytes of
// the XML files it read. One database per process, as the peak only ever grows.
//
//   bench_memory <devices>      (VORN_BENCH_ROOT as for the other programs)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "bench_common.h"
#include "vorn.h"

namespace {

// VmHWM or VmRSS of this process, in bytes.
long long status_kib(const std::string& key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, key.size() + 1, key + ":") == 0)
            return std::atoll(line.c_str() + key.size() + 1) * 1024;
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: bench_memory <devices>\n";
        return 2;
    }
    const long devices = std::atol(argv[1]);
    vorn_bench::use_database(devices);
    unsigned long long xml_bytes = 0;
    unsigned long long user_bytes = 0;
    const std::string dir = vorn_bench::programmer_dir(devices);
    for (const std::string sub : {"xml", "custom"})
        for (const auto& entry : std::filesystem::directory_iterator(dir + sub))
            if (entry.path().extension() == ".xml") {
                xml_bytes += entry.file_size();
                if (sub == "custom") user_bytes += entry.file_size();
            }

    const long long before = status_kib("VmHWM");
    VORN_QSPI_MGR mgr;
    const long long peak = status_kib("VmHWM");
    const long long resident = status_kib("VmRSS");
    // One line of JSON, for run.sh to collect.
    std::printf(
        "{\"devices\": %ld, \"loaded\": %zu, \"xml_bytes\": %llu, \"user_bytes\": %llu, "
        "\"peak_before_load\": %lld, \"peak_after_load\": %lld, \"rss_after_load\": %lld}\n",
        devices, mgr.get_flash_map().size(), xml_bytes, user_bytes, before, peak, resident);
    return mgr.get_flash_map().size() >= static_cast<size_t>(devices) ? 0 : 1;
}
