// The byte-list conversion, against the forms whose reading is fixed: "0x" with one or two hex
// digits, and plain decimal numbers. An empty text is documented as an internal error, so it
// is not fed.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

std::vector<std::string> tokens_of(const std::string& text) {
    std::vector<std::string> tokens;
    size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && text[pos] == ' ') ++pos;
        const size_t end = text.find(' ', pos);
        const size_t stop = end == std::string::npos ? text.size() : end;
        if (stop > pos) tokens.push_back(text.substr(pos, stop - pos));
        pos = stop;
    }
    return tokens;
}

bool is_hex(const std::string& s, size_t from) {
    for (size_t i = from; i < s.size(); ++i)
        if (!std::isxdigit(static_cast<unsigned char>(s[i]))) return false;
    return true;
}

// -1: the token must fail; 0..255: the byte it must give; -2: the host decides.
int expected_byte(const std::string& token) {
    if (token.compare(0, 2, "0x") == 0) {
        if (token.size() < 3 || token.size() > 4 || !is_hex(token, 2)) return -1;
        return static_cast<int>(std::stoul(token.substr(2), nullptr, 16));
    }
    bool digits = !token.empty() && token.size() <= 3 && token[0] != '0';
    for (char c : token) digits = digits && c >= '0' && c <= '9';
    if (token == "0") return 0;
    if (!digits) return -2;
    const int value = std::stoi(token);
    return value <= 255 ? value : -1;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vorn_fuzz::silence_messages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    unsigned int count = 12345;
    bool ok = true;
    unsigned char* bytes = nullptr;
    try {
        bytes = VORN_MGR::convert_data_list_string_to_byte_array(text, &count, &ok);
    } catch (const VORN_INTERNAL_ERROR& e) {
        vorn_fuzz::internal_error_finding(e);
    }
    const std::vector<std::string> tokens = tokens_of(text);

    if (!ok) {
        if (bytes != nullptr || count != 0)
            vorn_fuzz::finding("failed conversion", "left a result");
    } else {
        if (bytes == nullptr || count != tokens.size())
            vorn_fuzz::finding("conversion", "count " + std::to_string(count) + " for " +
                                                 std::to_string(tokens.size()) + " tokens");
    }
    bool must_fail = tokens.empty();
    bool fixed = true;
    for (const std::string& token : tokens) {
        const int want = expected_byte(token);
        must_fail = must_fail || want == -1;
        fixed = fixed && want >= 0;
    }
    if (must_fail && ok) vorn_fuzz::finding("conversion", "accepted a malformed list: " + text);
    if (!must_fail && fixed) {
        if (!ok) vorn_fuzz::finding("conversion", "refused a well-formed list: " + text);
        for (size_t i = 0; i < tokens.size(); ++i)
            if (bytes[i] != expected_byte(tokens[i]))
                vorn_fuzz::finding("conversion", "wrong byte for token " + tokens[i]);
    }
    delete[] bytes;

    // The optional outputs are optional: the same answer without them.
    unsigned char* again = VORN_MGR::convert_data_list_string_to_byte_array(text, nullptr, nullptr);
    if ((again != nullptr) != ok) vorn_fuzz::finding("conversion", "depends on its outputs");
    delete[] again;
    return 0;
}
