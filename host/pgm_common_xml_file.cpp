// File operations of the host XML layer on libxml2: schema check, parsing into element trees,
// atomic writing.
//
// Untrusted files meet a parser that never touches the network, never loads a DTD or an
// external entity and never expands entities; a document type declaration is refused as soon
// as it is seen, before its internal subset is read, which disarms XXE and entity bombs
// alike. Files are read whole, and only when they are regular files of at most 16 MB.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>
#include <libxml/xmlstring.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "gen_export.h"
#include "host_fault.h"
#include "host_file.h"
#include "pgm_common_xml_export.h"
#include "pgm_common_xml_internal.h"
#include "pgm_common_xml_vorn_qspi_auto_export.h"
#include "pgm_common_xml_vorn_sdmmc_auto_export.h"

namespace {

constexpr off_t MAX_FILE_SIZE = PGM_COMMON_XML::MAX_FILE_SIZE;
constexpr size_t MAX_REASONS = 20;
constexpr int PARSE_OPTIONS = XML_PARSE_NONET | XML_PARSE_NOCDATA | XML_PARSE_BIG_LINES;
const char* const XSI_NAMESPACE = "http://www.w3.org/2001/XMLSchema-instance";

thread_local std::string t_last_error;

// ---- messages ------------------------------------------------------------------------------

// Gathers libxml2's messages as "line N: text" lines instead of letting it print them.
class REASONS {
  public:
    void add(int line, std::string text) {
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        if (text.empty()) return;
        // One reason per line, for a linter to show.
        for (char& c : text)
            if (c == '\n') c = ' ';
        if (m_lines.size() >= MAX_REASONS) {
            ++m_dropped;
            return;
        }
        m_lines.push_back(line > 0 ? TARVEN::fmt_sprintf("line %d: %s", line, text) : text);
    }
    bool empty() const { return m_lines.empty(); }
    void append(const REASONS& other) {
        for (const auto& line : other.m_lines) {
            if (m_lines.size() >= MAX_REASONS)
                ++m_dropped;
            else
                m_lines.push_back(line);
        }
        m_dropped += other.m_dropped;
    }
    std::string text() const {
        std::string out;
        for (const auto& line : m_lines) {
            if (!out.empty()) out += '\n';
            out += line;
        }
        if (m_dropped > 0) out += TARVEN::fmt_sprintf("\n(%u more)", m_dropped);
        return out;
    }

  private:
    std::vector<std::string> m_lines;
    unsigned m_dropped = 0;
};

extern "C" void collect_error(void* context, xmlErrorPtr error) {
    if (context == nullptr || error == nullptr) return;
    static_cast<REASONS*>(context)->add(error->line, error->message ? error->message : "");
}

extern "C" void drop_generic_error(void*, const char*, ...) {}

// Routes libxml2's messages of this thread into `reasons` while it lives.
class ERROR_SCOPE {
  public:
    explicit ERROR_SCOPE(REASONS& reasons)
        : m_structured(xmlStructuredError),
          m_structured_context(xmlStructuredErrorContext),
          m_generic(xmlGenericError),
          m_generic_context(xmlGenericErrorContext) {
        xmlSetStructuredErrorFunc(&reasons, collect_error);
        xmlSetGenericErrorFunc(nullptr, drop_generic_error);
    }
    ~ERROR_SCOPE() {
        xmlSetStructuredErrorFunc(m_structured_context, m_structured);
        xmlSetGenericErrorFunc(m_generic_context, m_generic);
    }
    ERROR_SCOPE(const ERROR_SCOPE&) = delete;
    ERROR_SCOPE& operator=(const ERROR_SCOPE&) = delete;

  private:
    xmlStructuredErrorFunc m_structured;
    void* m_structured_context;
    xmlGenericErrorFunc m_generic;
    void* m_generic_context;
};

// ---- files -----------------------------------------------------------------------------------

// What tells an unchanged file from a changed one.
struct FILE_ID {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    long long mtime_sec = 0;
    long mtime_nsec = 0;

    static FILE_ID of(const struct stat& st) {
        FILE_ID id;
        id.dev = st.st_dev;
        id.ino = st.st_ino;
        id.size = st.st_size;
        id.mtime_sec = static_cast<long long>(st.st_mtim.tv_sec);
        id.mtime_nsec = st.st_mtim.tv_nsec;
        return id;
    }
    bool operator==(const FILE_ID& o) const {
        return dev == o.dev && ino == o.ino && size == o.size && mtime_sec == o.mtime_sec &&
               mtime_nsec == o.mtime_nsec;
    }
};

bool stat_file(const std::string& path, FILE_ID& id) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    id = FILE_ID::of(st);
    return true;
}

// A document's file, read as the parser asks for it, so that the whole file is never held in
// memory: a regular file of at most MAX_FILE_SIZE bytes, not a symbolic link. More bytes than
// it had when it was opened is a change while it was read.
class SOURCE_FILE {
  public:
    SOURCE_FILE() = default;
    ~SOURCE_FILE() {
        if (m_fd >= 0) ::close(m_fd);
    }
    SOURCE_FILE(const SOURCE_FILE&) = delete;
    SOURCE_FILE& operator=(const SOURCE_FILE&) = delete;

