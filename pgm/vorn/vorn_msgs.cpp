#include "vorn_msgs.h"

#include "vorn_msg_scope.h"

#include <cstdarg>
#include <cstdio>
#include <memory>

static MEM_INITIALIZER mem_initializer("VORN");

// The whole catalogue, in registration order. Each row names its builder shape:
//   E(name, id, text)   error with two string arguments
//   WS(name, id, text)  warning with one string argument
//   WD(name, id, text)  warning with one int argument
// The "/E..." or "/W..." tail of each format is derived from the row's name.
#define VORN_MSG_TABLE(E, WS, WD)                                                                  \
    WS(INVALID_DEVICE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, 20473,                               \
       "Device name '%1!s!' is invalid as it contains either an empty string or special "          \
       "characters.")                                                                              \
    WS(INVALID_DEVICE_NAME_CONFLICT_WITH_TEMPLATE, 20474,                                          \
       "Device name '%1!s!' is invalid as it conflicts with the reserved name for the "            \
       "programming flow template.")                                                               \
    WS(INVALID_DEVICE_NAME_CONFLICT_WITH_EXISTING_DEVICE, 20475,                                   \
       "Device name '%1!s!' is invalid as it already exist in the device database.")               \
    WS(INVALID_IO_VOLTAGE, 20476, "Device I/O voltage '%1!s!' is invalid.")                        \
    WS(INCOMPATIBLE_IO_VOLTAGE, 20535,                                                             \
       "Flash device I/O voltage '%1!s!' is incompatible with the selected FPGA device family.")   \
    WS(INVALID_DEVICE_ID_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, 20477,                                 \
       "Device ID '%1!s!' is invalid. It either contains an empty string or special characters, "  \
       "or it is not in the list of byte formats.")                                                \
    WS(INVALID_DEVICE_DENSITY, 20478, "Device density '%1!s!' is invalid.")                        \
    WD(INVALID_TOTAL_DEVICE_DIE, 20479, "Total device die '%1!d!' is invalid.")                    \
    WD(INVALID_DEVICE_DUMMY_CLOCK_CYCLE, 20543, "Device dummy clock cycle '%1!d!' is invalid.")    \
    WS(INVALID_PROGRAMMING_FLOW_TEMPLATE, 20481, "Programming flow template '%1!s!' is invalid.")  \
    E(FOUND_DUPLICATED_FLASH_IN_DB, 20482,                                                         \
      "Found duplicate flash device names '%1!s!' in the %2!s! directory.")                        \
    E(FAILED_TO_PARSE_USER_XML, 20510,                                                             \
      "Failed to parse the user XML file '%1!s!' in the %2!s! directory.")                         \
    WS(INVALID_ACTION_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, 20485,                               \
       "Action name '%1!s!' is invalid as it contains an empty string or special characters.")     \
    WS(INVALID_ACTION_COMMAND_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, 20486,                            \
       "Action command '%1!s!' is invalid. It either contains an empty string or special "         \
       "characters, or it is not in the list of byte formats.")                                    \
    WS(INVALID_ACTION_DATA_MASK_WITH_SPECIAL_CHAR, 20494,                                          \
       "Action data mask '%1!s!' is invalid. It either contains special characters or is not in "  \
       "the list of byte formats.")                                                                \
    WS(INVALID_ACTION_EXPECTED_DATA_WITH_SPECIAL_CHAR, 20495,                                      \
       "Action expected data '%1!s!' is invalid. It either contains special characters or is not " \
       "in the list of byte formats.")                                                             \
    WS(INVALID_ACTION_DATA_WITH_SPECIAL_CHAR, 20496,                                               \
       "Action data '%1!s!' is invalid. It either contains special characters or is not in the "   \
       "list of byte formats.")                                                                    \
    WS(INVALID_ACTION_DATA_LENGTH_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, 20497,                        \
       "Action data length '%1!s!' is invalid. It either contains an empty string or special "     \
       "characters, or has a value of 0.")                                                         \
    WS(INVALID_ACTION_ATTEMPT_COUNT_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, 20498,                      \
       "Action attempt count '%1!s!' is invalid. It either contains an empty string or special "   \
       "characters, or has a value of 0.")                                                         \
    WS(INVALID_ACTION_ERASE_SIZE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, 20499,                         \
       "Action erase size '%1!s!' is invalid. It either contains an empty string or special "      \
       "characters, or has a value of 0.")                                                         \
    WS(INVALID_ACTION_DELAY_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, 20500,                              \
       "Action delay '%1!s!' is invalid. It contains either an empty string or special "           \
       "characters.")                                                                              \
    WS(INVALID_ACTION_PAGE_SIZE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, 20501,                          \
       "Action page size '%1!s!' is invalid. It either contains an empty string or special "       \
       "characters, or has a value other than 256.")                                               \
    WS(INVALID_ACTION_ADDRESS_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, 20502,                            \
       "Action address '%1!s!' is invalid. It contains either an empty string or special "         \
       "characters.")                                                                              \
    WS(INVALID_ACTION_ADDR_MODE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, 20503,                          \
       "Action addressing mode '%1!s!' is invalid. It either contains an empty string or special " \
       "characters, or has a value of 0.")                                                         \
    WS(INVALID_ACTION_DUMMY_CLOCK_CYCLE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, 20504,                  \
       "Action dummy clock cycle '%1!s!' is invalid. It contains either an empty string or "       \
       "special characters.")                                                                      \
    WS(INVALID_ACTION_BUS_WIDTH, 20505, "Action bus width '%1!s!' is invalid.")                    \
    WS(INVALID_ACTION_CUSTOM_DIRECTION, 20507, "Action custom direction '%1!s!' is invalid.")      \
    WS(INVALID_ACTION_CUSTOM_DESCRIPTION, 20509,                                                   \
       "Action custom description '%1!s!' is invalid due to an empty string.")                     \
    WS(FAILED_TO_UPDATE_DB, 20560, "Failed to update the device database in the %1!s! directory.") \
    WS(INVALID_TEMPLATE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, 20673,                             \
       "Template name '%1!s!' is invalid as it contains either an empty string or special "        \
       "characters.")                                                                              \
    WS(INVALID_TEMPLATE_NAME_CONFLICT_WITH_RESERVED_TEMPLATE, 20674,                               \
       "Template name '%1!s!' is invalid as it conflicts with the reserved name for the "          \
       "programming flow template.")                                                               \
    WS(INVALID_TEMPLATE_NAME_CONFLICT_WITH_EXISTING_DEVICE, 20675,                                 \
       "Template name '%1!s!' is invalid as it conflicts with existing device name in the device " \
       "database.")                                                                                \
    WS(INVALID_TEMPLATE_NAME_CONFLICT_WITH_TEMPLATE_DATABASE, 20676,                               \
       "Template name '%1!s!' is invalid as it already exist in the template database.")

