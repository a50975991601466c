// Host XML layer: the element base of every generated element class and the file operations.
#ifndef PGM_H_PGM_COMMON_XML_EXPORT_H
#define PGM_H_PGM_COMMON_XML_EXPORT_H

#include "pgm_api.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "pgm_common_xml_enum.h"

// Value-type codes.
enum PGM_XML_TYPE : unsigned char {
    PGM_XML_TYPE_CONTAINER = 0,
    PGM_XML_TYPE_BOOL = 1,
    PGM_XML_TYPE_INT = 2,
    PGM_XML_TYPE_UCHAR = 3,
    PGM_XML_TYPE_UINT = 4,
    PGM_XML_TYPE_STRING = 5,
    PGM_XML_TYPE_LONGLONG = 6,
    PGM_XML_TYPE_ULONGLONG = 7,
    PGM_XML_TYPE_DOUBLE = 8,
    PGM_XML_TYPE_ENUM = 9,
    PGM_XML_TYPE_ENUM_LIST = 10,
    PGM_XML_TYPE_INVALID = 11
};

// Presence codes.
enum PGM_XML_EXIST : unsigned char {
    PGM_XML_EXIST_REQUIRED = 0,
    PGM_XML_EXIST_OPTIONAL = 1,
    PGM_XML_EXIST_NONE = 2,
    PGM_XML_EXIST_INVALID = 3
};

// Document kinds understood by parse_xml.
enum PGM_COMMON_XML_FILE_ENUM {
    PGM_COMMON_XML_FILE_NONE = 0,
    PGM_COMMON_XML_FILE_RESERVED = 1,
    PGM_COMMON_XML_FILE_VORN_QSPI = 2,
    PGM_COMMON_XML_FILE_VORN_SDMMC = 3
};

// "No upper bound" in a count declaration.
constexpr unsigned int PGM_XML_COUNT_UNBOUNDED = 4294967295u;

// What an attribute is, apart from its value: one per attribute of an element class, shared
// by every element of that class.
struct PGM_API PGM_COMMON_XML_ATTRIBUTE_DESC {
    std::string name;
    std::string second;
    std::string default_value;
    std::string allowed_values;
    unsigned char type;
    unsigned char exist;
};

// One declared count: children of `kind` number from `min` to `max` (inclusive).
struct PGM_API PGM_COMMON_XML_COUNT_RULE {
    PGM_COMMON_XML_ENUM kind;
    unsigned int min;
    unsigned int max;
};

class PGM_API PGM_COMMON_XML_ATTRIBUTE_INFO {
  public:
    // Built-in names ("__if_continue__", "__if_skip__", "__hidden__") take no slot; every
    // other attribute needs one. Internal errors: "name.size()", "ptr == NULL", "ptr != NULL".
    PGM_COMMON_XML_ATTRIBUTE_INFO(const std::string& name, const std::string& second,
                                  const std::string& default_value,
                                  const std::string& allowed_values, unsigned char type,
                                  unsigned char exist, void* ptr);
    // The same checks, for a description that outlives the attribute (a class's static one).
    PGM_COMMON_XML_ATTRIBUTE_INFO(const PGM_COMMON_XML_ATTRIBUTE_DESC& shared, void* ptr);
    PGM_COMMON_XML_ATTRIBUTE_INFO(const PGM_COMMON_XML_ATTRIBUTE_INFO& other);
    PGM_COMMON_XML_ATTRIBUTE_INFO& operator=(const PGM_COMMON_XML_ATTRIBUTE_INFO& other);
    PGM_COMMON_XML_ATTRIBUTE_INFO(PGM_COMMON_XML_ATTRIBUTE_INFO&&) noexcept = default;
    PGM_COMMON_XML_ATTRIBUTE_INFO& operator=(PGM_COMMON_XML_ATTRIBUTE_INFO&&) noexcept = default;
    ~PGM_COMMON_XML_ATTRIBUTE_INFO();

    const std::string& get_name() const { return m_desc->name; }
    const std::string& get_default_value() const { return m_desc->default_value; }
    // "A|B|C", empty when free.
    const std::string& get_allowed_values() const { return m_desc->allowed_values; }
    unsigned char get_type() const { return m_desc->type; }
    unsigned char get_exist() const { return m_desc->exist; }
    void* get_ptr() const { return m_ptr; }
    // The text last stored (default, parsed or written).
    const std::string& get_value_text() const { return m_value_text; }
    bool is_set() const { return m_is_set; }

    static bool is_builtin_name(const std::string& name);

  private:
    friend class PGM_COMMON_XML_ELEMENT;
    void validate() const;

    const PGM_COMMON_XML_ATTRIBUTE_DESC* m_desc;
    // Set only when the description was given field by field.
    std::unique_ptr<PGM_COMMON_XML_ATTRIBUTE_DESC> m_own_desc;
    void* m_ptr;
    std::string m_value_text;
    bool m_is_set = false;
};