    bool open(const std::string& path, std::string& error) {
        m_path = path;
        // A database file is a file of its folder: a link could lead anywhere.
        m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
        if (m_fd < 0) {
            error = errno == ELOOP
                        ? TARVEN::fmt_sprintf("%s is a symbolic link", path)
                        : TARVEN::fmt_sprintf("cannot open %s: %s", path, std::strerror(errno));
            return false;
        }
        struct stat st;
        if (::fstat(m_fd, &st) != 0) {
            error = TARVEN::fmt_sprintf("cannot read %s: %s", path, std::strerror(errno));
            return false;
        }
        if (!S_ISREG(st.st_mode)) {
            error = TARVEN::fmt_sprintf("%s is not a regular file", path);
            return false;
        }
        if (st.st_size > MAX_FILE_SIZE) {
            error = TARVEN::fmt_sprintf("%s is larger than the limit of %d bytes", path,
                                        static_cast<int>(MAX_FILE_SIZE));
            return false;
        }
        m_size = st.st_size;
        m_id = FILE_ID::of(st);
        return true;
    }
    bool empty() const { return m_size == 0; }
    const FILE_ID& id() const { return m_id; }
    // Why the reading failed while the parser asked for more; empty when it did not.
    const std::string& error() const { return m_error; }

    // libxml2's read callback.
    static int read(void* context, char* buffer, int length) {
        auto& file = *static_cast<SOURCE_FILE*>(context);
        while (true) {
            const ssize_t n = ::read(file.m_fd, buffer, static_cast<size_t>(length));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                file.m_error =
                    TARVEN::fmt_sprintf("cannot read %s: %s", file.m_path, std::strerror(errno));
                return -1;
            }
            const bool first = file.m_read == 0;
            file.m_read += n;
            if (file.m_read > file.m_size) {
                file.m_error = TARVEN::fmt_sprintf("%s changed while it was read", file.m_path);
                return -1;
            }
            // The encoding is given, so libxml2 would take a byte order mark for text.
            if (first && n >= 3 && std::memcmp(buffer, "\xEF\xBB\xBF", 3) == 0) {
                std::memmove(buffer, buffer + 3, static_cast<size_t>(n - 3));
                return static_cast<int>(n - 3);
            }
            return static_cast<int>(n);
        }
    }

  private:
    std::string m_path;
    int m_fd = -1;
    off_t m_size = 0;
    off_t m_read = 0;
    FILE_ID m_id;
    std::string m_error;
};

// ---- parsing ---------------------------------------------------------------------------------

struct DOC_DELETER {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using DOC = std::unique_ptr<xmlDoc, DOC_DELETER>;

struct PARSE_STATE {
    REASONS* reasons;
    bool doctype = false;
};

extern "C" void refuse_doctype(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
    auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
    auto* state = static_cast<PARSE_STATE*>(ctxt->_private);
    if (!state->doctype) {
        state->doctype = true;
        state->reasons->add(xmlSAX2GetLineNumber(ctxt),
                            "document type declarations are not allowed");
    }
    xmlStopParser(ctxt);
}

void ensure_libxml() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

// A schema's document, which the schema compiler needs as libxml2's tree: well-formed UTF-8
// XML without a document type declaration; null otherwise, with the reasons added.
DOC parse_file(SOURCE_FILE& file, const std::string& path, REASONS& reasons) {
    if (file.empty()) {
        reasons.add(0, "the file is empty");
        return nullptr;
    }
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (ctxt == nullptr) throw std::bad_alloc();
    PARSE_STATE state{&reasons};
    ctxt->_private = &state;
    ctxt->sax->internalSubset = refuse_doctype;
    ctxt->sax->externalSubset = refuse_doctype;
    // The encoding is fixed: a declaration of another one does not make other bytes valid.
    DOC doc(xmlCtxtReadIO(ctxt, SOURCE_FILE::read, nullptr, &file, path.c_str(), "UTF-8",
                          PARSE_OPTIONS));
    const bool well_formed = ctxt->wellFormed != 0 && !state.doctype;
    xmlFreeParserCtxt(ctxt);
    if (!well_formed || doc == nullptr) {
        if (reasons.empty()) reasons.add(0, "the file is not well-formed XML");
        return nullptr;
    }
    return doc;
}

DOC load_document(const std::string& path, FILE_ID& id, REASONS& reasons) {
    SOURCE_FILE file;
    std::string error;
    if (!file.open(path, error)) {
        reasons.add(0, error);
        return nullptr;
    }
    id = file.id();
    DOC doc = parse_file(file, path, reasons);
    if (!file.error().empty()) {
        reasons.add(0, file.error());
        return nullptr;
    }
    return doc;
}

// ---- shared state ----------------------------------------------------------------------------

struct SCHEMA_ENTRY {
    FILE_ID id;
    DOC doc;  // the compiled schema may point into its document
    xmlSchemaPtr schema = nullptr;
    ~SCHEMA_ENTRY() {
        if (schema != nullptr) xmlSchemaFree(schema);
    }
};

std::mutex g_mutex;
std::map<std::string, std::unique_ptr<SCHEMA_ENTRY>> g_schemas;

// Compiled once per path; compiled again only when the file changes.
xmlSchemaPtr get_schema(const std::string& path, REASONS& reasons) {
    FILE_ID id;
    auto it = g_schemas.find(path);
    if (it != g_schemas.end() && stat_file(path, id) && id == it->second->id)
        return it->second->schema;

    auto entry = std::make_unique<SCHEMA_ENTRY>();
    REASONS schema_reasons;
    entry->doc = load_document(path, entry->id, schema_reasons);
    if (entry->doc != nullptr) {
        xmlSchemaParserCtxtPtr pctxt = xmlSchemaNewDocParserCtxt(entry->doc.get());
        if (pctxt == nullptr) throw std::bad_alloc();
        xmlSchemaSetParserStructuredErrors(pctxt, collect_error, &schema_reasons);
        entry->schema = xmlSchemaParse(pctxt);
        xmlSchemaFreeParserCtxt(pctxt);
    }
    if (entry->schema == nullptr) {
        reasons.add(0, TARVEN::fmt_sprintf("cannot use the schema %s: %s", path,
                                           schema_reasons.empty() ? std::string("invalid")
                                                                  : schema_reasons.text()));
        return nullptr;
    }
    xmlSchemaPtr schema = entry->schema;
    g_schemas[path] = std::move(entry);
    return schema;
}

// ---- building trees --------------------------------------------------------------------------

struct FORMAT {
    PGM_COMMON_XML_ENUM root;
    PGM_COMMON_XML_ELEMENT* (*create)(PGM_COMMON_XML_ENUM);
    bool (*admits)(PGM_COMMON_XML_ENUM, PGM_COMMON_XML_ENUM);
};

const FORMAT* format_of(PGM_COMMON_XML_FILE_ENUM kind) {
    static const FORMAT qspi{PGM_COMMON_XML_VORN_QSPI_ROOT, pgm_common_xml_vorn_qspi_create,
                             pgm_common_xml_vorn_qspi_admits};
    static const FORMAT sdmmc{PGM_COMMON_XML_VORN_SDMMC_ROOT, pgm_common_xml_vorn_sdmmc_create,
                              pgm_common_xml_vorn_sdmmc_admits};
    switch (kind) {
        case PGM_COMMON_XML_FILE_VORN_QSPI:
            return &qspi;
        case PGM_COMMON_XML_FILE_VORN_SDMMC:
            return &sdmmc;
        default:
            return nullptr;
    }
}

// An attribute as the reader hands it to the builder.
struct ATTRIBUTE_TEXT {
    std::string name;
    const char* ns_uri;  // null when the attribute has no namespace
    std::string value;
};

// Every element's own count declarations, depth first.
bool check_counts(PGM_COMMON_XML_ELEMENT& element, std::string& error) {
    if (!element.check_child_count()) {
        error =
            TARVEN::fmt_sprintf("line %d: %s", element.get_line(), element.get_count_violation());
        return false;
    }
    for (PGM_COMMON_XML_ELEMENT* child : element.get_all_childs())
        if (!check_counts(*child, error)) return false;
    return true;
}

// Text of XML white space only.
bool is_blank(const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (text[i] != ' ' && text[i] != '\t' && text[i] != '\n' && text[i] != '\r') return false;
    return true;
}

// Builds an element tree from the events of a document read in order: an element's start
// with its attributes, texts, an element's end.
class TREE_BUILDER {
  public:
    TREE_BUILDER(const FORMAT& format, bool lenient, std::string& error,
                 PGM_COMMON_XML_CHILD_SINK* sink)
        : m_format(format), m_lenient(lenient), m_error(error), m_sink(sink) {
        m_open.reserve(16);
    }

