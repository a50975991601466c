// The properties of each action type that the flow check and the flow fitting read, found in the
// property table by the element that carries them.
#ifndef VORN_ACTION_FIELDS_H
#define VORN_ACTION_FIELDS_H

#include <array>

#include "vorn_action_properties.h"

// Indexed by VORN_ACT_TYPE; -1 where the type has no such property.
struct VORN_ACTION_FIELDS {
    int name;
    int command;
    int address;
    int data;
    int length;
    int expected;
    int mask;
    int addressing;
};

constexpr std::array<VORN_ACTION_FIELDS, VORN_ACT_TYPE_COUNT> vorn_make_action_fields() {
    std::array<VORN_ACTION_FIELDS, VORN_ACT_TYPE_COUNT> fields{};
    for (int t = 0; t < VORN_ACT_TYPE_COUNT; ++t) {
        const auto type = static_cast<VORN_ACT_TYPE>(t);
        fields[t] = {vorn_act_property_tagged(type, PGM_COMMON_XML_ENUM_NAME),
                     vorn_act_property_tagged(type, PGM_COMMON_XML_ENUM_COMMAND),
                     vorn_act_property_tagged(type, PGM_COMMON_XML_ENUM_ADDRESS),
                     vorn_act_property_tagged(type, PGM_COMMON_XML_ENUM_DATA),
                     vorn_act_property_tagged(type, PGM_COMMON_XML_ENUM_DATA_LENGTH),
                     vorn_act_property_tagged(type, PGM_COMMON_XML_ENUM_EXPECTED_DATA),
                     vorn_act_property_tagged(type, PGM_COMMON_XML_ENUM_EXPECTED_DATA_MASK),
                     vorn_act_property_tagged(type, PGM_COMMON_XML_ENUM_ADDRESSING_MODE)};
    }
    return fields;
}

inline constexpr std::array<VORN_ACTION_FIELDS, VORN_ACT_TYPE_COUNT> VORN_ACTION_FIELD_TABLE =
    vorn_make_action_fields();

// A field of the table as the property it names (only where it is not -1).
inline VORN_ACT_PROPERTY vorn_field_property(int field) {
    return static_cast<VORN_ACT_PROPERTY>(field);
}

#endif
