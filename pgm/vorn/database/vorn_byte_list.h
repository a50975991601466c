// The byte-list reading every family shares.
#ifndef VORN_BYTE_LIST_H
#define VORN_BYTE_LIST_H

#include <string>
#include <vector>

// Reads a byte list ("0x06 0x00 12"): false when it has no token or a malformed one. `count`
// receives the number of bytes and `out`, unless null, the bytes themselves. Validating with a
// null `out` allocates nothing.
bool vorn_scan_byte_list(const std::string& text, unsigned char* out, unsigned int& count);

// The bytes of a byte list; none when it is not one.
std::vector<unsigned char> vorn_byte_list_bytes(const std::string& text);

#endif
