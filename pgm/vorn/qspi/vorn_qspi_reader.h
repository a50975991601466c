// Values out of QSPI elements, as the loader reads them; the user-file report reads them the
// same way, so that what a check accepts is what a load accepts.
#ifndef VORN_QSPI_READER_H
#define VORN_QSPI_READER_H

#include <memory>
#include <string>

#include "pgm_common_xml_vorn_qspi_auto_export.h"
#include "vorn_common.h"

// The element that carries `property` in a file.
PGM_COMMON_XML_ENUM vorn_property_tag(VORN_ACT_PROPERTY property);

// The action type the "type" attribute `tag` names; false for a tag that names none.
bool vorn_action_type_of_tag(PGM_COMMON_XML_ENUM tag, VORN_ACT_TYPE* type);

// The child of `xml_action` that carries `property`, its value text in `value` (numbers in
// decimal, a description with its "\n" escapes turned into line feeds); null when the action
// lacks that child.
const PGM_COMMON_XML_ELEMENT* vorn_read_action_property(
    const PGM_COMMON_XML_VORN_QSPI_ACTION* xml_action, VORN_ACT_PROPERTY property,
    std::string& value);

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

class VORN_FLASH;
class VORN_MGR;
class VORN_QSPI_FLASH;

// One field of a QSPI device: the record's parameter, its element, where its value is held
// (text or number), and, for the values a load judges, the label a check names it by (the
// tool's key to the values it accepts) and the internal-error text of a writer handed a refused
// value.
struct VORN_DEVICE_FIELD {
    VORN_FLASH_PARAM param;
    PGM_COMMON_XML_ENUM tag;
    std::string VORN_DEVICE_VALUES::*text;
    unsigned int VORN_DEVICE_VALUES::*number;
    const char* label;  // null: not judged by a load
    const char* write_check;
};

// The fields in file order; the name and the programming-flow template are judged by a save,
// not by a load.
constexpr int VORN_DEVICE_FIELD_COUNT = 8;
extern const VORN_DEVICE_FIELD VORN_DEVICE_FIELDS[VORN_DEVICE_FIELD_COUNT];

// The value of `field` as a file writes it.
std::string vorn_device_field_text(const VORN_DEVICE_FIELD& field,
                                   const VORN_DEVICE_VALUES& values);

// False when an element of them is missing.
bool vorn_read_device_info(const PGM_COMMON_XML_VORN_QSPI_DEVICE_INFO* info,
                           VORN_DEVICE_VALUES& out);

// The field's value judged by the manager's validator of its parameter (is_parameter_valid).
bool vorn_device_field_is_valid(VORN_MGR& mgr, const VORN_DEVICE_FIELD& field,
                                const VORN_DEVICE_VALUES& values, std::string* why);

// Every judged field, each refusal posting its warning; true when all pass.
bool vorn_device_values_are_valid(VORN_MGR& mgr, const VORN_DEVICE_VALUES& values);

// A new record of `values`, set in the order a load sets them; without flows.
std::unique_ptr<VORN_QSPI_FLASH> vorn_record_of(const VORN_DEVICE_VALUES& values);

// What a file would carry for `record`.
VORN_DEVICE_VALUES vorn_device_values_of(const VORN_FLASH& record);

#endif