    // False, with the message set, when the document breaks a rule; nothing more may be fed.
    // The first start is the document element's, whose name the caller has checked.
    bool start(const char* name, bool has_ns, int line, const ATTRIBUTE_TEXT* attributes,
               size_t count) {
        PGM_COMMON_XML_ENUM tag = m_format.root;
        if (m_depth > 0) {
            const OPEN& parent = m_open[m_depth - 1];
            if (!parent.container) {
                m_error = TARVEN::fmt_sprintf("line %d: element \"%s\" cannot hold element \"%s\"",
                                              line, parent.name, name);
                return false;
            }
            if (has_ns || !find_tag(name, tag) ||
                !m_format.admits(parent.element->get_sub_class_type(), tag)) {
                m_error = TARVEN::fmt_sprintf("line %d: element \"%s\" is not allowed in \"%s\"",
                                              line, name, parent.name);
                return false;
            }
        }
        std::unique_ptr<PGM_COMMON_XML_ELEMENT> element(m_format.create(tag));
        if (element == nullptr) return fail(line, name, "element \"%s\" is not part of the format");
        element->set_line(line);
        if (!read_attributes(name, line, attributes, count, *element)) return false;
        if (m_depth == m_open.size()) m_open.emplace_back();
        OPEN& open = m_open[m_depth++];
        open.container = element->get_type() == PGM_XML_TYPE_CONTAINER;
        open.element = std::move(element);
        open.name = name;
        open.line = line;
        open.text.clear();
        return true;
    }

    bool text(const char* text, size_t length) {
        if (m_depth == 0) return true;
        OPEN& open = m_open[m_depth - 1];
        if (!open.container) {
            open.text.append(text, length);
            return true;
        }
        if (is_blank(text, length)) return true;
        return fail(open.line, open.name, "element \"%s\" cannot hold text");
    }

    bool end() {
        OPEN& open = m_open[m_depth - 1];
        if (!open.container && !open.element->read_value_text(open.text)) {
            m_error = TARVEN::fmt_sprintf("line %d: \"%s\" is not a valid value of element \"%s\"",
                                          open.line, open.text, open.name);
            return false;
        }
        // Checked while the children are still in cache; the message, naming the first
        // broken element in document order, is left to check_counts.
        if (!open.element->check_child_count()) m_counts_broken = true;
        std::unique_ptr<PGM_COMMON_XML_ELEMENT> element = std::move(open.element);
        if (--m_depth == 0) {
            m_root = std::move(element);
        } else if (m_depth == 1 && m_sink != nullptr) {
            // The root's own counts bound nothing; a child leaves whole or not at all.
            if (m_counts_broken) return check_counts(*element, m_error);
            if (!m_sink_done && !m_sink->take_child(element.release())) m_sink_done = true;
        } else {
            m_open[m_depth - 1].element->add_child(element.get());
            element.release();
        }
        return true;
    }

    // The document element, once its end has been fed.
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> take_root() { return std::move(m_root); }
    bool counts_broken() const { return m_counts_broken; }

  private:
    struct OPEN {
        std::unique_ptr<PGM_COMMON_XML_ELEMENT> element;
        const char* name = nullptr;
        int line = 0;
        bool container = false;
        std::string text;  // a value element's texts so far
    };

    bool fail(int line, const char* name, const char* format) {
        m_error = TARVEN::fmt_sprintf("line %d: ", line) + TARVEN::fmt_sprintf(format, name);
        return false;
    }