#define VORN_MSG_ROW_E(name, id, text) {#name, 'E', id, text "/EVORN_" #name},
#define VORN_MSG_ROW_W(name, id, text) {#name, 'W', id, text "/WVORN_" #name},
static const VORN_MSG_INFO vorn_msg_table[] = {
    VORN_MSG_TABLE(VORN_MSG_ROW_E, VORN_MSG_ROW_W, VORN_MSG_ROW_W)};
#undef VORN_MSG_ROW_E
#undef VORN_MSG_ROW_W

static constexpr size_t vorn_msg_count = sizeof(vorn_msg_table) / sizeof(vorn_msg_table[0]);
static_assert(vorn_msg_count == 33, "the catalogue holds 33 messages");

// Registration arrays, constant-initialised so that the registrar below can read them at load.
#define VORN_MSG_ID(name, id, text) id,
static const MSG_ID vorn_msg_ids[] = {VORN_MSG_TABLE(VORN_MSG_ID, VORN_MSG_ID, VORN_MSG_ID)};
#undef VORN_MSG_ID

#define VORN_MSG_TYPE_E(name, id, text) MSG_POST_TYPE_ERROR,
#define VORN_MSG_TYPE_W(name, id, text) MSG_POST_TYPE_WARNING,
static const MSG_POST_TYPE vorn_msg_id_types[] = {
    VORN_MSG_TABLE(VORN_MSG_TYPE_E, VORN_MSG_TYPE_W, VORN_MSG_TYPE_W)};
#undef VORN_MSG_TYPE_E
#undef VORN_MSG_TYPE_W

static_assert(sizeof(vorn_msg_ids) / sizeof(vorn_msg_ids[0]) == vorn_msg_count, "ids");
static_assert(sizeof(vorn_msg_id_types) / sizeof(vorn_msg_id_types[0]) == vorn_msg_count,
              "post types");

