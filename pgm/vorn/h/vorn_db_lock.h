// Writers of a database directory take turns.
#ifndef VORN_DB_LOCK_H
#define VORN_DB_LOCK_H

#include <memory>
#include <string>

#include "vorn_api.h"

class FIO_FOLDER_LOCK;

// Holds the advisory lock of a database directory (flock on the directory itself) while it
// lives; released at the latest when the process ends. The library's own saves, deletes and
// template saves take it for their duration, and a lock this process already holds is granted to
// them at once, so a host takes it around a whole edit: lock, renew the managers
// (VORN_HELPER::refresh_flash_managers) so that they show what is on disk, save or delete, unlock.
// Readers never take it.
class VORN_API VORN_DB_LOCK {
  public:
    // Waits as long as another process holds the lock.
    explicit VORN_DB_LOCK(const std::string& db_dir);
    // Waits at most `timeout_ms` milliseconds (0: tries once); held() then says whether it got
    // the lock. A host that must not hang behind another writer uses this form.
    VORN_DB_LOCK(const std::string& db_dir, unsigned int timeout_ms);
    ~VORN_DB_LOCK();
    VORN_DB_LOCK(const VORN_DB_LOCK&) = delete;
    VORN_DB_LOCK& operator=(const VORN_DB_LOCK&) = delete;
    // False when the directory is missing, or the timeout passed first.
    bool held() const;

  private:
    std::unique_ptr<FIO_FOLDER_LOCK> m_lock;
};

#endif
