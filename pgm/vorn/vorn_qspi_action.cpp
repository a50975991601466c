#define VORN_SOURCE_FILE "pgm/vorn/vorn_qspi_action"

#include "vorn_qspi_action.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "vorn_internal.h"
#include "vorn_mgr.h"
#include "vorn_msgs.h"
#include "vorn_qspi_common.h"

static MEM_INITIALIZER mem_initializer("VORN");

namespace {

constexpr int k_property_count = 40;
constexpr int k_action_type_count = 6;

bool is_known_property(VORN_ACT_PROPERTY property) {
    return static_cast<int>(property) >= 0 && static_cast<int>(property) < k_property_count;
}

// ---- layout of each action type -------------------------------------------------------------

struct DEFAULT_VALUE {
    VORN_ACT_PROPERTY property;
    const char* value;
};

struct ACTION_LAYOUT {
    VORN_ACT_PROPERTY first;
    int count;
    DEFAULT_VALUE defaults[4];  // ends at the first entry without a value
};

// Indexed by VORN_ACT_TYPE: the type's run of properties and the values a new action starts with.
const ACTION_LAYOUT k_action_layouts[k_action_type_count] = {
    {VORN_ACT_PROPERTY_WRITE_REG_NAME,
     5,
     {{VORN_ACT_PROPERTY_WRITE_REG_DELAY, "0"},
      {VORN_ACT_PROPERTY_WRITE_REG_BUS_WIDTH, VORN_QSPI_ACT_PROPERTY_BUS_WIDTH_TWO}}},
    {VORN_ACT_PROPERTY_READ_REG_NAME,
     8,
     {{VORN_ACT_PROPERTY_READ_REG_DELAY, "0"},
      {VORN_ACT_PROPERTY_READ_REG_ATTEMPT_COUNT, "1"},
      {VORN_ACT_PROPERTY_READ_REG_BUS_WIDTH, VORN_QSPI_ACT_PROPERTY_BUS_WIDTH_TWO}}},
    {VORN_ACT_PROPERTY_WRITE_DATA_NAME,
     8,
     {{VORN_ACT_PROPERTY_WRITE_DATA_PAGE_SIZE, "256"},
      {VORN_ACT_PROPERTY_WRITE_DATA_DELAY, "0"},
      {VORN_ACT_PROPERTY_WRITE_DATA_BUS_WIDTH, VORN_QSPI_ACT_PROPERTY_BUS_WIDTH_THREE}}},
    {VORN_ACT_PROPERTY_READ_DATA_NAME,
     10,
     {{VORN_ACT_PROPERTY_READ_DATA_DELAY, "0"},
      {VORN_ACT_PROPERTY_READ_DATA_BUS_WIDTH, VORN_QSPI_ACT_PROPERTY_BUS_WIDTH_THREE}}},
    {VORN_ACT_PROPERTY_ERASE_NAME,
     7,
     {{VORN_ACT_PROPERTY_ERASE_DELAY, "0"},
      {VORN_ACT_PROPERTY_ERASE_BUS_WIDTH, VORN_QSPI_ACT_PROPERTY_BUS_WIDTH_TWO}}},
    {VORN_ACT_PROPERTY_CUSTOM_DESCRIPTION, 2, {}},
};

// ---- acceptance rules -----------------------------------------------------------------------

enum RULE_KIND {
    RULE_NAME,         // letters, digits, "_" and spaces, with at least one non-space
    RULE_SINGLE_BYTE,  // a byte list of exactly one byte
    RULE_BYTE_LIST,    // empty, a programming-file reference, or a byte list
    RULE_NUMBER,       // a numeric text within [min, max]; optionally a file reference
    RULE_CHOICE,       // one of the listed texts exactly
    RULE_NOT_EMPTY,    // any non-empty text
};

constexpr unsigned long long k_any = ~0ULL;

struct ACCEPTANCE_RULE {
    VORN_ACT_PROPERTY properties[5];
    int property_count;
    RULE_KIND kind;
    bool file_reference_allowed;  // tested before the kind's own test
    unsigned long long min;
    unsigned long long max;
    const char* choices[4];  // null-terminated
    MSG_W* (*warning)(const std::string&);
    const char* prefix;
    const char* suffix;
};

const char* const k_empty_or_special =
    "' is invalid. It contains either an empty string or special characters.";
const char* const k_empty_special_or_zero =
    "' is invalid. It either contains an empty string or special characters, or has a value of "
    "0.";
const char* const k_special_or_not_bytes =
    "' is invalid. It either contains special characters or is not in the list of byte formats.";

const ACCEPTANCE_RULE k_acceptance_rules[] = {
    {{VORN_ACT_PROPERTY_WRITE_REG_NAME, VORN_ACT_PROPERTY_READ_REG_NAME,
      VORN_ACT_PROPERTY_WRITE_DATA_NAME, VORN_ACT_PROPERTY_READ_DATA_NAME,
      VORN_ACT_PROPERTY_ERASE_NAME},
     5,
     RULE_NAME,
     false,
     0,
     0,
     {nullptr},
     MSG_VORN::W::INVALID_ACTION_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
     "Action name '",
     "' is invalid as it contains an empty string or special characters."},
    {{VORN_ACT_PROPERTY_WRITE_REG_COMMAND, VORN_ACT_PROPERTY_READ_REG_COMMAND,
      VORN_ACT_PROPERTY_WRITE_DATA_COMMAND, VORN_ACT_PROPERTY_READ_DATA_COMMAND,
      VORN_ACT_PROPERTY_ERASE_COMMAND},
     5,
     RULE_SINGLE_BYTE,
     false,
     0,
     0,
     {nullptr},
     MSG_VORN::W::INVALID_ACTION_COMMAND_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
     "Action command '",
     "' is invalid. It either contains an empty string or special characters, or it is not in "
     "the list of byte formats."},
    {{VORN_ACT_PROPERTY_WRITE_REG_DATA, VORN_ACT_PROPERTY_WRITE_DATA_DATA},
     2,
     RULE_BYTE_LIST,
     true,
     0,
     0,
     {nullptr},
     MSG_VORN::W::INVALID_ACTION_DATA_WITH_SPECIAL_CHAR,
     "Action data '",
     k_special_or_not_bytes},
    {{VORN_ACT_PROPERTY_WRITE_REG_DELAY, VORN_ACT_PROPERTY_READ_REG_DELAY,
      VORN_ACT_PROPERTY_WRITE_DATA_DELAY, VORN_ACT_PROPERTY_READ_DATA_DELAY,
      VORN_ACT_PROPERTY_ERASE_DELAY},
     5,
     RULE_NUMBER,
     false,
     0,
     k_any,
     {nullptr},
     MSG_VORN::W::INVALID_ACTION_DELAY_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
     "Action delay '",
     k_empty_or_special},
    {{VORN_ACT_PROPERTY_WRITE_REG_BUS_WIDTH, VORN_ACT_PROPERTY_READ_REG_BUS_WIDTH,
      VORN_ACT_PROPERTY_ERASE_BUS_WIDTH},
     3,
     RULE_CHOICE,
     false,
     0,
     0,
     {VORN_QSPI_ACT_PROPERTY_BUS_WIDTH_TWO, nullptr},
     MSG_VORN::W::INVALID_ACTION_BUS_WIDTH,
     "Action bus width '",
     "' is invalid."},
    {{VORN_ACT_PROPERTY_WRITE_DATA_BUS_WIDTH, VORN_ACT_PROPERTY_READ_DATA_BUS_WIDTH},
     2,
     RULE_CHOICE,
     false,
     0,
     0,
     {VORN_QSPI_ACT_PROPERTY_BUS_WIDTH_THREE, nullptr},
     MSG_VORN::W::INVALID_ACTION_BUS_WIDTH,
     "Action bus width '",
     "' is invalid."},
    {{VORN_ACT_PROPERTY_READ_REG_DATA_LENGTH, VORN_ACT_PROPERTY_READ_DATA_DATA_LENGTH},
     2,
     RULE_NUMBER,
     true,
     1,
     256,
     {nullptr},
     MSG_VORN::W::INVALID_ACTION_DATA_LENGTH_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
     "Action data length '",
     k_empty_special_or_zero},
    {{VORN_ACT_PROPERTY_READ_REG_EXPECTED_DATA, VORN_ACT_PROPERTY_READ_DATA_EXPECTED_DATA},
     2,
     RULE_BYTE_LIST,
     true,
     0,
     0,
     {nullptr},
     MSG_VORN::W::INVALID_ACTION_EXPECTED_DATA_WITH_SPECIAL_CHAR,
     "Action expected data '",
     k_special_or_not_bytes},
    {{VORN_ACT_PROPERTY_READ_REG_EXPECTED_DATA_MASK,
      VORN_ACT_PROPERTY_READ_DATA_EXPECTED_DATA_MASK},
     2,
     RULE_BYTE_LIST,
     true,
     0,
     0,
     {nullptr},
     MSG_VORN::W::INVALID_ACTION_DATA_MASK_WITH_SPECIAL_CHAR,
     "Action data mask '",
     k_special_or_not_bytes},
    {{VORN_ACT_PROPERTY_READ_REG_ATTEMPT_COUNT},
     1,
     RULE_NUMBER,
     false,
     1,
     k_any,
     {nullptr},
     MSG_VORN::W::INVALID_ACTION_ATTEMPT_COUNT_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
     "Action attempt count '",
     k_empty_special_or_zero},
    {{VORN_ACT_PROPERTY_WRITE_DATA_ADDRESS, VORN_ACT_PROPERTY_READ_DATA_ADDRESS,
      VORN_ACT_PROPERTY_ERASE_ADDRESS},
     3,
     RULE_NUMBER,
     true,
     0,
     k_any,
     {nullptr},
     MSG_VORN::W::INVALID_ACTION_ADDRESS_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
     "Action address '",
     k_empty_or_special},
    {{VORN_ACT_PROPERTY_WRITE_DATA_PAGE_SIZE},
     1,
     RULE_NUMBER,
     false,
     256,
     256,
     {nullptr},
     MSG_VORN::W::INVALID_ACTION_PAGE_SIZE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
     "Action page size '",
     "' is invalid. It either contains an empty string or special characters, or has a value "
     "other than 256."},
    {{VORN_ACT_PROPERTY_WRITE_DATA_ADDRESSING_MODE, VORN_ACT_PROPERTY_READ_DATA_ADDRESSING_MODE,
      VORN_ACT_PROPERTY_ERASE_ADDRESSING_MODE},
     3,
     RULE_NUMBER,
     false,
     1,
     k_any,
     {nullptr},
     MSG_VORN::W::INVALID_ACTION_ADDR_MODE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
     "Action addressing mode '",
     k_empty_special_or_zero},
    {{VORN_ACT_PROPERTY_READ_DATA_DUMMY_CLOCK_CYCLE},
     1,
     RULE_NUMBER,
     false,
     0,
     15,
     {nullptr},
     MSG_VORN::W::INVALID_ACTION_DUMMY_CLOCK_CYCLE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
     "Action dummy clock cycle '",
     k_empty_or_special},
    {{VORN_ACT_PROPERTY_ERASE_ERASE_SIZE},
     1,
     RULE_NUMBER,
     false,
     1,
     k_any,
     {nullptr},
     MSG_VORN::W::INVALID_ACTION_ERASE_SIZE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
     "Action erase size '",
     k_empty_special_or_zero},
    {{VORN_ACT_PROPERTY_CUSTOM_DESCRIPTION},
     1,
     RULE_NOT_EMPTY,
     false,
     0,
     0,
     {nullptr},
     MSG_VORN::W::INVALID_ACTION_CUSTOM_DESCRIPTION,
     "Action custom description '",
     "' is invalid due to an empty string."},
    {{VORN_ACT_PROPERTY_CUSTOM_DIRECTION},
     1,
     RULE_CHOICE,
     false,
     0,
     0,
     {"start", "end", "nil", nullptr},
     MSG_VORN::W::INVALID_ACTION_CUSTOM_DIRECTION,
     "Action custom direction '",
     "' is invalid."},
};

const ACCEPTANCE_RULE* find_rule(VORN_ACT_PROPERTY property) {
    for (const ACCEPTANCE_RULE& rule : k_acceptance_rules)
        for (int i = 0; i < rule.property_count; ++i)
            if (rule.properties[i] == property) return &rule;
    return nullptr;
}

// ---- text forms -----------------------------------------------------------------------------

bool only_chars_of(const std::string& text, const char* allowed) {
    return text.find_first_not_of(allowed) == std::string::npos;
}

// Decimal, or "0x" followed by zero or more hexadecimal digits; the value is read into 64 bits.
bool is_numeric_text(const std::string& text, unsigned long long* value) {
    if (text.empty() || !only_chars_of(text, "abcdefxABCDEF0123456789")) return false;
    if (text.find("0x") != std::string::npos) {
        if (!only_chars_of(text.substr(2), "abcdefABCDEF0123456789")) return false;
    } else if (!only_chars_of(text, "0123456789")) {
        return false;
    }
    *value = PGM_COMMON::convert_string_to_qword(text, false);
    return true;
}

// A byte-list text, with its byte count. The caller has ruled out the empty text.
bool is_byte_list_text(const std::string& text, unsigned int* count) {
    if (!only_chars_of(text, "abcdefxABCDEF0123456789 ")) return false;
    return vorn_scan_byte_list(text, nullptr, *count);
}

bool is_action_name(const std::string& text) {
    bool has_word_char = false;
    for (char c : text) {
        bool word_char =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (!word_char && c != ' ') return false;
        has_word_char = has_word_char || word_char;
    }
    return has_word_char;
}

bool rule_accepts(const ACCEPTANCE_RULE& rule, const VORN_ACTION& action,
                  const std::string& value) {
    if (rule.file_reference_allowed && action.property_value_is_jic_file(value)) return true;
    switch (rule.kind) {
        case RULE_NAME:
            return is_action_name(value);
        case RULE_SINGLE_BYTE: {
            unsigned int count = 0;
            return !value.empty() && is_byte_list_text(value, &count) && count == 1;
        }
        case RULE_BYTE_LIST: {
            unsigned int count = 0;
            return value.empty() || is_byte_list_text(value, &count);
        }
        case RULE_NUMBER: {
            unsigned long long number = 0;
            return is_numeric_text(value, &number) && number >= rule.min && number <= rule.max;
        }
        case RULE_CHOICE:
            for (const char* const* choice = rule.choices; *choice != nullptr; ++choice)
                if (value == *choice) return true;
            return false;
        case RULE_NOT_EMPTY:
            return !value.empty();
    }
    return false;
}

// Little-endian: the first byte is the least significant; at most four bytes count.
unsigned int bytes_to_dword(const unsigned char* bytes, unsigned int count) {
    unsigned int value = 0;
    for (unsigned int i = 0; i < count && i < 4; ++i)
        value |= static_cast<unsigned int>(bytes[i]) << (8 * i);
    return value;
}

// Packed values (see VORN_ACTION::m_property_values) hold numbers seven bits per byte.
size_t read_packed_number(const std::string& packed, size_t& pos) {
    size_t number = 0;
    for (unsigned int shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(packed[pos++]);
        number |= static_cast<size_t>(byte & 0x7Fu) << shift;
        if ((byte & 0x80u) == 0) return number;
    }
}

// Writes `number` at `out`; returns the count of bytes written (at most ten).
size_t write_packed_number(char* out, size_t number) {
    size_t count = 0;
    do {
        auto byte = static_cast<unsigned char>(number & 0x7Fu);
        number >>= 7;
        if (number != 0) byte |= 0x80u;
        out[count++] = static_cast<char>(byte);
    } while (number != 0);
    return count;
}

// Any value of the enum may be stored, not only the named ones.
size_t packed_key(VORN_ACT_PROPERTY property) { return static_cast<unsigned int>(property); }

// Where `property` sits in packed values: the entry found, or the place to insert it so that
// entries stay in property order.
struct PACKED_ENTRY {
    size_t begin;
    size_t value_begin;
    size_t end;
    bool found;
};

PACKED_ENTRY find_value(const std::string& packed, VORN_ACT_PROPERTY property) {
    const size_t key = packed_key(property);
    size_t pos = 0;
    while (pos < packed.size()) {
        size_t cursor = pos;
        const size_t entry_key = read_packed_number(packed, cursor);
        const size_t length = read_packed_number(packed, cursor);
        if (entry_key == key) return {pos, cursor, cursor + length, true};
        if (entry_key > key) break;
        pos = cursor + length;
    }
    return {pos, pos, pos, false};
}

}  // namespace

