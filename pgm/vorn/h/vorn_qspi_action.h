// A QSPI action: typed properties with defaults, acceptance rules and conversions.
#ifndef VORN_QSPI_ACTION_H
#define VORN_QSPI_ACTION_H

#include "vorn_api.h"

#include "vorn_action.h"

class VORN_API VORN_QSPI_ACTION : public VORN_ACTION {
  public:
    // The type's run of properties, with its defaults; an unknown type is an internal error.
    explicit VORN_QSPI_ACTION(VORN_ACT_TYPE type);
    // Member-wise copy: name, type, property list and every value.
    VORN_QSPI_ACTION(const VORN_QSPI_ACTION& other) = default;
    VORN_QSPI_ACTION& operator=(const VORN_QSPI_ACTION& other) = default;
    ~VORN_QSPI_ACTION() override;

    std::string get_property_name(VORN_ACT_PROPERTY property) const override;
    std::string get_property_value(VORN_ACT_PROPERTY property) const override;
    unsigned int get_property_value_in_dword(VORN_ACT_PROPERTY property) const override;
    unsigned char* get_property_value_in_byte_array(VORN_ACT_PROPERTY property, unsigned int* count,
                                                    bool* ok) const override;
    std::vector<std::string> get_property_value_list(VORN_ACT_PROPERTY property) const override;
    void set_property_value(VORN_ACT_PROPERTY property, std::string value) override;
    bool property_value_is_valid(VORN_ACT_PROPERTY property, std::string value,
                                 std::string* err_msg = nullptr) const override;
    bool property_value_is_enable(VORN_ACT_PROPERTY property) const override;
};

#endif
