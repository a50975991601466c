// Element base of the generated element classes: attribute descriptions, value slots, count
// declarations and the child list.
#include <algorithm>
#include <bitset>
#include <string>
#include <string_view>
#include <unordered_map>

#include <sanitizer/asan_interface.h>

#include "gen_export.h"
#include "msg_export.h"
#include "pgm_common_xml_export.h"
#include "pgm_common_xml_internal.h"

namespace {

constexpr const char* MODULE = "PGM";
constexpr const char* FILE_NAME = "host/pgm_common_xml";

void check(bool ok, const char* condition, int line) {
    if (!ok) MSG_INTERNAL_ERROR::report(condition, MODULE, FILE_NAME, line);
}

constexpr std::string_view BUILTIN_NAMES[] = {"__if_continue__", "__if_skip__", "__hidden__"};

bool is_in_enum(int value) { return value > 0 && value <= PGM_COMMON_XML_ENUM__MAX__; }

bool is_xml_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// "A|B|C" holds `text` as one of its entries.
bool is_allowed(const std::string& allowed, const std::string& text) {
    size_t start = 0;
    while (true) {
        size_t end = allowed.find('|', start);
        size_t len = (end == std::string::npos ? allowed.size() : end) - start;
        if (allowed.compare(start, len, text) == 0) return true;
        if (end == std::string::npos) return false;
        start = end + 1;
    }
}

std::string allowed_counts(unsigned int min, unsigned int max) {
    if (min == max) return TARVEN::fmt_sprintf("exactly %u", min);
    if (max == PGM_XML_COUNT_UNBOUNDED) return TARVEN::fmt_sprintf("at least %u", min);
    return TARVEN::fmt_sprintf("%u to %u", min, max);
}

}  // namespace

namespace pgm_common_xml_detail {

bool find_tag(std::string_view name, PGM_COMMON_XML_ENUM& tag) {
    static const std::unordered_map<std::string_view, PGM_COMMON_XML_ENUM> table = [] {
        std::unordered_map<std::string_view, PGM_COMMON_XML_ENUM> t;
        t.reserve(PGM_COMMON_XML_ENUM__MAX__ + 1);
        for (int i = 0; i <= PGM_COMMON_XML_ENUM__MAX__; ++i)
            t.emplace(PGM_COMMON_XML_ENUM_STRING[i], static_cast<PGM_COMMON_XML_ENUM>(i));
        return t;
    }();
    auto it = table.find(name);
    if (it == table.end()) return false;
    tag = it->second;
    return true;
}

bool parse_unsigned(std::string_view text, unsigned int& value) {
    while (!text.empty() && is_xml_space(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_xml_space(text.back())) text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return false;
    unsigned long long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<unsigned>(c - '0');
        if (v > 4294967295ull) return false;
    }
    if (negative && v != 0) return false;
    value = static_cast<unsigned int>(v);
    return true;
}

}  // namespace pgm_common_xml_detail

// ---- attribute descriptions ----------------------------------------------------------------

PGM_COMMON_XML_ATTRIBUTE_INFO::PGM_COMMON_XML_ATTRIBUTE_INFO(
    const std::string& name, const std::string& second, const std::string& default_value,
    const std::string& allowed_values, unsigned char type, unsigned char exist, void* ptr)
    : m_desc(nullptr),
      m_own_desc(new PGM_COMMON_XML_ATTRIBUTE_DESC{name, second, default_value, allowed_values,
                                                   type, exist}),
      m_ptr(ptr),
      m_value_text(default_value) {
    m_desc = m_own_desc.get();
    validate();
}

PGM_COMMON_XML_ATTRIBUTE_INFO::PGM_COMMON_XML_ATTRIBUTE_INFO(
    const PGM_COMMON_XML_ATTRIBUTE_DESC& shared, void* ptr)
    : m_desc(&shared), m_ptr(ptr), m_value_text(shared.default_value) {
    validate();
}

