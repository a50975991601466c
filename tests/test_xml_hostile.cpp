// Broken and hostile files offered to the XML layer: each is refused with a reason, quickly,
// without reading anything but the file and without printing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>

#include "vorn_test_support.h"

namespace {

const std::string QSPI_XSD = std::string(VORN_TEST_DATA_DIR) + "xsd/vorn_qspi.xsd";
const std::string SDMMC_XSD = std::string(VORN_TEST_DATA_DIR) + "xsd/vorn_sdmmc.xsd";

std::string test_file(const std::string& name) {
    return std::string(VORN_TEST_FILES_DIR) + "xml/" + name;
}

struct Verdict {
    bool accepted;
    std::string error;
    std::string warning;
    double seconds;
    std::string stderr_text;
};

Verdict check(const std::string& file, const std::string& xsd = QSPI_XSD) {
    Verdict v;
    testing::internal::CaptureStderr();
    auto start = std::chrono::steady_clock::now();
    v.accepted = PGM_COMMON_XML::check_xsd(file, xsd, v.error, v.warning);
    v.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    v.stderr_text = testing::internal::GetCapturedStderr();
    return v;
}

// Parsed without a schema, as the golden template is.
std::unique_ptr<PGM_COMMON_XML_ELEMENT> parse(
    const std::string& file, PGM_COMMON_XML_FILE_ENUM kind = PGM_COMMON_XML_FILE_VORN_QSPI) {
    return std::unique_ptr<PGM_COMMON_XML_ELEMENT>(
        PGM_COMMON_XML::parse_xml(kind, file, QSPI_XSD, true, "", "", ""));
}

class HostileFile : public testing::TestWithParam<const char*> {};

TEST_P(HostileFile, IsRefusedQuicklyWithAReasonAndSilently) {
    const std::string file = test_file(GetParam());
    Verdict v = check(file);
    EXPECT_FALSE(v.accepted);
    EXPECT_FALSE(v.error.empty());
    EXPECT_LT(v.seconds, 0.5);
    EXPECT_EQ(v.stderr_text, "") << "libxml2 printed on its own";
    // Nothing of the file that an external entity names leaks into the reason.
    EXPECT_EQ(v.error.find("root:"), std::string::npos) << v.error;

    testing::internal::CaptureStderr();
    auto start = std::chrono::steady_clock::now();
    auto tree = parse(file);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(tree, nullptr);
    EXPECT_FALSE(PGM_COMMON_XML::last_error().empty());
    EXPECT_LT(seconds, 0.5);
}

INSTANTIATE_TEST_SUITE_P(Files, HostileFile,
                         testing::Values("xxe.xml", "entity_bomb.xml", "external_dtd.xml",
                                         "parameter_entity.xml", "xinclude.xml", "not_xml.txt",
                                         "empty.xml", "truncated.xml", "not_utf8.xml",
                                         "latin1_declared.xml", "unknown_root.xml"));

TEST(HostileFileReasons, NameTheCauseWithLineNumbers) {
    Verdict doctype = check(test_file("xxe.xml"));
    EXPECT_NE(doctype.error.find("line 2: document type declarations are not allowed"),
              std::string::npos)
        << doctype.error;

    Verdict truncated = check(test_file("truncated.xml"));
    EXPECT_EQ(truncated.error.rfind("line ", 0), 0u) << truncated.error;

    Verdict empty = check(test_file("empty.xml"));
    EXPECT_NE(empty.error.find("empty"), std::string::npos) << empty.error;

    Verdict root = check(test_file("unknown_root.xml"));
    EXPECT_NE(root.error.find("line 2:"), std::string::npos) << root.error;
    EXPECT_NE(root.error.find("FLASH_DATABASE"), std::string::npos) << root.error;

    EXPECT_EQ(parse(test_file("unknown_root.xml")), nullptr);
    EXPECT_EQ(PGM_COMMON_XML::last_error(),
              "line 2: the document element is \"FLASH_DATABASE\", not \"QSPI_FLASH\"");
}

TEST(HostileFileSize, FilesAboveTheLimitAreRefusedBeforeParsing) {
    vorn_test::TempDir dir;
    const std::string big = dir.file("big.xml");
    {
        std::ofstream out(big, std::ios::binary);
        out << "<?xml version=\"1.0\"?>\n<QSPI_FLASH version=\"1\">\n";
        const std::string comment = "<!-- " + std::string(1018, 'x') + " -->\n";
        for (int i = 0; i < 50 * 1024; ++i) out << comment;
        out << "</QSPI_FLASH>\n";
    }
    ASSERT_GT(std::ifstream(big, std::ios::binary | std::ios::ate).tellg(), 50 * 1024 * 1000);

    Verdict v = check(big);
    EXPECT_FALSE(v.accepted);
    EXPECT_NE(v.error.find("larger than the limit"), std::string::npos) << v.error;
    EXPECT_LT(v.seconds, 0.5);
    EXPECT_EQ(parse(big), nullptr);
    EXPECT_NE(PGM_COMMON_XML::last_error().find("larger than the limit"), std::string::npos);
}

TEST(HostileFileShape, DeepNestingIsRefusedWithoutExhaustingTheStack) {
    vorn_test::TempDir dir;
    std::string deep = "<QSPI_FLASH version=\"1\">";
    for (int i = 0; i < 100000; ++i) deep += "<FLASH>";
    for (int i = 0; i < 100000; ++i) deep += "</FLASH>";
    deep += "</QSPI_FLASH>";
    dir.write("deep.xml", deep);
    Verdict v = check(dir.path() + "deep.xml");
    EXPECT_FALSE(v.accepted);
    EXPECT_FALSE(v.error.empty());
    EXPECT_LT(v.seconds, 0.5);
    EXPECT_EQ(parse(dir.path() + "deep.xml"), nullptr);
}

TEST(HostileFileKinds, MissingFilesDirectoriesAndPipesAreRefusedWithoutBlocking) {
    vorn_test::TempDir dir;
    Verdict missing = check(dir.path() + "absent.xml");
    EXPECT_FALSE(missing.accepted);
    EXPECT_NE(missing.error.find("absent.xml"), std::string::npos);

    Verdict directory = check(dir.path());
    EXPECT_FALSE(directory.accepted);
    EXPECT_NE(directory.error.find("not a regular file"), std::string::npos) << directory.error;

    const std::string fifo = dir.file("pipe.xml");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Verdict pipe = check(fifo);
    EXPECT_FALSE(pipe.accepted);
    EXPECT_LT(pipe.seconds, 0.5);
    EXPECT_EQ(parse(fifo), nullptr);
}

TEST(HostileSchema, AMissingOrBrokenSchemaIsAReasonNotACrash) {
    vorn_test::TempDir dir;
    Verdict missing = check(test_file("qspi_user.xml"), dir.path() + "none.xsd");
    EXPECT_FALSE(missing.accepted);
    EXPECT_NE(missing.error.find("none.xsd"), std::string::npos) << missing.error;

    dir.write("broken.xsd",
              "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">"
              "<xs:element name=\"A\" type=\"nowhere\"/></xs:schema>");
    Verdict broken = check(test_file("qspi_user.xml"), dir.path() + "broken.xsd");
    EXPECT_FALSE(broken.accepted);
    EXPECT_NE(broken.error.find("broken.xsd"), std::string::npos) << broken.error;
    EXPECT_EQ(broken.stderr_text, "");
}

}  // namespace