// ---- VORN_ACTION ----------------------------------------------------------------------------

bool VORN_ACTION::property_value_is_jic_file(std::string value) const {
    return value.find("jic") != std::string::npos || value.find("JIC") != std::string::npos;
}

// ---- VORN_QSPI_ACTION -----------------------------------------------------------------------

VORN_QSPI_ACTION::VORN_QSPI_ACTION(VORN_ACT_TYPE type) {
    if (static_cast<int>(type) < 0 || static_cast<int>(type) >= k_action_type_count)
        VORN_FAIL("Unknown action type");
    const ACTION_LAYOUT& layout = k_action_layouts[type];
    m_name = VORN_ACT_TYPE_NAME[type];
    m_type = type;
    m_property_list.reserve(static_cast<size_t>(layout.count));
    // Room for typical values (a name of some 25 characters, short numbers) so that loading
    // them rarely has to move the buffer.
    m_property_values.reserve(static_cast<size_t>(layout.count) * 8 + 8);
    for (int i = 0; i < layout.count; ++i)
        m_property_list.push_back(static_cast<VORN_ACT_PROPERTY>(layout.first + i));
    for (const DEFAULT_VALUE* d = layout.defaults; d->value != nullptr; ++d)
        set_property_value(d->property, d->value);
}

VORN_QSPI_ACTION::~VORN_QSPI_ACTION() = default;

