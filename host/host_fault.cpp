#include "host_fault.h"

#include <unistd.h>

#include <mutex>

namespace HOST_FAULT {
namespace {

constexpr int OP_COUNT = CHANGE_APPLY + 1;

std::mutex& fault_mutex() {
    static std::mutex m;
    return m;
}

int g_pending[OP_COUNT] = {};

// Through int: a value outside the enumerators is what is being guarded against.
bool valid(OP op) {
    const int n = static_cast<int>(op);
    return n >= 0 && n < OP_COUNT;
}

}  // namespace

void fail_next(OP op, int count) {
    if (!valid(op) || count <= 0) return;
    std::lock_guard<std::mutex> lock(fault_mutex());
    g_pending[op] += count;
}

void clear() {
    std::lock_guard<std::mutex> lock(fault_mutex());
    for (int& n : g_pending) n = 0;
}

bool take(OP op) {
    if (!valid(op)) return false;
    std::lock_guard<std::mutex> lock(fault_mutex());
    if (g_pending[op] == 0) return false;
    --g_pending[op];
    return true;
}

int pending(OP op) {
    if (!valid(op)) return 0;
    std::lock_guard<std::mutex> lock(fault_mutex());
    return g_pending[op];
}

namespace {
int g_crash_at = 0;
}  // namespace

void crash_at(int n) { g_crash_at = n; }

void crash_point() {
    if (g_crash_at > 0 && --g_crash_at == 0) _exit(99);
}

}  // namespace HOST_FAULT