PGM_COMMON_XML_ATTRIBUTE_INFO::PGM_COMMON_XML_ATTRIBUTE_INFO(
    const PGM_COMMON_XML_ATTRIBUTE_INFO& other)
    : m_desc(other.m_desc),
      m_own_desc(other.m_own_desc ? new PGM_COMMON_XML_ATTRIBUTE_DESC(*other.m_own_desc) : nullptr),
      m_ptr(other.m_ptr),
      m_value_text(other.m_value_text),
      m_is_set(other.m_is_set) {
    if (m_own_desc) m_desc = m_own_desc.get();
}

PGM_COMMON_XML_ATTRIBUTE_INFO& PGM_COMMON_XML_ATTRIBUTE_INFO::operator=(
    const PGM_COMMON_XML_ATTRIBUTE_INFO& other) {
    if (this != &other) *this = PGM_COMMON_XML_ATTRIBUTE_INFO(other);
    return *this;
}

PGM_COMMON_XML_ATTRIBUTE_INFO::~PGM_COMMON_XML_ATTRIBUTE_INFO() = default;

void PGM_COMMON_XML_ATTRIBUTE_INFO::validate() const {
    check(!m_desc->name.empty(), "name.size()", __LINE__);
    if (is_builtin_name(m_desc->name)) {
        check(m_ptr == nullptr, "ptr == NULL", __LINE__);
    } else {
        check(m_ptr != nullptr, "ptr != NULL", __LINE__);
        // The slot's C++ type follows from the value type; only these three have one.
        const unsigned char type = m_desc->type;
        check(type == PGM_XML_TYPE_UINT || type == PGM_XML_TYPE_STRING || type == PGM_XML_TYPE_ENUM,
              "type == PGM_XML_TYPE_UINT || type == PGM_XML_TYPE_STRING || type == "
              "PGM_XML_TYPE_ENUM",
              __LINE__);
    }
}

bool PGM_COMMON_XML_ATTRIBUTE_INFO::is_builtin_name(const std::string& name) {
    for (std::string_view builtin : BUILTIN_NAMES)
        if (name == builtin) return true;
    return false;
}

namespace {

// The built-in attributes of an element nobody has given a value to. Shared by every such
// element, and never destroyed, so that elements outliving static destruction stay sound.
const std::vector<PGM_COMMON_XML_ATTRIBUTE_INFO>& builtin_attributes() {
    struct BUILTINS {
        std::vector<PGM_COMMON_XML_ATTRIBUTE_DESC> descs;
        std::vector<PGM_COMMON_XML_ATTRIBUTE_INFO> attributes;
    };
    static const BUILTINS* const builtins = [] {
        auto* made = new BUILTINS;
        for (std::string_view builtin : BUILTIN_NAMES)
            made->descs.push_back(
                {std::string(builtin), "", "", "", PGM_XML_TYPE_STRING, PGM_XML_EXIST_OPTIONAL});
        made->attributes.reserve(made->descs.size());
        for (const auto& desc : made->descs) made->attributes.emplace_back(desc, nullptr);
        return made;
    }();
    return builtins->attributes;
}

}  // namespace

// ---- the memory of elements ------------------------------------------------------------------

namespace {
thread_local pgm_common_xml_detail::ELEMENT_MEMORY* t_element_memory = nullptr;
}  // namespace

namespace pgm_common_xml_detail {

ELEMENT_MEMORY::ELEMENT_MEMORY() : m_outer(t_element_memory) { t_element_memory = this; }

ELEMENT_MEMORY::~ELEMENT_MEMORY() {
    t_element_memory = m_outer;
    for (size_t slot = 0; slot <= MAX_SIZE / 8; ++slot)
        for (void* block : m_blocks[slot]) {
            ASAN_UNPOISON_MEMORY_REGION(block, slot * 8);
            ::operator delete(block);
        }
}

ELEMENT_MEMORY* ELEMENT_MEMORY::current() { return t_element_memory; }

void* ELEMENT_MEMORY::take(std::size_t size) {
    if (size > MAX_SIZE || size % 8 != 0 || m_blocks[size / 8].empty()) return nullptr;
    void* block = m_blocks[size / 8].back();
    m_blocks[size / 8].pop_back();
    ASAN_UNPOISON_MEMORY_REGION(block, size);
    return block;
}

bool ELEMENT_MEMORY::keep(void* block, std::size_t size) {
    if (size > MAX_SIZE || size % 8 != 0) return false;
    m_blocks[size / 8].push_back(block);
    // A kept block is as dead as a freed one to the address sanitizer.
    ASAN_POISON_MEMORY_REGION(block, size);
    return true;
}

}  // namespace pgm_common_xml_detail

