// Host message system: user messages, debug traces and internal-error reports.
#ifndef PGM_H_MSG_EXPORT_H
#define PGM_H_MSG_EXPORT_H

#include "pgm_api.h"

#include <cstdarg>
#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>

typedef unsigned int MSG_ID;
typedef int MSG_D_LEVEL;

// Only 0 (error) and 2 (warning) are used by the library.
enum MSG_POST_TYPE { MSG_POST_TYPE_ERROR = 0, MSG_POST_TYPE_INFO = 1, MSG_POST_TYPE_WARNING = 2 };

// What reaches the process-wide sink for every posted message and every trace.
struct PGM_API MSG_RECORD {
    char severity;       // 'E' error, 'W' warning, 'D' debug trace
    unsigned id;         // message identifier; 0 for traces
    std::string name;    // "VORN_INVALID_DEVICE_DENSITY"; empty for traces
    std::string text;    // placeholders filled, without the "/W..." or "/E..." tail
    std::string module;  // "VORN"
    int level;           // trace level; 0 for errors and warnings
};
using MSG_SINK = std::function<void(const MSG_RECORD&)>;

// Installs `sink` and returns the previous one; an empty sink restores the default, which
// prints errors and warnings to stderr and traces when VORN_DEBUG is at least their level.
PGM_API MSG_SINK msg_set_sink(MSG_SINK sink);

// Opaque report context of the host; the library always passes null.
class MSG_REPORT;

class PGM_API MSG_BASE {
public:
    MSG_BASE(char severity, MSG_REPORT* report);
    virtual ~MSG_BASE();
    MSG_BASE(const MSG_BASE&) = delete;
    MSG_BASE& operator=(const MSG_BASE&) = delete;

    // Fills "%1!s!" (const char*) and "%1!d!" (int) placeholders from the variable
    // arguments, taken in the order of their numbers. The format's "/E<NAME>" or "/W<NAME>"
    // tail gives the message name and module and is not part of the text.
    virtual void fill_args(const char* format, ...);
    void vfill_args(const char* format, va_list args);

    void set_id(MSG_ID id) { m_id = id; }
    MSG_ID get_id() const { return m_id; }
    char get_severity() const { return m_severity; }
    const std::string& get_text() const { return m_text; }
    const std::string& get_name() const { return m_name; }
    const std::string& get_module() const { return m_module; }
    bool is_filled() const { return m_filled; }

    // Hands the message to the sink. A message is posted at most once.
    virtual void post();

protected:
    MSG_RECORD make_record() const;

    char m_severity;
    MSG_ID m_id = 0;
    std::string m_text;
    std::string m_name;
    std::string m_module;
    bool m_filled = false;
    bool m_posted = false;
};

class PGM_API MSG_E : public MSG_BASE {
public:
    explicit MSG_E(MSG_REPORT* report);
};

class PGM_API MSG_W : public MSG_BASE {
public:
    explicit MSG_W(MSG_REPORT* report);
    // Every warning of the library receives 1 here: it may be shown in the message window.
    void set_warning_flag(int flag) { m_warning_flag = flag; }
    int get_warning_flag() const { return m_warning_flag; }

private:
    int m_warning_flag = 0;
};

// A suppressed warning: filling and posting it do nothing.
class PGM_API MSG_W_NULL : public MSG_W {
public:
    MSG_W_NULL();
    void fill_args(const char* format, ...) override;
    void post() override;
};

class PGM_API MSG_D : public MSG_BASE {
public:
    explicit MSG_D(MSG_REPORT* report);
    // Debug messages use printf notation ("%s", "%d"), not the placeholder notation.
    void fill_args(const char* format, ...) override;
    void set_module(const std::string& module, MSG_D_LEVEL level);
    MSG_D_LEVEL get_level() const { return m_level; }
    void post() override;

private:
    MSG_D_LEVEL m_level = 0;
};

class PGM_API MSG_INDEX {
public:
    static MSG_INDEX* get_default_index();
    bool is_suppressed(MSG_ID id) const;
    void set_suppressed(MSG_ID id, bool suppressed);
    void clear_suppressed();
};

// Makes a module's message identifiers known to the host for the registrar's lifetime.
class PGM_API MSG_ID_REGISTRAR {
public:
    MSG_ID_REGISTRAR(const MSG_ID* ids, const MSG_POST_TYPE* types, size_t count);
    ~MSG_ID_REGISTRAR();
    MSG_ID_REGISTRAR(const MSG_ID_REGISTRAR&) = delete;
    MSG_ID_REGISTRAR& operator=(const MSG_ID_REGISTRAR&) = delete;

    static bool is_registered(MSG_ID id);
    // The post type registered for `id`; MSG_POST_TYPE_INFO when unknown.
    static MSG_POST_TYPE get_post_type(MSG_ID id);

private:
    const MSG_ID* m_ids;
    size_t m_count;
};

// A broken invariant of the library. what() is the condition text.
class PGM_API VORN_INTERNAL_ERROR : public std::logic_error {
public:
    VORN_INTERNAL_ERROR(const std::string& condition, const std::string& module,
                        const std::string& file, int line);
    const std::string& module() const { return m_module; }
    const std::string& file() const { return m_file; }
    int line() const { return m_line; }

private:
    std::string m_module;
    std::string m_file;
    int m_line;
};

class PGM_API MSG_INTERNAL_ERROR {
public:
    [[noreturn]] static void report(const std::string& condition, const char* module,
                                    const char* file, int line);
};

// printf-style debug trace of `module` at `level`; returns the number of characters sent
// (0 when the trace was formatted but nobody listens).
PGM_API int msg_local_vdebug(const char* module, MSG_D_LEVEL level, const char* format, va_list args);

#endif