std::string VORN_QSPI_ACTION::get_property_name(VORN_ACT_PROPERTY property) const {
    if (!is_known_property(property)) VORN_FAIL("Unknown action property enum");
    return VORN_ACT_PROPERTY_NAME[property];
}

std::string VORN_QSPI_ACTION::get_property_value(VORN_ACT_PROPERTY property) const {
    const PACKED_ENTRY entry = find_value(m_property_values, property);
    if (!entry.found) return std::string();
    return m_property_values.substr(entry.value_begin, entry.end - entry.value_begin);
}

unsigned int VORN_QSPI_ACTION::get_property_value_in_dword(VORN_ACT_PROPERTY property) const {
    std::string text = get_property_value(property);
    if (text.empty()) return 0;
    unsigned int count = 0;
    bool ok = false;
    std::unique_ptr<unsigned char[]> bytes(
        VORN_MGR::convert_data_list_string_to_byte_array(text, &count, &ok));
    if (ok && bytes != nullptr) return bytes_to_dword(bytes.get(), count);
    // Values that do not fit one byte per token, such as "256" or "4096".
    return PGM_COMMON::convert_string_to_dword(text, true);
}

unsigned char* VORN_QSPI_ACTION::get_property_value_in_byte_array(VORN_ACT_PROPERTY property,
                                                                  unsigned int* count,
                                                                  bool* ok) const {
    std::string text = get_property_value(property);
    if (text.empty()) {
        if (count != nullptr) *count = 0;
        if (ok != nullptr) *ok = false;
        return nullptr;
    }
    return VORN_MGR::convert_data_list_string_to_byte_array(text, count, ok);
}

