// Checks the programming flows of a QSPI device against a model of the chip it names, before
// they reach hardware: each operation runs in the order a programmer uses them (initialisation,
// erase, program, verify, termination) over a small modelled programming file, and what would
// go wrong on the chip is reported with the flow, operation and action that caused it.
#ifndef VORN_FLOW_CHECK_H
#define VORN_FLOW_CHECK_H

#include <string>
#include <vector>

#include "vorn_api.h"
#include "vorn_common.h"
#include "vorn_flash_model.h"

class VORN_FLASH;

enum VORN_FLOW_SEVERITY { VORN_FLOW_SEVERITY_WARNING = 0, VORN_FLOW_SEVERITY_ERROR = 1 };

// "warning" or "error".
VORN_API const char* vorn_flow_severity_name(VORN_FLOW_SEVERITY severity);

struct VORN_API VORN_FLOW_FINDING {
    VORN_FLOW_SEVERITY severity = VORN_FLOW_SEVERITY_WARNING;
    std::string code;         // stable identifier of the kind of finding, such as "no-write-enable"
    int flow = -1;            // VORN_PROG_FLOW_TYPE, or -1 for the device as a whole
    int operation = -1;       // VORN_OP_TYPE, or -1
    unsigned int action = 0;  // 1-based position in the operation; 0 for the whole operation
    std::string action_name;  // the action's name and command: "Page Program 0x12"
    std::string text;         // a plain sentence: "issued without a preceding write enable; ..."

    // "Program, action 3 (Page Program 0x12): issued without ..."
    std::string describe() const;
};

// One transaction the model ran, where it came from and what the chip answered.
struct VORN_API VORN_FLOW_TRACE_ENTRY {
    int flow = 0;
    int operation = 0;
    unsigned int action = 0;
    std::string action_name;
    unsigned int address_bytes = 0;  // how many bytes of the transaction's `out` are address
    VORN_FLASH_TRANSACTION transaction;
    VORN_FLASH_RESPONSE response;
    // Repeats of the same read that the log leaves out: a poll whose answer can no longer change.
    unsigned int repeats = 0;

    // How many leading bytes of the transaction's `out` were sent as address, and the address
    // they make (0 when none).
    unsigned int sent_address_bytes() const;
    unsigned long long address() const;
    // "#3 Read Status Register 0x05: in 03 -> Status Register 1 reads 0x03 (busy)"
    std::string describe() const;
};

struct VORN_API VORN_FLOW_CHECK_RESULT {
    std::string vendor;  // the profile the chip was modelled with; empty when none applied
    // The parts of the chip facts the device was judged as: every one its ID and name allow;
    // empty when it was judged by its vendor's command set alone.
    std::vector<std::string> parts;
    std::vector<VORN_FLOW_FINDING> findings;
    std::vector<VORN_FLOW_TRACE_ENTRY> trace;

    unsigned int count(VORN_FLOW_SEVERITY severity) const;
};

class VORN_API VORN_FLOW_CHECKER {
  public:
    explicit VORN_FLOW_CHECKER(bool with_trace = false) : m_with_trace(with_trace) {}

    // Checks a device whose manufacturer byte has no profile by `vendor`'s command set, as a
    // user asked, and says so in a finding; devices of a known maker are checked as before.
    void judge_as(VORN_PROG_FLOW_TEMPLATE vendor) { m_judge_as = static_cast<int>(vendor); }

    // Both flows of a QSPI record, SFL first. The record is only read.
    VORN_FLOW_CHECK_RESULT check_flash(const VORN_FLASH& flash) const;

    // The vendor profile a record's chip is modelled with when no part fits: its manufacturer
    // byte's, else its flow template's; null when neither names one of the five vendors.
    static const VORN_FLASH_VENDOR_PROFILE* find_profile(const VORN_FLASH& flash);
    // The parts a record may be: those its ID and density give, narrowed by its name.
    static std::vector<const VORN_FLASH_PART*> find_parts(const VORN_FLASH& flash);

  private:
    VORN_FLOW_CHECK_RESULT check_as_parts(const VORN_FLASH& flash, const VORN_FLASH_CONFIG& config,
                                          const std::vector<const VORN_FLASH_PART*>& parts) const;
    static bool has_memory(const VORN_FLASH& flash, const VORN_FLASH_CONFIG& config,
                           const VORN_FLASH_VENDOR_PROFILE& profile,
                           VORN_FLOW_CHECK_RESULT& result);

    bool m_with_trace;
    int m_judge_as = -1;
};

#endif
