// Helpers shared by the element base and the file operations of the host XML layer.
#ifndef HOST_PGM_COMMON_XML_INTERNAL_H
#define HOST_PGM_COMMON_XML_INTERNAL_H

#include <cstddef>
#include <string_view>
#include <vector>

#include "pgm_common_xml_enum.h"

namespace pgm_common_xml_detail {

// The member whose name-table entry is `name`; false when there is none.
bool find_tag(std::string_view name, PGM_COMMON_XML_ENUM& tag);

// Reads an unsigned 32-bit number as a schema's unsignedInt allows it: surrounding white
// space, an optional "+", decimal digits ("-0" too). False when the text is anything else.
bool parse_unsigned(std::string_view text, unsigned int& value);

// The memory of the elements deleted while one file is read, kept by size for the elements it
// makes next and released when the read ends. It serves the thread that made it, from its
// construction to its destruction; the read owns it, so no memory outlives the read.
class ELEMENT_MEMORY {
  public:
    ELEMENT_MEMORY();
    ~ELEMENT_MEMORY();
    ELEMENT_MEMORY(const ELEMENT_MEMORY&) = delete;
    ELEMENT_MEMORY& operator=(const ELEMENT_MEMORY&) = delete;

    // The reading thread's, or null when it reads no file.
    static ELEMENT_MEMORY* current();
    // A kept block of `size` bytes, or null.
    void* take(std::size_t size);
    // Keeps `block` for a later take; false when its size is not kept.
    bool keep(void* block, std::size_t size);

  private:
    // Element classes are a few hundred bytes; sizes are multiples of 8.
    static constexpr std::size_t MAX_SIZE = 1024;
    std::vector<void*> m_blocks[MAX_SIZE / 8 + 1];
    ELEMENT_MEMORY* m_outer;
};

}  // namespace pgm_common_xml_detail

#endif
