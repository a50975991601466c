// Host string and formatting helpers.
#ifndef PGM_H_GEN_EXPORT_H
#define PGM_H_GEN_EXPORT_H

#include "pgm_api.h"

#include <cstddef>
#include <string>

// Zero when equal, like strcmp; gen_stricmp ignores ASCII letter case.
PGM_API int gen_strcmp(const char* a, const char* b);
PGM_API int gen_strcmp(const std::string& a, const std::string& b);
PGM_API int gen_stricmp(const char* a, const char* b);
PGM_API int gen_stricmp(const std::string& a, const std::string& b);
// Copies at most size-1 characters and always terminates; returns dst.
PGM_API char* gen_strcpy(char* dst, size_t size, const char* src);

// Upper-cases ASCII letters in place.
PGM_API void stl_toupper(std::string& text);

// One argument of a printf-style format, kept with its type so that the conversions read it
// as the caller passed it. It only points at texts: it lives no longer than the call.
class GEN_FMT_ARG {
  public:
    enum TYPE {
        NONE,
        BOOL,
        CHAR,
        INT,
        UINT,
        LONG,
        ULONG,
        LONG_LONG,
        ULONG_LONG,
        DOUBLE,
        LONG_DOUBLE,
        C_STRING,
        STRING,
        POINTER
    };
    GEN_FMT_ARG() : m_type(NONE) {}
    GEN_FMT_ARG(bool v) : m_type(BOOL) { m_value.u = v; }
    GEN_FMT_ARG(char v) : m_type(CHAR) { m_value.i = v; }
    GEN_FMT_ARG(signed char v) : m_type(INT) { m_value.i = v; }
    GEN_FMT_ARG(unsigned char v) : m_type(UINT) { m_value.u = v; }
    GEN_FMT_ARG(short v) : m_type(INT) { m_value.i = v; }
    GEN_FMT_ARG(unsigned short v) : m_type(UINT) { m_value.u = v; }
    GEN_FMT_ARG(int v) : m_type(INT) { m_value.i = v; }
    GEN_FMT_ARG(unsigned int v) : m_type(UINT) { m_value.u = v; }
    GEN_FMT_ARG(long v) : m_type(LONG) { m_value.i = v; }
    GEN_FMT_ARG(unsigned long v) : m_type(ULONG) { m_value.u = v; }
    GEN_FMT_ARG(long long v) : m_type(LONG_LONG) { m_value.i = v; }
    GEN_FMT_ARG(unsigned long long v) : m_type(ULONG_LONG) { m_value.u = v; }
    GEN_FMT_ARG(float v) : m_type(DOUBLE) { m_value.d = v; }
    GEN_FMT_ARG(double v) : m_type(DOUBLE) { m_value.d = v; }
    GEN_FMT_ARG(long double v) : m_type(LONG_DOUBLE) { m_value.ld = v; }
    GEN_FMT_ARG(const char* v) : m_type(C_STRING) { m_value.s = v; }
    GEN_FMT_ARG(const std::string& v) : m_type(STRING) { m_value.str = &v; }
    GEN_FMT_ARG(const void* v) : m_type(POINTER) { m_value.p = v; }

    TYPE type() const { return m_type; }
    long long as_signed() const { return m_value.i; }
    unsigned long long as_unsigned() const { return m_value.u; }
    double as_double() const { return m_value.d; }
    long double as_long_double() const { return m_value.ld; }
    const char* as_c_string() const { return m_value.s; }
    const std::string& as_string() const { return *m_value.str; }
    const void* as_pointer() const { return m_value.p; }

  private:
    TYPE m_type;
    union {
        long long i;
        unsigned long long u;
        double d;
        long double ld;
        const char* s;
        const std::string* str;
        const void* p;
    } m_value;
};

// printf-style formatting of `count` arguments; throws std::runtime_error when the format does
// not fit them. Formatting lives in the host, so that a host compiles against these headers
// with nothing but the standard library.
PGM_API std::string gen_vsprintf(const char* format, const GEN_FMT_ARG* args, size_t count);

namespace MEM_DETAIL {
// printf-style formatting into *out.
template <typename... Args>
void stl_raw_sprintf(std::string* out, const char* format, const Args&... args) {
    const GEN_FMT_ARG list[] = {GEN_FMT_ARG(args)..., GEN_FMT_ARG()};
    *out = gen_vsprintf(format, list, sizeof...(Args));
}
}  // namespace MEM_DETAIL

namespace TARVEN {
// printf-style formatting; "(unprintable)" when the format does not fit the arguments.
template <typename... Args>
std::string fmt_sprintf(const char* format, const Args&... args) {
    try {
        const GEN_FMT_ARG list[] = {GEN_FMT_ARG(args)..., GEN_FMT_ARG()};
        return gen_vsprintf(format, list, sizeof...(Args));
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
