// Documents of both formats through the file operations: what the schemas accept, what
// parse_xml reads, what write_xml writes and how it replaces a file.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host_fault.h"
#include "pgm_common_xml_vorn_qspi_auto_export.h"
#include "vorn_test_support.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

const std::string QSPI_XSD = std::string(VORN_TEST_DATA_DIR) + "xsd/vorn_qspi.xsd";
const std::string SDMMC_XSD = std::string(VORN_TEST_DATA_DIR) + "xsd/vorn_sdmmc.xsd";
const std::string FILES = std::string(VORN_TEST_FILES_DIR) + "xml/";

using TREE = std::unique_ptr<PGM_COMMON_XML_ELEMENT>;

TREE parse(const std::string& file, bool sdmmc = false, bool golden = false) {
    return TREE(PGM_COMMON_XML::parse_xml(
        sdmmc ? PGM_COMMON_XML_FILE_VORN_SDMMC : PGM_COMMON_XML_FILE_VORN_QSPI, file,
        sdmmc ? SDMMC_XSD : QSPI_XSD, golden, "", "", ""));
}

// The refusal's reason, or "" when the schema accepts the file.
std::string check(const std::string& file, bool sdmmc = false) {
    std::string error, warning;
    const bool ok = PGM_COMMON_XML::check_xsd(file, sdmmc ? SDMMC_XSD : QSPI_XSD, error, warning);
    EXPECT_EQ(ok, error.empty() && warning.empty()) << "a reason must come with every refusal";
    return ok ? "" : error + warning;
}

// What a loader reads: checked against the schema and built in one pass.
TREE read(const std::string& file, bool sdmmc, std::string& error) {
    return TREE(PGM_COMMON_XML::read_xml(
        sdmmc ? PGM_COMMON_XML_FILE_VORN_SDMMC : PGM_COMMON_XML_FILE_VORN_QSPI, file,
        sdmmc ? SDMMC_XSD : QSPI_XSD, error));
}

// The tree as text, with every element's line.
std::string dump(const PGM_COMMON_XML_ELEMENT& element) {
    std::string out = std::to_string(element.get_line()) + ":" + element.get_tag() + "\n";
    for (const PGM_COMMON_XML_ELEMENT* child : element.get_all_childs()) out += dump(*child);
    return out;
}

// Whatever the schema accepts, the reader builds, checking and building in one pass the tree a
// plain parse builds; whatever either refuses, it refuses with a reason. The cases are
// the documents of files/xml/cases.txt, each after its "=== KIND EXPECT [ARGUMENT] | LABEL".
TEST(XmlCases, EachCaseIsJudgedAsItsFileSays) {
    std::vector<std::pair<std::string, std::string>> cases;
    std::istringstream in(vorn_test::read_test_file("xml/cases.txt"));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("=== ", 0) == 0)
            cases.push_back({line.substr(4), ""});
        else if (!cases.empty())
            cases.back().second += line + "\n";
    }
    // Bytes a text file does not keep well, and lines a parsed document keeps its own way.
    cases.push_back({"sdmmc accept | byte order mark and CRLF",
                     "\xef\xbb\xbf<SDMMC_FLASH version=\"1\">\r\n\t<FLASH>\r\n<DEVICE_INFO>"
                     "<DEVICE_NAME>a\r\nb</DEVICE_NAME><DEVICE_IO_VOLTAGE/><DEVICE_DENSITY/>"
                     "</DEVICE_INFO>\r\n</FLASH></SDMMC_FLASH>"});
    cases.push_back({"sdmmc accept | elements beyond line 65,535",
                     "<SDMMC_FLASH version=\"1\"><FLASH>" + std::string(70000, '\n') +
                         "<DEVICE_INFO><DEVICE_NAME>a</DEVICE_NAME><DEVICE_IO_VOLTAGE/>"
                         "<DEVICE_DENSITY/></DEVICE_INFO></FLASH></SDMMC_FLASH>"});
    vorn_test::TempDir dir;
    const std::string file = dir.file("v.xml");
    for (const auto& [head, text] : cases) {
        SCOPED_TRACE(head);
        std::istringstream words(head.substr(0, head.find(" | ")));
        std::string kind, expect, argument;
        words >> kind >> expect;
        std::getline(words >> std::ws, argument);
        dir.write("v.xml", text);
        const bool sdmmc = kind == "sdmmc";
        if (expect == "accept") {
            ASSERT_EQ(check(file, sdmmc), "");
            std::string error = "stale";
            TREE loaded = read(file, sdmmc, error);
            TREE parsed = parse(file, sdmmc);
            ASSERT_TRUE(loaded && parsed) << error << PGM_COMMON_XML::last_error();
            EXPECT_EQ(error, "");
            EXPECT_EQ(dump(*loaded), dump(*parsed));
            EXPECT_EQ(PGM_COMMON_XML::write_xml_string(loaded.get()),
                      PGM_COMMON_XML::write_xml_string(parsed.get()));
            EXPECT_NE(parse(file, sdmmc, true), nullptr);
        } else if (expect == "refuse") {
            EXPECT_EQ(check(file, sdmmc).rfind(argument, 0), 0u) << check(file, sdmmc);
            // The schema's reasons come before anything the builder would have said.
            std::string error;
            EXPECT_EQ(read(file, sdmmc, error), nullptr);
            EXPECT_EQ(error, check(file, sdmmc));
        } else if (expect == "parse") {
            EXPECT_EQ(parse(file, sdmmc), nullptr);
            EXPECT_EQ(PGM_COMMON_XML::last_error(), argument);
        } else {
            ASSERT_EQ(expect, "golden");
            EXPECT_NE(check(file, sdmmc), "");
            EXPECT_NE(parse(file, sdmmc, true), nullptr) << PGM_COMMON_XML::last_error();
        }
    }
    EXPECT_EQ(
        PGM_COMMON_XML::parse_xml(PGM_COMMON_XML_FILE_RESERVED, file, QSPI_XSD, false, "", "", ""),
        nullptr);
    EXPECT_EQ(PGM_COMMON_XML::last_error(), "document kind 1 is not supported");
}

