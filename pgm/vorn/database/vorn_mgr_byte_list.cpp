// Byte lists ("0x06 0x00 12"), as the manager's converter and the library's validators read them.
#define VORN_SOURCE_FILE "pgm/vorn/vorn_mgr"

#include <climits>
#include <memory>

#include "vorn_internal.h"
#include "vorn_byte_list.h"
#include "vorn_mgr.h"

static MEM_INITIALIZER mem_initializer("VORN");

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

bool vorn_scan_byte_list(const std::string& text, unsigned char* out, unsigned int& count) {
    count = 0;
    std::string token;
    size_t pos = 0;
    // Only the space separates; a tab stays inside its token and makes it malformed.
    while (pos < text.size()) {
        const size_t start = text.find_first_not_of(' ', pos);
        if (start == std::string::npos) break;
        size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        token.assign(text, start, end - start);
        unsigned char byte = 0;
        if (!convert_byte_token(token, byte)) return false;
        if (out != nullptr) out[count] = byte;
        ++count;
        pos = end;
    }
    return count > 0;
}

std::vector<unsigned char> vorn_byte_list_bytes(const std::string& text) {
    unsigned int count = 0;
    if (!vorn_scan_byte_list(text, nullptr, count)) return {};
    std::vector<unsigned char> bytes(count);
    vorn_scan_byte_list(text, bytes.data(), count);
    return bytes;
}

unsigned char* VORN_MGR::convert_data_list_string_to_byte_array(std::string data_string,
                                                                unsigned int* size, bool* ok) {
    VORN_CHECK(!data_string.empty(), "!data_string.empty()");

    unsigned int count = 0;
    std::unique_ptr<unsigned char[]> bytes;
    // Checked first, so that the bytes are allocated once and at their size.
    if (vorn_scan_byte_list(data_string, nullptr, count)) {
        bytes.reset(new unsigned char[count]());
        vorn_scan_byte_list(data_string, bytes.get(), count);
    }
    if (ok) *ok = bytes != nullptr;
    if (size) *size = bytes != nullptr ? count : 0;
    return bytes.release();
}