class PGM_API PGM_COMMON_XML_ELEMENT {
  public:
    // Internal errors: "class_type != PGM_COMMON_XML_ENUM__INVALID__ && class_type <=
    // PGM_COMMON_XML_ENUM__MAX__", "type < PGM_XML_TYPE_INVALID",
    // "exist < PGM_XML_EXIST_INVALID". Appends the three built-in attributes. A sub-class
    // type outside the enumeration stands for the class type.
    PGM_COMMON_XML_ELEMENT(PGM_COMMON_XML_ENUM class_type, PGM_COMMON_XML_ENUM sub_class_type,
                           unsigned char type, unsigned char exist,
                           const std::string& default_value, const std::string& second,
                           void* value_ptr);
    // Deletes every child, then the element.
    virtual ~PGM_COMMON_XML_ELEMENT();
    // While a file is read, elements take their memory from the read and give it back to it:
    // a file's elements come and go a device at a time, and the C allocator is slow to hand
    // the same large blocks out again and again. Elsewhere these are plain new and delete.
    static void* operator new(std::size_t size);
    static void operator delete(void* block, std::size_t size) noexcept;
    PGM_COMMON_XML_ELEMENT(const PGM_COMMON_XML_ELEMENT&) = delete;
    PGM_COMMON_XML_ELEMENT& operator=(const PGM_COMMON_XML_ELEMENT&) = delete;

    // Derived classes declare their counts with check_count() and then call this, which
    // checks the children against every declaration. False when a count is out of range.
    virtual bool check_child_count();
    // The first declared count that the children break, as a sentence; empty when none.
    std::string get_count_violation() const;
    // Empties the derived class's typed lists (children are not deleted).
    virtual void clear_childs();
    // Keeps the derived class's typed lists current; the base does nothing.
    virtual void group_child(PGM_COMMON_XML_ELEMENT* child, bool remove, bool back);

    PGM_COMMON_XML_ENUM get_class_type() const { return m_class_type; }
    PGM_COMMON_XML_ENUM get_sub_class_type() const { return m_sub_class_type; }
    unsigned char get_type() const { return m_type; }
    unsigned char get_exist() const { return m_exist; }
    const std::string& get_default_value() const { return m_default_value; }
    // The tag written for this element.
    const char* get_tag() const;

    // Declares an attribute (after the base constructor, before init_check).
    void add_attribute(const std::string& name, const std::string& default_value,
                       const std::string& allowed_values, unsigned char type, unsigned char exist,
                       void* ptr);
    // The same from a description that outlives the element (a class's static one).
    void add_attribute(const PGM_COMMON_XML_ATTRIBUTE_DESC& shared, void* ptr);
    // The built-in attributes first. A pointer or reference into the list stays valid until
    // the element's attributes next change.
    const std::vector<PGM_COMMON_XML_ATTRIBUTE_INFO>& get_attributes() const;
    const PGM_COMMON_XML_ATTRIBUTE_INFO* find_attribute(const std::string& name) const;

    // Ends construction: stores the defaults into the value and attribute slots.
    void init_check();

    // Declares the allowed count of one child kind: {{n}} exactly n, {{lo},{hi}} a range,
    // hi PGM_XML_COUNT_UNBOUNDED for no upper bound.
    void check_count(PGM_COMMON_XML_ENUM kind,
                     const std::vector<std::vector<unsigned int>>& counts);
    // Declares a whole table, as check_count would each entry in turn. The table is shared,
    // not copied, so it must outlive the element (a class's static one).
    void declare_counts(const PGM_COMMON_XML_COUNT_RULE* rules, size_t count);
    template <size_t N>
    void declare_counts(const PGM_COMMON_XML_COUNT_RULE (&rules)[N]) {
        declare_counts(rules, N);
    }

    // Appends `child` (or inserts it before `before`), takes ownership and calls
    // group_child(child, false, true). Null children are ignored. When group_child refuses
    // the child the tree is unchanged and the caller still owns the child.
    void add_child(PGM_COMMON_XML_ELEMENT* child, PGM_COMMON_XML_ELEMENT* before = nullptr);
    // Detaches `child` without deleting it (group_child(child, true, true)); false if absent.
    bool remove_child(PGM_COMMON_XML_ELEMENT* child);
    // Children of one kind in document order; `direct` limits the search to the children
    // themselves (false also searches deeper, depth first).
    unsigned int get_child_count(PGM_COMMON_XML_ENUM kind, bool direct) const;
    std::vector<PGM_COMMON_XML_ELEMENT*> get_childs(PGM_COMMON_XML_ENUM kind, bool direct) const;
    const std::vector<PGM_COMMON_XML_ELEMENT*>& get_all_childs() const { return m_children; }
    PGM_COMMON_XML_ELEMENT* get_parent() const { return m_parent; }

    // Leaf values: the slot of a text leaf, the slot of an unsigned leaf.
    void write_string(const std::string& text);
    void write_value(unsigned int value);
    // The value as text (what is written to, or was read from, the file).
    const std::string& get_value_text() const { return m_value_text; }

    void write_attribute_value(const std::string& name, unsigned int value);
    void write_attribute_string(const std::string& name, const std::string& value);
    void write_attribute_enum(const std::string& name, PGM_COMMON_XML_ENUM value);

