// The fields of a device record as its file carries them, described once for the reader, the
// writer and every check of both families.
#ifndef VORN_DEVICE_FIELDS_H
#define VORN_DEVICE_FIELDS_H

#include <string>

#include "pgm_common_xml_enum.h"
#include "pgm_host.h"
#include "vorn_common.h"

class VORN_FLASH;
class VORN_MGR;

// The identity values of one DEVICE_INFO element.
struct VORN_DEVICE_VALUES {
    std::string name;
    std::string id;
    std::string io_voltage;
    std::string density;
    unsigned int total_die = 0;
    unsigned int dummy_clock_cycle = 0;
    unsigned int dummy_clock_cycle_x4 = 0;
    std::string prog_flow_template;
};

// One field: the record's parameter, its element, where its value is held (text or number),
// whether an SD/MMC card has it too (a QSPI device has them all), and, for the values a load
// judges, the label a check names it by (the tool's key to the values it accepts) and the
// internal-error text of a writer handed a refused value.
struct VORN_DEVICE_FIELD {
    VORN_FLASH_PARAM param;
    PGM_COMMON_XML_ENUM tag;
    std::string VORN_DEVICE_VALUES::*text;
    unsigned int VORN_DEVICE_VALUES::*number;
    bool sdmmc;
    const char* label;  // null: not judged by a load
    const char* write_check;
};

// The fields in file order; the name and the programming-flow template are judged by a save,
// not by a load.
constexpr int VORN_DEVICE_FIELD_COUNT = 8;
extern const VORN_DEVICE_FIELD VORN_DEVICE_FIELDS[VORN_DEVICE_FIELD_COUNT];

// Whether a record of `family` has `field`.
bool vorn_device_field_in(const VORN_DEVICE_FIELD& field, DEV_FAMILY_ENUM family);

// The value of `field` as a file writes it.
std::string vorn_device_field_text(const VORN_DEVICE_FIELD& field,
                                   const VORN_DEVICE_VALUES& values);

// The field's value judged by the manager's validator of its parameter (is_parameter_valid).
bool vorn_device_field_is_valid(VORN_MGR& mgr, const VORN_DEVICE_FIELD& field,
                                const VORN_DEVICE_VALUES& values, std::string* why);

// Every field a load of the manager's family judges, each refusal posting its warning; true
// when all pass.
bool vorn_device_values_are_valid(VORN_MGR& mgr, const VORN_DEVICE_VALUES& values);

// What a file would carry for `record`: the fields of its family.
VORN_DEVICE_VALUES vorn_device_values_of(const VORN_FLASH& record);

#endif
