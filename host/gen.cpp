// String helpers and per-module memory bookkeeping.
#include <cstring>
#include <map>
#include <mutex>
#include <string_view>

#include "gen_export.h"
#include "host_text.h"

#include <fmt/args.h>
#include <fmt/printf.h>

namespace {

int sign(int v) { return (v > 0) - (v < 0); }

struct MEM_STATE {
    std::mutex mutex;
    std::map<std::string, int> modules;
};

// Leaked: libraries register from their own static constructors and destructors, in an
// order we do not control.
MEM_STATE& mem_state() {
    static MEM_STATE* s = new MEM_STATE;
    return *s;
}

// Bytes compare unsigned, as strcmp does; the C-string form reads no further than its NUL.
int compare_blind(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return static_cast<unsigned char>(HOST_TEXT::ascii_lower(c)); };
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const int d = lower(a[i]) - lower(b[i]);
        if (d != 0) return sign(d);
    }
    return sign(static_cast<int>(a.size() > b.size()) - static_cast<int>(a.size() < b.size()));
}

}  // namespace

int gen_strcmp(const char* a, const char* b) {
    return sign(std::strcmp(a != nullptr ? a : "", b != nullptr ? b : ""));
}

int gen_strcmp(const std::string& a, const std::string& b) { return sign(a.compare(b)); }

int gen_stricmp(const char* a, const char* b) {
    return compare_blind(std::string_view(a != nullptr ? a : ""),
                         std::string_view(b != nullptr ? b : ""));
}

int gen_stricmp(const std::string& a, const std::string& b) { return compare_blind(a, b); }

char* gen_strcpy(char* dst, size_t size, const char* src) {
    if (dst == nullptr || size == 0) return dst;
    size_t n = src != nullptr ? std::strlen(src) : 0;
    if (n > size - 1) n = size - 1;
    if (n > 0) std::memmove(dst, src, n);
    dst[n] = '\0';
    return dst;
}

void stl_toupper(std::string& text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}

MEM_INITIALIZER::MEM_INITIALIZER(const char* module) : m_module(module != nullptr ? module : "") {
    MEM_STATE& s = mem_state();
    std::lock_guard<std::mutex> lock(s.mutex);
    ++s.modules[m_module];
}

MEM_INITIALIZER::~MEM_INITIALIZER() {
    MEM_STATE& s = mem_state();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.modules.find(m_module);
    if (it != s.modules.end() && --it->second <= 0) s.modules.erase(it);
}

int MEM_INITIALIZER::module_count(const std::string& module) {
    MEM_STATE& s = mem_state();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.modules.find(module);
    return it != s.modules.end() ? it->second : 0;
}

std::string gen_vsprintf(const char* format, const GEN_FMT_ARG* args, size_t count) {
    fmt::dynamic_format_arg_store<fmt::printf_context> store;
    for (size_t i = 0; i < count; ++i) {
        const GEN_FMT_ARG& arg = args[i];
        switch (arg.type()) {
            case GEN_FMT_ARG::NONE:
                break;
            case GEN_FMT_ARG::BOOL:
                store.push_back(arg.as_unsigned() != 0);
                break;
            case GEN_FMT_ARG::CHAR:
                store.push_back(static_cast<char>(arg.as_signed()));
                break;
            case GEN_FMT_ARG::INT:
                store.push_back(static_cast<int>(arg.as_signed()));
                break;
            case GEN_FMT_ARG::UINT:
                store.push_back(static_cast<unsigned>(arg.as_unsigned()));
                break;
            case GEN_FMT_ARG::LONG:
                store.push_back(static_cast<long>(arg.as_signed()));
                break;
            case GEN_FMT_ARG::ULONG:
                store.push_back(static_cast<unsigned long>(arg.as_unsigned()));
                break;
            case GEN_FMT_ARG::LONG_LONG:
                store.push_back(arg.as_signed());
                break;
            case GEN_FMT_ARG::ULONG_LONG:
                store.push_back(arg.as_unsigned());
                break;
            case GEN_FMT_ARG::DOUBLE:
                store.push_back(arg.as_double());
                break;
            case GEN_FMT_ARG::LONG_DOUBLE:
                store.push_back(arg.as_long_double());
                break;
            case GEN_FMT_ARG::C_STRING:
                store.push_back(arg.as_c_string());
                break;
            case GEN_FMT_ARG::STRING:
                store.push_back(arg.as_string());
                break;
            case GEN_FMT_ARG::POINTER:
                store.push_back(arg.as_pointer());
                break;
        }
    }
    return fmt::vsprintf(fmt::string_view(format != nullptr ? format : ""),
                         fmt::basic_format_args<fmt::printf_context>(store));
}
