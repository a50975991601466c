// Documents of both formats through the file operations: what the schemas accept, what
// parse_xml reads, what write_xml writes and how it replaces a file.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host_fault.h"
#include "pgm_common_xml_internal.h"
#include "pgm_common_xml_vorn_qspi_auto_export.h"
#include "pgm_common_xml_vorn_sdmmc_auto_export.h"
#include "vorn_test_support.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

const std::string QSPI_XSD = std::string(VORN_TEST_DATA_DIR) + "xsd/vorn_qspi.xsd";
const std::string SDMMC_XSD = std::string(VORN_TEST_DATA_DIR) + "xsd/vorn_sdmmc.xsd";

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

// The tree as text, with every element's line.
std::string dump(const PGM_COMMON_XML_ELEMENT& element) {
    std::string out = std::to_string(element.get_line()) + ":" + element.get_tag() + "\n";
    for (const PGM_COMMON_XML_ELEMENT* child : element.get_all_childs()) out += dump(*child);
    return out;
}

struct CASE {
    std::string kind, expect, argument, label, text;
};

std::vector<CASE> cases() {
    std::vector<CASE> out;
    std::istringstream in(vorn_test::read_test_file("xml/cases.txt"));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("=== ", 0) != 0) {
            if (!out.empty()) out.back().text += line + "\n";
            continue;
        }
        CASE c;
        const size_t bar = line.find(" | ");
        c.label = line.substr(bar + 3);
        std::istringstream head(line.substr(4, bar - 4));
        head >> c.kind >> c.expect;
        std::getline(head >> std::ws, c.argument);
        out.push_back(c);
    }
    // Bytes a text file does not keep well.
    out.push_back({"sdmmc", "accept", "", "byte order mark and CRLF",
                   "\xef\xbb\xbf<SDMMC_FLASH version=\"1\">\r\n\t<FLASH>\r\n<DEVICE_INFO>"
                   "<DEVICE_NAME>a\r\nb</DEVICE_NAME><DEVICE_IO_VOLTAGE/><DEVICE_DENSITY/>"
                   "</DEVICE_INFO>\r\n</FLASH></SDMMC_FLASH>"});
    // A parsed document keeps lines from 65,535 on its own way: left to the ordinary parse.
    out.push_back({"sdmmc", "accept-two-pass", "", "elements beyond line 65,535",
                   "<SDMMC_FLASH version=\"1\"><FLASH>" + std::string(70000, '\n') +
                       "<DEVICE_INFO><DEVICE_NAME>a</DEVICE_NAME><DEVICE_IO_VOLTAGE/>"
                       "<DEVICE_DENSITY/></DEVICE_INFO></FLASH></SDMMC_FLASH>"});
    return out;
}

// Whatever the schema accepts, the reader builds, and the tree a check reads on its way is
// the tree a plain parse builds; whatever either refuses, it refuses with a reason.
TEST(XmlCases, EachCaseIsJudgedAsItsFileSays) {
    vorn_test::TempDir dir;
    const std::string file = dir.file("v.xml");
    for (const CASE& c : cases()) {
        SCOPED_TRACE(c.kind + " " + c.expect + " | " + c.label);
        dir.write("v.xml", c.text);
        const bool sdmmc = c.kind == "sdmmc";
        if (c.expect == "accept" || c.expect == "accept-two-pass") {
            const size_t before = pgm_common_xml_detail::trees_read_in_one_pass();
            ASSERT_EQ(check(file, sdmmc), "");
            EXPECT_EQ(pgm_common_xml_detail::trees_read_in_one_pass() - before,
                      c.expect == "accept" ? 1u : 0u);
            TREE checked = parse(file, sdmmc);
            ASSERT_NE(checked, nullptr) << PGM_COMMON_XML::last_error();
            TREE parsed = parse(file, sdmmc);
            ASSERT_NE(parsed, nullptr) << PGM_COMMON_XML::last_error();
            EXPECT_EQ(dump(*checked), dump(*parsed));
            EXPECT_EQ(PGM_COMMON_XML::write_xml_string(checked.get()),
                      PGM_COMMON_XML::write_xml_string(parsed.get()));
            EXPECT_NE(parse(file, sdmmc, true), nullptr);
        } else if (c.expect == "refuse") {
            EXPECT_EQ(check(file, sdmmc).rfind(c.argument, 0), 0u) << check(file, sdmmc);
        } else if (c.expect == "parse") {
            EXPECT_EQ(parse(file, sdmmc), nullptr);
            EXPECT_EQ(PGM_COMMON_XML::last_error(), c.argument);
        } else {
            ASSERT_EQ(c.expect, "golden");
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
        TREE first = parse(std::string(VORN_TEST_FILES_DIR) + "xml/" + name, sdmmc, true);
        ASSERT_NE(first, nullptr) << PGM_COMMON_XML::last_error();
        ASSERT_TRUE(PGM_COMMON_XML::write_xml(first.get(), dir.file(name)));
        EXPECT_EQ(check(dir.file(name), sdmmc), "");
        TREE back = parse(dir.file(name), sdmmc);
        ASSERT_NE(back, nullptr) << PGM_COMMON_XML::last_error();
        EXPECT_EQ(dir.read(name), PGM_COMMON_XML::write_xml_string(back.get()));
        EXPECT_EQ(PGM_COMMON_XML::write_xml_string(first.get()), dir.read(name));
    }
    // The loader's view: typed lists and values as the file has them.
    TREE tree = parse(dir.file("qspi_every_action.xml"));
    auto* root = dynamic_cast<PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH*>(tree.get());
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->flash.at(0)->device_info.at(0)->total_device_die.at(0)->value, 2u);
    EXPECT_EQ(root->user_template.at(0)->template_name.at(0)->value,
              "quad <&> \"fast\" Gr\xc3\xb6\xc3\x9f"
              "e");
    auto* sfl = root->flash[0]->programming_flow.at(0)->sfl.at(0);
    auto* read_reg = sfl->initialization.at(0)->action.at(1);
    EXPECT_EQ(read_reg->type, PGM_COMMON_XML_ENUM_READ_REG);
    EXPECT_EQ(read_reg->attempt_count.at(0)->value, 4294967295u);
    EXPECT_EQ(read_reg->delay.at(0)->value, 100u);
    EXPECT_EQ(sfl->program.at(0)->action.at(0)->delay.at(0)->unit, "ms");
    EXPECT_EQ(sfl->termination.at(0)->action.at(0)->description.at(0)->value,
              "Reset\\nthen wait\n");
    EXPECT_EQ(tree->get_childs(PGM_COMMON_XML_ENUM_DEVICE_NAME, false).at(0)->get_line(), 5);
}

