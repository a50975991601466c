// Host programmer services: the programmer directory, paths, comparisons and conversions.
#ifndef PGM_H_PGM_COMMON_EXPORT_H
#define PGM_H_PGM_COMMON_EXPORT_H

#include "pgm_api.h"

#include <string>

class PGM_API PGM_COMMON {
  public:
    // The programmer's common directory, always ending with "/": the directory given to
    // set_common_programmer, else $VORN_PROGRAMMER_DIR, else the built-in data directory
    // (the source tree's data/ for a build-tree binary, share/vorn/ once installed).
    static std::string pgm_get_common_programmer();
    // An empty `dir` restores the default.
    static void set_common_programmer(const std::string& dir);

    // Normalises separators in place: backslashes become "/", runs of "/" collapse to one.
    static void change_folder_slash(std::string& path);

    // True when the two texts are equal; `ignore_case` compares ASCII letters without case.
    static bool compare_string(const std::string& a, const std::string& b, bool ignore_case);

    // A number from text: "0x" followed by hexadecimal digits, or decimal digits. With
    // `strict` the whole text must be the number (no sign, no blanks, no trailing text).
    // Without it, leading blanks and a "+" are skipped and text after the number is ignored
    // when it starts with neither a letter, a digit nor "_" ("12 MB" reads 12, "12MB" and
    // "0X10" fail). The value must fit the result type. `ok`, when given, tells whether it
    // could be read; the result is 0 when it could not.
    static unsigned long long convert_string_to_qword(const std::string& text, bool strict,
                                                      bool* ok = nullptr);
    static unsigned int convert_string_to_dword(const std::string& text, bool strict,
                                                bool* ok = nullptr);

    // Hexadecimal digits (no prefix, no blanks) to bytes, most significant first; an odd
    // digit count reads as if a leading 0 were there ("A" is one byte 0x0A, "123" two bytes
    // 0x01 0x23). On entry `size` is the largest byte count accepted, on return the count.
    // With `strict` any character that is not a hexadecimal digit fails; without it reading
    // stops at the first such character. No digits, or more bytes than `size`, fail. Returns a
    // new[] array owned by the caller, or null on failure (size 0).
    static unsigned char* convert_hex_string_to_byte_array(const std::string& hex,
                                                           unsigned int& size, bool strict);

    // The file names of the flash database, one rule for the loaders, the saves and the
    // recovery of an interrupted save: a device's file, a user template's file, and whether a
    // name is one of the database's ("pgm_flash_" and ".xml" around at least one character).
    static std::string flash_file_name(const std::string& device);
    static std::string flash_template_file_name(const std::string& name);
    static bool is_flash_file_name(const std::string& file_name);
    // The pattern a finder lists the database's files with: "pgm_flash_*.xml".
    static const char* flash_file_pattern();
};

#endif
