// VORN_ACT_PROPERTY_TABLE (vorn_common.h) as data: a record per action property and the run of
// each action type, checked when compiled.
#ifndef VORN_ACTION_PROPERTIES_H
#define VORN_ACTION_PROPERTIES_H

#include <array>

#include "vorn_common.h"
#include "vorn_qspi_common.h"

// How the child element that carries a property holds its value.
enum VORN_ACT_FORM {
    VORN_ACT_FORM_TEXT,          // the text as it is
    VORN_ACT_FORM_LINES,         // text whose line feeds the file holds as the escape "\n"
    VORN_ACT_FORM_NUMBER,        // an unsigned number
    VORN_ACT_FORM_MICROSECONDS,  // an unsigned number with the attribute unit="us"
};

// The acceptance rules of property_value_is_valid; properties of the same kind share one.
enum VORN_ACT_RULE {
    VORN_ACT_RULE_NAME,
    VORN_ACT_RULE_COMMAND,
    VORN_ACT_RULE_DATA,
    VORN_ACT_RULE_DELAY,
    VORN_ACT_RULE_BUS_WIDTH_TWO,
    VORN_ACT_RULE_BUS_WIDTH_THREE,
    VORN_ACT_RULE_DATA_LENGTH,
    VORN_ACT_RULE_EXPECTED_DATA,
    VORN_ACT_RULE_DATA_MASK,
    VORN_ACT_RULE_ATTEMPT_COUNT,
    VORN_ACT_RULE_ADDRESS,
    VORN_ACT_RULE_PAGE_SIZE,
    VORN_ACT_RULE_ADDRESSING_MODE,
    VORN_ACT_RULE_DUMMY_CLOCK_CYCLE,
    VORN_ACT_RULE_ERASE_SIZE,
    VORN_ACT_RULE_CUSTOM_DESCRIPTION,
    VORN_ACT_RULE_CUSTOM_DIRECTION,
    VORN_ACT_RULE_COUNT
};

// One row of VORN_ACT_PROPERTY_TABLE; the columns are described there.
struct VORN_ACT_PROPERTY_INFO {
    VORN_ACT_PROPERTY property;
    VORN_ACT_TYPE type;
    const char* label;
    PGM_COMMON_XML_ENUM tag;
    const char* key;
    VORN_ACT_FORM form;
    const char* default_value;
    VORN_ACT_RULE rule;

    constexpr bool is_number() const {
        return form == VORN_ACT_FORM_NUMBER || form == VORN_ACT_FORM_MICROSECONDS;
    }
};

