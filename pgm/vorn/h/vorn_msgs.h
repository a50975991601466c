// The library's user messages (31 warnings, 2 errors) and its debug trace function.
#ifndef VORN_MSGS_H
#define VORN_MSGS_H

#include "vorn_api.h"

#include <cstddef>
#include <string>

#include "pgm_host.h"

// One row of the message catalogue.
struct VORN_API VORN_MSG_INFO {
    const char* name;    // "INVALID_DEVICE_DENSITY" (without the VORN_ prefix)
    char severity;       // 'E' or 'W'
    MSG_ID id;           // 20478
    const char* format;  // "Device density '%1!s!' is invalid./WVORN_INVALID_DEVICE_DENSITY"
};

// The catalogue, in registration order (33 rows).
VORN_API const VORN_MSG_INFO* vorn_msg_catalogue(size_t* count);
// The row of `id`, or null.
VORN_API const VORN_MSG_INFO* vorn_msg_find(MSG_ID id);

// Builders return a new message for the caller to post and delete. A suppressed warning comes
// back as a MSG_W_NULL, which posts nothing.
namespace MSG_VORN {
namespace E {
VORN_API MSG_E* FOUND_DUPLICATED_FLASH_IN_DB(const std::string& name, const std::string& dir);
VORN_API MSG_E* FAILED_TO_PARSE_USER_XML(const std::string& file, const std::string& dir);
}  // namespace E

namespace W {
VORN_API MSG_W* INVALID_DEVICE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR(const std::string& arg);
VORN_API MSG_W* INVALID_DEVICE_NAME_CONFLICT_WITH_TEMPLATE(const std::string& arg);
VORN_API MSG_W* INVALID_DEVICE_NAME_CONFLICT_WITH_EXISTING_DEVICE(const std::string& arg);
VORN_API MSG_W* INVALID_IO_VOLTAGE(const std::string& arg);
VORN_API MSG_W* INCOMPATIBLE_IO_VOLTAGE(const std::string& arg);
VORN_API MSG_W* INVALID_DEVICE_ID_WITH_EMPTY_STRING_OR_SPECIAL_CHAR(const std::string& arg);
VORN_API MSG_W* INVALID_DEVICE_DENSITY(const std::string& arg);
VORN_API MSG_W* INVALID_TOTAL_DEVICE_DIE(int arg);
VORN_API MSG_W* INVALID_DEVICE_DUMMY_CLOCK_CYCLE(int arg);
VORN_API MSG_W* INVALID_PROGRAMMING_FLOW_TEMPLATE(const std::string& arg);
VORN_API MSG_W* INVALID_ACTION_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR(const std::string& arg);
VORN_API MSG_W* INVALID_ACTION_COMMAND_WITH_EMPTY_STRING_OR_SPECIAL_CHAR(const std::string& arg);
VORN_API MSG_W* INVALID_ACTION_DATA_MASK_WITH_SPECIAL_CHAR(const std::string& arg);
VORN_API MSG_W* INVALID_ACTION_EXPECTED_DATA_WITH_SPECIAL_CHAR(const std::string& arg);
VORN_API MSG_W* INVALID_ACTION_DATA_WITH_SPECIAL_CHAR(const std::string& arg);
VORN_API MSG_W* INVALID_ACTION_DATA_LENGTH_WITH_EMPTY_STRING_OR_SPECIAL_CHAR(
    const std::string& arg);
VORN_API MSG_W* INVALID_ACTION_ATTEMPT_COUNT_WITH_EMPTY_STRING_OR_SPECIAL_CHAR(
    const std::string& arg);
VORN_API MSG_W* INVALID_ACTION_ERASE_SIZE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR(const std::string& arg);
VORN_API MSG_W* INVALID_ACTION_DELAY_WITH_EMPTY_STRING_OR_SPECIAL_CHAR(const std::string& arg);
VORN_API MSG_W* INVALID_ACTION_PAGE_SIZE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR(const std::string& arg);
VORN_API MSG_W* INVALID_ACTION_ADDRESS_WITH_EMPTY_STRING_OR_SPECIAL_CHAR(const std::string& arg);
VORN_API MSG_W* INVALID_ACTION_ADDR_MODE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR(const std::string& arg);
VORN_API MSG_W* INVALID_ACTION_DUMMY_CLOCK_CYCLE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR(
    const std::string& arg);
VORN_API MSG_W* INVALID_ACTION_BUS_WIDTH(const std::string& arg);
VORN_API MSG_W* INVALID_ACTION_CUSTOM_DIRECTION(const std::string& arg);
VORN_API MSG_W* INVALID_ACTION_CUSTOM_DESCRIPTION(const std::string& arg);
VORN_API MSG_W* FAILED_TO_UPDATE_DB(const std::string& arg);
VORN_API MSG_W* INVALID_TEMPLATE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR(const std::string& arg);
VORN_API MSG_W* INVALID_TEMPLATE_NAME_CONFLICT_WITH_RESERVED_TEMPLATE(const std::string& arg);
VORN_API MSG_W* INVALID_TEMPLATE_NAME_CONFLICT_WITH_EXISTING_DEVICE(const std::string& arg);
VORN_API MSG_W* INVALID_TEMPLATE_NAME_CONFLICT_WITH_TEMPLATE_DATABASE(const std::string& arg);
}  // namespace W

VORN_API MSG_D* DEBUG_MSG(MSG_D_LEVEL level, const char* format, ...);
VORN_API MSG_D* DEBUG_MSG(const char* format, ...);
}  // namespace MSG_VORN

// The trace function of all library code: forwards to the host's msg_local_vdebug with the
// module name "VORN".
VORN_API int msg_vdebug_impl(MSG_D_LEVEL level, const char* format, ...);

#endif