    bool read_attributes(const char* element_name, int line, const ATTRIBUTE_TEXT* attributes,
                         size_t count, PGM_COMMON_XML_ELEMENT& element) {
        for (size_t i = 0; i < count; ++i) {
            const ATTRIBUTE_TEXT& a = attributes[i];
            if (a.ns_uri != nullptr) {
                // Schema-instance hints are legal everywhere and mean nothing here.
                if (m_lenient || std::strcmp(a.ns_uri, XSI_NAMESPACE) == 0) continue;
                m_error = TARVEN::fmt_sprintf("line %d: element \"%s\" has no attribute \"%s\"",
                                              line, element_name, a.name);
                return false;
            }
            const std::string name = a.name;
            if (element.read_attribute_text(name, a.value) || m_lenient) continue;
            if (element.find_attribute(name) == nullptr)
                m_error = TARVEN::fmt_sprintf("line %d: element \"%s\" has no attribute \"%s\"",
                                              line, element_name, name);
            else
                m_error = TARVEN::fmt_sprintf(
                    "line %d: \"%s\" is not a valid value of attribute \"%s\" of element \"%s\"",
                    line, a.value, name, element_name);
            return false;
        }
        if (m_lenient) return true;
        for (const auto& attribute : element.get_attributes()) {
            if (attribute.get_exist() == PGM_XML_EXIST_REQUIRED && !attribute.is_set()) {
                m_error = TARVEN::fmt_sprintf("line %d: element \"%s\" lacks attribute \"%s\"",
                                              line, element_name, attribute.get_name());
                return false;
            }
        }
        return true;
    }

    // Readers keep one copy of each name per document (libxml2's dictionary), so a name's
    // address stands for the name: a document holds a few dozen distinct names among
    // thousands of elements.
    bool find_tag(const char* name, PGM_COMMON_XML_ENUM& tag) {
        // Names lie next to each other, a few bytes apart: the whole address is mixed.
        const uint64_t mixed = reinterpret_cast<uintptr_t>(name) * 0x9E3779B97F4A7C15ull;
        NAME_CACHE& entry = m_names[mixed >> (64 - NAME_CACHE_BITS)];
        if (entry.name == name) {
            tag = entry.tag;
            return true;
        }
        if (!pgm_common_xml_detail::find_tag(name, tag)) return false;
        entry = {name, tag};
        return true;
    }

    struct NAME_CACHE {
        const char* name = nullptr;
        PGM_COMMON_XML_ENUM tag = PGM_COMMON_XML_ENUM__INVALID__;
    };
    static constexpr int NAME_CACHE_BITS = 7;

    const FORMAT& m_format;
    bool m_lenient;
    std::string& m_error;
    bool m_counts_broken = false;
    std::vector<OPEN> m_open;  // the elements started and not yet ended; kept for reuse
    size_t m_depth = 0;
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> m_root;
    PGM_COMMON_XML_CHILD_SINK* m_sink;
    bool m_sink_done = false;
    NAME_CACHE m_names[size_t{1} << NAME_CACHE_BITS];
};

// ---- reading ---------------------------------------------------------------------------------
//
// A document is read in one pass, and libxml2 builds no tree of its own. The parser's events
// are kept until a child of the document element is complete (a device, a template); then all
// of them go to the schema check, when a schema is given, and then all of them to the tree
// builder. Handing a whole device to each in turn, rather than every event to the parser, the
// schema check and the builder in turn, lets each run its loop with its own code in the
// processor's cache. The parser's reasons and the schema's are kept apart, since a file that is not
// well-formed is refused for that alone.

// A parser event, kept with copies of what the parser's buffers hold only for the event's
// length. Names and namespace names are libxml2's own copies, kept by the document.
struct EVENT {
    enum KIND : unsigned char { START, TEXT, END };
    KIND kind = START;
    // The line a schema message about the event names (see message_line): where the element
    // starts for START and END.
    int line = 0;
    const xmlChar* local_name = nullptr;
    const xmlChar* prefix = nullptr;
    const xmlChar* uri = nullptr;
    size_t first = 0;  // START: namespaces and attributes in READ_PASS::pointers; TEXT: texts
    int namespace_count = 0;
    int attribute_count = 0;
    size_t length = 0;  // TEXT
};

struct READ_PASS {
    xmlParserCtxtPtr ctxt = nullptr;
    REASONS* reasons = nullptr;      // the parser's
    const FORMAT* format = nullptr;  // null: the document is only checked
    PGM_COMMON_XML_CHILD_SINK* sink = nullptr;
    std::optional<TREE_BUILDER> builder;
    std::string build_error;  // the first rule the document breaks; building stops there
    bool build_failed = false;
    bool lenient = false;
    bool doctype = false;
    std::exception_ptr exception;  // nothing may unwind through libxml2
    std::vector<ATTRIBUTE_TEXT> attributes;
    std::string qualified_name;
    REASONS* schema_reasons = nullptr;

    // Where kept events go: first to the schema check's handlers, when a schema is given,
    // then to the builder's.
    xmlSAXHandlerPtr schema_sax = nullptr;
    void* schema_context = nullptr;
    xmlSAXHandlerPtr builder_sax = nullptr;

    // The events kept, and what they point to: namespace pairs and attributes (five pointers
    // each, as libxml2 hands them over; a value's two are set when replayed), attribute
    // values as places in `texts`, texts.
    std::vector<EVENT> events;
    std::vector<const xmlChar*> pointers;
    std::vector<std::pair<size_t, size_t>> values;
    std::string texts;
    int replay_line = 0;  // the line of the event being replayed