#define VORN_ACT_PROPERTY_ROW(member, type, label, tag, key, form, default_value, rule) \
    {VORN_ACT_PROPERTY_##member,                                                        \
     VORN_ACT_TYPE_##type,                                                              \
     label,                                                                             \
     PGM_COMMON_XML_ENUM_##tag,                                                         \
     key,                                                                               \
     VORN_ACT_FORM_##form,                                                              \
     default_value,                                                                     \
     VORN_ACT_RULE_##rule},
// Indexed by VORN_ACT_PROPERTY.
inline constexpr VORN_ACT_PROPERTY_INFO VORN_ACT_PROPERTIES[VORN_ACT_PROPERTY_COUNT] = {
    VORN_ACT_PROPERTY_TABLE(VORN_ACT_PROPERTY_ROW)};
#undef VORN_ACT_PROPERTY_ROW

// The "type" attribute of an ACTION element, indexed by VORN_ACT_TYPE.
inline constexpr PGM_COMMON_XML_ENUM VORN_ACT_TYPE_TAG[VORN_ACT_TYPE_COUNT] = {
    PGM_COMMON_XML_ENUM_WRITE_REG, PGM_COMMON_XML_ENUM_READ_REG, PGM_COMMON_XML_ENUM_WRITE_DATA,
    PGM_COMMON_XML_ENUM_READ_DATA, PGM_COMMON_XML_ENUM_ERASE,    PGM_COMMON_XML_ENUM_CUSTOM};

// The element of each operation of a flow and its key in the tool's JSON, indexed by
// VORN_OP_TYPE: a flow holds one operation of each type, in this order.
struct VORN_OP_TYPE_INFO {
    VORN_OP_TYPE type;
    PGM_COMMON_XML_ENUM tag;
    const char* key;
};
inline constexpr VORN_OP_TYPE_INFO VORN_OP_TYPES[VORN_OP_TYPE_COUNT] = {
    {VORN_OP_TYPE_INITIALIZATION, PGM_COMMON_XML_ENUM_INITIALIZATION, "initialization"},
    {VORN_OP_TYPE_PROGRAM, PGM_COMMON_XML_ENUM_PROGRAM, "program"},
    {VORN_OP_TYPE_ERASE, PGM_COMMON_XML_ENUM_ERASE, "erase"},
    {VORN_OP_TYPE_VERIFY_BLANKCHECK_EXAMINE, PGM_COMMON_XML_ENUM_VERIFY_BLANKCHECK_EXAMINE,
     "verify_blankcheck_examine"},
    {VORN_OP_TYPE_TERMINATION, PGM_COMMON_XML_ENUM_TERMINATION, "termination"}};

constexpr bool vorn_op_rows_in_order() {
    for (int t = 0; t < VORN_OP_TYPE_COUNT; ++t)
        if (VORN_OP_TYPES[t].type != t) return false;
    return true;
}
static_assert(vorn_op_rows_in_order(), "VORN_OP_TYPES follows VORN_OP_TYPE");

// Whether `property` is a member, and so indexes the table.
constexpr bool vorn_act_property_is_known(int property) {
    return property >= 0 && property < VORN_ACT_PROPERTY_COUNT;
}

// The property list of an action type: `count` members from `first` on.
struct VORN_ACT_RUN {
    int first;
    int count;
};

constexpr std::array<VORN_ACT_RUN, VORN_ACT_TYPE_COUNT> vorn_act_make_runs() {
    std::array<VORN_ACT_RUN, VORN_ACT_TYPE_COUNT> runs{};
    for (int p = VORN_ACT_PROPERTY_COUNT - 1; p >= 0; --p) {
        VORN_ACT_RUN& run = runs[VORN_ACT_PROPERTIES[p].type];
        run.first = p;
        ++run.count;
    }
    return runs;
}

// Indexed by VORN_ACT_TYPE.
inline constexpr std::array<VORN_ACT_RUN, VORN_ACT_TYPE_COUNT> VORN_ACT_RUNS = vorn_act_make_runs();

// The property of an action of `type` that `tag` carries, or -1 when it has none.
constexpr int vorn_act_property_tagged(VORN_ACT_TYPE type, PGM_COMMON_XML_ENUM tag) {
    const VORN_ACT_RUN run = VORN_ACT_RUNS[type];
    for (int p = run.first; p < run.first + run.count; ++p)
        if (VORN_ACT_PROPERTIES[p].tag == tag) return p;
    return -1;
}

// Each type's rows one run in type order, no type without its run.
constexpr bool vorn_act_rows_in_order() {
    for (int p = 0; p < VORN_ACT_PROPERTY_COUNT; ++p) {
        const int type = VORN_ACT_PROPERTIES[p].type;
        if (p == 0 && type != 0) return false;
        if (p > 0 && type != VORN_ACT_PROPERTIES[p - 1].type &&
            type != VORN_ACT_PROPERTIES[p - 1].type + 1)
            return false;
    }
    return VORN_ACT_PROPERTIES[VORN_ACT_PROPERTY_COUNT - 1].type == VORN_ACT_TYPE_COUNT - 1;
}
static_assert(vorn_act_rows_in_order(),
              "VORN_ACT_PROPERTY_TABLE holds one run per action type, in type order");

// Two properties of one action carried by the same child could not both be read back.
constexpr bool vorn_act_tags_distinct() {
    for (int p = 0; p < VORN_ACT_PROPERTY_COUNT; ++p)
        for (int q = p + 1; q < VORN_ACT_PROPERTY_COUNT; ++q)
            if (VORN_ACT_PROPERTIES[p].type == VORN_ACT_PROPERTIES[q].type &&
                VORN_ACT_PROPERTIES[p].tag == VORN_ACT_PROPERTIES[q].tag)
                return false;
    return true;
}
static_assert(vorn_act_tags_distinct(), "each property of an action type has its own tag");

#endif
