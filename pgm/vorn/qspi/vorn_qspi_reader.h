// Values out of QSPI elements, as the loader reads them; the user-file report reads them the
// same way, so that what a check accepts is what a load accepts.
#ifndef VORN_QSPI_READER_H
#define VORN_QSPI_READER_H

#include <memory>
#include <string>

#include "pgm_common_xml_vorn_qspi_auto_export.h"
#include "vorn_common.h"
#include "database/vorn_device_fields.h"

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

class VORN_QSPI_FLASH;

// False when an element of them is missing.
bool vorn_read_device_info(const PGM_COMMON_XML_VORN_QSPI_DEVICE_INFO* info,
                           VORN_DEVICE_VALUES& out);

// A new record of `values`, set in the order a load sets them; without flows.
std::unique_ptr<VORN_QSPI_FLASH> vorn_record_of(const VORN_DEVICE_VALUES& values);

#endif
