// Generates, from one description of the two database formats, everything that must agree
// with it: the tag enumeration and its name table, the element classes of each format and
// each format's schema. Usage: vorn_xmlgen <root>; the files are written below <root> at
// their places in the source tree (only when their content changed).

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "vorn_act_property_table.h"

namespace {

constexpr unsigned ENUM_MAX = 486;
constexpr unsigned UNBOUNDED = 4294967295u;

// Tag values of the host enumeration; every other value below ENUM_MAX is a placeholder.
const std::vector<std::pair<const char*, unsigned>> TAGS = {
    {"SDM", 21},
    {"ADDRESS", 196},
    {"DATA", 298},
    {"WRITE_REG", 342},
    {"READ_REG", 343},
    {"WRITE_DATA", 344},
    {"READ_DATA", 345},
    {"ERASE", 346},
    {"CUSTOM", 347},
    {"GOLDEN_TEMPLATE", 348},
    {"MICRON", 349},
    {"PROGRAMMING_FLOW", 350},
    {"TERMINATION", 351},
    {"ACTION", 352},
    {"EXPECTED_DATA_MASK", 353},
    {"EXPECTED_DATA", 354},
    {"NAME", 355},
    {"DATA_LENGTH", 356},
    {"DIRECTION", 357},
    {"ATTEMPT_COUNT", 358},
    {"ERASE_SIZE", 359},
    {"DELAY", 360},
    {"COMMAND", 361},
    {"PAGE_SIZE", 362},
    {"ADDRESSING_MODE", 363},
    {"ACT_DUMMY_CLOCK_CYCLE", 364},
    {"BUS_WIDTH", 365},
    {"DESCRIPTION", 366},
    {"INITIALIZATION", 367},
    {"PROGRAM", 368},
    {"VERIFY_BLANKCHECK_EXAMINE", 369},
    {"SFL", 370},
    {"CYPRESS", 371},
    {"ISSI", 372},
    {"MACRONIX", 373},
    {"WINBOND", 374},
    {"FLASH", 375},
    {"DEVICE_INFO", 376},
    {"TOTAL_DEVICE_DIE", 377},
    {"DUMMY_CLOCK_CYCLE_X4", 378},
    {"PROG_FLOW_TEMPLATE", 379},
    {"DEVICE_NAME", 380},
    {"DUMMY_CLOCK_CYCLE", 381},
    {"DEVICE_ID", 382},
    {"DEVICE_IO_VOLTAGE", 383},
    {"DEVICE_DENSITY", 384},
    {"USER_TEMPLATE", 385},
    {"TEMPLATE_NAME", 386},
    {"QSPI_FLASH", 387},
    {"SDMMC_FLASH", 388},
};

enum class Kind { CONTAINER, TEXT, UINT };
enum class Slot { UINT, TEXT, ENUM };

struct Child {
    const char* tag;
    unsigned min;
    unsigned max;
    // False when the count is left to the schema and the loader (so that the loader can
    // report a malformed golden template in its own words).
    bool declared = true;
};

struct Attr {
    const char* name;
    Slot slot;
    const char* default_value;
    const char* allowed;  // "A|B", empty when free
    bool required;
};

struct Elem {
    const char* tag;
    Kind kind;
    unsigned exist;  // presence code
    const char* default_value;
    std::vector<Child> children;
    std::vector<Attr> attrs;
};

struct Format {
    const char* upper;  // class-name infix
    const char* lower;  // file-name infix
    const char* title;  // for comments
    const char* root;
    std::vector<Elem> elems;
};

Child one(const char* tag) { return {tag, 1, 1, true}; }
Child opt(const char* tag) { return {tag, 0, 1, true}; }
Child many(const char* tag) { return {tag, 0, UNBOUNDED, true}; }
Child undeclared(Child c) {
    c.declared = false;
    return c;
}
Elem container(const char* tag, std::vector<Child> children, std::vector<Attr> attrs = {}) {
    return {tag, Kind::CONTAINER, 2, "", std::move(children), std::move(attrs)};
}
Elem leaf_text(const char* tag, unsigned exist = 0) { return {tag, Kind::TEXT, exist, "", {}, {}}; }
Elem leaf_uint(const char* tag, std::vector<Attr> attrs = {}) {
    return {tag, Kind::UINT, 0, "0", {}, std::move(attrs)};
}

const Attr VERSION = {"version", Slot::UINT, "1", "", true};

// The action properties of the library's table: the child of ACTION that carries each one and
// how it holds the value. The leaves of ACTION are made from these rows.
enum class Form { TEXT, LINES, NUMBER, MICROSECONDS };
struct Property {
    const char* tag;
    Form form;
};
#define VORN_XMLGEN_PROPERTY(member, type, label, tag, key, form, default_value, rule) \
    {#tag, Form::form},
const Property PROPERTIES[] = {VORN_ACT_PROPERTY_TABLE(VORN_XMLGEN_PROPERTY)};
#undef VORN_XMLGEN_PROPERTY

// Byte lists an action may leave empty (a register write without data, say).
const std::set<std::string> MAY_BE_EMPTY = {"DATA", "EXPECTED_DATA", "EXPECTED_DATA_MASK"};

[[noreturn]] void fail(const std::string& why);

Elem action_leaf(const std::string& tag) {
    const Property* found = nullptr;
    for (const auto& p : PROPERTIES) {
        if (tag != p.tag) continue;
        if (found && found->form != p.form) fail("properties of two forms carried by " + tag);
        found = &p;
    }
    if (!found) fail("ACTION child without a property: " + tag);
    const char* name = found->tag;
    switch (found->form) {
        case Form::NUMBER:
            return leaf_uint(name);
        case Form::MICROSECONDS:
            return leaf_uint(name, {{"unit", Slot::TEXT, "us", "", true}});
        default:
            return leaf_text(name, MAY_BE_EMPTY.count(tag) ? 1 : 0);
    }
}

void check_action_children(const std::vector<Child>& children) {
    for (const auto& p : PROPERTIES) {
        bool held = false;
        for (const auto& c : children) held = held || std::string(c.tag) == p.tag;
        if (!held) fail(std::string("property tag not a child of ACTION: ") + p.tag);
    }
}

Format qspi_format() {
    std::vector<Elem> e;
    e.push_back(container(
        "QSPI_FLASH", {undeclared(opt("GOLDEN_TEMPLATE")), many("FLASH"), many("USER_TEMPLATE")},
        {VERSION}));
    e.push_back(container(
        "GOLDEN_TEMPLATE",
        {undeclared(one("MICRON")), undeclared(one("MACRONIX")), undeclared(one("CYPRESS")),
         undeclared(one("WINBOND")), undeclared(one("ISSI"))}));
    for (const char* vendor : {"MICRON", "MACRONIX", "CYPRESS", "WINBOND", "ISSI"})
        e.push_back(container(vendor, {undeclared(one("PROGRAMMING_FLOW"))}));
    e.push_back(container("FLASH", {one("DEVICE_INFO"), one("PROGRAMMING_FLOW")}));
    e.push_back(container("USER_TEMPLATE", {one("TEMPLATE_NAME"), one("PROGRAMMING_FLOW")}));
    e.push_back(container("DEVICE_INFO",
                          {one("TOTAL_DEVICE_DIE"), one("DUMMY_CLOCK_CYCLE_X4"),
                           one("PROG_FLOW_TEMPLATE"), one("DEVICE_NAME"), one("DUMMY_CLOCK_CYCLE"),
                           one("DEVICE_ID"), one("DEVICE_IO_VOLTAGE"), one("DEVICE_DENSITY")}));
    e.push_back(container("PROGRAMMING_FLOW", {one("SDM"), one("SFL")}));
    for (const char* flow : {"SFL", "SDM"})
        e.push_back(container(flow, {one("TERMINATION"), one("INITIALIZATION"), one("PROGRAM"),
                                     one("ERASE"), one("VERIFY_BLANKCHECK_EXAMINE")}));
    for (const char* op :
         {"INITIALIZATION", "PROGRAM", "ERASE", "VERIFY_BLANKCHECK_EXAMINE", "TERMINATION"})
        e.push_back(container(op, {many("ACTION")}));
    e.push_back(container(
        "ACTION",
        {opt("EXPECTED_DATA_MASK"), opt("EXPECTED_DATA"), opt("NAME"), opt("DATA"),
         opt("DATA_LENGTH"), opt("DIRECTION"), opt("ATTEMPT_COUNT"), opt("ERASE_SIZE"),
         opt("DELAY"), opt("COMMAND"), opt("PAGE_SIZE"), opt("ADDRESS"), opt("ADDRESSING_MODE"),
         opt("ACT_DUMMY_CLOCK_CYCLE"), opt("BUS_WIDTH"), opt("DESCRIPTION")},
        {{"type", Slot::ENUM, "_INVALID__", "WRITE_REG|READ_REG|WRITE_DATA|READ_DATA|ERASE|CUSTOM",
          true}}));
    for (const char* t : {"DEVICE_NAME", "DEVICE_ID", "DEVICE_IO_VOLTAGE", "DEVICE_DENSITY"})
        e.push_back(leaf_text(t));
    for (const char* t : {"TOTAL_DEVICE_DIE", "DUMMY_CLOCK_CYCLE", "DUMMY_CLOCK_CYCLE_X4"})
        e.push_back(leaf_uint(t));
    e.push_back(leaf_text("PROG_FLOW_TEMPLATE"));
    e.push_back(leaf_text("TEMPLATE_NAME"));
    std::vector<Child> action_children;
    for (const auto& elem : e)
        if (std::string(elem.tag) == "ACTION") action_children = elem.children;
    for (const auto& c : action_children) e.push_back(action_leaf(c.tag));
    check_action_children(action_children);
    return {"QSPI", "qspi", "QSPI", "QSPI_FLASH", std::move(e)};
}

Format sdmmc_format() {
    std::vector<Elem> e;
    e.push_back(container("SDMMC_FLASH", {many("FLASH")}, {VERSION}));
    e.push_back(container("FLASH", {one("DEVICE_INFO")}));
    e.push_back(container("DEVICE_INFO",
                          {one("DEVICE_IO_VOLTAGE"), one("DEVICE_DENSITY"), one("DEVICE_NAME")}));
    for (const char* t : {"DEVICE_NAME", "DEVICE_IO_VOLTAGE", "DEVICE_DENSITY"})
        e.push_back(leaf_text(t));
    return {"SDMMC", "sdmmc", "SD/MMC", "SDMMC_FLASH", std::move(e)};
}

[[noreturn]] void fail(const std::string& why) {
    std::cerr << "vorn_xmlgen: " << why << "\n";
    std::exit(2);
}

std::string lower(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string enumerator(const std::string& tag) { return "PGM_COMMON_XML_ENUM_" + tag; }

std::string class_name(const Format& f, const std::string& tag) {
    return std::string("PGM_COMMON_XML_VORN_") + f.upper + "_" + tag;
}

const Elem& find_elem(const Format& f, const std::string& tag) {
    for (const auto& e : f.elems)
        if (tag == e.tag) return e;
    fail(std::string(f.upper) + ": no element " + tag);
}

// Catches table mistakes before they turn into headers or schemas that disagree.
void validate(const Format& f) {
    std::set<std::string> tags;
    for (const auto& t : TAGS) tags.insert(t.first);
    std::set<std::string> seen;
    for (const auto& e : f.elems) {
        if (!tags.count(e.tag)) fail(std::string("unknown tag ") + e.tag);
        if (!seen.insert(e.tag).second) fail(std::string("element twice: ") + e.tag);
        if (e.kind != Kind::CONTAINER && !e.children.empty())
            fail(std::string("leaf with children: ") + e.tag);
        bool unbounded = false;
        for (const auto& c : e.children) {
            find_elem(f, c.tag);
            if (c.max == UNBOUNDED) {
                // The schema puts every unbounded kind into one repeated choice.
                if (c.min != 0) fail(std::string("unbounded child needs minimum 0: ") + c.tag);
                unbounded = true;
            } else if (c.max > 1 || c.min > c.max) {
                fail(std::string("unsupported count of ") + c.tag);
            } else if (unbounded) {
                fail(std::string("bounded child after an unbounded one: ") + c.tag);
            }
        }
    }
    find_elem(f, f.root);
}

// Children before parents, so that every class is complete where a parent casts to it.
void order_classes(const Format& f, const std::string& tag, std::set<std::string>& done,
                   std::vector<const Elem*>& out) {
    if (done.count(tag)) return;
    done.insert(tag);
    const Elem& e = find_elem(f, tag);
    for (const auto& c : e.children) order_classes(f, c.tag, done, out);
    out.push_back(&e);
}

const char* type_code(Kind k) {
    switch (k) {
        case Kind::CONTAINER:
            return "PGM_XML_TYPE_CONTAINER";
        case Kind::TEXT:
            return "PGM_XML_TYPE_STRING";
        case Kind::UINT:
            return "PGM_XML_TYPE_UINT";
    }
    return "";
}

const char* exist_code(unsigned exist) {
    switch (exist) {
        case 0:
            return "PGM_XML_EXIST_REQUIRED";
        case 1:
            return "PGM_XML_EXIST_OPTIONAL";
        default:
            return "PGM_XML_EXIST_NONE";
    }
}

const char* attr_type_code(Slot s) {
    switch (s) {
        case Slot::UINT:
            return "PGM_XML_TYPE_UINT";
        case Slot::TEXT:
            return "PGM_XML_TYPE_STRING";
        case Slot::ENUM:
            return "PGM_XML_TYPE_ENUM";
    }
    return "";
}

const char* attr_slot_type(Slot s) {
    switch (s) {
        case Slot::UINT:
            return "unsigned int";
        case Slot::TEXT:
            return "std::string";
        case Slot::ENUM:
            return "PGM_COMMON_XML_ENUM";
    }
    return "";
}

const char* attr_slot_init(Slot s) {
    switch (s) {
        case Slot::UINT:
            return " = 0";
        case Slot::TEXT:
            return "";
        case Slot::ENUM:
            return " = PGM_COMMON_XML_ENUM__INVALID__";
    }
    return "";
}

// "min, max" of a count-table entry.
std::string counts(const Child& c) {
    std::string hi = c.max == UNBOUNDED ? "PGM_XML_COUNT_UNBOUNDED" : std::to_string(c.max);
    return std::to_string(c.min) + ", " + hi;
}

std::string header(const Format& f) {
    const std::string guard = std::string("H_PGM_COMMON_XML_VORN_") + f.upper + "_AUTO_EXPORT_H";
    const std::string detail = std::string("pgm_common_xml_vorn_") + f.lower + "_detail";
    std::ostringstream o;
    o << "// Element classes of the " << f.title << " flash database format, one per tag.\n"
      << "// Generated by tools/xmlgen from its format table: change the table, not this file.\n"
      << "// clang-format off\n"
      << "#ifndef " << guard << "\n#define " << guard << "\n\n"
      << "#include <string>\n#include <typeinfo>\n#include <vector>\n\n"
      << "#include \"gen_export.h\"\n#include \"msg_export.h\"\n"
      << "#include \"pgm_common_xml_export.h\"\n\n";

    o << "namespace " << detail << " {\n\n"
      << "constexpr const char* FILE_NAME = \"h/pgm_common_xml_vorn_" << f.lower
      << "_auto_export\";\n\n"
      << "[[noreturn]] inline void unsupported_child(const PGM_COMMON_XML_ELEMENT* parent,\n"
      << "                                           const PGM_COMMON_XML_ELEMENT* child, int "
         "line) {\n"
      << "    if (child == nullptr) MSG_INTERNAL_ERROR::report(\"child\", \"VORN\", FILE_NAME, "
         "line);\n"
      << "    MSG_INTERNAL_ERROR::report(\n"
      << "        TARVEN::fmt_sprintf(\"Element \\\"%s\\\" does not support child element "
         "\\\"%s\\\"\",\n"
      << "                            parent->get_tag(), child->get_tag()),\n"
      << "        \"VORN\", FILE_NAME, line);\n"
      << "}\n\n"
      << "// The child as its class, or null. Children are nearly always of the class itself,\n"
      << "// which is told without searching the class hierarchy.\n"
      << "template <typename T>\n"
      << "inline T* as(PGM_COMMON_XML_ELEMENT* child) {\n"
      << "    if (typeid(*child) == typeid(T)) return static_cast<T*>(child);\n"
      << "    return dynamic_cast<T*>(child);\n"
      << "}\n\n"
      << "// Files the child at one end of its list, or drops the entry at that end.\n"
      << "template <typename T>\n"
      << "inline void group(std::vector<T*>& list, T* child, bool remove, bool back,\n"
      << "                  const char* size_condition, int line) {\n"
      << "    if (!remove) {\n"
      << "        if (back)\n"
      << "            list.push_back(child);\n"
      << "        else\n"
      << "            list.insert(list.begin(), child);\n"
      << "        return;\n"
      << "    }\n"
      << "    if (list.empty()) MSG_INTERNAL_ERROR::report(size_condition, \"VORN\", FILE_NAME, "
         "line);\n"
      << "    if (back)\n"
      << "        list.pop_back();\n"
      << "    else\n"
      << "        list.erase(list.begin());\n"
      << "}\n\n"
      << "}  // namespace " << detail << "\n";

    std::vector<const Elem*> ordered;
    std::set<std::string> done;
    order_classes(f, f.root, done, ordered);
    if (ordered.size() != f.elems.size())
        fail(std::string(f.upper) + ": elements unreachable from the root");

    for (const Elem* e : ordered) {
        const std::string cls = class_name(f, e->tag);
        const std::string self = enumerator(e->tag);
        o << "\nclass PGM_API " << cls << " : public PGM_COMMON_XML_ELEMENT {\npublic:\n"
          << "    explicit " << cls << "(\n"
          << "        PGM_COMMON_XML_ENUM sub_class_type = " << self << ")\n"
          << "        : PGM_COMMON_XML_ELEMENT(" << self << ", sub_class_type,\n"
          << "                                 " << type_code(e->kind) << ", "
          << exist_code(e->exist) << ", \"" << e->default_value << "\", \"\", "
          << (e->kind == Kind::CONTAINER ? "nullptr" : "&value") << ") {\n";
        // One description per class, shared by its elements.
        for (const auto& a : e->attrs)
            o << "        static const PGM_COMMON_XML_ATTRIBUTE_DESC " << a.name << "_desc{\""
              << a.name << "\", \"\", \"" << a.default_value << "\", \"" << a.allowed << "\",\n"
              << "            " << attr_type_code(a.slot) << ", "
              << (a.required ? "PGM_XML_EXIST_REQUIRED" : "PGM_XML_EXIST_OPTIONAL") << "};\n"
              << "        add_attribute(" << a.name << "_desc, &" << a.name << ");\n";
        o << "        init_check();\n    }\n"
          << "    ~" << cls << "() override = default;\n\n";

        o << "    bool check_child_count() override {\n";
        bool any_declared = false;
        for (const auto& c : e->children) any_declared = any_declared || c.declared;
        if (any_declared) {
            // One table per class, shared by its elements rather than copied into each.
            o << "        static const PGM_COMMON_XML_COUNT_RULE counts[] = {\n";
            for (const auto& c : e->children)
                if (c.declared)
                    o << "            {" << enumerator(c.tag) << ", " << counts(c) << "},\n";
            o << "        };\n        declare_counts(counts);\n";
        }
        o << "        return PGM_COMMON_XML_ELEMENT::check_child_count();\n    }\n\n";

        o << "    void clear_childs() override {";
        if (e->children.empty()) {
            o << "}\n\n";
        } else {
            o << "\n";
            for (const auto& c : e->children) o << "        " << lower(c.tag) << ".clear();\n";
            o << "    }\n\n";
        }

        if (e->children.empty()) {
            o << "    void group_child(PGM_COMMON_XML_ELEMENT* child, bool, bool) override {\n"
              << "        " << detail << "::unsupported_child(this, child, __LINE__);\n    }\n";
        } else {
            o << "    void group_child(PGM_COMMON_XML_ELEMENT* child, bool remove, bool back) "
                 "override {\n"
              << "        if (child == nullptr)\n"
              << "            " << detail << "::unsupported_child(this, child, __LINE__);\n"
              << "        switch (child->get_class_type()) {\n";
            for (const auto& c : e->children) {
                const std::string list = lower(c.tag);
                o << "            case " << enumerator(c.tag) << ":\n"
                  << "                if (auto* typed = " << detail << "::as<"
                  << class_name(f, c.tag) << ">(child)) {\n"
                  << "                    " << detail << "::group(\n"
                  << "                        " << list << ", typed, remove, back, \"" << list
                  << ".size()\", __LINE__);\n"
                  << "                    break;\n"
                  << "                }\n"
                  << "                " << detail
                  << "::unsupported_child(this, child, __LINE__);\n";
            }
            o << "            default:\n"
              << "                " << detail << "::unsupported_child(this, child, __LINE__);\n"
              << "        }\n"
              << "        PGM_COMMON_XML_ELEMENT::group_child(child, remove, back);\n    }\n";
        }

        o << "\n";
        for (const auto& c : e->children)
            o << "    std::vector<" << class_name(f, c.tag) << "*> " << lower(c.tag) << ";\n";
        if (e->kind == Kind::TEXT) o << "    std::string value;\n";
        if (e->kind == Kind::UINT) o << "    unsigned int value = 0;\n";
        for (const auto& a : e->attrs)
            o << "    " << attr_slot_type(a.slot) << " " << a.name << attr_slot_init(a.slot)
              << ";\n";
        o << "};\n";
    }

    // The parser's view of the format.
    const std::string fn = std::string("pgm_common_xml_vorn_") + f.lower;
    o << "\n// The document element of the format.\n"
      << "constexpr PGM_COMMON_XML_ENUM PGM_COMMON_XML_VORN_" << f.upper
      << "_ROOT = " << enumerator(f.root) << ";\n\n"
      << "// A new element of the format for `tag`, or null when the format has no such element.\n"
      << "inline PGM_COMMON_XML_ELEMENT* " << fn << "_create(PGM_COMMON_XML_ENUM tag) {\n"
      << "    switch (tag) {\n";
    for (const auto& e : f.elems)
        o << "        case " << enumerator(e.tag) << ":\n"
          << "            return new " << class_name(f, e.tag) << "(tag);\n";
    o << "        default:\n            return nullptr;\n    }\n}\n\n"
      << "// Whether an element of kind `parent` may hold one of kind `child`.\n"
      << "inline bool " << fn
      << "_admits(PGM_COMMON_XML_ENUM parent, PGM_COMMON_XML_ENUM child) {\n"
      << "    switch (parent) {\n";
    for (const auto& e : f.elems) {
        if (e.children.empty()) continue;
        o << "        case " << enumerator(e.tag) << ":\n            return ";
        for (size_t i = 0; i < e.children.size(); ++i) {
            if (i) o << " ||\n                   ";
            o << "child == " << enumerator(e.children[i].tag);
        }
        o << ";\n";
    }
    o << "        default:\n            return false;\n    }\n}\n\n"
      << "#endif\n// clang-format on\n";
    return o.str();
}

std::string xsd_type(const std::string& tag) { return "t_" + tag; }

void xsd_attrs(std::ostringstream& o, const Elem& e, const std::string& indent) {
    for (const auto& a : e.attrs) {
        std::string type = a.slot == Slot::UINT ? "xs:unsignedInt" : "xs:string";
        if (a.allowed[0] != '\0') type = "v_" + std::string(e.tag) + "_" + a.name;
        o << indent << "<xs:attribute name=\"" << a.name << "\" type=\"" << type << "\""
          << (a.required ? " use=\"required\"" : "") << "/>\n";
    }
    o << indent << "<xs:attributeGroup ref=\"builtin_attributes\"/>\n";
}

void xsd_child(std::ostringstream& o, const Child& c, const std::string& indent, bool in_choice) {
    o << indent << "<xs:element name=\"" << c.tag << "\" type=\"" << xsd_type(c.tag) << "\"";
    if (!in_choice && c.min != 1) o << " minOccurs=\"" << c.min << "\"";
    o << "/>\n";
}

std::string schema(const Format& f) {
    std::ostringstream o;
    o << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<!-- Schema of the " << f.title << " flash database format.\n"
      << "     Generated by tools/xmlgen from its format table: change the table, not this file.\n"
      << "     Sibling order is free wherever the format allows it. -->\n"
      << "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">\n\n"
      << "  <xs:attributeGroup name=\"builtin_attributes\">\n"
      << "    <xs:attribute name=\"__if_continue__\" type=\"xs:string\"/>\n"
      << "    <xs:attribute name=\"__if_skip__\" type=\"xs:string\"/>\n"
      << "    <xs:attribute name=\"__hidden__\" type=\"xs:string\"/>\n"
      << "  </xs:attributeGroup>\n";

    for (const auto& e : f.elems)
        for (const auto& a : e.attrs) {
            if (a.allowed[0] == '\0') continue;
            o << "\n  <xs:simpleType name=\"v_" << e.tag << "_" << a.name << "\">\n"
              << "    <xs:restriction base=\"xs:string\">\n";
            std::string rest = a.allowed;
            size_t pos;
            while (true) {
                pos = rest.find('|');
                o << "      <xs:enumeration value=\"" << rest.substr(0, pos) << "\"/>\n";
                if (pos == std::string::npos) break;
                rest = rest.substr(pos + 1);
            }
            o << "    </xs:restriction>\n  </xs:simpleType>\n";
        }

    // Only the document element is global, so no inner element can stand as a document.
    o << "\n  <xs:element name=\"" << f.root << "\" type=\"" << xsd_type(f.root) << "\"/>\n";

    for (const auto& e : f.elems) {
        o << "\n  <xs:complexType name=\"" << xsd_type(e.tag) << "\">\n";
        if (e.kind != Kind::CONTAINER) {
            o << "    <xs:simpleContent>\n"
              << "      <xs:extension base=\""
              << (e.kind == Kind::UINT ? "xs:unsignedInt" : "xs:string") << "\">\n";
            xsd_attrs(o, e, "        ");
            o << "      </xs:extension>\n    </xs:simpleContent>\n  </xs:complexType>\n";
            continue;
        }
        std::vector<Child> bounded, unbounded;
        for (const auto& c : e.children) (c.max == UNBOUNDED ? unbounded : bounded).push_back(c);
        if (unbounded.empty()) {
            o << "    <xs:all>\n";
            for (const auto& c : bounded) xsd_child(o, c, "      ", false);
            o << "    </xs:all>\n";
        } else {
            o << "    <xs:sequence>\n";
            for (const auto& c : bounded) xsd_child(o, c, "      ", false);
            o << "      <xs:choice minOccurs=\"0\" maxOccurs=\"unbounded\">\n";
            for (const auto& c : unbounded) xsd_child(o, c, "        ", true);
            o << "      </xs:choice>\n    </xs:sequence>\n";
        }
        xsd_attrs(o, e, "    ");
        o << "  </xs:complexType>\n";
    }
    o << "\n</xs:schema>\n";
    return o.str();
}

std::string enum_header() {
    std::map<unsigned, std::string> names;
    for (const auto& t : TAGS) {
        if (t.second == 0 || t.second >= ENUM_MAX || names.count(t.second))
            fail(std::string("bad value for ") + t.first);
        names[t.second] = t.first;
    }
    std::ostringstream o;
    o << "// Element and attribute-value names of the host XML layer. Generated by tools/xmlgen\n"
      << "// from its tag table: change the table, not this file.\n"
      << "// clang-format off\n"
      << "#ifndef PGM_H_PGM_COMMON_XML_ENUM_H\n#define PGM_H_PGM_COMMON_XML_ENUM_H\n\n"
      << "#include \"pgm_api.h\"\n\n"
      << "enum PGM_COMMON_XML_ENUM {\n"
      << "    PGM_COMMON_XML_ENUM__INVALID__ = 0,\n";
    char buf[64];
    for (unsigned v = 1; v < ENUM_MAX; ++v) {
        auto it = names.find(v);
        if (it != names.end()) {
            o << "    " << enumerator(it->second) << " = " << v << ",\n";
        } else {
            std::snprintf(buf, sizeof buf, "RESERVED_%03u", v);
            o << "    " << enumerator(buf) << " = " << v << ",\n";
        }
    }
    o << "    PGM_COMMON_XML_ENUM__MAX__ = " << ENUM_MAX << "\n};\n\n"
      << "// The text of every member, indexed by its value: the tag written to a file.\n"
      << "extern PGM_API const char* const PGM_COMMON_XML_ENUM_STRING[" << ENUM_MAX + 1 << "];\n\n"
      << "#endif\n// clang-format on\n";
    return o.str();
}

std::string enum_table() {
    std::map<unsigned, std::string> names;
    for (const auto& t : TAGS) names[t.second] = t.first;
    std::ostringstream o;
    o << "// Name table of PGM_COMMON_XML_ENUM. Generated by tools/xmlgen from its tag table:\n"
      << "// change the table, not this file.\n"
      << "// clang-format off\n"
      << "#include \"pgm_common_xml_enum.h\"\n\n"
      << "const char* const PGM_COMMON_XML_ENUM_STRING[" << ENUM_MAX + 1 << "] = {\n"
      << "    \"_INVALID__\",\n";
    char buf[64];
    for (unsigned v = 1; v < ENUM_MAX; ++v) {
        auto it = names.find(v);
        if (it != names.end()) {
            o << "    \"" << it->second << "\",\n";
        } else {
            std::snprintf(buf, sizeof buf, "RESERVED_%03u", v);
            o << "    \"" << buf << "\",\n";
        }
    }
    o << "    \"_MAX__\",\n};\n// clang-format on\n";
    return o.str();
}

void emit(const std::filesystem::path& root, const std::string& relative, const std::string& text) {
    const std::filesystem::path path = root / relative;
    {
        std::ifstream in(path, std::ios::binary);
        if (in) {
            std::ostringstream old;
            old << in.rdbuf();
            if (old.str() == text) return;  // untouched files do not trigger rebuilds
        }
    }
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) fail("cannot write " + path.string());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: vorn_xmlgen <root>\n";
        return 2;
    }
    const std::filesystem::path root = argv[1];
    const Format formats[] = {qspi_format(), sdmmc_format()};
    for (const auto& f : formats) validate(f);

    emit(root, "pgm/h/pgm_common_xml_enum.h", enum_header());
    emit(root, "host/pgm_common_xml_enum.cpp", enum_table());
    for (const auto& f : formats) {
        emit(root, std::string("h/pgm_common_xml_vorn_") + f.lower + "_auto_export.h", header(f));
        emit(root, std::string("data/xsd/vorn_") + f.lower + ".xsd", schema(f));
    }
    return 0;
}