static MSG_ID_REGISTRAR vorn_msg_id_registrar(vorn_msg_ids, vorn_msg_id_types, vorn_msg_count);

const VORN_MSG_INFO* vorn_msg_catalogue(size_t* count) {
    if (count != nullptr) *count = vorn_msg_count;
    return vorn_msg_table;
}

const VORN_MSG_INFO* vorn_msg_find(MSG_ID id) {
    for (const VORN_MSG_INFO& info : vorn_msg_table)
        if (info.id == id) return &info;
    return nullptr;
}

namespace {

thread_local VORN_MSG_SCOPE* t_scope = nullptr;

}  // namespace

VORN_MSG_SCOPE::VORN_MSG_SCOPE() : m_outer(t_scope) { t_scope = this; }

VORN_MSG_SCOPE::~VORN_MSG_SCOPE() { t_scope = m_outer; }

void VORN_MSG_SCOPE::keep(const MSG_BASE& msg) {
    if (t_scope == nullptr) return;
    t_scope->m_records.push_back(MSG_RECORD{msg.get_severity(), msg.get_id(), msg.get_name(),
                                            msg.get_text(), msg.get_module(), 0});
}

namespace {

MSG_E* build_error(MSG_ID id, const char* format, const std::string& arg1,
                   const std::string& arg2) {
    std::unique_ptr<MSG_E> msg(new MSG_E(nullptr));
    msg->fill_args(format, arg1.c_str(), arg2.c_str());
    msg->set_id(id);
    VORN_MSG_SCOPE::keep(*msg);
    return msg.release();
}

// The argument goes through C varargs: a const char* for "%1!s!", an int for "%1!d!".
template <typename ARG>
MSG_W* build_warning(MSG_ID id, const char* format, ARG arg) {
    if (MSG_INDEX::get_default_index()->is_suppressed(id)) return new MSG_W_NULL();
    std::unique_ptr<MSG_W> msg(new MSG_W(nullptr));
    msg->fill_args(format, arg);
    msg->set_warning_flag(1);
    msg->set_id(id);
    VORN_MSG_SCOPE::keep(*msg);
    return msg.release();
}

}  // namespace

namespace MSG_VORN {

#define VORN_MSG_BUILD_E(name, id, text)                               \
    MSG_E* E::name(const std::string& arg1, const std::string& arg2) { \
        return build_error(id, text "/EVORN_" #name, arg1, arg2);      \
    }
#define VORN_MSG_BUILD_WS(name, id, text)                            \
    MSG_W* W::name(const std::string& arg) {                         \
        return build_warning(id, text "/WVORN_" #name, arg.c_str()); \
    }
#define VORN_MSG_BUILD_WD(name, id, text) \
    MSG_W* W::name(int arg) { return build_warning(id, text "/WVORN_" #name, arg); }
VORN_MSG_TABLE(VORN_MSG_BUILD_E, VORN_MSG_BUILD_WS, VORN_MSG_BUILD_WD)
#undef VORN_MSG_BUILD_E
#undef VORN_MSG_BUILD_WS
#undef VORN_MSG_BUILD_WD

namespace {

MSG_D* build_debug(MSG_D_LEVEL level, const char* format, va_list args) {
    // MSG_D only takes its arguments variadically, so the text is formatted here first.
    std::string text;
    if (format != nullptr) {
        va_list copy;
        va_copy(copy, args);
        int size = std::vsnprintf(nullptr, 0, format, copy);
        va_end(copy);
        if (size > 0) {
            text.resize(static_cast<size_t>(size) + 1);
            std::vsnprintf(&text[0], text.size(), format, args);
            text.resize(static_cast<size_t>(size));
        }
    }
    std::unique_ptr<MSG_D> msg(new MSG_D(nullptr));
    msg->fill_args("%s", text.c_str());
    msg->set_module("VORN", level);
    return msg.release();
}

}  // namespace

MSG_D* DEBUG_MSG(MSG_D_LEVEL level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::unique_ptr<MSG_D> msg;
    try {
        msg.reset(build_debug(level, format, args));
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
    return msg.release();
}

MSG_D* DEBUG_MSG(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::unique_ptr<MSG_D> msg;
    try {
        msg.reset(build_debug(2, format, args));
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
    return msg.release();
}

}  // namespace MSG_VORN

int msg_vdebug_impl(MSG_D_LEVEL level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int result = msg_local_vdebug("VORN", level, format, args);
    va_end(args);
    return result;
}