// Reads a test file, writes the tree back and reads that: the same document each time.
TEST(XmlRoundTrip, WhatIsWrittenReadsBackToTheSameTree) {
    vorn_test::TempDir dir;
    for (const char* name : {"qspi_every_action.xml", "qspi_golden.xml", "sdmmc_user.xml"}) {
        SCOPED_TRACE(name);
        const bool sdmmc = name[0] == 's';
        TREE first = parse(FILES + name, sdmmc, true);
        ASSERT_NE(first, nullptr) << PGM_COMMON_XML::last_error();
        ASSERT_TRUE(PGM_COMMON_XML::write_xml(first.get(), dir.file(name)));
        EXPECT_EQ(check(dir.file(name), sdmmc), "");
        TREE back = parse(dir.file(name), sdmmc);
        ASSERT_NE(back, nullptr) << PGM_COMMON_XML::last_error();
        EXPECT_EQ(dir.read(name), PGM_COMMON_XML::write_xml_string(back.get()));
        EXPECT_EQ(PGM_COMMON_XML::write_xml_string(first.get()), dir.read(name));
    }
    TREE tree = parse(dir.file("qspi_every_action.xml"));
    EXPECT_EQ(tree->get_childs(PGM_COMMON_XML_ENUM_TEMPLATE_NAME, false).at(0)->get_value_text(),
              "quad <&> \"fast\" Gr\xc3\xb6\xc3\x9f"
              "e");
}

class XmlWriter : public testing::Test {
  protected:
    ~XmlWriter() override { HOST_FAULT::clear(); }
    std::vector<std::string> names() const { return vorn_test::entries(m_dir.path(), "*"); }
    // Writes the test file sdmmc_user.xml with its first device named `name`.
    bool write(const std::string& file, const std::string& name = "EMMC") {
        m_name->write_string(name);
        return PGM_COMMON_XML::write_xml(m_tree.get(), file);
    }
    vorn_test::TempDir m_dir;
    TREE m_tree = parse(FILES + "sdmmc_user.xml", true);
    PGM_COMMON_XML_ELEMENT* m_name = m_tree->get_childs(PGM_COMMON_XML_ENUM_DEVICE_NAME, false)[0];
};

