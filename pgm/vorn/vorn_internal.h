// Internal-error reporting of the library's sources, and helpers they share. Each source
// defines VORN_SOURCE_FILE (its name under pgm/vorn/) before including this header.
#ifndef VORN_INTERNAL_H
#define VORN_INTERNAL_H

#include <string>

#include "pgm_host.h"

#ifndef VORN_SOURCE_FILE
#error "define VORN_SOURCE_FILE before including vorn_internal.h"
#endif

// Reports `text` (the failed condition as written) unless `cond` holds; does not return.
#define VORN_CHECK(cond, text)                                                               \
    do {                                                                                     \
        if (!(cond)) MSG_INTERNAL_ERROR::report((text), "VORN", VORN_SOURCE_FILE, __LINE__); \
    } while (0)

// Reports an already formatted condition text; does not return.
#define VORN_FAIL(text) MSG_INTERNAL_ERROR::report((text), "VORN", VORN_SOURCE_FILE, __LINE__)

// Reads a byte list ("0x06 0x00 12"): false when it has no token or a malformed one. `count`
// receives the number of bytes and `out`, unless null, the bytes themselves. Validating with a
// null `out` allocates nothing.
bool vorn_scan_byte_list(const std::string& text, unsigned char* out, unsigned int& count);

#endif