void* PGM_COMMON_XML_ELEMENT::operator new(std::size_t size) {
    if (auto* memory = pgm_common_xml_detail::ELEMENT_MEMORY::current())
        if (void* block = memory->take(size)) return block;
    return ::operator new(size);
}

void PGM_COMMON_XML_ELEMENT::operator delete(void* block, std::size_t size) noexcept {
    if (block == nullptr) return;
    auto* memory = pgm_common_xml_detail::ELEMENT_MEMORY::current();
    try {
        if (memory != nullptr && memory->keep(block, size)) return;
    } catch (const std::bad_alloc&) {
        // Not kept: freed at once.
    }
    ::operator delete(block);
}

// ---- elements -------------------------------------------------------------------------------

PGM_COMMON_XML_ELEMENT::PGM_COMMON_XML_ELEMENT(PGM_COMMON_XML_ENUM class_type,
                                               PGM_COMMON_XML_ENUM sub_class_type,
                                               unsigned char type, unsigned char exist,
                                               const std::string& default_value,
                                               const std::string& second, void* value_ptr)
    : m_class_type(class_type),
      m_sub_class_type(is_in_enum(sub_class_type) ? sub_class_type : class_type),
      m_type(type),
      m_exist(exist),
      m_default_value(default_value),
      m_second(second),
      m_value_ptr(value_ptr) {
    check(is_in_enum(class_type),
          "class_type != PGM_COMMON_XML_ENUM__INVALID__ && class_type <= "
          "PGM_COMMON_XML_ENUM__MAX__",
          __LINE__);
    check(type < PGM_XML_TYPE_INVALID, "type < PGM_XML_TYPE_INVALID", __LINE__);
    check(exist < PGM_XML_EXIST_INVALID, "exist < PGM_XML_EXIST_INVALID", __LINE__);
}

PGM_COMMON_XML_ELEMENT::~PGM_COMMON_XML_ELEMENT() {
    for (PGM_COMMON_XML_ELEMENT* child : m_children) delete child;
}

const char* PGM_COMMON_XML_ELEMENT::get_tag() const {
    return PGM_COMMON_XML_ENUM_STRING[m_sub_class_type];
}

const std::vector<PGM_COMMON_XML_ATTRIBUTE_INFO>& PGM_COMMON_XML_ELEMENT::get_attributes() const {
    return m_attributes.empty() ? builtin_attributes() : m_attributes;
}

std::vector<PGM_COMMON_XML_ATTRIBUTE_INFO>& PGM_COMMON_XML_ELEMENT::own_attributes() {
    if (m_attributes.empty()) {
        const auto& builtins = builtin_attributes();
        m_attributes.reserve(builtins.size() + 1);
        m_attributes.insert(m_attributes.end(), builtins.begin(), builtins.end());
    }
    return m_attributes;
}

void PGM_COMMON_XML_ELEMENT::add_attribute(const std::string& name,
                                           const std::string& default_value,
                                           const std::string& allowed_values, unsigned char type,
                                           unsigned char exist, void* ptr) {
    check(find_attribute(name) == nullptr, "find_attribute(name) == NULL", __LINE__);
    own_attributes().emplace_back(name, "", default_value, allowed_values, type, exist, ptr);
}

void PGM_COMMON_XML_ELEMENT::add_attribute(const PGM_COMMON_XML_ATTRIBUTE_DESC& shared, void* ptr) {
    check(find_attribute(shared.name) == nullptr, "find_attribute(name) == NULL", __LINE__);
    own_attributes().emplace_back(shared, ptr);
}