TEST_F(XmlWriter, WritesIndentedUtf8AndKeepsEveryCharacterXmlCanCarry) {
    // A file in the written form comes back byte for byte.
    EXPECT_EQ(PGM_COMMON_XML::write_xml_string(m_tree.get()),
              vorn_test::read_test_file("xml/sdmmc_user.xml"));
    m_name->write_string("a < b && \"c\" ]]> &amp;");
    EXPECT_NE(PGM_COMMON_XML::write_xml_string(m_tree.get())
                  .find("\n      <DEVICE_NAME>a &lt; b &amp;&amp; \"c\" ]]&gt; &amp;amp;</"
                        "DEVICE_NAME>\n"),
              std::string::npos);
    for (const std::string& text : {""s, "  padded  "s, "tab\there"s, "two\nlines\n"s,
                                    "carriage\rreturn"s, "Gr\xc3\xb6\xc3\x9f"s}) {
        ASSERT_TRUE(write(m_dir.file("t.xml"), text));
        TREE back = parse(m_dir.file("t.xml"), true);
        ASSERT_NE(back, nullptr) << PGM_COMMON_XML::last_error();
        EXPECT_EQ(back->get_childs(PGM_COMMON_XML_ENUM_DEVICE_NAME, false).at(0)->get_value_text(),
                  text);
    }
}

TEST_F(XmlWriter, AFailedWriteLeavesTheTargetAndTheFolderAsTheyWere) {
    m_dir.write("pgm_flash_x.xml", "old");
    const std::string target = m_dir.file("pgm_flash_x.xml");
    fs::create_directories(m_dir.path() + "pgm_flash_dir.xml");
    HOST_FAULT::fail_next(HOST_FAULT::WRITE_XML);
    EXPECT_FALSE(write(target));
    EXPECT_EQ(PGM_COMMON_XML::last_error(), "cannot write " + target + ": injected failure");
    EXPECT_FALSE(write(""));
    EXPECT_FALSE(write(m_dir.path() + "missing/pgm_flash_x.xml"));
    EXPECT_NE(PGM_COMMON_XML::last_error().find("missing"), std::string::npos);
    EXPECT_FALSE(write(m_dir.path() + "pgm_flash_dir.xml"));
    EXPECT_FALSE(PGM_COMMON_XML::write_xml(nullptr, target));
    for (const std::string& bad : {"bell\x07"s, "nul\0x"s, "broken \xc3 utf8"s, "\xff\xfe"s}) {
        EXPECT_FALSE(write(target, bad));
        EXPECT_EQ(PGM_COMMON_XML::last_error(),
                  "element \"DEVICE_NAME\" holds text that XML cannot carry");
    }
    PGM_COMMON_XML_VORN_QSPI_DELAY d;
    d.write_attribute_string("unit", "\x01");
    EXPECT_EQ(PGM_COMMON_XML::write_xml_string(&d), "");
    EXPECT_EQ(PGM_COMMON_XML::last_error(),
              "attribute \"unit\" of element \"DELAY\" holds text that XML cannot carry");
    EXPECT_EQ(m_dir.read("pgm_flash_x.xml"), "old");
    EXPECT_EQ(names(), (std::vector<std::string>{"pgm_flash_dir.xml", "pgm_flash_x.xml"}));
    EXPECT_TRUE(write(target));  // only the next write failed
}

