// Programmer directory, separators, comparisons, conversions and the string helpers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "vorn_test_support.h"

namespace {

TEST(HostProgrammerDir, OverrideThenEnvironmentThenBuiltIn) {
    const char* old = std::getenv("VORN_PROGRAMMER_DIR");
    const std::string saved = old != nullptr ? old : "";
    setenv("VORN_PROGRAMMER_DIR", "", 1);
    PGM_COMMON::set_common_programmer("");
    EXPECT_EQ(PGM_COMMON::pgm_get_common_programmer(), VORN_TEST_BUILTIN_DATA_DIR);
    setenv("VORN_PROGRAMMER_DIR", "/opt/pgm", 1);
    EXPECT_EQ(PGM_COMMON::pgm_get_common_programmer(), "/opt/pgm/");
    PGM_COMMON::set_common_programmer("/srv/bare");
    EXPECT_EQ(PGM_COMMON::pgm_get_common_programmer(), "/srv/bare/");
    PGM_COMMON::set_common_programmer("");
    EXPECT_EQ(PGM_COMMON::pgm_get_common_programmer(), "/opt/pgm/");
    setenv("VORN_PROGRAMMER_DIR", saved.c_str(), 1);
}

TEST(HostCommonStrings, SlashesComparisonsAndCase) {
    for (auto [in, out] : {std::pair<std::string, std::string>{"a\\b\\c", "a/b/c"},
                           {"/x//y///z/", "/x/y/z/"},
                           {"c:\\\\dir\\/f", "c:/dir/f"}}) {
        PGM_COMMON::change_folder_slash(in);
        EXPECT_EQ(in, out);
    }
    EXPECT_FALSE(PGM_COMMON::compare_string("/a/B/", "/a/b/", false));
    EXPECT_TRUE(PGM_COMMON::compare_string("/a/B/", "/A/b/", true));
    EXPECT_FALSE(PGM_COMMON::compare_string("ab", "abc", true));
    EXPECT_LT(gen_stricmp("abc", "ABCD"), 0);
    EXPECT_EQ(gen_stricmp("Issi", "ISSI"), 0);
    char buf[5];
    gen_strcpy(buf, sizeof buf, "abcdefg");
    EXPECT_STREQ(buf, "abcd");
    std::string text = "3.0v/3.3v issi";
    stl_toupper(text);
    EXPECT_EQ(text, "3.0V/3.3V ISSI");
    EXPECT_EQ(TARVEN::fmt_sprintf("%d %d", 1), "(unprintable)");
}

// Strict reading takes plain decimal or "0x" hexadecimal; lenient reading also skips leading
// blanks and a sign, and stops at a blank or comma.
TEST(HostCommonConvert, NumbersStrictAndLenient) {
    struct CASE {
        const char* text;
        bool strict;
        bool ok;
        unsigned long long value;
    };
    const CASE cases[] = {{"4096", true, true, 4096},
                          {"007", true, true, 7},
                          {"0x9f", true, true, 0x9F},
                          {"0xAbC", true, true, 0xABC},
                          {"18446744073709551615", true, true, ~0ull},
                          {"0x000000000000000001", true, true, 1},
                          {"18446744073709551616", true, false, 0},
                          {"  12", false, true, 12},
                          {"+0x10", false, true, 16},
                          {"12 MB", false, true, 12},
                          {"12,5", false, true, 12},
                          {"0x10000000000000000", false, false, 0}};
    for (const CASE& c : cases) {
        bool ok = !c.ok;
        EXPECT_EQ(PGM_COMMON::convert_string_to_qword(c.text, c.strict, &ok), c.value) << c.text;
        EXPECT_EQ(ok, c.ok) << c.text;
    }
    for (const char* bad : {"", "0x", "0X10", "x10", " 12", "+12", "-1", "12a", "0x1g", "1.5"}) {
        bool ok = true;
        EXPECT_EQ(PGM_COMMON::convert_string_to_qword(bad, true, &ok), 0u) << bad;
        EXPECT_FALSE(ok) << bad;
    }
    for (const char* bad : {"12MB", "-1", "  ", "abc"}) {
        bool ok = true;
        PGM_COMMON::convert_string_to_qword(bad, false, &ok);
        EXPECT_FALSE(ok) << bad;
    }
    bool ok = false;
    EXPECT_EQ(PGM_COMMON::convert_string_to_dword("4294967295", true, &ok), 4294967295u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(PGM_COMMON::convert_string_to_dword("0x100000000", true, &ok), 0u);
    EXPECT_FALSE(ok);
}

std::vector<unsigned> hex_bytes(const std::string& hex, unsigned limit, bool strict) {
    unsigned size = limit;
    std::unique_ptr<unsigned char[]> bytes(
        PGM_COMMON::convert_hex_string_to_byte_array(hex, size, strict));
    if (!bytes) return {size == 0 ? 999u : 998u};
    return std::vector<unsigned>(bytes.get(), bytes.get() + size);
}

TEST(HostCommonConvert, HexDigitsToBytesMostSignificantFirst) {
    const std::vector<unsigned> failed{999};
    EXPECT_EQ(hex_bytes("9f", 9, true), std::vector<unsigned>{0x9F});
    EXPECT_EQ(hex_bytes("123", 2, true), (std::vector<unsigned>{0x01, 0x23}));
    EXPECT_EQ(hex_bytes("00aF10", 9, true), (std::vector<unsigned>{0x00, 0xAF, 0x10}));
    EXPECT_EQ(hex_bytes("12zz", 9, false), std::vector<unsigned>{0x12});
    for (const char* bad : {"", "0x9F", "9 F", "G"}) EXPECT_EQ(hex_bytes(bad, 9, true), failed);
    EXPECT_EQ(hex_bytes("zz", 9, false), failed);
    EXPECT_EQ(hex_bytes("123", 1, true), failed);
}

}  // namespace