std::vector<std::string> VORN_QSPI_ACTION::get_property_value_list(
    VORN_ACT_PROPERTY property) const {
    switch (property) {
        case VORN_ACT_PROPERTY_WRITE_REG_BUS_WIDTH:
        case VORN_ACT_PROPERTY_READ_REG_BUS_WIDTH:
        case VORN_ACT_PROPERTY_ERASE_BUS_WIDTH:
            return {VORN_QSPI_ACT_PROPERTY_BUS_WIDTH_TWO};
        case VORN_ACT_PROPERTY_WRITE_DATA_BUS_WIDTH:
        case VORN_ACT_PROPERTY_READ_DATA_BUS_WIDTH:
            return {VORN_QSPI_ACT_PROPERTY_BUS_WIDTH_THREE};
        default:
            VORN_FAIL("Unknown action property enum");
    }
}

void VORN_QSPI_ACTION::set_property_value(VORN_ACT_PROPERTY property, std::string value) {
    const PACKED_ENTRY entry = find_value(m_property_values, property);
    char header[20];
    size_t header_size = write_packed_number(header, packed_key(property));
    header_size += write_packed_number(header + header_size, value.size());
    // Resized in place, then filled: no temporary entry to allocate.
    m_property_values.replace(entry.begin, entry.end - entry.begin, header_size + value.size(),
                              '\0');
    char* out = &m_property_values[entry.begin];
    std::memcpy(out, header, header_size);
    if (!value.empty()) std::memcpy(out + header_size, value.data(), value.size());
}

