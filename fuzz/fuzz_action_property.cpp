// Every action property's acceptance rule and conversions. Input: one byte choosing the
// property, one choosing the action type, then the value. The rules whose answer does not
// depend on the host's number reading are checked against an independent reading.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"

namespace {

bool only_of(const std::string& s, size_t from, const char* alphabet) {
    for (size_t i = from; i < s.size(); ++i)
        if (std::strchr(alphabet, s[i]) == nullptr || s[i] == '\0') return false;
    return true;
}

// The numeric-text form: "0x" and hex digits, or decimal digits.
bool numeric_text(const std::string& s) {
    if (s.empty() || !only_of(s, 0, "abcdefxABCDEF0123456789")) return false;
    if (s.find("0x") != std::string::npos) return only_of(s, 2, "abcdefABCDEF0123456789");
    return only_of(s, 0, "0123456789");
}

// Its value, when it surely fits 64 bits; false otherwise.
bool numeric_value(const std::string& s, unsigned long long* value) {
    const bool hex = s.find("0x") != std::string::npos;
    const std::string digits = hex ? s.substr(2) : s;
    size_t first = digits.find_first_not_of('0');
    const size_t significant = first == std::string::npos ? 0 : digits.size() - first;
    if (significant > (hex ? 15u : 18u) || (hex && digits.empty())) return false;
    *value = significant == 0 ? 0 : std::stoull(digits.substr(first), nullptr, hex ? 16 : 10);
    return true;
}

bool jic(const std::string& s) {
    return s.find("jic") != std::string::npos || s.find("JIC") != std::string::npos;
}

bool name_text(const std::string& s) {
    const char* word = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";
    return s.find_first_of(word) != std::string::npos &&
           only_of(s, 0, "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_ ");
}

// Each property's rule, by its number: N a name, U a number, B "1-1", T "1-1-1", J the
// programming file or 1 to 256, P at least 1, F the programming file or a number, S 256 only,
// A 0 to 15, D anything but empty, C start, end or nil, L a byte list, the programming file or
// empty, c a command (one byte).
constexpr char RULES[] = "NcLUBNcJLLPUBNcFLSPUTNcFJLLPAUTNcFPPUBDC";
static_assert(sizeof RULES == 41, "one rule per property");

// 1 accepted, 0 refused, -1 the host's number or byte reading decides.
int expected(int p, const std::string& v) {
    unsigned long long n = 0;
    const bool num = numeric_text(v);
    const bool known = num && numeric_value(v, &n);
    auto in_range = [&](unsigned long long lo, unsigned long long hi) {
        if (!num) return 0;
        if (!known) return -1;
        return n >= lo && n <= hi ? 1 : 0;
    };
    const bool byte_text = only_of(v, 0, "abcdefxABCDEF0123456789 ");
    switch (RULES[p]) {
        case 'N':
            return name_text(v) ? 1 : 0;
        case 'U':
            return num ? 1 : 0;
        case 'B':
            return v == "1-1" ? 1 : 0;
        case 'T':
            return v == "1-1-1" ? 1 : 0;
        case 'J':
            return jic(v) ? 1 : in_range(1, 256);
        case 'P':
            return in_range(1, ~0ull);
        case 'F':
            return jic(v) || num ? 1 : 0;
        case 'S':
            return in_range(256, 256);
        case 'A':
            return in_range(0, 15);
        case 'D':
            return v.empty() ? 0 : 1;
        case 'C':
            return v == "start" || v == "end" || v == "nil" ? 1 : 0;
        case 'L':
            return v.empty() || jic(v) ? 1 : byte_text ? -1 : 0;
        default:
            return v.empty() || !byte_text ? 0 : -1;
    }
}

bool is_bus_width(int p) { return RULES[p] == 'B' || RULES[p] == 'T'; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vorn_fuzz::silence_messages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int p = data[0] % 40;
    const auto property = static_cast<VORN_ACT_PROPERTY>(p);
    const auto type = static_cast<VORN_ACT_TYPE>(data[1] % 6);
    const std::string value(reinterpret_cast<const char*>(data) + 2, size - 2);
    try {
        VORN_QSPI_ACTION action(type);
        std::string explanation = "untouched";
        const bool valid = action.property_value_is_valid(property, value, &explanation);
        if (action.property_value_is_valid(property, value) != valid)
            vorn_fuzz::finding("acceptance", "depends on the explanation pointer");
        if (valid && explanation != "untouched")
            vorn_fuzz::finding("acceptance", "an accepted value changed the explanation");
        if (!valid && (explanation.compare(0, 7, "Action ") != 0 ||
                       explanation.find("'" + value + "'") == std::string::npos))
            vorn_fuzz::finding("acceptance",
                               "explanation does not quote the value: " + explanation);
        const int want = expected(p, value);
        if (want >= 0 && valid != (want == 1))
            vorn_fuzz::finding("acceptance", "property " + std::to_string(p) + " " +
                                                 (valid ? "accepted" : "refused") + " '" + value +
                                                 "'");

        action.set_property_value(property, value);
        if (action.get_property_value(property) != value)
            vorn_fuzz::finding("set", "value not stored as given");
        action.get_property_value_in_dword(property);

        unsigned int count = 777;
        bool ok = true;
        unsigned char* bytes = action.get_property_value_in_byte_array(property, &count, &ok);
        if (value.empty()) {
            if (bytes != nullptr || count != 0 || ok)
                vorn_fuzz::finding("bytes", "an empty value gave a result");
        } else {
            unsigned int direct_count = 0;
            bool direct_ok = false;
            unsigned char* direct =
                VORN_MGR::convert_data_list_string_to_byte_array(value, &direct_count, &direct_ok);
            if (ok != direct_ok || count != direct_count ||
                (ok && std::memcmp(bytes, direct, count) != 0))
                vorn_fuzz::finding("bytes", "differs from the byte-list conversion");
            delete[] direct;
        }
        delete[] bytes;

        if (is_bus_width(p)) action.get_property_value_list(property);
        const bool enabled = action.property_value_is_enable(property);
        if (enabled == (is_bus_width(p) || p == 17))
            vorn_fuzz::finding("enable", "wrong flag for property " + std::to_string(p));
        action.get_property_name(property);

        // A copy carries the value along.
        VORN_QSPI_ACTION copy(action);
        if (copy.get_property_value(property) != value) vorn_fuzz::finding("copy", "value lost");
    } catch (const VORN_INTERNAL_ERROR& e) {
        vorn_fuzz::internal_error_finding(e);
    }
    return 0;
}
