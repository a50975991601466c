// What the benchmark programs share: where gen_db put its programmer directories.
#ifndef VORN_BENCH_COMMON_H
#define VORN_BENCH_COMMON_H

#include <cstdlib>
#include <string>

#include "vorn.h"

namespace vorn_bench {

// VORN_BENCH_ROOT, as given to gen_db; /tmp/vorn-bench when unset.
inline std::string root() {
    const char* env = std::getenv("VORN_BENCH_ROOT");
    std::string dir = env != nullptr && *env != '\0' ? env : "/tmp/vorn-bench";
    if (dir.back() != '/') dir += '/';
    return dir;
}

inline std::string programmer_dir(long devices) {
    return root() + "n" + std::to_string(devices) + "/";
}

// Points the host and the managers at the generated database of `devices` user devices.
inline void use_database(long devices, const std::string& custom_dir = std::string()) {
    PGM_COMMON::set_common_programmer(programmer_dir(devices));
    VORN_MGR::set_db_custom_dir(custom_dir.empty() ? programmer_dir(devices) + "custom"
                                                   : custom_dir);
}

}  // namespace vorn_bench

#endif
