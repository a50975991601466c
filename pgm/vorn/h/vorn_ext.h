// Extensions beyond the described API: the lock that makes writers of a database directory take
// turns, a behavioural model of the flash chip, the checker that runs a device's flows on it, and
// the host API (drafts, thread-safe lookups, checked saves).
#ifndef VORN_EXT_H
#define VORN_EXT_H

#include "vorn_db_lock.h"
#include "vorn_flash_model.h"
#include "vorn_flow_check.h"
#include "vorn_flow_fit.h"
#include "vorn_host_api.h"
#include "vorn_load_report.h"

#endif
