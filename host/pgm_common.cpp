// Programmer directory, separators, comparisons and number conversions.
#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <limits>
#include <mutex>

#include "gen_export.h"
#include "pgm_common_export.h"
#include "host_text.h"

namespace fs = std::filesystem;

namespace {

std::mutex& dir_mutex() {
    static std::mutex m;
    return m;
}

std::string& chosen_dir() {
    static std::string* dir = new std::string;
    return *dir;
}

std::string with_slash(std::string dir) {
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}

// share/vorn of the prefix this library was loaded from: installed, or the build tree, which
// has the same layout. Found from the library's own file, so that a prefix works wherever it is
// moved or copied.
std::string builtin_dir() {
    static const char anchor = 0;
    Dl_info info;
    if (dladdr(&anchor, &info) == 0 || info.dli_fname == nullptr) return "./";
    std::error_code ec;
    fs::path library = fs::canonical(info.dli_fname, ec);
    if (ec) library = fs::absolute(info.dli_fname, ec);
    return with_slash((library.parent_path() / VORN_DATA_FROM_LIB).lexically_normal().string());
}

bool is_hex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned hex_value(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
    return static_cast<unsigned>(c - 'A' + 10);
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The number at the start of text[pos..]; sets `end` behind it. False on no digits or overflow.
bool read_number(const std::string& text, size_t pos, size_t& end, unsigned long long& value) {
    const unsigned long long max = std::numeric_limits<unsigned long long>::max();
    value = 0;
    size_t i = pos;
    if (text.compare(pos, 2, "0x") == 0) {
        i += 2;
        size_t first = i;
        for (; i < text.size() && is_hex(text[i]); ++i) {
            if (value > (max >> 4)) return false;
            value = (value << 4) | hex_value(text[i]);
        }
        if (i == first) return false;
    } else {
        size_t first = i;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
            unsigned digit = static_cast<unsigned>(text[i] - '0');
            if (value > (max - digit) / 10) return false;
            value = value * 10 + digit;
        }
        if (i == first) return false;
    }
    end = i;
    return true;
}

unsigned long long convert(const std::string& text, bool strict, unsigned long long limit,
                           bool* ok) {
    if (ok != nullptr) *ok = false;
    size_t pos = 0;
    if (!strict) {
        while (pos < text.size() && is_blank(text[pos])) ++pos;
        if (pos < text.size() && text[pos] == '+') ++pos;
    }
    size_t end = 0;
    unsigned long long value = 0;
    if (!read_number(text, pos, end, value) || value > limit) return 0;
    // Lenient reading still refuses text glued to the number ("12ab", "0X10"), which is a
    // different number written wrongly rather than a number followed by a remark.
    if (strict ? end != text.size() : (end < text.size() && HOST_TEXT::is_word_char(text[end])))
        return 0;
    if (ok != nullptr) *ok = true;
    return value;
}

}  // namespace

std::string PGM_COMMON::pgm_get_common_programmer() {
    {
        std::lock_guard<std::mutex> lock(dir_mutex());
        if (!chosen_dir().empty()) return chosen_dir();
    }
    const char* env = std::getenv("VORN_PROGRAMMER_DIR");
    if (env != nullptr && *env != '\0') return with_slash(env);
    static const std::string builtin = builtin_dir();
    return builtin;
}

void PGM_COMMON::set_common_programmer(const std::string& dir) {
    std::lock_guard<std::mutex> lock(dir_mutex());
    chosen_dir() = dir.empty() ? std::string() : with_slash(dir);
}

void PGM_COMMON::change_folder_slash(std::string& path) {
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        if (c == '\\') c = '/';
        if (c == '/' && !out.empty() && out.back() == '/') continue;
        out += c;
    }
    path.swap(out);
}

bool PGM_COMMON::compare_string(const std::string& a, const std::string& b, bool ignore_case) {
    return ignore_case ? gen_stricmp(a, b) == 0 : a == b;
}

unsigned long long PGM_COMMON::convert_string_to_qword(const std::string& text, bool strict,
                                                       bool* ok) {
    return convert(text, strict, std::numeric_limits<unsigned long long>::max(), ok);
}

unsigned int PGM_COMMON::convert_string_to_dword(const std::string& text, bool strict, bool* ok) {
    return static_cast<unsigned int>(
        convert(text, strict, std::numeric_limits<unsigned int>::max(), ok));
}

unsigned char* PGM_COMMON::convert_hex_string_to_byte_array(const std::string& hex,
                                                            unsigned int& size, bool strict) {
    const unsigned int limit = size;
    size = 0;
    size_t digits = 0;
    while (digits < hex.size() && is_hex(hex[digits])) ++digits;
    if (digits == 0 || (strict && digits != hex.size())) return nullptr;
    size_t bytes = (digits + 1) / 2;
    if (bytes > limit) return nullptr;

    unsigned char* out = new unsigned char[bytes];
    // An odd count reads as if a leading 0 were there.
    size_t d = 0;
    size_t b = 0;
    if (digits % 2 == 1) out[b++] = static_cast<unsigned char>(hex_value(hex[d++]));
    for (; b < bytes; ++b, d += 2)
        out[b] = static_cast<unsigned char>((hex_value(hex[d]) << 4) | hex_value(hex[d + 1]));
    size = static_cast<unsigned int>(bytes);
    return out;
}

namespace {

const char* const FLASH_FILE_PREFIX = "pgm_flash_";
const char* const FLASH_FILE_SUFFIX = ".xml";

}  // namespace

std::string PGM_COMMON::flash_file_name(const std::string& device) {
    return FLASH_FILE_PREFIX + device + FLASH_FILE_SUFFIX;
}

std::string PGM_COMMON::flash_template_file_name(const std::string& name) {
    return flash_file_name("template_" + name);
}

bool PGM_COMMON::is_flash_file_name(const std::string& file_name) {
    const std::string prefix = FLASH_FILE_PREFIX;
    const std::string suffix = FLASH_FILE_SUFFIX;
    return file_name.size() > prefix.size() + suffix.size() &&
           file_name.compare(0, prefix.size(), prefix) == 0 &&
           file_name.compare(file_name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

const char* PGM_COMMON::flash_file_pattern() { return "pgm_flash_*.xml"; }