const PGM_COMMON_XML_ATTRIBUTE_INFO* PGM_COMMON_XML_ELEMENT::find_attribute(
    const std::string& name) const {
    for (const auto& attribute : get_attributes())
        if (attribute.get_name() == name) return &attribute;
    return nullptr;
}

namespace {

// Stores `text` into the attribute's slot; false (nothing changed) when it does not fit.
bool store_attribute(void* slot, unsigned char type, const std::string& allowed,
                     const std::string& text, std::string& stored_text) {
    if (!allowed.empty() && !is_allowed(allowed, text)) return false;
    if (slot == nullptr) {
        stored_text = text;
        return true;
    }
    switch (type) {
        case PGM_XML_TYPE_UINT: {
            unsigned int value = 0;
            if (!pgm_common_xml_detail::parse_unsigned(text, value)) return false;
            *static_cast<unsigned int*>(slot) = value;
            stored_text = std::to_string(value);
            return true;
        }
        case PGM_XML_TYPE_STRING:
            *static_cast<std::string*>(slot) = text;
            stored_text = text;
            return true;
        case PGM_XML_TYPE_ENUM: {
            PGM_COMMON_XML_ENUM tag = PGM_COMMON_XML_ENUM__INVALID__;
            if (!pgm_common_xml_detail::find_tag(text, tag)) return false;
            *static_cast<PGM_COMMON_XML_ENUM*>(slot) = tag;
            stored_text = text;
            return true;
        }
        default:
            return false;
    }
}

// Every element of a document declares its table once; a table is a few dozen kinds.
bool kinds_are_distinct(const PGM_COMMON_XML_COUNT_RULE* rules, size_t count) {
    std::bitset<PGM_COMMON_XML_ENUM__MAX__ + 1> seen;
    for (size_t i = 0; i < count; ++i) {
        const int kind = static_cast<int>(rules[i].kind);
        if (kind < 0 || kind > PGM_COMMON_XML_ENUM__MAX__) {
            // Outside the enumeration: compared the long way.
            for (size_t j = 0; j < count; ++j)
                if (j != i && rules[j].kind == rules[i].kind) return false;
            continue;
        }
        if (seen.test(static_cast<size_t>(kind))) return false;
        seen.set(static_cast<size_t>(kind));
    }
    return true;
}

}  // namespace

void PGM_COMMON_XML_ELEMENT::init_check() {
    check(m_value_ptr == nullptr || m_type == PGM_XML_TYPE_UINT || m_type == PGM_XML_TYPE_STRING,
          "m_value_ptr == NULL || m_type == PGM_XML_TYPE_UINT || m_type == PGM_XML_TYPE_STRING",
          __LINE__);
    if (m_type == PGM_XML_TYPE_CONTAINER) {
        m_value_text.clear();
    } else {
        check(read_value_text(m_default_value), "read_value_text(m_default_value)", __LINE__);
    }
    // Shared built-ins (m_attributes empty) already hold their defaults.
    for (auto& attribute : m_attributes) {
        const std::string& default_value = attribute.get_default_value();
        if (attribute.m_ptr != nullptr) {
            // The allowed list need not hold the default ("_INVALID__" for "no type yet").
            check(store_attribute(attribute.m_ptr, attribute.get_type(), "", default_value,
                                  attribute.m_value_text),
                  "store_attribute(attribute.m_default_value)", __LINE__);
        }
        attribute.m_value_text = default_value;
        attribute.m_is_set = false;
    }
}

void PGM_COMMON_XML_ELEMENT::check_count(PGM_COMMON_XML_ENUM kind,
                                         const std::vector<std::vector<unsigned int>>& counts) {
    check(counts.size() == 1 || counts.size() == 2, "counts.size() == 1 || counts.size() == 2",
          __LINE__);
    for (const auto& bound : counts) check(bound.size() == 1, "counts[i].size() == 1", __LINE__);
    COUNT_RULE rule{kind, counts.front().front(), counts.back().front()};
    check(rule.min <= rule.max, "counts.front() <= counts.back()", __LINE__);
    declare_count(rule);
}