    // Reading: the lines of the elements started and not yet ended, and where the last one ended.
    std::vector<int> open_lines;
    bool after_end = false;  // the last event read ended an element
    const xmlChar* last_end_at = nullptr;
    int last_end_line = 0;

    // The line a schema message about what is read at the parser's position names. Streaming,
    // libxml2's schema check tells none; a checked tree tells the line of the element it is
    // about, so the same is given here: the parser's at a start tag, the element's own at its
    // end tag.
    int message_line() const {
        const xmlChar* const cur = ctxt->input->cur;
        const xmlChar* const base = ctxt->input->base;
        // The last tag begun before the position, as far back as the buffer goes.
        const void* tag = memrchr(base, '<', static_cast<size_t>(cur - base));
        if (tag == nullptr || *(static_cast<const xmlChar*>(tag) + 1) != '/')
            return xmlSAX2GetLineNumber(ctxt);
        if (cur == last_end_at) return last_end_line;
        return open_lines.empty() ? xmlSAX2GetLineNumber(ctxt) : open_lines.back();
    }

    void fail_build(std::string error) {
        build_failed = true;
        builder.reset();
        build_error = std::move(error);
    }
};

READ_PASS* pass_of(void* context) { return static_cast<READ_PASS*>(context); }

extern "C" void collect_schema_error(void* context, xmlErrorPtr error) {
    if (context == nullptr || error == nullptr) return;
    const READ_PASS& pass = *pass_of(context);
    // Streaming, libxml2's schema check tells no line of its own.
    pass.schema_reasons->add(error->line > 0 ? error->line : pass.replay_line,
                             error->message ? error->message : "");
}

// libxml2 hands a name with an undeclared prefix over in parts; a document keeps it whole.
const char* qualified(std::string& buffer, const xmlChar* prefix, const xmlChar* name) {
    buffer.assign(reinterpret_cast<const char*>(prefix));
    buffer += ':';
    buffer += reinterpret_cast<const char*>(name);
    return buffer.c_str();
}

// Runs one step of the builder unless building has stopped; what it throws stops the parser
// and is thrown again once libxml2 is done.
template <typename STEP>
void build(void* context, STEP step) {
    READ_PASS& pass = *pass_of(context);
    if (pass.build_failed || pass.format == nullptr || pass.exception) return;
    try {
        step(pass);
    } catch (...) {
        pass.exception = std::current_exception();
        pass.builder.reset();
        xmlStopParser(pass.ctxt);
    }
}

// ---- the builder's handlers, fed with kept events

void start_element(READ_PASS& pass, const xmlChar* local_name, const xmlChar* prefix,
                   const xmlChar* uri, int attribute_count, const xmlChar** attributes) {
    const int line = pass.replay_line;
    // A name with an undeclared prefix is no name of the format; it is refused as one in a
    // namespace is.
    const bool undeclared = prefix != nullptr && uri == nullptr;
    const char* name = undeclared ? qualified(pass.qualified_name, prefix, local_name)
                                  : reinterpret_cast<const char*>(local_name);
    if (!pass.builder) {
        const char* root_name = PGM_COMMON_XML_ENUM_STRING[pass.format->root];
        if (uri != nullptr || undeclared || std::strcmp(name, root_name) != 0)
            return pass.fail_build(TARVEN::fmt_sprintf(
                "line %d: the document element is \"%s\", not \"%s\"", line, name, root_name));
        pass.builder.emplace(*pass.format, pass.lenient, pass.build_error, pass.sink);
    }
    pass.attributes.clear();
    for (int i = 0; i < attribute_count; ++i) {
        const xmlChar* const* a = attributes + 5 * i;  // name, prefix, URI, value, value end
        std::string value(reinterpret_cast<const char*>(a[3]), static_cast<size_t>(a[4] - a[3]));
        // An ampersand reaches a handler as "&#38;", for a tree builder to decode.
        for (size_t at = value.find("&#38;"); at != std::string::npos;
             at = value.find("&#38;", at + 1))
            value.replace(at, 5, "&");
        const bool attribute_undeclared = a[1] != nullptr && a[2] == nullptr;
        pass.attributes.push_back({attribute_undeclared
                                       ? std::string(reinterpret_cast<const char*>(a[1])) + ":" +
                                             reinterpret_cast<const char*>(a[0])
                                       : std::string(reinterpret_cast<const char*>(a[0])),
                                   reinterpret_cast<const char*>(a[2]), std::move(value)});
    }
    if (!pass.builder->start(name, uri != nullptr || undeclared, line, pass.attributes.data(),
                             pass.attributes.size()))
        pass.fail_build(pass.build_error);
}

extern "C" void build_start(void* context, const xmlChar* name, const xmlChar* prefix,
                            const xmlChar* uri, int, const xmlChar**, int attribute_count, int,
                            const xmlChar** attributes) {
    build(context, [&](READ_PASS& pass) {
        start_element(pass, name, prefix, uri, attribute_count, attributes);
    });
}

extern "C" void build_end(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
    build(context, [](READ_PASS& pass) {
        if (!pass.builder->end()) pass.fail_build(pass.build_error);
    });
}

extern "C" void build_text(void* context, const xmlChar* text, int length) {
    build(context, [&](READ_PASS& pass) {
        if (pass.builder &&
            !pass.builder->text(reinterpret_cast<const char*>(text), static_cast<size_t>(length)))
            pass.fail_build(pass.build_error);
    });
}

// ---- the parser's handlers, which keep the events

// Hands every kept event, in order, to one set of handlers.
void feed(READ_PASS& pass, const xmlSAXHandler& sax, void* context) {
    for (const EVENT& event : pass.events) {
        if (pass.exception) return;
        pass.replay_line = event.line;
        switch (event.kind) {
            case EVENT::START: {
                const xmlChar** pointers = pass.pointers.data() + event.first;
                sax.startElementNs(context, event.local_name, event.prefix, event.uri,
                                   event.namespace_count, pointers, event.attribute_count, 0,
                                   pointers + 2 * static_cast<size_t>(event.namespace_count));
                break;
            }
            case EVENT::TEXT:
                sax.characters(context,
                               reinterpret_cast<const xmlChar*>(pass.texts.data()) + event.first,
                               static_cast<int>(event.length));
                break;
            case EVENT::END:
                sax.endElementNs(context, event.local_name, event.prefix, event.uri);
                break;
        }
    }
}

// Hands the kept events on, the whole of them to the schema check and then to the builder, and
// forgets them.
void replay(READ_PASS& pass) {
    // The texts are complete: the values' places become pointers.
    const xmlChar* const texts = reinterpret_cast<const xmlChar*>(pass.texts.data());
    size_t value = 0;
    for (const EVENT& event : pass.events) {
        if (event.kind != EVENT::START) continue;
        const xmlChar** attribute =
            pass.pointers.data() + event.first + 2 * static_cast<size_t>(event.namespace_count);
        for (int i = 0; i < event.attribute_count; ++i, attribute += 5, ++value) {
            attribute[3] = texts + pass.values[value].first;
            attribute[4] = texts + pass.values[value].second;
        }
    }
    if (pass.schema_sax != nullptr) feed(pass, *pass.schema_sax, pass.schema_context);
    if (pass.format != nullptr) feed(pass, *pass.builder_sax, &pass);
    pass.replay_line = 0;
    pass.events.clear();
    pass.pointers.clear();
    pass.values.clear();
    pass.texts.clear();
}

extern "C" void on_start(void* context, const xmlChar* name, const xmlChar* prefix,
                         const xmlChar* uri, int namespace_count, const xmlChar** namespaces,
                         int attribute_count, int, const xmlChar** attributes) {
    READ_PASS& pass = *pass_of(context);
    const int line = xmlSAX2GetLineNumber(pass.ctxt);
    pass.open_lines.push_back(line);
    pass.after_end = false;
    EVENT event;
    event.line = line;
    event.local_name = name;
    event.prefix = prefix;
    event.uri = uri;
    event.first = pass.pointers.size();
    event.namespace_count = namespace_count;
    event.attribute_count = attribute_count;
    pass.pointers.insert(pass.pointers.end(), namespaces, namespaces + 2 * namespace_count);
    for (int i = 0; i < attribute_count; ++i) {
        const xmlChar* const* a = attributes + 5 * i;  // name, prefix, URI, value, value end
        const size_t at = pass.texts.size();
        pass.texts.append(reinterpret_cast<const char*>(a[3]), static_cast<size_t>(a[4] - a[3]));
        pass.values.emplace_back(at, pass.texts.size());
        pass.pointers.insert(pass.pointers.end(), {a[0], a[1], a[2], nullptr, nullptr});
    }
    pass.events.push_back(event);
    // The document element starts the builder at once.
    if (pass.open_lines.size() == 1) replay(pass);
}

extern "C" void on_end(void* context, const xmlChar* name, const xmlChar* prefix,
                       const xmlChar* uri) {
    READ_PASS& pass = *pass_of(context);
    EVENT event;
    event.kind = EVENT::END;
    event.local_name = name;
    event.prefix = prefix;
    event.uri = uri;
    if (!pass.open_lines.empty()) {
        event.line = pass.open_lines.back();
        pass.last_end_at = pass.ctxt->input->cur;
        pass.last_end_line = event.line;
        pass.open_lines.pop_back();
    }
    pass.after_end = true;
    pass.events.push_back(event);
    // A child of the document element, or the document element, is complete.
    if (pass.open_lines.size() <= 1) replay(pass);
}

extern "C" void on_text(void* context, const xmlChar* text, int length) {
    READ_PASS& pass = *pass_of(context);
    // White space after an end tag lies between elements, where neither format holds text:
    // the schema check and the builder would both pass over it, so it is not kept.
    if (pass.after_end &&
        is_blank(reinterpret_cast<const char*>(text), static_cast<size_t>(length)))
        return;
    pass.after_end = false;
    EVENT event;
    event.kind = EVENT::TEXT;
    event.line = pass.message_line();
    event.first = pass.texts.size();
    event.length = static_cast<size_t>(length);
    pass.texts.append(reinterpret_cast<const char*>(text), event.length);
    pass.events.push_back(event);
}

extern "C" void on_doctype(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
    READ_PASS& pass = *pass_of(context);
    if (!pass.doctype) {
        pass.doctype = true;
        pass.reasons->add(xmlSAX2GetLineNumber(pass.ctxt),
                          "document type declarations are not allowed");
    }
    xmlStopParser(pass.ctxt);
}

// A SAX2 handler table of these element and text handlers and no others.
xmlSAXHandler sax_handlers(startElementNsSAX2Func start, endElementNsSAX2Func end,
                           charactersSAXFunc text) {
    xmlSAXHandler handler;
    std::memset(&handler, 0, sizeof handler);
    handler.initialized = XML_SAX2_MAGIC;
    handler.startElementNs = start;
    handler.endElementNs = end;
    handler.characters = text;
    return handler;
}

// Parses `bytes` into `pass`, checking them against `schema` unless it is null; `valid` tells
// the schema's verdict, its reasons in `schema_reasons`. False when not well-formed.
bool parse(SOURCE_FILE& file, const std::string& path, xmlSchemaPtr schema, READ_PASS& pass,
           REASONS& schema_reasons, bool& valid) {
    if (file.empty()) {
        pass.reasons->add(0, "the file is empty");
        return false;
    }
    xmlSAXHandler handler = sax_handlers(on_start, on_end, on_text);
    handler.ignorableWhitespace = on_text;
    handler.internalSubset = on_doctype;
    handler.externalSubset = on_doctype;
    xmlSAXHandler builder = sax_handlers(build_start, build_end, build_text);
    pass.builder_sax = &builder;

    struct VALIDATION {
        xmlSchemaValidCtxtPtr vctxt = nullptr;
        xmlSchemaSAXPlugPtr plug = nullptr;
        ~VALIDATION() {
            if (plug != nullptr) xmlSchemaSAXUnplug(plug);
            if (vctxt != nullptr) xmlSchemaFreeValidCtxt(vctxt);
        }
    } validation;
    if (schema != nullptr) {
        validation.vctxt = xmlSchemaNewValidCtxt(schema);
        if (validation.vctxt == nullptr) throw std::bad_alloc();
        pass.schema_reasons = &schema_reasons;
        xmlSchemaSetValidStructuredErrors(validation.vctxt, collect_schema_error, &pass);
        // Plugged into no handlers, the check's own are handed back, to be fed directly.
        validation.plug =
            xmlSchemaSAXPlug(validation.vctxt, &pass.schema_sax, &pass.schema_context);
        if (validation.plug == nullptr) throw std::bad_alloc();
    }
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (ctxt == nullptr) throw std::bad_alloc();
    xmlSAXHandlerPtr own_sax = ctxt->sax;  // the context frees its own table
    ctxt->sax = &handler;
    ctxt->userData = &pass;
    pass.ctxt = ctxt;
    // libxml2 refuses documents deeper than 256 elements: nothing is allocated in its calls.
    pass.open_lines.reserve(512);
    // The encoding is fixed: a declaration of another one does not make other bytes valid.
    xmlDocPtr doc = xmlCtxtReadIO(ctxt, SOURCE_FILE::read, nullptr, &file, path.c_str(), "UTF-8",
                                  PARSE_OPTIONS);
    if (doc != nullptr) xmlFreeDoc(doc);  // none is built without the tree handlers
    const bool well_formed = ctxt->wellFormed != 0 && !pass.doctype;
    ctxt->sax = own_sax;
    xmlFreeParserCtxt(ctxt);
    pass.ctxt = nullptr;
    if (pass.exception) std::rethrow_exception(pass.exception);
    if (validation.plug != nullptr) {
        xmlSchemaSAXUnplug(validation.plug);
        validation.plug = nullptr;
        valid = xmlSchemaIsValid(validation.vctxt) == 1;
    }
    return well_formed;
}

// Reads `path` in one pass: checked against the schema `xsd` unless it is empty, and built
// into `tree` as a document of `format` unless that is null. False, with the reason in `error`.
bool read_document(const std::string& path, const std::string& xsd, const FORMAT* format,
                   bool lenient, std::unique_ptr<PGM_COMMON_XML_ELEMENT>& tree, std::string& error,
                   PGM_COMMON_XML_CHILD_SINK* sink = nullptr) {
    ensure_libxml();
    std::lock_guard<std::mutex> lock(g_mutex);
    // Before the pass, so that it outlives every element the pass deletes.
    pgm_common_xml_detail::ELEMENT_MEMORY element_memory;
    REASONS reasons;
    ERROR_SCOPE scope(reasons);

    // A schema that cannot be used is told only for a file that can be read and is well-formed.
    REASONS schema_failure;
    xmlSchemaPtr schema = xsd.empty() ? nullptr : get_schema(xsd, schema_failure);
    SOURCE_FILE file;
    std::string read_error;
    if (!file.open(path, read_error)) {
        reasons.add(0, read_error);
        error = reasons.text();
        return false;
    }

    READ_PASS pass;
    pass.reasons = &reasons;
    pass.format = format;
    pass.lenient = lenient;
    pass.sink = sink;
    REASONS schema_reasons;
    bool valid = true;
    const bool well_formed = parse(file, path, schema, pass, schema_reasons, valid);
    if (!file.error().empty()) {
        REASONS read_failure;
        read_failure.add(0, file.error());
        error = read_failure.text();
        return false;
    }
    if (!well_formed) {
        error = reasons.empty() ? std::string("the file is not well-formed XML") : reasons.text();
        return false;
    }
    if (!xsd.empty()) {
        if (schema == nullptr || !valid) {
            reasons.append(schema == nullptr ? schema_failure : schema_reasons);
            error = reasons.empty() ? std::string("the document does not match the schema")
                                    : reasons.text();
            return false;
        }
    }
    if (format == nullptr) return true;
    if (pass.build_failed) {
        error = pass.build_error;
        return false;
    }
    tree = pass.builder->take_root();
    if (pass.builder->counts_broken() && !check_counts(*tree, error)) {
        tree.reset();
        return false;
    }
    return true;
}

// ---- writing ---------------------------------------------------------------------------------

// Text that XML 1.0 can carry: valid UTF-8 without the control characters it forbids.
bool is_xml_text(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
    return xmlCheckUTF8(reinterpret_cast<const xmlChar*>(text.c_str())) != 0;
}

// Required attributes always, so that the schema accepts what is written; others when set
// or when their slot was given another value.
bool is_written(const PGM_COMMON_XML_ELEMENT& element,
                const PGM_COMMON_XML_ATTRIBUTE_INFO& attribute, std::string& text) {
    text = element.get_attribute_text(attribute.get_name());
    return attribute.get_exist() == PGM_XML_EXIST_REQUIRED || attribute.is_set() ||
           text != attribute.get_default_value();
}

xmlNodePtr to_node(xmlDocPtr doc, const PGM_COMMON_XML_ELEMENT& element, std::string& error) {
    xmlNodePtr node = xmlNewDocNode(doc, nullptr, BAD_CAST element.get_tag(), nullptr);
    if (node == nullptr) throw std::bad_alloc();
    for (const auto& attribute : element.get_attributes()) {
        if (PGM_COMMON_XML_ATTRIBUTE_INFO::is_builtin_name(attribute.get_name())) continue;
        std::string text;
        if (!is_written(element, attribute, text)) continue;
        if (!is_xml_text(text)) {
            error = TARVEN::fmt_sprintf(
                "attribute \"%s\" of element \"%s\" holds text that XML cannot carry",
                attribute.get_name(), element.get_tag());
            xmlFreeNode(node);
            return nullptr;
        }
        xmlNewProp(node, BAD_CAST attribute.get_name().c_str(), BAD_CAST text.c_str());
    }
    if (element.get_type() != PGM_XML_TYPE_CONTAINER) {
        const std::string text = element.get_slot_text();
        if (!is_xml_text(text)) {
            error = TARVEN::fmt_sprintf("element \"%s\" holds text that XML cannot carry",
                                        element.get_tag());
            xmlFreeNode(node);
            return nullptr;
        }
        // Added as raw text: the serialiser escapes it.
        if (!text.empty())
            xmlNodeAddContentLen(node, BAD_CAST text.data(), static_cast<int>(text.size()));
    }
    for (const PGM_COMMON_XML_ELEMENT* child : element.get_all_childs()) {
        xmlNodePtr sub = to_node(doc, *child, error);
        if (sub == nullptr) {
            xmlFreeNode(node);
            return nullptr;
        }
        xmlAddChild(node, sub);
    }
    return node;
}

bool serialise(const PGM_COMMON_XML_ELEMENT* root, std::string& out, std::string& error) {
    if (root == nullptr) {
        error = "no document to write";
        return false;
    }
    ensure_libxml();
    DOC doc(xmlNewDoc(BAD_CAST "1.0"));
    if (doc == nullptr) throw std::bad_alloc();
    xmlNodePtr node = to_node(doc.get(), *root, error);
    if (node == nullptr) return false;
    xmlDocSetRootElement(doc.get(), node);
    xmlChar* memory = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(doc.get(), &memory, &size, "UTF-8", 1);
    if (memory == nullptr) {
        error = "the document could not be serialised";
        return false;
    }
    out.assign(reinterpret_cast<const char*>(memory), static_cast<size_t>(size));
    xmlFree(memory);
    return true;
}

}  // namespace