PGM_COMMON_XML_VORN_SDMMC_FLASH* sdmmc_flash(const std::string& name) {
    auto* info = new PGM_COMMON_XML_VORN_SDMMC_DEVICE_INFO();
    info->add_child(new PGM_COMMON_XML_VORN_SDMMC_DEVICE_NAME());
    info->add_child(new PGM_COMMON_XML_VORN_SDMMC_DEVICE_IO_VOLTAGE());
    info->add_child(new PGM_COMMON_XML_VORN_SDMMC_DEVICE_DENSITY());
    info->device_name[0]->write_string(name);
    info->device_io_voltage[0]->write_string("1.8V");
    info->device_density[0]->write_string("16GB");
    auto* flash = new PGM_COMMON_XML_VORN_SDMMC_FLASH();
    flash->add_child(info);
    return flash;
}

TEST(XmlWriter, WritesIndentedUtf8AndKeepsEveryCharacterXmlCanCarry) {
    PGM_COMMON_XML_VORN_SDMMC_SDMMC_FLASH root;
    root.add_child(sdmmc_flash("a < b && \"c\" ]]> &amp;"));
    EXPECT_EQ(PGM_COMMON_XML::write_xml_string(&root),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<SDMMC_FLASH version=\"1\">\n"
              "  <FLASH>\n"
              "    <DEVICE_INFO>\n"
              "      <DEVICE_NAME>a &lt; b &amp;&amp; \"c\" ]]&gt; &amp;amp;</DEVICE_NAME>\n"
              "      <DEVICE_IO_VOLTAGE>1.8V</DEVICE_IO_VOLTAGE>\n"
              "      <DEVICE_DENSITY>16GB</DEVICE_DENSITY>\n"
              "    </DEVICE_INFO>\n"
              "  </FLASH>\n"
              "</SDMMC_FLASH>\n");
    vorn_test::TempDir dir;
    for (const std::string& text : {""s, "  padded  "s, "tab\there"s, "two\nlines\n"s,
                                    "carriage\rreturn"s, "Gr\xc3\xb6\xc3\x9f"s}) {
        PGM_COMMON_XML_VORN_SDMMC_SDMMC_FLASH one;
        one.add_child(sdmmc_flash(text));
        ASSERT_TRUE(PGM_COMMON_XML::write_xml(&one, dir.file("t.xml")));
        TREE back = parse(dir.file("t.xml"), true);
        ASSERT_NE(back, nullptr) << PGM_COMMON_XML::last_error();
        EXPECT_EQ(back->get_childs(PGM_COMMON_XML_ENUM_DEVICE_NAME, false).at(0)->get_value_text(),
                  text);
    }
}

class XmlAtomicWrite : public testing::Test {
  protected:
    ~XmlAtomicWrite() override { HOST_FAULT::clear(); }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& entry : fs::directory_iterator(m_dir.path()))
            out.push_back(entry.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    bool write(const std::string& name) {
        PGM_COMMON_XML_VORN_SDMMC_SDMMC_FLASH root;
        root.add_child(sdmmc_flash(m_name));
        return PGM_COMMON_XML::write_xml(&root, name.empty() ? "" : m_dir.path() + name);
    }
    vorn_test::TempDir m_dir;
    std::string m_name = "EMMC";
};

