// The flows a record takes from a template: found by the template's name, copied, and fitted
// to the part. The vendor templates address 4 bytes and enter 4-byte mode, which parts of
// 128 Mbit and less do not have: a device made from a vendor template for such a part gets
// 3-byte flows instead.
#ifndef VORN_FLOW_FIT_H
#define VORN_FLOW_FIT_H

#include <string>
#include <vector>

#include "vorn_api.h"
#include "vorn_flash_model.h"

class VORN_FLASH;
class VORN_OPERATION;
class VORN_QSPI_MGR;

// The flows of the template `name`: a vendor template (VORN_PROG_FLOW_TEMPLATE_NAME) or a user
// template of `mgr`; false, with both null, when no template has that name. The lists stay the
// manager's: copy them (vorn_copy_flow) for a record.
VORN_API bool vorn_template_flows(VORN_QSPI_MGR& mgr, const std::string& name,
                                  const std::vector<VORN_OPERATION*>** sfl,
                                  const std::vector<VORN_OPERATION*>** sdm);

// Deep copies of the operations of `flow`, appended to `out`, for a record to own. False, with
// `out` as it was, when an operation is of a class this library does not define.
VORN_API bool vorn_copy_flow(const std::vector<VORN_OPERATION*>& flow,
                             std::vector<VORN_OPERATION*>& out);

// `flow` for a part that addresses 3 bytes: no mode switch, nor its checks, nor the clearing of
// an address register; the 3-byte twin of each 4-byte-address command `profile` holds, and
// 3-byte addressing. `flow` is only read; the caller owns the new operations.
VORN_API std::vector<VORN_OPERATION*> vorn_fit_flow_to_three_bytes(
    const VORN_FLASH_VENDOR_PROFILE& profile, const std::vector<VORN_OPERATION*>& flow);

// `flow` for a part of `density` above 16MB with 4-byte-address commands of its own: no mode
// switch, nor its checks, nor the clearing of an address register; the 4-byte-address twin of
// each mode-addressed command `profile` holds, and 4-byte addressing. The part stays in the
// 3-byte mode it powers up in, so no flow reads a bit that shows the mode. `flow` is only read;
// the caller owns the new operations.
VORN_API std::vector<VORN_OPERATION*> vorn_fit_flow_to_native_four_bytes(
    const VORN_FLASH_VENDOR_PROFILE& profile, unsigned long long density,
    const std::vector<VORN_OPERATION*>& flow);

// Copies of `flow` for a new record of `density` bytes, appended to `out`: when `template_name`
// names the vendor template the flow is of, its 4-byte flows fitted to 3-byte addressing for a
// part of 16MB or less (`*fitted` true); plain copies otherwise (a user template's or a device's
// flows, "" for the latter). False, with `out` as it was, as vorn_copy_flow.
VORN_API bool vorn_flow_for_density(const std::string& template_name, unsigned long long density,
                                    const std::vector<VORN_OPERATION*>& flow,
                                    std::vector<VORN_OPERATION*>& out, bool* fitted);

// Why the addressing of a record's flows (taken from `source`) does not fit its density, or "".
VORN_API std::string vorn_flow_addressing_misfit(const VORN_FLASH& flash,
                                                 const std::string& source);

#endif