// ---- PGM_COMMON_XML ------------------------------------------------------------------------

PGM_COMMON_XML_CHILD_SINK::~PGM_COMMON_XML_CHILD_SINK() = default;

bool PGM_COMMON_XML::check_xsd(const std::string& xml_file, const std::string& xsd_file,
                               std::string& error, std::string& warning) {
    error.clear();
    warning.clear();
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> unused;
    return read_document(xml_file, xsd_file, nullptr, false, unused, error);
}

PGM_COMMON_XML_ELEMENT* PGM_COMMON_XML::parse_xml(PGM_COMMON_XML_FILE_ENUM kind,
                                                  const std::string& xml_file,
                                                  const std::string& /*xsd_file*/, bool is_golden,
                                                  const std::string& /*reserved1*/,
                                                  const std::string& /*reserved2*/,
                                                  const std::string& /*reserved3*/) {
    const FORMAT* format = format_of(kind);
    if (format == nullptr) {
        t_last_error =
            TARVEN::fmt_sprintf("document kind %d is not supported", static_cast<int>(kind));
        return nullptr;
    }
    // The golden template is trusted without a schema check: attributes it gets wrong keep
    // their defaults for the loader to judge.
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> tree;
    std::string error;
    if (!read_document(xml_file, "", format, is_golden, tree, error)) {
        t_last_error = error;
        return nullptr;
    }
    return tree.release();
}

