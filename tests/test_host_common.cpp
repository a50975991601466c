// Programmer directory, separators, comparisons, conversions and the string helpers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "vorn_test_support.h"

namespace {

class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        const char* old = std::getenv(name);
        m_had = old != nullptr;
        if (m_had) m_old = old;
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (m_had)
            setenv(m_name.c_str(), m_old.c_str(), 1);
        else
            unsetenv(m_name.c_str());
    }

  private:
    std::string m_name;
    bool m_had = false;
    std::string m_old;
};

std::string slashed(std::string s) {
    PGM_COMMON::change_folder_slash(s);
    return s;
}

unsigned long long qword(const std::string& text, bool strict, bool& ok) {
    return PGM_COMMON::convert_string_to_qword(text, strict, &ok);
}

std::vector<unsigned> hex_bytes(const std::string& hex, unsigned limit, bool strict) {
    unsigned size = limit;
    std::unique_ptr<unsigned char[]> bytes(
        PGM_COMMON::convert_hex_string_to_byte_array(hex, size, strict));
    if (!bytes) {
        EXPECT_EQ(size, 0u) << hex;
        return {999};  // marks failure
    }
    return std::vector<unsigned>(bytes.get(), bytes.get() + size);
}

TEST(HostProgrammerDir, OverrideThenEnvironmentThenBuiltIn) {
    ScopedEnv env("VORN_PROGRAMMER_DIR", nullptr);
    PGM_COMMON::set_common_programmer("");
    // With nothing set, share/vorn beside the library's folder: in the build tree, a link to the
    // source tree's data/.
    EXPECT_EQ(PGM_COMMON::pgm_get_common_programmer(), VORN_TEST_BUILTIN_DATA_DIR);

    {
        ScopedEnv set("VORN_PROGRAMMER_DIR", "/opt/pgm");
        EXPECT_EQ(PGM_COMMON::pgm_get_common_programmer(), "/opt/pgm/");
        PGM_COMMON::set_common_programmer("/srv/given/");
        EXPECT_EQ(PGM_COMMON::pgm_get_common_programmer(), "/srv/given/");
        PGM_COMMON::set_common_programmer("/srv/bare");
        EXPECT_EQ(PGM_COMMON::pgm_get_common_programmer(), "/srv/bare/");
        PGM_COMMON::set_common_programmer("");
        EXPECT_EQ(PGM_COMMON::pgm_get_common_programmer(), "/opt/pgm/");
    }
    {
        ScopedEnv empty("VORN_PROGRAMMER_DIR", "");
        EXPECT_EQ(PGM_COMMON::pgm_get_common_programmer(), VORN_TEST_BUILTIN_DATA_DIR);
    }
}

TEST(HostCommonStrings, ChangeFolderSlashNormalisesSeparators) {
    EXPECT_EQ(slashed("a\\b\\c"), "a/b/c");
    EXPECT_EQ(slashed("/x//y///z/"), "/x/y/z/");
    EXPECT_EQ(slashed("./"
                      "/"),
              "./");
    EXPECT_EQ(slashed("c:\\\\dir\\/f"), "c:/dir/f");
    EXPECT_EQ(slashed(""), "");
}

TEST(HostCommonStrings, CompareStringWithAndWithoutCase) {
    EXPECT_TRUE(PGM_COMMON::compare_string("/a/B/", "/a/B/", false));
    EXPECT_FALSE(PGM_COMMON::compare_string("/a/B/", "/a/b/", false));
    EXPECT_TRUE(PGM_COMMON::compare_string("/a/B/", "/A/b/", true));
    EXPECT_FALSE(PGM_COMMON::compare_string("ab", "abc", true));
    EXPECT_TRUE(PGM_COMMON::compare_string("", "", false));
}

