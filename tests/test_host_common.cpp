// Programmer directory, separators, comparisons, conversions and the string helpers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <sstream>

#include "vorn_test_support.h"

namespace {

TEST(HostProgrammerDir, OverrideThenEnvironmentThenBuiltIn) {
    setenv("VORN_PROGRAMMER_DIR", "", 1);
    PGM_COMMON::set_common_programmer("");
    EXPECT_EQ(PGM_COMMON::pgm_get_common_programmer(), VORN_TEST_BUILTIN_DATA_DIR);
    setenv("VORN_PROGRAMMER_DIR", "/opt/pgm", 1);
    EXPECT_EQ(PGM_COMMON::pgm_get_common_programmer(), "/opt/pgm/");
    PGM_COMMON::set_common_programmer("/srv/bare");
    EXPECT_EQ(PGM_COMMON::pgm_get_common_programmer(), "/srv/bare/");
    PGM_COMMON::set_common_programmer("");
    EXPECT_EQ(PGM_COMMON::pgm_get_common_programmer(), "/opt/pgm/");
    setenv("VORN_PROGRAMMER_DIR", "", 1);
}

TEST(HostCommonStrings, SlashesComparisonsAndCase) {
    std::string path = "c:\\\\dir\\/f//x/";
    PGM_COMMON::change_folder_slash(path);
    EXPECT_EQ(path, "c:/dir/f/x/");
    EXPECT_FALSE(PGM_COMMON::compare_string("/a/B/", "/a/b/", false));
    EXPECT_TRUE(PGM_COMMON::compare_string("/a/B/", "/A/b/", true));
    EXPECT_FALSE(PGM_COMMON::compare_string("ab", "abc", true));
    EXPECT_LT(gen_stricmp("abc", "ABCD"), 0);
    char buf[5];
    gen_strcpy(buf, sizeof buf, "abcdefg");
    EXPECT_STREQ(buf, "abcd");
    std::string text = "3.0v/3.3v issi";
    stl_toupper(text);
    EXPECT_EQ(text, "3.0V/3.3V ISSI");
    EXPECT_EQ(TARVEN::fmt_sprintf("%d %d", 1), "(unprintable)");
}

// One rule names the database's files, for the saves, the loaders and the recovery alike.
TEST(HostCommonStrings, FlashFileNames) {
    EXPECT_TRUE(PGM_COMMON::is_flash_file_name(PGM_COMMON::flash_file_name("A")));
    EXPECT_TRUE(PGM_COMMON::is_flash_file_name(PGM_COMMON::flash_template_file_name("A")));
    for (const char* other : {"pgm_flash_.xml", "pgm_flash_A.xm", "pgm_flashA.xml", "A.xml",
                              "xpgm_flash_A.xml", "pgm_flash_A.xml.tmp", ""})
        EXPECT_FALSE(PGM_COMMON::is_flash_file_name(other)) << other;
}

// Formatting keeps each argument's own type, as printf would read it.
TEST(HostCommonStrings, FormattingReadsEachArgumentAsItsType) {
    const std::string name = "W25Q";
    EXPECT_EQ(TARVEN::fmt_sprintf("%s|%s|%c|%d|%u", name, "x", 'c', -5, 4000000000u),
              "W25Q|x|c|-5|4000000000");
    EXPECT_EQ(TARVEN::fmt_sprintf("%llX|%ld|%lu|%0*llX", 0x1FFFFFFFFULL, -7L, 7UL, 6, 0xABCULL),
              "1FFFFFFFF|-7|7|000ABC");
    EXPECT_EQ(TARVEN::fmt_sprintf("%.2f|%d|%u", 2.5, static_cast<short>(-3),
                                  static_cast<unsigned char>(200)),
              "2.50|-3|200");
    EXPECT_EQ(TARVEN::fmt_sprintf("%d", -1LL), "-1");
    EXPECT_EQ(TARVEN::fmt_sprintf("no arguments"), "no arguments");
    EXPECT_EQ(TARVEN::fmt_sprintf("%s", "x", "y"), "x");
    std::string out;
    MEM_DETAIL::stl_raw_sprintf(&out, "%s-%02X", std::string("id"), 0xEFu);
    EXPECT_EQ(out, "id-EF");
    EXPECT_THROW(MEM_DETAIL::stl_raw_sprintf(&out, "%d %d", 1), std::runtime_error);
}

// Each row of files/host/conversions.tsv: a text, how it is read, and what comes out.
TEST(HostCommonConvert, NumbersAndHexBytesAsTheTableSays) {
    for (const vorn_test::TABLE_ROW& row : vorn_test::read_table("host/conversions.tsv", 4)) {
        const std::string& kind = row.fields[0];
        const std::string& text = row.fields[1];
        const std::string& mode = row.fields[2];
        const std::string line = "conversions.tsv:" + std::to_string(row.line);
        const bool strict = mode.rfind("strict", 0) == 0;
        std::ostringstream got;
        bool ok = false;
        if (kind == "hex") {
            unsigned size = static_cast<unsigned>(std::stoul(mode.substr(mode.find(' '))));
            std::unique_ptr<unsigned char[]> bytes(
                PGM_COMMON::convert_hex_string_to_byte_array(text, size, strict));
            for (unsigned i = 0; bytes && i < size; ++i)
                got << (i ? " " : "") << std::uppercase << std::hex << (bytes[i] >> 4)
                    << (bytes[i] & 15);
            ok = bytes != nullptr;
            EXPECT_TRUE(ok || size == 0) << line;
        } else if (kind == "qword") {
            got << PGM_COMMON::convert_string_to_qword(text, strict, &ok);
        } else {
            got << PGM_COMMON::convert_string_to_dword(text, strict, &ok);
        }
        EXPECT_EQ(ok ? got.str() : "-", row.fields[3]) << line;
        EXPECT_TRUE(ok || kind == "hex" || got.str() == "0") << line;
    }
}

}  // namespace