bool VORN_QSPI_ACTION::property_value_is_valid(VORN_ACT_PROPERTY property, std::string value,
                                               std::string* err_msg) const {
    const ACCEPTANCE_RULE* rule = find_rule(property);
    if (rule == nullptr) VORN_FAIL("Unknown action property enum");
    if (rule_accepts(*rule, *this, value)) return true;

    std::unique_ptr<MSG_W> warning(rule->warning(value));
    warning->post();
    warning.reset();
    if (err_msg != nullptr) *err_msg = rule->prefix + value + rule->suffix;
    return false;
}

bool VORN_QSPI_ACTION::property_value_is_enable(VORN_ACT_PROPERTY property) const {
    switch (property) {
        // Fixed by the hardware: shown, never edited.
        case VORN_ACT_PROPERTY_WRITE_REG_BUS_WIDTH:
        case VORN_ACT_PROPERTY_READ_REG_BUS_WIDTH:
        case VORN_ACT_PROPERTY_WRITE_DATA_BUS_WIDTH:
        case VORN_ACT_PROPERTY_READ_DATA_BUS_WIDTH:
        case VORN_ACT_PROPERTY_ERASE_BUS_WIDTH:
        case VORN_ACT_PROPERTY_WRITE_DATA_PAGE_SIZE:
            return false;
        default:
            return true;
    }
}
