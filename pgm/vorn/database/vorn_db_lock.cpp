// The database directory lock, and the recovery of what an interrupted save left behind.
#define VORN_SOURCE_FILE "pgm/vorn/vorn_db_lock"

#include "vorn_db_lock.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "vorn_internal.h"
#include "vorn_db_files.h"

static MEM_INITIALIZER mem_initializer("VORN");

namespace {

// Not one of the catalogue's: it reports what the crash-safe save protocol recovered.
constexpr MSG_ID RECOVERED_INTERRUPTED_SAVE = 20561;
const MSG_ID recovery_ids[] = {RECOVERED_INTERRUPTED_SAVE};
const MSG_POST_TYPE recovery_types[] = {MSG_POST_TYPE_WARNING};
MSG_ID_REGISTRAR recovery_registrar(recovery_ids, recovery_types, 1);

}  // namespace

VORN_DB_LOCK::VORN_DB_LOCK(const std::string& db_dir)
    : m_lock(std::make_unique<FIO_FOLDER_LOCK>(db_dir, true)) {}

VORN_DB_LOCK::VORN_DB_LOCK(const std::string& db_dir, unsigned int timeout_ms) {
    using clock = std::chrono::steady_clock;
    const clock::time_point deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
    // flock has no timeout of its own; a short poll keeps the wait near the one asked for.
    for (;;) {
        m_lock = std::make_unique<FIO_FOLDER_LOCK>(db_dir, false);
        if (m_lock->held() || !FIO_FILE_SYSTEM::is_directory(db_dir)) return;
        const clock::time_point now = clock::now();
        if (now >= deadline) return;
        std::this_thread::sleep_for(
            std::min<clock::duration>(deadline - now, std::chrono::milliseconds(10)));
    }
}

VORN_DB_LOCK::~VORN_DB_LOCK() = default;

bool VORN_DB_LOCK::held() const { return m_lock->held(); }

void vorn_recover_db_dir(const std::string& dir) {
    // A clean folder is only read. A writer at work holds the lock: its files are not
    // leftovers, and readers never wait.
    if (!FIO_FOLDER_CHANGE::needs_recovery(dir)) return;
    FIO_FOLDER_LOCK lock(dir, false);
    if (!lock.held()) return;
    for (const std::string& line : FIO_FOLDER_CHANGE::recover_folder(dir)) {
        if (MSG_INDEX::get_default_index()->is_suppressed(RECOVERED_INTERRUPTED_SAVE)) continue;
        MSG_W warning(nullptr);
        warning.fill_args("Recovered %1!s!./WVORN_RECOVERED_INTERRUPTED_SAVE", line.c_str());
        warning.set_warning_flag(1);
        warning.set_id(RECOVERED_INTERRUPTED_SAVE);
        warning.post();
    }
}