    // The text of the value slot (or of the value when there is no slot), as write_xml
    // writes it.
    std::string get_slot_text() const;
    // The text of an attribute's slot, as write_xml writes it; empty when unknown.
    std::string get_attribute_text(const std::string& name) const;

    // Line of the element in the file it was parsed from; 0 when built in memory.
    int get_line() const { return m_line; }
    void set_line(int line) { m_line = line; }

    // Used by the parser: stores text read from a file into the value slot (false when it
    // does not fit the value type) and into an attribute slot (false when not allowed).
    bool read_value_text(const std::string& text);
    bool read_attribute_text(const std::string& name, const std::string& text);

  private:
    using COUNT_RULE = PGM_COMMON_XML_COUNT_RULE;

    void declare_count(const COUNT_RULE& rule);
    // The first declared count the children break; false when none.
    bool find_count_violation(const COUNT_RULE*& rule, unsigned int& count) const;
    // Gives the element its own attribute list before one of them changes.
    std::vector<PGM_COMMON_XML_ATTRIBUTE_INFO>& own_attributes();

    PGM_COMMON_XML_ENUM m_class_type;
    PGM_COMMON_XML_ENUM m_sub_class_type;
    unsigned char m_type;
    unsigned char m_exist;
    std::string m_default_value;
    std::string m_second;
    void* m_value_ptr;
    std::string m_value_text;
    // Empty while the element has only the built-in attributes, untouched: those are shared.
    std::vector<PGM_COMMON_XML_ATTRIBUTE_INFO> m_attributes;
    // Either a shared table (declare_counts) or the element's own declarations.
    const COUNT_RULE* m_shared_rules = nullptr;
    size_t m_shared_rule_count = 0;
    std::vector<COUNT_RULE> m_count_rules;
    std::vector<PGM_COMMON_XML_ELEMENT*> m_children;
    PGM_COMMON_XML_ELEMENT* m_parent = nullptr;
    int m_line = 0;
};

// Takes the children of a document's element from read_xml one at a time, as each is
// complete, so that a large file never lives whole in memory.
class PGM_API PGM_COMMON_XML_CHILD_SINK {
  public:
    virtual ~PGM_COMMON_XML_CHILD_SINK();
    // Takes ownership of `child`, which has no parent. False: the rest of the document is
    // checked, not built.
    virtual bool take_child(PGM_COMMON_XML_ELEMENT* child) = 0;
};

class PGM_API PGM_COMMON_XML {
  public:
    // The largest file check_xsd, parse_xml and read_xml read; a larger one is refused with a
    // reason.
    static constexpr long long MAX_FILE_SIZE = 16LL * 1024 * 1024;

    // Validates `xml_file` against the schema `xsd_file`. Returns true when valid; otherwise
    // `error` (or `warning`) holds the reason, with line numbers where there are any. Never
    // reads anything but the two files.
    static bool check_xsd(const std::string& xml_file, const std::string& xsd_file,
                          std::string& error, std::string& warning);
    // Parses a document of `kind` into a tree of that format's element classes, without the
    // schema; the caller owns the root. Null when the file cannot be read, is not of that
    // format or breaks a count rule (last_error() tells why).
    static PGM_COMMON_XML_ELEMENT* parse_xml(PGM_COMMON_XML_FILE_ENUM kind,
                                             const std::string& xml_file,
                                             const std::string& xsd_file, bool is_golden,
                                             const std::string& reserved1,
                                             const std::string& reserved2,
                                             const std::string& reserved3);
    // What a loader calls: check_xsd and parse_xml in one pass over the file. Null, with the
    // reason in `error` (and last_error()), when either would refuse it; the reason is
    // check_xsd's when the schema refuses it. An empty `xsd_file` reads it as a golden template.
    // With a sink, the root's children go to the sink as they are read, and the root comes back
    // without them; a sink may so have taken children of a file that is then refused.
    static PGM_COMMON_XML_ELEMENT* read_xml(PGM_COMMON_XML_FILE_ENUM kind,
                                            const std::string& xml_file,
                                            const std::string& xsd_file, std::string& error,
                                            PGM_COMMON_XML_CHILD_SINK* sink = nullptr);
    // Writes the tree as UTF-8, indented, atomically (a temporary file in the same folder,
    // renamed into place) with mode 0644. False when it cannot be written. Unsigned values
    // are decimal; required attributes are always written, optional ones when set; the
    // built-in attributes never.
    static bool write_xml(PGM_COMMON_XML_ELEMENT* root, const std::string& path);
    // Serialises the tree to a string, as write_xml would write it.
    static std::string write_xml_string(PGM_COMMON_XML_ELEMENT* root);
    // The name of the document element of `xml_file` ("QSPI_FLASH"), read from the start of the
    // file alone; empty when there is none there or the file cannot be read.
    static std::string document_element(const std::string& xml_file);
    // The reason of the last failed parse_xml, read_xml or write_xml.
    static std::string last_error();
};

#endif
