// Operations and actions: the steps of a programming flow.
#ifndef VORN_ACTION_H
#define VORN_ACTION_H

#include "vorn_api.h"

#include <string>
#include <vector>

#include "vorn_common.h"

// What a record's shared texts and lists point at until it is given its type's: empty.
VORN_API const std::string& vorn_no_text();
VORN_API const std::vector<VORN_ACT_PROPERTY>& vorn_no_properties();

class VORN_API VORN_ACTION {
  public:
    virtual ~VORN_ACTION() = default;

    const std::string& get_name() const { return *m_name; }
    VORN_ACT_TYPE get_type() const { return m_type; }
    const std::vector<VORN_ACT_PROPERTY>& get_property_enum_list() const {
        return *m_property_list;
    }

    virtual std::string get_property_name(VORN_ACT_PROPERTY property) const = 0;
    // The stored text; empty when the property has no value.
    virtual std::string get_property_value(VORN_ACT_PROPERTY property) const = 0;
    virtual unsigned int get_property_value_in_dword(VORN_ACT_PROPERTY property) const = 0;
    // A new[] array owned by the caller, or null.
    virtual unsigned char* get_property_value_in_byte_array(VORN_ACT_PROPERTY property,
                                                            unsigned int* count,
                                                            bool* ok) const = 0;
    virtual std::vector<std::string> get_property_value_list(VORN_ACT_PROPERTY property) const = 0;
    // Stores without checking; validation is property_value_is_valid's.
    virtual void set_property_value(VORN_ACT_PROPERTY property, std::string value) = 0;
    // On rejection posts the property's warning and, when err_msg is given, replaces
    // *err_msg with the explanation.
    virtual bool property_value_is_valid(VORN_ACT_PROPERTY property, std::string value,
                                         std::string* err_msg = nullptr) const = 0;
    virtual bool property_value_is_enable(VORN_ACT_PROPERTY property) const = 0;
    // True when `value` refers to the programming file ("jic" or "JIC" anywhere in it).
    virtual bool property_value_is_jic_file(std::string value) const;

  protected:
    VORN_ACT_TYPE m_type = VORN_ACT_TYPE_WRITE_REGISTER;
    // The type's name and properties, shared by every action of that type: a database holds
    // hundreds of thousands of actions.
    const std::string* m_name = &vorn_no_text();
    const std::vector<VORN_ACT_PROPERTY>* m_property_list = &vorn_no_properties();
    // The values set so far, packed into one buffer in property order: per entry the property
    // and the value's length (numbers written seven bits per byte, low bits first, the high
    // bit set on all but the last byte), then the value's bytes. A property without an entry
    // reads as empty.
    // One allocation per action instead of one per value: a database holds hundreds of
    // thousands of actions, and their memory is most of what a load touches.
    std::string m_property_values;
};

class VORN_API VORN_OPERATION {
  public:
    virtual ~VORN_OPERATION() = default;

    const std::string& get_name() const { return *m_name; }
    const std::string& get_description() const { return *m_description; }
    VORN_OP_TYPE get_type() const { return m_type; }

    // The operation keeps ownership of the list and its actions.
    virtual const std::vector<VORN_ACTION*>* get_action_list() const = 0;
    // Deletes every action, last first.
    virtual void clear_action_list() = 0;
    // Appends `action` and takes ownership; null is an internal error.
    virtual void add_action_into_list(VORN_ACTION* action) = 0;

  protected:
    // The type's name and description, shared by every operation of that type: a database
    // holds ten operations per device, and a description is a few hundred bytes.
    const std::string* m_name = &vorn_no_text();
    const std::string* m_description = &vorn_no_text();
    VORN_OP_TYPE m_type = VORN_OP_TYPE_INITIALIZATION;
    std::vector<VORN_ACTION*> m_action_list;
};

#endif
