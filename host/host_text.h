// ASCII character classes shared by the host's readers; locale-free on purpose, since the
// host's process may have set any locale.
#ifndef HOST_HOST_TEXT_H
#define HOST_HOST_TEXT_H

namespace HOST_TEXT {

inline char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// A letter, digit or underscore: what a message name or a number's neighbour may be.
inline bool is_word_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace HOST_TEXT

#endif