void PGM_COMMON_XML_ELEMENT::declare_counts(const PGM_COMMON_XML_COUNT_RULE* rules, size_t count) {
    // Generated classes declare the same static table on every check: nothing to do again.
    if (rules == m_shared_rules && count == m_shared_rule_count) return;
    for (size_t i = 0; i < count; ++i)
        check(rules[i].min <= rules[i].max, "counts.front() <= counts.back()", __LINE__);
    if (kinds_are_distinct(rules, count) && m_shared_rules == nullptr && m_count_rules.empty()) {
        m_shared_rules = rules;
        m_shared_rule_count = count;
        return;
    }
    for (size_t i = 0; i < count; ++i) declare_count(rules[i]);
}

void PGM_COMMON_XML_ELEMENT::declare_count(const COUNT_RULE& rule) {
    if (m_shared_rules != nullptr) {
        m_count_rules.assign(m_shared_rules, m_shared_rules + m_shared_rule_count);
        m_shared_rules = nullptr;
        m_shared_rule_count = 0;
    }
    for (auto& existing : m_count_rules) {
        if (existing.kind == rule.kind) {
            existing = rule;  // repeated checks redeclare rather than pile up
            return;
        }
    }
    if (m_count_rules.empty()) m_count_rules.reserve(8);
    m_count_rules.push_back(rule);
}

bool PGM_COMMON_XML_ELEMENT::find_count_violation(const COUNT_RULE*& rule,
                                                  unsigned int& count) const {
    const COUNT_RULE* rules = m_shared_rules != nullptr ? m_shared_rules : m_count_rules.data();
    const size_t n = m_shared_rules != nullptr ? m_shared_rule_count : m_count_rules.size();
    if (n == 0) return false;
    // One pass over the children: parsing checks every element of a document.
    constexpr size_t ON_STACK = 32;
    unsigned int stack_counts[ON_STACK] = {};
    std::vector<unsigned int> heap_counts;
    unsigned int* counts = stack_counts;
    if (n > ON_STACK) {
        heap_counts.assign(n, 0);
        counts = heap_counts.data();
    }
    for (const PGM_COMMON_XML_ELEMENT* child : m_children) {
        for (size_t i = 0; i < n; ++i) {
            if (rules[i].kind == child->m_sub_class_type) {
                ++counts[i];
                break;
            }
        }
    }
    for (size_t i = 0; i < n; ++i) {
        if (counts[i] < rules[i].min || counts[i] > rules[i].max) {
            rule = &rules[i];
            count = counts[i];
            return true;
        }
    }
    return false;
}

bool PGM_COMMON_XML_ELEMENT::check_child_count() {
    const COUNT_RULE* rule = nullptr;
    unsigned int count = 0;
    return !find_count_violation(rule, count);
}

std::string PGM_COMMON_XML_ELEMENT::get_count_violation() const {
    const COUNT_RULE* rule = nullptr;
    unsigned int count = 0;
    if (!find_count_violation(rule, count)) return std::string();
    return TARVEN::fmt_sprintf("element \"%s\" holds %u \"%s\", allowed %s", get_tag(), count,
                               PGM_COMMON_XML_ENUM_STRING[rule->kind],
                               allowed_counts(rule->min, rule->max));
}

void PGM_COMMON_XML_ELEMENT::clear_childs() {}

void PGM_COMMON_XML_ELEMENT::group_child(PGM_COMMON_XML_ELEMENT*, bool, bool) {}

