// Host string and formatting helpers.
#ifndef PGM_H_GEN_EXPORT_H
#define PGM_H_GEN_EXPORT_H

#include "pgm_api.h"

#include <cstddef>
#include <string>

#include <fmt/printf.h>

// Zero when equal, like strcmp; gen_stricmp ignores ASCII letter case.
PGM_API int gen_strcmp(const char* a, const char* b);
PGM_API int gen_strcmp(const std::string& a, const std::string& b);
PGM_API int gen_stricmp(const char* a, const char* b);
PGM_API int gen_stricmp(const std::string& a, const std::string& b);
// Copies at most size-1 characters and always terminates; returns dst.
PGM_API char* gen_strcpy(char* dst, size_t size, const char* src);

// Upper-cases ASCII letters in place.
PGM_API void stl_toupper(std::string& text);

namespace MEM_DETAIL {
// printf-style formatting into *out.
template <typename... Args>
void stl_raw_sprintf(std::string* out, const char* format, const Args&... args) {
    *out = fmt::sprintf(format, args...);
}
}  // namespace MEM_DETAIL

namespace TARVEN {
// printf-style formatting; "(unprintable)" when the format does not fit the arguments.
template <typename... Args>
std::string fmt_sprintf(const char* format, const Args&... args) {
    try {
        return fmt::sprintf(format, args...);
    } catch (...) {
        return "(unprintable)";
    }
}
}  // namespace TARVEN

// Per-module memory bookkeeping: counts the modules that registered.
class PGM_API MEM_INITIALIZER {
public:
    explicit MEM_INITIALIZER(const char* module);
    ~MEM_INITIALIZER();
    static int module_count(const std::string& module);

private:
    std::string m_module;
};

#endif