TEST_F(XmlAtomicWrite, AFailedWriteLeavesTheTargetAndTheFolderAsTheyWere) {
    m_dir.write("pgm_flash_x.xml", "old");
    fs::create_directories(m_dir.path() + "pgm_flash_dir.xml");
    HOST_FAULT::fail_next(HOST_FAULT::WRITE_XML);
    EXPECT_FALSE(write("pgm_flash_x.xml"));
    EXPECT_EQ(PGM_COMMON_XML::last_error(),
              "cannot write " + m_dir.file("pgm_flash_x.xml") + ": injected failure");
    EXPECT_FALSE(write(""));
    EXPECT_FALSE(write("missing/pgm_flash_x.xml"));
    EXPECT_NE(PGM_COMMON_XML::last_error().find("missing"), std::string::npos);
    EXPECT_FALSE(write("pgm_flash_dir.xml"));
    EXPECT_FALSE(PGM_COMMON_XML::write_xml(nullptr, m_dir.file("pgm_flash_x.xml")));
    for (const std::string& bad : {"bell\x07"s, "nul\0x"s, "broken \xc3 utf8"s, "\xff\xfe"s}) {
        m_name = bad;
        EXPECT_FALSE(write("pgm_flash_x.xml"));
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
    m_name = "EMMC";
    EXPECT_TRUE(write("pgm_flash_x.xml"));  // only the next write failed
}

TEST_F(XmlAtomicWrite, TemporariesOfKilledWritersGoOnceOldOthersStay) {
    // Left by writers killed before their rename: one an hour old, one just made.
    for (const char* name : {".pgm_flash_cards.xml.Ab12Cd", ".pgm_flash_cards.xml.Ef34Gh",
                             ".pgm_flash_other.xml.Ij56Kl", ".pgm_flash_cards.xml.keep"})
        m_dir.write(name, "partial");
    const timespec hour_ago[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
    for (const char* old : {".pgm_flash_cards.xml.Ab12Cd", ".pgm_flash_other.xml.Ij56Kl",
                            ".pgm_flash_cards.xml.keep"})
        ASSERT_EQ(::utimensat(AT_FDCWD, m_dir.file(old).c_str(), hour_ago, 0), 0);
    ASSERT_TRUE(write("pgm_flash_cards.xml"));
    // Another file's temporaries wait for a write of that file.
    EXPECT_EQ(names(),
              (std::vector<std::string>{".pgm_flash_cards.xml.Ef34Gh", ".pgm_flash_cards.xml.keep",
                                        ".pgm_flash_other.xml.Ij56Kl", "pgm_flash_cards.xml"}));
}

TEST(XmlCaching, ACheckedFileIsReadOnceAndAChangedSchemaIsCompiledAgain) {
    vorn_test::TempDir dir;
    const std::string file = dir.file("pgm_flash_a.xml");
    dir.write("pgm_flash_a.xml",
              "<SDMMC_FLASH version=\"1\"><FLASH><DEVICE_INFO><DEVICE_NAME>AAAA</DEVICE_NAME>"
              "<DEVICE_IO_VOLTAGE/><DEVICE_DENSITY/></DEVICE_INFO></FLASH></SDMMC_FLASH>");
    auto name_in = [&] {
        TREE tree = parse(file, true);
        return tree ? tree->get_childs(PGM_COMMON_XML_ENUM_DEVICE_NAME, false)
                          .at(0)
                          ->get_value_text()
                    : PGM_COMMON_XML::last_error();
    };
    ASSERT_EQ(check(file, true), "");
    struct stat before;
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    // Same inode, size and time: the parse uses what the check read, once.
    std::string text = dir.read("pgm_flash_a.xml");
    text.replace(text.find("AAAA"), 4, "BBBB");
    FILE* f = std::fopen(file.c_str(), "r+");
    ASSERT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    EXPECT_EQ(name_in(), "AAAA");
    EXPECT_EQ(name_in(), "BBBB");
    // A file that changed after its check is read again.
    ASSERT_EQ(check(file, true), "");
    text.replace(text.find("BBBB"), 4, "CCCCC");
    dir.write("pgm_flash_a.xml", text);
    EXPECT_EQ(name_in(), "CCCCC");

    const std::string xsd = dir.file("xsd/vorn_qspi.xsd");
    fs::copy_file(SDMMC_XSD, xsd);
    std::string error, warning;
    EXPECT_TRUE(PGM_COMMON_XML::check_xsd(file, xsd, error, warning)) << error;
    fs::copy_file(QSPI_XSD, xsd, fs::copy_options::overwrite_existing);
    EXPECT_FALSE(PGM_COMMON_XML::check_xsd(file, xsd, error, warning));
}

}  // namespace