void PGM_COMMON_XML_ELEMENT::add_child(PGM_COMMON_XML_ELEMENT* child,
                                       PGM_COMMON_XML_ELEMENT* before) {
    if (child == nullptr) return;
    check(child->m_parent == nullptr, "child->get_parent() == NULL", __LINE__);
    for (const PGM_COMMON_XML_ELEMENT* up = this; up != nullptr; up = up->m_parent)
        check(up != child, "child is not this element or one of its ancestors", __LINE__);
    size_t index = m_children.size();
    if (before != nullptr) {
        auto position = std::find(m_children.begin(), m_children.end(), before);
        check(position != m_children.end(), "before == NULL || before->get_parent() == this",
              __LINE__);
        index = static_cast<size_t>(position - m_children.begin());
    }

    // Room first, so that nothing can fail between filing the child and storing it; grown
    // geometrically, as one more slot at a time would copy the list on every child.
    if (m_children.size() == m_children.capacity())
        m_children.reserve(m_children.empty() ? 4 : 2 * m_children.size());
    if (index == m_children.size()) {
        group_child(child, false, true);
        m_children.push_back(child);
    } else {
        // The typed lists follow document order, so an insertion refiles every child.
        m_children.insert(m_children.begin() + static_cast<std::ptrdiff_t>(index), child);
        clear_childs();
        try {
            for (PGM_COMMON_XML_ELEMENT* c : m_children) group_child(c, false, true);
        } catch (...) {
            m_children.erase(m_children.begin() + static_cast<std::ptrdiff_t>(index));
            clear_childs();
            for (PGM_COMMON_XML_ELEMENT* c : m_children) group_child(c, false, true);
            throw;
        }
    }
    child->m_parent = this;
}

bool PGM_COMMON_XML_ELEMENT::remove_child(PGM_COMMON_XML_ELEMENT* child) {
    auto position = std::find(m_children.begin(), m_children.end(), child);
    if (child == nullptr || position == m_children.end()) return false;

    // group_child drops the entry at one end of the kind's list; pick the end that holds
    // this child, or refile everything when it sits in the middle.
    const PGM_COMMON_XML_ENUM kind = child->get_class_type();
    bool first = true, last = true;
    for (auto it = m_children.begin(); it != m_children.end(); ++it) {
        if (it == position || (*it)->get_class_type() != kind) continue;
        (it < position ? first : last) = false;
    }
    if (last || first) {
        group_child(child, true, last);
        m_children.erase(position);
    } else {
        m_children.erase(position);
        clear_childs();
        for (PGM_COMMON_XML_ELEMENT* c : m_children) group_child(c, false, true);
    }
    child->m_parent = nullptr;
    return true;
}

unsigned int PGM_COMMON_XML_ELEMENT::get_child_count(PGM_COMMON_XML_ENUM kind, bool direct) const {
    unsigned int count = 0;
    for (const PGM_COMMON_XML_ELEMENT* child : m_children) {
        if (child->m_sub_class_type == kind) ++count;
        if (!direct) count += child->get_child_count(kind, false);
    }
    return count;
}

std::vector<PGM_COMMON_XML_ELEMENT*> PGM_COMMON_XML_ELEMENT::get_childs(PGM_COMMON_XML_ENUM kind,
                                                                        bool direct) const {
    std::vector<PGM_COMMON_XML_ELEMENT*> out;
    // Counted first: one allocation, where growing would take several for a handful.
    if (direct) out.reserve(get_child_count(kind, true));
    for (PGM_COMMON_XML_ELEMENT* child : m_children) {
        if (child->m_sub_class_type == kind) out.push_back(child);
        if (!direct) {
            std::vector<PGM_COMMON_XML_ELEMENT*> deeper = child->get_childs(kind, false);
            out.insert(out.end(), deeper.begin(), deeper.end());
        }
    }
    return out;
}

void PGM_COMMON_XML_ELEMENT::write_string(const std::string& text) {
    check(m_type == PGM_XML_TYPE_STRING, "m_type == PGM_XML_TYPE_STRING", __LINE__);
    if (m_value_ptr != nullptr) *static_cast<std::string*>(m_value_ptr) = text;
    m_value_text = text;
}

void PGM_COMMON_XML_ELEMENT::write_value(unsigned int value) {
    check(m_type == PGM_XML_TYPE_UINT, "m_type == PGM_XML_TYPE_UINT", __LINE__);
    if (m_value_ptr != nullptr) *static_cast<unsigned int*>(m_value_ptr) = value;
    m_value_text = std::to_string(value);
}

