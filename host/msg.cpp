// Messages, traces and internal errors of the host.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "host_text.h"
#include "msg_export.h"

namespace {

void default_sink(const MSG_RECORD& record);

// Leaked on purpose: registrars and messages of other libraries may outlive our statics at
// unload, and must still find these.
struct MSG_STATE {
    std::mutex mutex;
    MSG_SINK sink;  // empty while the default sink is in use
    std::set<MSG_ID> suppressed;
    std::map<MSG_ID, std::vector<MSG_POST_TYPE>> registered;
};

MSG_STATE& state() {
    static MSG_STATE* s = new MSG_STATE;
    return *s;
}

int debug_threshold() {
    const char* env = std::getenv("VORN_DEBUG");
    if (env == nullptr || *env == '\0') return -1;
    char* end = nullptr;
    long value = std::strtol(env, &end, 10);
    if (end == env) return -1;
    if (value > 1000000) value = 1000000;
    if (value < -1) value = -1;
    return static_cast<int>(value);
}

void default_sink(const MSG_RECORD& record) {
    switch (record.severity) {
        case 'E':
            std::fprintf(stderr, "Error (%u): %s\n", record.id, record.text.c_str());
            break;
        case 'W':
            std::fprintf(stderr, "Warning (%u): %s\n", record.id, record.text.c_str());
            break;
        default:
            if (record.level <= debug_threshold())
                std::fprintf(stderr, "Debug (%s:%d): %s\n", record.module.c_str(), record.level,
                             record.text.c_str());
            break;
    }
}

bool is_default(const MSG_SINK& sink) {
    if (!sink) return true;
    auto* target = sink.target<void (*)(const MSG_RECORD&)>();
    return target != nullptr && *target == &default_sink;
}

// Copied out of the lock so that a sink may post messages itself.
MSG_SINK current_sink() {
    MSG_STATE& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.sink;
}

// Whether a trace of `level` reaches anybody.
bool trace_listened(const MSG_SINK& sink, int level) { return sink || level <= debug_threshold(); }

void deliver(const MSG_SINK& sink, const MSG_RECORD& record) {
    if (sink)
        sink(record);
    else
        default_sink(record);
}

std::string vformat_printf(const char* format, va_list args) {
    if (format == nullptr) return std::string();
    va_list copy;
    va_copy(copy, args);
    int size = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (size <= 0) return std::string();
    std::string out(static_cast<size_t>(size) + 1, '\0');
    std::vsnprintf(&out[0], out.size(), format, args);
    out.resize(static_cast<size_t>(size));
    return out;
}

// A "%N!s!" or "%N!d!" placeholder starting at text[pos].
struct PLACEHOLDER {
    size_t pos;
    size_t length;
    int number;
    char type;
};

bool match_placeholder(const std::string& text, size_t pos, PLACEHOLDER& out) {
    if (text[pos] != '%') return false;
    size_t i = pos + 1;
    int number = 0;
    size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 3) {
        number = number * 10 + (text[i] - '0');
        ++i;
        ++digits;
    }
    if (digits == 0 || number == 0) return false;
    if (i + 2 >= text.size() || text[i] != '!' || text[i + 2] != '!') return false;
    char type = text[i + 1];
    if (type != 's' && type != 'd') return false;
    out = PLACEHOLDER{pos, i + 3 - pos, number, type};
    return true;
}

// Splits "text/WNAME" into the text and the name; false when there is no such tail.
bool split_tail(const std::string& format, std::string& body, std::string& name) {
    size_t slash = format.rfind('/');
    if (slash == std::string::npos || slash + 2 >= format.size()) return false;
    char letter = format[slash + 1];
    if (letter != 'E' && letter != 'W') return false;
    for (size_t i = slash + 2; i < format.size(); ++i)
        if (!HOST_TEXT::is_word_char(format[i])) return false;
    name = format.substr(slash + 2);
    body = format.substr(0, slash);
    return true;
}

}  // namespace

MSG_SINK msg_set_sink(MSG_SINK sink) {
    MSG_STATE& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    MSG_SINK previous = s.sink ? std::move(s.sink) : MSG_SINK(&default_sink);
    s.sink = is_default(sink) ? MSG_SINK() : std::move(sink);
    return previous;
}

// ---- MSG_BASE and its kinds ------------------------------------------------------------

MSG_BASE::MSG_BASE(char severity, MSG_REPORT*) : m_severity(severity) {}

MSG_BASE::~MSG_BASE() = default;

void MSG_BASE::fill_args(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vfill_args(format, args);
    va_end(args);
}

