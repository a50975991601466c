#define VORN_SOURCE_FILE "pgm/vorn/vorn_qspi_action"

#include "vorn_qspi_action.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "vorn_action_properties.h"
#include "vorn_internal.h"
#include "database/vorn_byte_list.h"
#include "vorn_mgr.h"
#include "vorn_msgs.h"
#include "vorn_qspi_common.h"

static MEM_INITIALIZER mem_initializer("VORN");

namespace {

// ---- acceptance rules -----------------------------------------------------------------------

enum RULE_KIND {
    RULE_NAME,         // letters, digits, "_" and spaces, with at least one non-space
    RULE_SINGLE_BYTE,  // a byte list of exactly one byte
    RULE_BYTE_LIST,    // empty, a programming-file reference, or a byte list
    RULE_NUMBER,       // a numeric text within [min, max]; optionally a file reference
    RULE_CHOICE,       // one of the listed texts exactly
    RULE_NOT_EMPTY,    // any non-empty text
};

// How a dialog offers a property: fixed ones are shown, never edited, as the hardware sets them.
enum EDITING { EDITABLE, FIXED, FIXED_CHOICE };

constexpr unsigned long long ANY_VALUE = ~0ULL;

struct ACCEPTANCE_RULE {
    VORN_ACT_RULE rule;
    RULE_KIND kind;
    bool file_reference_allowed;  // tested before the kind's own test
    unsigned long long min;
    unsigned long long max;
    const char* choices[4];  // null-terminated
    EDITING editing;
    MSG_W* (*warning)(const std::string&);
    const char* prefix;
    const char* suffix;
};

constexpr const char* EMPTY_OR_SPECIAL =
    "' is invalid. It contains either an empty string or special characters.";
constexpr const char* EMPTY_SPECIAL_OR_ZERO =
    "' is invalid. It either contains an empty string or special characters, or has a value of "
    "0.";
constexpr const char* SPECIAL_OR_NOT_BYTES =
    "' is invalid. It either contains special characters or is not in the list of byte formats.";

// Indexed by VORN_ACT_RULE.
constexpr ACCEPTANCE_RULE ACCEPTANCE_RULES[VORN_ACT_RULE_COUNT] = {
    {VORN_ACT_RULE_NAME,
     RULE_NAME,
     false,
     0,
     0,
     {nullptr},
     EDITABLE,
     MSG_VORN::W::INVALID_ACTION_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
     "Action name '",
     "' is invalid as it contains an empty string or special characters."},
    {VORN_ACT_RULE_COMMAND,
     RULE_SINGLE_BYTE,
     false,
     0,
     0,
     {nullptr},
     EDITABLE,
     MSG_VORN::W::INVALID_ACTION_COMMAND_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
     "Action command '",
     "' is invalid. It either contains an empty string or special characters, or it is not in "
     "the list of byte formats."},
    {VORN_ACT_RULE_DATA,
     RULE_BYTE_LIST,
     true,
     0,
     0,
     {nullptr},
     EDITABLE,
     MSG_VORN::W::INVALID_ACTION_DATA_WITH_SPECIAL_CHAR,
     "Action data '",
     SPECIAL_OR_NOT_BYTES},
    {VORN_ACT_RULE_DELAY,
     RULE_NUMBER,
     false,
     0,
     ANY_VALUE,
     {nullptr},
     EDITABLE,
     MSG_VORN::W::INVALID_ACTION_DELAY_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
     "Action delay '",
     EMPTY_OR_SPECIAL},
    {VORN_ACT_RULE_BUS_WIDTH_TWO,
     RULE_CHOICE,
     false,
     0,
     0,
     {VORN_QSPI_ACT_PROPERTY_BUS_WIDTH_TWO, nullptr},
     FIXED_CHOICE,
     MSG_VORN::W::INVALID_ACTION_BUS_WIDTH,
     "Action bus width '",
     "' is invalid."},
    {VORN_ACT_RULE_BUS_WIDTH_THREE,
     RULE_CHOICE,
     false,
     0,
     0,
     {VORN_QSPI_ACT_PROPERTY_BUS_WIDTH_THREE, nullptr},
     FIXED_CHOICE,
     MSG_VORN::W::INVALID_ACTION_BUS_WIDTH,
     "Action bus width '",
     "' is invalid."},
    {VORN_ACT_RULE_DATA_LENGTH,
     RULE_NUMBER,
     true,
     1,
     256,
     {nullptr},
     EDITABLE,
     MSG_VORN::W::INVALID_ACTION_DATA_LENGTH_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
     "Action data length '",
     EMPTY_SPECIAL_OR_ZERO},
    {VORN_ACT_RULE_EXPECTED_DATA,
     RULE_BYTE_LIST,
     true,
     0,
     0,
     {nullptr},
     EDITABLE,
     MSG_VORN::W::INVALID_ACTION_EXPECTED_DATA_WITH_SPECIAL_CHAR,
     "Action expected data '",
     SPECIAL_OR_NOT_BYTES},
    {VORN_ACT_RULE_DATA_MASK,
     RULE_BYTE_LIST,
     true,
     0,
     0,
     {nullptr},
     EDITABLE,
     MSG_VORN::W::INVALID_ACTION_DATA_MASK_WITH_SPECIAL_CHAR,
     "Action data mask '",
     SPECIAL_OR_NOT_BYTES},
    {VORN_ACT_RULE_ATTEMPT_COUNT,
     RULE_NUMBER,
     false,
     1,
     ANY_VALUE,
     {nullptr},
     EDITABLE,
     MSG_VORN::W::INVALID_ACTION_ATTEMPT_COUNT_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
     "Action attempt count '",
     EMPTY_SPECIAL_OR_ZERO},
    {VORN_ACT_RULE_ADDRESS,
     RULE_NUMBER,
     true,
     0,
     ANY_VALUE,
     {nullptr},
     EDITABLE,
     MSG_VORN::W::INVALID_ACTION_ADDRESS_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
     "Action address '",
     EMPTY_OR_SPECIAL},
    {VORN_ACT_RULE_PAGE_SIZE,
     RULE_NUMBER,
     false,
     256,
     256,
     {nullptr},
     FIXED,
     MSG_VORN::W::INVALID_ACTION_PAGE_SIZE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
     "Action page size '",
     "' is invalid. It either contains an empty string or special characters, or has a value "
     "other than 256."},
    {VORN_ACT_RULE_ADDRESSING_MODE,
     RULE_NUMBER,
     false,
     1,
     ANY_VALUE,
     {nullptr},
     EDITABLE,
     MSG_VORN::W::INVALID_ACTION_ADDR_MODE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
     "Action addressing mode '",
     EMPTY_SPECIAL_OR_ZERO},
    {VORN_ACT_RULE_DUMMY_CLOCK_CYCLE,
     RULE_NUMBER,
     false,
     0,
     15,
     {nullptr},
     EDITABLE,
     MSG_VORN::W::INVALID_ACTION_DUMMY_CLOCK_CYCLE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
     "Action dummy clock cycle '",
     EMPTY_OR_SPECIAL},
    {VORN_ACT_RULE_ERASE_SIZE,
     RULE_NUMBER,
     false,
     1,
     ANY_VALUE,
     {nullptr},
     EDITABLE,
     MSG_VORN::W::INVALID_ACTION_ERASE_SIZE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
     "Action erase size '",
     EMPTY_SPECIAL_OR_ZERO},
    {VORN_ACT_RULE_CUSTOM_DESCRIPTION,
     RULE_NOT_EMPTY,
     false,
     0,
     0,
     {nullptr},
     EDITABLE,
     MSG_VORN::W::INVALID_ACTION_CUSTOM_DESCRIPTION,
     "Action custom description '",
     "' is invalid due to an empty string."},
    {VORN_ACT_RULE_CUSTOM_DIRECTION,
     RULE_CHOICE,
     false,
     0,
     0,
     {"start", "end", "nil", nullptr},
     EDITABLE,
     MSG_VORN::W::INVALID_ACTION_CUSTOM_DIRECTION,
     "Action custom direction '",
     "' is invalid."},
};

constexpr bool rules_in_order() {
    for (int i = 0; i < VORN_ACT_RULE_COUNT; ++i)
        if (ACCEPTANCE_RULES[i].rule != i) return false;
    return true;
}
static_assert(rules_in_order(), "ACCEPTANCE_RULES follows VORN_ACT_RULE");

// The rule of a member; an internal error for any other value.
const ACCEPTANCE_RULE& rule_of(VORN_ACT_PROPERTY property) {
    if (!vorn_act_property_is_known(property)) VORN_FAIL("Unknown action property enum");
    return ACCEPTANCE_RULES[VORN_ACT_PROPERTIES[property].rule];
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
        const bool word_char = vorn_is_word_char(c);
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

// Stores `value` as the entry of `property`, replacing the one there.
void pack_value(std::string& packed, VORN_ACT_PROPERTY property, const char* value, size_t size) {
    const PACKED_ENTRY entry = find_value(packed, property);
    char header[20];
    size_t header_size = write_packed_number(header, packed_key(property));
    header_size += write_packed_number(header + header_size, size);
    // Resized in place, then filled: no temporary entry to allocate.
    packed.replace(entry.begin, entry.end - entry.begin, header_size + size, '\0');
    char* out = &packed[entry.begin];
    std::memcpy(out, header, header_size);
    if (size != 0) std::memcpy(out + header_size, value, size);
}

// What every action of a type starts from: the type's name, its properties (its run of the
// table) and their defaults, packed. Made once and shared; never destroyed, so that an action
// made or read during static destruction still finds them.
struct TYPE_START {
    std::string name;
    std::vector<VORN_ACT_PROPERTY> properties;
    std::string packed_defaults;
};

const TYPE_START& start_of(VORN_ACT_TYPE type) {
    static const std::vector<TYPE_START>* const starts = [] {
        auto* made = new std::vector<TYPE_START>(VORN_ACT_TYPE_COUNT);
        for (int t = 0; t < VORN_ACT_TYPE_COUNT; ++t) {
            TYPE_START& start = (*made)[static_cast<size_t>(t)];
            start.name = VORN_ACT_TYPE_NAME[t];
            const VORN_ACT_RUN run = VORN_ACT_RUNS[t];
            for (int p = run.first; p < run.first + run.count; ++p) {
                const auto property = static_cast<VORN_ACT_PROPERTY>(p);
                start.properties.push_back(property);
                if (const char* value = VORN_ACT_PROPERTIES[p].default_value)
                    pack_value(start.packed_defaults, property, value, std::strlen(value));
            }
        }
        return made;
    }();
    return (*starts)[static_cast<size_t>(type)];
}

}  // namespace

// ---- VORN_ACTION ----------------------------------------------------------------------------

// Never destroyed, as the type starts above.
const std::string& vorn_no_text() {
    static const std::string& text = *new std::string();
    return text;
}

const std::vector<VORN_ACT_PROPERTY>& vorn_no_properties() {
    static const auto& properties = *new std::vector<VORN_ACT_PROPERTY>();
    return properties;
}

bool VORN_ACTION::property_value_is_jic_file(std::string value) const {
    return value.find("jic") != std::string::npos || value.find("JIC") != std::string::npos;
}

// ---- VORN_QSPI_ACTION -----------------------------------------------------------------------

VORN_QSPI_ACTION::VORN_QSPI_ACTION(VORN_ACT_TYPE type) {
    if (static_cast<int>(type) < 0 || static_cast<int>(type) >= VORN_ACT_TYPE_COUNT)
        VORN_FAIL("Unknown action type");
    const TYPE_START& start = start_of(type);
    m_name = &start.name;
    m_type = type;
    m_property_list = &start.properties;
    // Room for typical values (a name of some 25 characters, short numbers) so that loading
    // them rarely has to move the buffer.
    m_property_values.reserve(start.properties.size() * 8 + 8);
    m_property_values = start.packed_defaults;
}

VORN_QSPI_ACTION::~VORN_QSPI_ACTION() = default;

std::string VORN_QSPI_ACTION::get_property_name(VORN_ACT_PROPERTY property) const {
    if (!vorn_act_property_is_known(property)) VORN_FAIL("Unknown action property enum");
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
    const std::vector<unsigned char> bytes = vorn_byte_list_bytes(text);
    if (!bytes.empty())
        return bytes_to_dword(bytes.data(), static_cast<unsigned int>(bytes.size()));
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
    const ACCEPTANCE_RULE& rule = rule_of(property);
    if (rule.editing != FIXED_CHOICE) VORN_FAIL("Unknown action property enum");
    std::vector<std::string> choices;
    for (const char* const* choice = rule.choices; *choice != nullptr; ++choice)
        choices.emplace_back(*choice);
    return choices;
}

void VORN_QSPI_ACTION::set_property_value(VORN_ACT_PROPERTY property, std::string value) {
    pack_value(m_property_values, property, value.data(), value.size());
}

bool VORN_QSPI_ACTION::property_value_is_valid(VORN_ACT_PROPERTY property, std::string value,
                                               std::string* err_msg) const {
    const ACCEPTANCE_RULE& rule = rule_of(property);
    if (rule_accepts(rule, *this, value)) return true;

    std::unique_ptr<MSG_W> warning(rule.warning(value));
    warning->post();
    warning.reset();
    if (err_msg != nullptr) *err_msg = rule.prefix + value + rule.suffix;
    return false;
}

bool VORN_QSPI_ACTION::property_value_is_enable(VORN_ACT_PROPERTY property) const {
    if (!vorn_act_property_is_known(property)) return true;
    return ACCEPTANCE_RULES[VORN_ACT_PROPERTIES[property].rule].editing == EDITABLE;
}