TEST_F(XmlWriter, TemporariesOfKilledWritersGoOnceOldOthersStay) {
    // Left by writers killed before their rename: one an hour old, one just made.
    for (const char* name : {".pgm_flash_cards.xml.Ab12Cd", ".pgm_flash_cards.xml.Ef34Gh",
                             ".pgm_flash_other.xml.Ij56Kl", ".pgm_flash_cards.xml.keep"})
        m_dir.write(name, "partial");
    const timespec hour_ago[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
    for (const char* old : {".pgm_flash_cards.xml.Ab12Cd", ".pgm_flash_other.xml.Ij56Kl",
                            ".pgm_flash_cards.xml.keep"})
        ASSERT_EQ(::utimensat(AT_FDCWD, m_dir.file(old).c_str(), hour_ago, 0), 0);
    ASSERT_TRUE(write(m_dir.file("pgm_flash_cards.xml")));
    // Another file's temporaries wait for a write of that file.
    EXPECT_EQ(names(),
              (std::vector<std::string>{".pgm_flash_cards.xml.Ef34Gh", ".pgm_flash_cards.xml.keep",
                                        ".pgm_flash_other.xml.Ij56Kl", "pgm_flash_cards.xml"}));
}

// A sink may keep some of the children it is handed and delete others while the file is still
// being read; the memory a deleted one gave back serves the elements read after it, never one
// still kept. The shipped golden template, read whole, is the reference.
TEST(XmlSink, ChildrenKeptBesideChildrenDeletedReadAsInTheWholeTree) {
    struct KEEP_EVERY_THIRD : PGM_COMMON_XML_CHILD_SINK {
        bool take_child(PGM_COMMON_XML_ELEMENT* child) override {
            TREE owned(child);
            if (seen++ % 3 == 0) kept.push_back(std::move(owned));
            return true;
        }
        size_t seen = 0;
        std::vector<TREE> kept;
    } sink;
    // Tags, lines, values and attributes of a whole branch.
    const std::function<std::string(const PGM_COMMON_XML_ELEMENT&)> text =
        [&](const PGM_COMMON_XML_ELEMENT& element) {
            std::string out = std::to_string(element.get_line()) + ":" + element.get_tag() + "=" +
                              element.get_slot_text();
            for (const auto& attribute : element.get_attributes())
                out += " " + attribute.get_name() + "=" + attribute.get_value_text();
            for (const PGM_COMMON_XML_ELEMENT* child : element.get_all_childs())
                out += "\n" + text(*child);
            return out;
        };
    const std::string golden = std::string(VORN_TEST_DATA_DIR) + "xml/pgm_flash_db_qspi.xml";
    std::string error;
    TREE whole(PGM_COMMON_XML::read_xml(PGM_COMMON_XML_FILE_VORN_QSPI, golden, "", error));
    ASSERT_NE(whole, nullptr) << error;
    TREE rest(PGM_COMMON_XML::read_xml(PGM_COMMON_XML_FILE_VORN_QSPI, golden, "", error, &sink));
    ASSERT_NE(rest, nullptr) << error;
    const auto& children = whole->get_all_childs();
    ASSERT_EQ(sink.seen, children.size());
    ASSERT_GT(sink.kept.size(), 90u);
    for (size_t i = 0; i < sink.kept.size(); ++i)
        ASSERT_EQ(text(*sink.kept[i]), text(*children[3 * i])) << "child " << 3 * i;
}

// Nothing passes from one call to the next but the compiled schemas: a file changed after its
// check, even one that keeps its inode, size and time, is read as it is now.
TEST(XmlCaching, EveryCallReadsTheFileAndAChangedSchemaIsCompiledAgain) {
    vorn_test::TempDir dir;
    const std::string file = dir.file("pgm_flash_a.xml");
    std::string text = vorn_test::read_test_file("xml/sdmmc_user.xml");
    dir.write("pgm_flash_a.xml", text);
    auto name_in = [&] {
        TREE tree = parse(file, true);
        return tree ? tree->get_childs(PGM_COMMON_XML_ENUM_DEVICE_NAME, false)[0]->get_value_text()
                    : PGM_COMMON_XML::last_error();
    };
    ASSERT_EQ(check(file, true), "");
    struct stat before;
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    text.replace(text.find("EMMC_16GB"), 9, "EMMC_16GX");
    std::fstream(file, std::ios::in | std::ios::out | std::ios::binary) << text;
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    EXPECT_EQ(name_in(), "EMMC_16GX");
    std::string error;
    TREE read_tree = read(file, true, error);
    ASSERT_NE(read_tree, nullptr) << error;
    EXPECT_EQ(read_tree->get_childs(PGM_COMMON_XML_ENUM_DEVICE_NAME, false)[0]->get_value_text(),
              "EMMC_16GX");

    const std::string xsd = dir.file("xsd/vorn_qspi.xsd");
    fs::copy_file(SDMMC_XSD, xsd);
    std::string warning;
    EXPECT_TRUE(PGM_COMMON_XML::check_xsd(file, xsd, error, warning)) << error;
    fs::copy_file(QSPI_XSD, xsd, fs::copy_options::overwrite_existing);
    EXPECT_FALSE(PGM_COMMON_XML::check_xsd(file, xsd, error, warning));
}

}  // namespace
