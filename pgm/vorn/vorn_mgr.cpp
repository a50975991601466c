#define VORN_SOURCE_FILE "pgm/vorn/vorn_mgr"

#include "vorn_mgr.h"

#include <climits>
#include <cstring>
#include <memory>

#include "vorn_internal.h"
#include "vorn_msgs.h"

static MEM_INITIALIZER mem_initializer("VORN");

// ---- byte-list conversion -----------------------------------------------------------------

namespace {

// One token of a byte list: "0x" with one or two hex digits, or a plain number up to 255.
bool convert_byte_token(const std::string& token, unsigned char& byte) {
    if (token.compare(0, 2, "0x") == 0) {
        if (token.size() > 4 || token.size() < 3) return false;
        unsigned int byte_size_temp = UINT_MAX;
        std::unique_ptr<unsigned char[]> bytes(
            PGM_COMMON::convert_hex_string_to_byte_array(token.substr(2), byte_size_temp, true));
        if (!bytes) return false;
        VORN_CHECK(byte_size_temp == 1, "byte_size_temp == 1");
        byte = bytes[0];
        return true;
    }
    bool ok = false;
    unsigned long long value = PGM_COMMON::convert_string_to_qword(token, true, &ok);
    if (!ok || value > 255) return false;
    byte = static_cast<unsigned char>(value & 0xFF);
    return true;
}

}  // namespace

unsigned char* VORN_MGR::convert_data_list_string_to_byte_array(std::string data_string,
                                                                unsigned int* size, bool* ok) {
    VORN_CHECK(!data_string.empty(), "!data_string.empty()");

    // Only the space separates; a tab stays inside its token and makes it malformed.
    std::vector<std::string> tokens;
    size_t pos = 0;
    while (pos < data_string.size()) {
        size_t start = data_string.find_first_not_of(' ', pos);
        if (start == std::string::npos) break;
        size_t end = data_string.find(' ', start);
        if (end == std::string::npos) end = data_string.size();
        tokens.push_back(data_string.substr(start, end - start));
        pos = end;
    }

    auto fail = [&]() -> unsigned char* {
        if (ok) *ok = false;
        if (size) *size = 0;
        return nullptr;
    };
    if (tokens.empty()) return fail();

    if (ok) *ok = true;
    std::unique_ptr<unsigned char[]> bytes(new unsigned char[tokens.size()]());
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (!convert_byte_token(tokens[i], bytes[i])) return fail();
    }
    if (size) *size = static_cast<unsigned int>(tokens.size());
    return bytes.release();
}