TEST(HostCommonConvert, ReadsDecimalAndHexAndRejectsMalformedText) {
    bool ok = false;
    EXPECT_EQ(qword("4096", true, ok), 4096u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(qword("007", true, ok), 7u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(qword("0x9f", true, ok), 0x9Fu);
    EXPECT_TRUE(ok);
    EXPECT_EQ(qword("0xAbC", true, ok), 0xABCu);
    EXPECT_TRUE(ok);
    for (const char* bad :
         {"", "0x", "0X10", "x10", "1 2", " 12", "12 ", "+12", "-1", "12a", "0x1g", "1.5", "\t3"}) {
        ok = true;
        EXPECT_EQ(qword(bad, true, ok), 0u) << bad;
        EXPECT_FALSE(ok) << bad;
    }
}

TEST(HostCommonConvert, LenientReadingSkipsBlanksAndSignButNotGluedText) {
    bool ok = false;
    EXPECT_EQ(qword("  12", false, ok), 12u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(qword("+0x10", false, ok), 16u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(qword("12 MB", false, ok), 12u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(qword("12,5", false, ok), 12u);
    EXPECT_TRUE(ok);
    for (const char* bad : {"12MB", "0X10", "0x", "-1", "", "  ", "abc"}) {
        ok = true;
        EXPECT_EQ(qword(bad, false, ok), 0u) << bad;
        EXPECT_FALSE(ok) << bad;
    }
}

TEST(HostCommonConvert, OverflowFailsAtTheResultTypesLimit) {
    bool ok = false;
    EXPECT_EQ(qword("18446744073709551615", true, ok), 18446744073709551615ull);
    EXPECT_TRUE(ok);
    EXPECT_EQ(qword("0xFFFFFFFFFFFFFFFF", true, ok), 18446744073709551615ull);
    EXPECT_TRUE(ok);
    EXPECT_EQ(qword("0x000000000000000001", true, ok), 1u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(qword("18446744073709551616", true, ok), 0u);
    EXPECT_FALSE(ok);
    EXPECT_EQ(qword("0x10000000000000000", false, ok), 0u);
    EXPECT_FALSE(ok);

    EXPECT_EQ(PGM_COMMON::convert_string_to_dword("4294967295", true, &ok), 4294967295u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(PGM_COMMON::convert_string_to_dword("0x100000000", true, &ok), 0u);
    EXPECT_FALSE(ok);
    EXPECT_EQ(PGM_COMMON::convert_string_to_dword("4294967296", false, &ok), 0u);
    EXPECT_FALSE(ok);
    // No flag wanted: the value alone.
    EXPECT_EQ(PGM_COMMON::convert_string_to_dword("0x20", true), 32u);
}

TEST(HostCommonConvert, HexDigitsToBytesMostSignificantFirst) {
    const unsigned any = 0xFFFFFFFFu;
    EXPECT_EQ(hex_bytes("A", any, true), (std::vector<unsigned>{0x0A}));
    EXPECT_EQ(hex_bytes("9f", any, true), (std::vector<unsigned>{0x9F}));
    EXPECT_EQ(hex_bytes("123", any, true), (std::vector<unsigned>{0x01, 0x23}));
    EXPECT_EQ(hex_bytes("00ff10", any, true), (std::vector<unsigned>{0x00, 0xFF, 0x10}));
    const std::vector<unsigned> failed{999};
    EXPECT_EQ(hex_bytes("", any, true), failed);
    EXPECT_EQ(hex_bytes("0x9F", any, true), failed);
    EXPECT_EQ(hex_bytes("9 F", any, true), failed);
    EXPECT_EQ(hex_bytes("G", any, true), failed);
    EXPECT_EQ(hex_bytes("12zz", any, false), (std::vector<unsigned>{0x12}));
    EXPECT_EQ(hex_bytes("zz", any, false), failed);
    // The size limit counts bytes, not digits.
    EXPECT_EQ(hex_bytes("123", 2, true), (std::vector<unsigned>{0x01, 0x23}));
    EXPECT_EQ(hex_bytes("123", 1, true), failed);
    EXPECT_EQ(hex_bytes("1", 0, true), failed);
}

TEST(HostGenStrings, ComparisonsCopyAndUpperCase) {
    EXPECT_EQ(gen_strcmp("abc", "abc"), 0);
    EXPECT_LT(gen_strcmp("abc", "abd"), 0);
    EXPECT_GT(gen_strcmp(std::string("b"), std::string("abc")), 0);
    EXPECT_EQ(gen_strcmp(nullptr, ""), 0);
    EXPECT_EQ(gen_stricmp("Micron", "MICRON"), 0);
    EXPECT_EQ(gen_stricmp(std::string("Issi"), std::string("ISSI")), 0);
    EXPECT_LT(gen_stricmp("abc", "ABCD"), 0);
    EXPECT_GT(gen_stricmp(std::string("abd"), std::string("ABC")), 0);
    EXPECT_LT(gen_stricmp(std::string("ab"), std::string("ABC")), 0);

    char buf[5] = {'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(gen_strcpy(buf, sizeof buf, "abcdefg"), buf);
    EXPECT_STREQ(buf, "abcd");
    gen_strcpy(buf, sizeof buf, "ab");
    EXPECT_STREQ(buf, "ab");
    char untouched[2] = {'q', 'q'};
    gen_strcpy(untouched, 0, "abc");
    EXPECT_EQ(untouched[0], 'q');

    std::string text = "3.0v/3.3v issi-é";
    stl_toupper(text);
    EXPECT_EQ(text, "3.0V/3.3V ISSI-é");
}

TEST(HostGenFormat, SprintfHelpers) {
    std::string out;
    MEM_DETAIL::stl_raw_sprintf(&out, "QSPI%dMB", 512);
    EXPECT_EQ(out, "QSPI512MB");
    EXPECT_EQ(TARVEN::fmt_sprintf("Unknown flash parameter: %d", 9), "Unknown flash parameter: 9");
    EXPECT_EQ(TARVEN::fmt_sprintf("%d %d", 1), "(unprintable)");
}

TEST(HostGenMemory, InitializersCountPerModule) {
    int before = MEM_INITIALIZER::module_count("HOSTTEST");
    {
        MEM_INITIALIZER a("HOSTTEST");
        MEM_INITIALIZER b("HOSTTEST");
        EXPECT_EQ(MEM_INITIALIZER::module_count("HOSTTEST"), before + 2);
    }
    EXPECT_EQ(MEM_INITIALIZER::module_count("HOSTTEST"), before);
    EXPECT_EQ(MEM_INITIALIZER::module_count("NO_SUCH_MODULE"), 0);
}

}  // namespace