void MSG_BASE::vfill_args(const char* format, va_list args) {
    const std::string whole = format != nullptr ? format : "";
    std::string body = whole;
    std::string name;
    if (split_tail(whole, body, name)) {
        m_name = name;
        m_module = name.substr(0, name.find('_'));
    }

    std::vector<PLACEHOLDER> found;
    for (size_t i = 0; i < body.size(); ++i) {
        PLACEHOLDER p;
        if (match_placeholder(body, i, p)) {
            found.push_back(p);
            i += p.length - 1;
        }
    }

    // The argument list is laid out by placeholder number, so read 1, 2, ... in turn; a gap
    // leaves the type of the next argument unknown, and reading stops there.
    std::map<int, char> types;
    for (const auto& p : found) types.emplace(p.number, p.type);
    std::map<int, std::string> values;
    va_list copy;
    va_copy(copy, args);
    for (int n = 1; types.count(n) != 0; ++n) {
        if (types[n] == 's') {
            const char* s = va_arg(copy, const char*);
            values[n] = s != nullptr ? s : "(null)";
        } else {
            values[n] = std::to_string(va_arg(copy, int));
        }
    }
    va_end(copy);

    std::string text;
    size_t at = 0;
    for (const auto& p : found) {
        text.append(body, at, p.pos - at);
        auto value = values.find(p.number);
        if (value != values.end())
            text += value->second;
        else
            text.append(body, p.pos, p.length);
        at = p.pos + p.length;
    }
    text.append(body, at, std::string::npos);
    m_text = std::move(text);
    m_filled = true;
}

MSG_RECORD MSG_BASE::make_record() const {
    return MSG_RECORD{m_severity, m_id, m_name, m_text, m_module, 0};
}

void MSG_BASE::post() {
    if (m_posted) return;
    m_posted = true;
    deliver(current_sink(), make_record());
}

MSG_E::MSG_E(MSG_REPORT* report) : MSG_BASE('E', report) {}

MSG_W::MSG_W(MSG_REPORT* report) : MSG_BASE('W', report) {}

MSG_W_NULL::MSG_W_NULL() : MSG_W(nullptr) {}

void MSG_W_NULL::fill_args(const char*, ...) {}

void MSG_W_NULL::post() {}

MSG_D::MSG_D(MSG_REPORT* report) : MSG_BASE('D', report) {}

void MSG_D::fill_args(const char* format, ...) {
    va_list args;
    va_start(args, format);
    m_text = vformat_printf(format, args);
    va_end(args);
    m_filled = true;
}

void MSG_D::set_module(const std::string& module, MSG_D_LEVEL level) {
    m_module = module;
    m_level = level;
}

void MSG_D::post() {
    if (m_posted) return;
    m_posted = true;
    MSG_SINK sink = current_sink();
    if (!trace_listened(sink, m_level)) return;
    MSG_RECORD record = make_record();
    record.level = m_level;
    deliver(sink, record);
}

// ---- suppression and registration ------------------------------------------------------

MSG_INDEX* MSG_INDEX::get_default_index() {
    static MSG_INDEX index;
    return &index;
}

bool MSG_INDEX::is_suppressed(MSG_ID id) const {
    MSG_STATE& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.suppressed.count(id) != 0;
}

void MSG_INDEX::set_suppressed(MSG_ID id, bool suppressed) {
    MSG_STATE& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (suppressed)
        s.suppressed.insert(id);
    else
        s.suppressed.erase(id);
}

void MSG_INDEX::clear_suppressed() {
    MSG_STATE& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.suppressed.clear();
}

MSG_ID_REGISTRAR::MSG_ID_REGISTRAR(const MSG_ID* ids, const MSG_POST_TYPE* types, size_t count)
    : m_ids(ids), m_count(ids != nullptr && types != nullptr ? count : 0) {
    MSG_STATE& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (size_t i = 0; i < m_count; ++i) s.registered[ids[i]].push_back(types[i]);
}

MSG_ID_REGISTRAR::~MSG_ID_REGISTRAR() {
    MSG_STATE& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (size_t i = 0; i < m_count; ++i) {
        auto it = s.registered.find(m_ids[i]);
        if (it == s.registered.end()) continue;
        // Two registrars may share an id; the later registration goes first.
        it->second.pop_back();
        if (it->second.empty()) s.registered.erase(it);
    }
}

bool MSG_ID_REGISTRAR::is_registered(MSG_ID id) {
    MSG_STATE& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.registered.count(id) != 0;
}

MSG_POST_TYPE MSG_ID_REGISTRAR::get_post_type(MSG_ID id) {
    MSG_STATE& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.registered.find(id);
    return it == s.registered.end() ? MSG_POST_TYPE_INFO : it->second.back();
}

// ---- internal errors and traces --------------------------------------------------------

VORN_INTERNAL_ERROR::VORN_INTERNAL_ERROR(const std::string& condition, const std::string& module,
                                         const std::string& file, int line)
    : std::logic_error(condition), m_module(module), m_file(file), m_line(line) {}

void MSG_INTERNAL_ERROR::report(const std::string& condition, const char* module, const char* file,
                                int line) {
    throw VORN_INTERNAL_ERROR(condition, module != nullptr ? module : "",
                              file != nullptr ? file : "", line);
}

int msg_local_vdebug(const char* module, MSG_D_LEVEL level, const char* format, va_list args) {
    MSG_SINK sink = current_sink();
    std::string text = vformat_printf(format, args);
    if (!trace_listened(sink, level)) return 0;
    deliver(sink, MSG_RECORD{'D', 0, std::string(), text, module != nullptr ? module : "", level});
    return static_cast<int>(text.size());
}
