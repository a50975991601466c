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

// Gives libxml2 the allocator below; call once, before libxml2 allocates anything.
void install_document_memory();

// While one is alive on a thread, libxml2 allocates that thread's documents (and, with
// `elements`, the thread's new elements) from blocks kept apart from the process heap (see
// pgm_common_xml_memory.cpp).
class DOCUMENT_MEMORY_SCOPE {
  public:
    explicit DOCUMENT_MEMORY_SCOPE(bool elements = false);
    ~DOCUMENT_MEMORY_SCOPE();
    DOCUMENT_MEMORY_SCOPE(const DOCUMENT_MEMORY_SCOPE&) = delete;
    DOCUMENT_MEMORY_SCOPE& operator=(const DOCUMENT_MEMORY_SCOPE&) = delete;

  private:
    bool m_on;
    bool m_elements;
};

// While one is alive on a thread, nothing that thread allocates goes to the blocks: for what
// outlives every document, such as tables made on first use, which would otherwise keep a
// block from ever being reused.
class ORDINARY_MEMORY_SCOPE {
  public:
    ORDINARY_MEMORY_SCOPE();
    ~ORDINARY_MEMORY_SCOPE();
    ORDINARY_MEMORY_SCOPE(const ORDINARY_MEMORY_SCOPE&) = delete;
    ORDINARY_MEMORY_SCOPE& operator=(const ORDINARY_MEMORY_SCOPE&) = delete;

  private:
    int m_depth;
    int m_element_depth;
};

// The blocks mapped at the moment, the spare one included.
size_t mapped_document_blocks();

// How many trees check_xsd has built while it checked their files, since the process began.
size_t trees_read_in_one_pass();

// How many files the read-ahead in progress has finished with (read, or given up on); 0 when
// none is in progress.
size_t files_read_ahead();

}  // namespace pgm_common_xml_detail

#endif
