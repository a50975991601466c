// Helpers shared by the element base and the file operations of the host XML layer.
#ifndef HOST_PGM_COMMON_XML_INTERNAL_H
#define HOST_PGM_COMMON_XML_INTERNAL_H

#include <cstddef>
#include <string_view>

#include "pgm_common_xml_enum.h"

namespace pgm_common_xml_detail {

// The member whose name-table entry is `name`; false when there is none.
bool find_tag(std::string_view name, PGM_COMMON_XML_ENUM& tag);

// Reads an unsigned 32-bit number as a schema's unsignedInt allows it: surrounding white
// space, an optional "+", decimal digits ("-0" too). False when the text is anything else.
bool parse_unsigned(std::string_view text, unsigned int& value);

}  // namespace pgm_common_xml_detail

#endif
