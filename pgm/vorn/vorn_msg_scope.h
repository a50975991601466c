// Which value drew which message: a report opens a scope around each validator it runs.
#ifndef VORN_MSG_SCOPE_H
#define VORN_MSG_SCOPE_H

#include <vector>

#include "pgm_host.h"

// Keeps a copy of each message the library builds on this thread while it lives (the code that
// builds a message posts it: the message still reaches the host's sink). Scopes nest; the
// innermost one keeps the messages. A suppressed warning is not built and not kept.
class VORN_MSG_SCOPE {
  public:
    VORN_MSG_SCOPE();
    ~VORN_MSG_SCOPE();
    VORN_MSG_SCOPE(const VORN_MSG_SCOPE&) = delete;
    VORN_MSG_SCOPE& operator=(const VORN_MSG_SCOPE&) = delete;

    const std::vector<MSG_RECORD>& records() const { return m_records; }
    // Called by the message builders.
    static void keep(const MSG_BASE& msg);

  private:
    VORN_MSG_SCOPE* m_outer;
    std::vector<MSG_RECORD> m_records;
};

#endif