bool PGM_COMMON_XML_ELEMENT::read_value_text(const std::string& text) {
    switch (m_type) {
        case PGM_XML_TYPE_CONTAINER:
            return false;
        case PGM_XML_TYPE_UINT: {
            unsigned int value = 0;
            if (!pgm_common_xml_detail::parse_unsigned(text, value)) return false;
            if (m_value_ptr != nullptr) *static_cast<unsigned int*>(m_value_ptr) = value;
            m_value_text = std::to_string(value);
            return true;
        }
        case PGM_XML_TYPE_STRING:
            if (m_value_ptr != nullptr) *static_cast<std::string*>(m_value_ptr) = text;
            m_value_text = text;
            return true;
        default:
            // Other value types carry no slot: the text is the value.
            m_value_text = text;
            return true;
    }
}

bool PGM_COMMON_XML_ELEMENT::read_attribute_text(const std::string& name, const std::string& text) {
    const PGM_COMMON_XML_ATTRIBUTE_INFO* found = find_attribute(name);
    if (found == nullptr) return false;
    const size_t index = static_cast<size_t>(found - get_attributes().data());
    PGM_COMMON_XML_ATTRIBUTE_INFO& attribute = own_attributes()[index];
    if (!store_attribute(attribute.m_ptr, attribute.get_type(), attribute.get_allowed_values(),
                         text, attribute.m_value_text))
        return false;
    attribute.m_is_set = true;
    return true;
}

void PGM_COMMON_XML_ELEMENT::write_attribute_string(const std::string& name,
                                                    const std::string& value) {
    if (find_attribute(name) == nullptr)
        MSG_INTERNAL_ERROR::report(
            TARVEN::fmt_sprintf("Element \"%s\" has no attribute \"%s\"", get_tag(), name), MODULE,
            FILE_NAME, __LINE__);
    if (!read_attribute_text(name, value))
        MSG_INTERNAL_ERROR::report(
            TARVEN::fmt_sprintf("Value \"%s\" does not fit attribute \"%s\" of element \"%s\"",
                                value, name, get_tag()),
            MODULE, FILE_NAME, __LINE__);
}

void PGM_COMMON_XML_ELEMENT::write_attribute_value(const std::string& name, unsigned int value) {
    write_attribute_string(name, std::to_string(value));
}

void PGM_COMMON_XML_ELEMENT::write_attribute_enum(const std::string& name,
                                                  PGM_COMMON_XML_ENUM value) {
    const int index = static_cast<int>(value);
    write_attribute_string(name, index >= 0 && index <= PGM_COMMON_XML_ENUM__MAX__
                                     ? PGM_COMMON_XML_ENUM_STRING[index]
                                     : std::to_string(index));
}

std::string PGM_COMMON_XML_ELEMENT::get_slot_text() const {
    if (m_value_ptr == nullptr) return m_value_text;
    if (m_type == PGM_XML_TYPE_UINT)
        return std::to_string(*static_cast<const unsigned int*>(m_value_ptr));
    return *static_cast<const std::string*>(m_value_ptr);
}

std::string PGM_COMMON_XML_ELEMENT::get_attribute_text(const std::string& name) const {
    const PGM_COMMON_XML_ATTRIBUTE_INFO* attribute = find_attribute(name);
    if (attribute == nullptr) return std::string();
    if (attribute->m_ptr == nullptr) return attribute->m_value_text;
    switch (attribute->get_type()) {
        case PGM_XML_TYPE_UINT:
            return std::to_string(*static_cast<const unsigned int*>(attribute->m_ptr));
        case PGM_XML_TYPE_STRING:
            return *static_cast<const std::string*>(attribute->m_ptr);
        default: {
            const int index =
                static_cast<int>(*static_cast<const PGM_COMMON_XML_ENUM*>(attribute->m_ptr));
            return index >= 0 && index <= PGM_COMMON_XML_ENUM__MAX__
                       ? PGM_COMMON_XML_ENUM_STRING[index]
                       : std::string();
        }
    }
}