PGM_COMMON_XML_ELEMENT* PGM_COMMON_XML::read_xml(PGM_COMMON_XML_FILE_ENUM kind,
                                                 const std::string& xml_file,
                                                 const std::string& xsd_file, std::string& error,
                                                 PGM_COMMON_XML_CHILD_SINK* sink) {
    error.clear();
    const FORMAT* format = format_of(kind);
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> tree;
    if (format == nullptr)
        error = TARVEN::fmt_sprintf("document kind %d is not supported", static_cast<int>(kind));
    else
        // Without a schema, a file is read as the trusted golden template is.
        read_document(xml_file, xsd_file, format, xsd_file.empty(), tree, error, sink);
    if (tree == nullptr) t_last_error = error;
    return tree.release();
}

std::string PGM_COMMON_XML::write_xml_string(PGM_COMMON_XML_ELEMENT* root) {
    std::string text;
    std::string error;
    if (!serialise(root, text, error)) {
        t_last_error = error;
        return std::string();
    }
    return text;
}

bool PGM_COMMON_XML::write_xml(PGM_COMMON_XML_ELEMENT* root, const std::string& path) {
    if (HOST_FAULT::take(HOST_FAULT::WRITE_XML)) {
        t_last_error = TARVEN::fmt_sprintf("cannot write %s: injected failure", path);
        return false;
    }
    if (path.empty()) {
        t_last_error = "cannot write a file without a name";
        return false;
    }
    std::string text;
    std::string error;
    if (!serialise(root, text, error)) {
        t_last_error = error;
        return false;
    }

    HOST_FILE::WRITE_FAILURE failure;
    if (!HOST_FILE::replace_file(path, text, 0644, &failure)) {
        const size_t slash = path.find_last_of('/');
        const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
        t_last_error =
            failure.temporary
                ? TARVEN::fmt_sprintf("cannot create a temporary file in %s: %s", dir,
                                      std::strerror(failure.error))
                : TARVEN::fmt_sprintf("cannot write %s: %s", path, std::strerror(failure.error));
        return false;
    }
    return true;
}

std::string PGM_COMMON_XML::last_error() { return t_last_error; }
