// Documents of both formats through the file operations: what write_xml writes, what
// parse_xml reads back, what the schemas accept, and how files are replaced.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host_fault.h"
#include "pgm_common_xml_internal.h"
#include "pgm_common_xml_vorn_qspi_auto_export.h"
#include "pgm_common_xml_vorn_sdmmc_auto_export.h"
#include "test_qspi_fixture.h"
#include "vorn_test_support.h"

namespace fs = std::filesystem;
namespace q = qspi_test;

namespace {

const std::string QSPI_XSD = std::string(VORN_TEST_DATA_DIR) + "xsd/vorn_qspi.xsd";
const std::string SDMMC_XSD = std::string(VORN_TEST_DATA_DIR) + "xsd/vorn_sdmmc.xsd";

std::string test_file(const std::string& name) {
    return std::string(VORN_TEST_FILES_DIR) + "xml/" + name;
}

using TREE = std::unique_ptr<PGM_COMMON_XML_ELEMENT>;

TREE parse(const std::string& file, PGM_COMMON_XML_FILE_ENUM kind = PGM_COMMON_XML_FILE_VORN_QSPI,
           bool golden = false) {
    const std::string& xsd = kind == PGM_COMMON_XML_FILE_VORN_SDMMC ? SDMMC_XSD : QSPI_XSD;
    return TREE(PGM_COMMON_XML::parse_xml(kind, file, xsd, golden, "", "", ""));
}

bool check(const std::string& file, const std::string& xsd, std::string* reason = nullptr) {
    std::string error, warning;
    bool ok = PGM_COMMON_XML::check_xsd(file, xsd, error, warning);
    EXPECT_EQ(ok, error.empty() && warning.empty()) << "a reason must come with every refusal";
    if (reason) *reason = error + warning;
    return ok;
}

// ---- building trees -------------------------------------------------------------------------

template <typename T>
T* text(const std::string& value) {
    auto* element = new T();
    element->write_string(value);
    return element;
}

template <typename T>
T* number(unsigned int value) {
    auto* element = new T();
    element->write_value(value);
    return element;
}

template <typename T>
T* with(T* parent, std::initializer_list<PGM_COMMON_XML_ELEMENT*> children) {
    for (auto* child : children) parent->add_child(child);
    return parent;
}

using namespace std::string_literals;

PGM_COMMON_XML_VORN_QSPI_DELAY* delay(unsigned int us) {
    auto* d = new PGM_COMMON_XML_VORN_QSPI_DELAY();
    d->write_attribute_string("unit", "us");
    d->write_value(us);
    return d;
}

// One action of every type, with texts that need escaping and numbers of every property kind.
q::FLOW every_action() {
    q::FLOW f;
    f.initialization = q::write_reg("Write enable", "0x06") +
                       q::read_reg("Read status", "0x05", "0x00", "0x01", "100");
    f.program =
        q::action("WRITE_DATA", q::leaf("NAME", "Page program") + q::leaf("COMMAND", "0x02") +
                                    q::leaf("ADDRESS", "0x0") + q::leaf("DATA", "0xAA 0x55") +
                                    q::leaf("PAGE_SIZE", "256") + q::leaf("ADDRESSING_MODE", "4") +
                                    q::delay("8") + q::leaf("BUS_WIDTH", "1-1-4"));
    f.erase = q::action("ERASE", q::leaf("NAME", "Sector erase") + q::leaf("COMMAND", "0xDC") +
                                     q::leaf("ADDRESS", "0x0") + q::leaf("ERASE_SIZE", "65536") +
                                     q::leaf("ADDRESSING_MODE", "4") + q::delay("0") +
                                     q::leaf("BUS_WIDTH", "1-1-1"));
    f.verify = q::action(
        "READ_DATA", q::leaf("NAME", "Fast read") + q::leaf("COMMAND", "0x0C") +
                         q::leaf("ADDRESS", "0x0") + q::leaf("DATA_LENGTH", "4096") +
                         "<EXPECTED_DATA/><EXPECTED_DATA_MASK/>" + q::leaf("ADDRESSING_MODE", "4") +
                         q::leaf("ACT_DUMMY_CLOCK_CYCLE", "10") + q::delay("0") +
                         q::leaf("BUS_WIDTH", "1-4-4"));
    f.termination = q::custom_action("Reset\\nthen wait\n", "out");
    return f;
}

std::string qspi_user_text() {
    q::DEVICE a = q::device("MT25QU02G");
    a.id = "0x20BB22";
    a.total_die = "2";
    a.prog_flow_template = "";
    a.sfl = every_action();
    q::DEVICE b = a;
    b.name = "MX66U2G45G";
    return q::document(q::flash_xml(a) + q::flash_xml(b) +
                       q::template_xml("quad &lt;&amp;&gt; \"fast\"", every_action()));
}

std::string qspi_golden_text() {
    std::string vendors;
    for (const char* v : {"MICRON", "MACRONIX", "CYPRESS", "WINBOND", "ISSI"})
        vendors += q::vendor_xml(v, every_action());
    q::DEVICE d = q::device("W25Q256JW");
    d.sfl = every_action();
    return q::golden_document(vendors, q::flash_xml(d));
}

PGM_COMMON_XML_VORN_SDMMC_FLASH* sdmmc_flash(const std::string& name, const std::string& density) {
    return with(new PGM_COMMON_XML_VORN_SDMMC_FLASH(),
                {with(new PGM_COMMON_XML_VORN_SDMMC_DEVICE_INFO(),
                      {text<PGM_COMMON_XML_VORN_SDMMC_DEVICE_NAME>(name),
                       text<PGM_COMMON_XML_VORN_SDMMC_DEVICE_IO_VOLTAGE>("1.8V"),
                       text<PGM_COMMON_XML_VORN_SDMMC_DEVICE_DENSITY>(density)})});
}

std::unique_ptr<PGM_COMMON_XML_VORN_SDMMC_SDMMC_FLASH> sdmmc_document() {
    auto root = std::make_unique<PGM_COMMON_XML_VORN_SDMMC_SDMMC_FLASH>();
    root->write_attribute_value("version", 1);
    root->add_child(sdmmc_flash("EMMC_16GB", "16GB"));
    root->add_child(sdmmc_flash("EMMC_512GB", "512GB"));
    return root;
}

void expect_same_tree(const PGM_COMMON_XML_ELEMENT& a, const PGM_COMMON_XML_ELEMENT& b,
                      const std::string& where = "") {
    const std::string here = where + "/" + a.get_tag();
    ASSERT_EQ(a.get_class_type(), b.get_class_type()) << here;
    EXPECT_EQ(a.get_sub_class_type(), b.get_sub_class_type()) << here;
    EXPECT_EQ(a.get_slot_text(), b.get_slot_text()) << here;
    EXPECT_EQ(a.get_value_text(), b.get_value_text()) << here;
    ASSERT_EQ(a.get_attributes().size(), b.get_attributes().size()) << here;
    for (size_t i = 0; i < a.get_attributes().size(); ++i) {
        const auto& x = a.get_attributes()[i];
        const auto& y = b.get_attributes()[i];
        EXPECT_EQ(x.get_name(), y.get_name()) << here;
        EXPECT_EQ(x.is_set(), y.is_set()) << here << "@" << x.get_name();
        EXPECT_EQ(a.get_attribute_text(x.get_name()), b.get_attribute_text(y.get_name()))
            << here << "@" << x.get_name();
    }
    ASSERT_EQ(a.get_all_childs().size(), b.get_all_childs().size()) << here;
    for (size_t i = 0; i < a.get_all_childs().size(); ++i)
        expect_same_tree(*a.get_all_childs()[i], *b.get_all_childs()[i], here);
}

// ---- round trips ----------------------------------------------------------------------------

// Reads `text`, writes the tree back and reads that file: both reads must give the same tree,
// and the written file must pass the schema.
TREE round_trip(const vorn_test::TempDir& dir, const std::string& text, bool golden = false) {
    dir.write("in.xml", text);
    TREE first = parse(dir.file("in.xml"), PGM_COMMON_XML_FILE_VORN_QSPI, golden);
    EXPECT_NE(first, nullptr) << PGM_COMMON_XML::last_error();
    if (!first) return nullptr;
    const std::string file = dir.file("pgm_flash_out.xml");
    EXPECT_TRUE(PGM_COMMON_XML::write_xml(first.get(), file)) << PGM_COMMON_XML::last_error();
    std::string reason;
    EXPECT_TRUE(check(file, QSPI_XSD, &reason)) << reason;
    TREE back = parse(file, PGM_COMMON_XML_FILE_VORN_QSPI, golden);
    EXPECT_NE(back, nullptr) << PGM_COMMON_XML::last_error();
    if (back) expect_same_tree(*first, *back);
    return back;
}

TEST(XmlRoundTrip, QspiUserDocumentComesBackElementByElement) {
    vorn_test::TempDir dir;
    TREE back = round_trip(dir, qspi_user_text());
    // The loader's view: typed lists filled in document order.
    auto* root = dynamic_cast<PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH*>(back.get());
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(root->flash.size(), 2u);
    EXPECT_EQ(root->flash[1]->device_info.at(0)->device_name.at(0)->value, "MX66U2G45G");
    EXPECT_EQ(root->flash[0]->device_info.at(0)->total_device_die.at(0)->value, 2u);
    EXPECT_EQ(root->user_template.at(0)->template_name.at(0)->value, "quad <&> \"fast\"");
    auto* sfl = root->flash[0]->programming_flow.at(0)->sfl.at(0);
    ASSERT_EQ(sfl->initialization.at(0)->action.size(), 2u);
    EXPECT_EQ(sfl->initialization[0]->action[1]->type, PGM_COMMON_XML_ENUM_READ_REG);
    EXPECT_EQ(sfl->initialization[0]->action[1]->delay.at(0)->value, 100u);
    EXPECT_EQ(sfl->initialization[0]->action[1]->delay.at(0)->unit, "us");
    EXPECT_EQ(sfl->termination.at(0)->action.at(0)->description.at(0)->value,
              "Reset\\nthen wait\n");
    EXPECT_EQ(root->version, 1u);
}

TEST(XmlRoundTrip, QspiGoldenDocumentComesBackWithOrWithoutTheGoldenFlag) {
    vorn_test::TempDir dir;
    TREE golden = round_trip(dir, qspi_golden_text(), true);
    ASSERT_NE(golden, nullptr);
    TREE user = parse(dir.file("pgm_flash_out.xml"));
    ASSERT_NE(user, nullptr);
    expect_same_tree(*golden, *user);
    EXPECT_EQ(golden->get_child_count(PGM_COMMON_XML_ENUM_GOLDEN_TEMPLATE, true), 1u);
    // Five vendors with both flows, and one device with its SFL flow.
    EXPECT_EQ(golden->get_child_count(PGM_COMMON_XML_ENUM_ACTION, false), 5u * 12u + 6u);
}

TEST(XmlRoundTrip, SdmmcDocumentComesBackElementByElement) {
    vorn_test::TempDir dir;
    auto tree = sdmmc_document();
    const std::string file = dir.file("pgm_flash_cards.xml");
    ASSERT_TRUE(PGM_COMMON_XML::write_xml(tree.get(), file));
    EXPECT_TRUE(check(file, SDMMC_XSD));
    TREE back = parse(file, PGM_COMMON_XML_FILE_VORN_SDMMC);
    ASSERT_NE(back, nullptr) << PGM_COMMON_XML::last_error();
    expect_same_tree(*tree, *back);
    auto* root = dynamic_cast<PGM_COMMON_XML_VORN_SDMMC_SDMMC_FLASH*>(back.get());
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->flash.at(1)->device_info.at(0)->device_density.at(0)->value, "512GB");
}

TEST(XmlRoundTrip, TextsKeepEveryCharacterXmlCanCarry) {
    vorn_test::TempDir dir;
    const std::vector<std::string> texts = {"",
                                            "  padded  ",
                                            "a < b && c > d",
                                            "quotes \" and ' apostrophes",
                                            "tab\there",
                                            "two\nlines\n",
                                            "carriage\rreturn",
                                            "Gr\xc3\xb6\xc3\x9f"
                                            "e \xc2\xb5s \xe2\x9c\x93",
                                            "]]> end of cdata",
                                            "&amp; stays literal"};
    for (const auto& value : texts) {
        PGM_COMMON_XML_VORN_SDMMC_SDMMC_FLASH root;
        root.add_child(sdmmc_flash(value, "1GB"));
        const std::string file = dir.file("t.xml");
        ASSERT_TRUE(PGM_COMMON_XML::write_xml(&root, file)) << value;
        std::string reason;
        EXPECT_TRUE(check(file, SDMMC_XSD, &reason)) << value << ": " << reason;
        TREE back = parse(file, PGM_COMMON_XML_FILE_VORN_SDMMC);
        ASSERT_NE(back, nullptr) << value << ": " << PGM_COMMON_XML::last_error();
        auto* r = dynamic_cast<PGM_COMMON_XML_VORN_SDMMC_SDMMC_FLASH*>(back.get());
        EXPECT_EQ(r->flash.at(0)->device_info.at(0)->device_name.at(0)->value, value);
    }
}

TEST(XmlRoundTrip, ParsedElementsKnowTheirLines) {
    TREE tree = parse(test_file("qspi_user.xml"));
    ASSERT_NE(tree, nullptr) << PGM_COMMON_XML::last_error();
    EXPECT_EQ(tree->get_line(), 2);
    auto flashes = tree->get_childs(PGM_COMMON_XML_ENUM_FLASH, true);
    ASSERT_EQ(flashes.size(), 1u);
    EXPECT_EQ(flashes[0]->get_line(), 3);
    EXPECT_EQ(tree->get_childs(PGM_COMMON_XML_ENUM_DEVICE_NAME, false).at(0)->get_line(), 5);
    EXPECT_EQ(PGM_COMMON_XML_VORN_QSPI_FLASH().get_line(), 0);
}

// ---- what the writer writes -----------------------------------------------------------------

TEST(XmlWriter, WritesIndentedUtf8WithDecimalNumbers) {
    auto root = sdmmc_document();
    PGM_COMMON_XML_ELEMENT* second = root->flash.back();
    ASSERT_TRUE(root->remove_child(second));
    delete second;
    EXPECT_EQ(PGM_COMMON_XML::write_xml_string(root.get()),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<SDMMC_FLASH version=\"1\">\n"
              "  <FLASH>\n"
              "    <DEVICE_INFO>\n"
              "      <DEVICE_NAME>EMMC_16GB</DEVICE_NAME>\n"
              "      <DEVICE_IO_VOLTAGE>1.8V</DEVICE_IO_VOLTAGE>\n"
              "      <DEVICE_DENSITY>16GB</DEVICE_DENSITY>\n"
              "    </DEVICE_INFO>\n"
              "  </FLASH>\n"
              "</SDMMC_FLASH>\n");

    PGM_COMMON_XML_VORN_QSPI_ACTION act;
    act.write_attribute_enum("type", PGM_COMMON_XML_ENUM_WRITE_REG);
    act.add_child(delay(100));
    act.add_child(new PGM_COMMON_XML_VORN_QSPI_DATA());
    act.add_child(number<PGM_COMMON_XML_VORN_QSPI_PAGE_SIZE>(4294967295u));
    EXPECT_EQ(PGM_COMMON_XML::write_xml_string(&act),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<ACTION type=\"WRITE_REG\">\n"
              "  <DELAY unit=\"us\">100</DELAY>\n"
              "  <DATA/>\n"
              "  <PAGE_SIZE>4294967295</PAGE_SIZE>\n"
              "</ACTION>\n");
}

TEST(XmlWriter, SlotsAssignedDirectlyAreWrittenAndBuiltInsAreNot) {
    PGM_COMMON_XML_VORN_QSPI_ACTION act;
    act.type = PGM_COMMON_XML_ENUM_CUSTOM;
    auto* name = new PGM_COMMON_XML_VORN_QSPI_NAME();
    name->value = "direct";
    act.add_child(name);
    ASSERT_TRUE(act.read_attribute_text("__hidden__", "1"));
    const std::string xml = PGM_COMMON_XML::write_xml_string(&act);
    EXPECT_NE(xml.find("<ACTION type=\"CUSTOM\">"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<NAME>direct</NAME>"), std::string::npos) << xml;
    EXPECT_EQ(xml.find("__hidden__"), std::string::npos) << xml;

    // Required attributes are written even at their defaults, so the schema accepts the file.
    PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH root;
    EXPECT_EQ(PGM_COMMON_XML::write_xml_string(&root),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QSPI_FLASH version=\"1\"/>\n");
}

TEST(XmlWriter, RefusesTextXmlCannotCarryAndLeavesTheTargetAlone) {
    vorn_test::TempDir dir;
    dir.write("pgm_flash_x.xml", "old");
    for (const std::string& bad : {"bell\x07"s, "nul\0x"s, "broken \xc3 utf8"s, "\xff\xfe"s}) {
        PGM_COMMON_XML_VORN_SDMMC_SDMMC_FLASH root;
        root.add_child(sdmmc_flash(bad, "1GB"));
        EXPECT_FALSE(PGM_COMMON_XML::write_xml(&root, dir.file("pgm_flash_x.xml")));
        EXPECT_EQ(PGM_COMMON_XML::last_error(),
                  "element \"DEVICE_NAME\" holds text that XML cannot carry");
        EXPECT_EQ(PGM_COMMON_XML::write_xml_string(&root), "");
    }
    PGM_COMMON_XML_VORN_QSPI_DELAY d;
    d.write_attribute_string("unit", "\x01");
    EXPECT_EQ(PGM_COMMON_XML::write_xml_string(&d), "");
    EXPECT_EQ(PGM_COMMON_XML::last_error(),
              "attribute \"unit\" of element \"DELAY\" holds text that XML cannot carry");
    EXPECT_EQ(dir.read("pgm_flash_x.xml"), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

// ---- atomic replacement -------------------------------------------------------------------------

class XmlAtomicWrite : public testing::Test {
  protected:
    void TearDown() override {
        umask(m_umask);
        HOST_FAULT::clear();
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& entry : fs::directory_iterator(m_dir.path()))
            out.push_back(entry.path().filename().string());
        return out;
    }
    mode_t mode(const std::string& file) const {
        struct stat st;
        EXPECT_EQ(::stat(file.c_str(), &st), 0);
        return st.st_mode & 07777;
    }
    vorn_test::TempDir m_dir;
    mode_t m_umask = umask(022);
};

TEST_F(XmlAtomicWrite, FileIsMode0644WhateverTheUmaskAndNoTemporaryStays) {
    auto tree = sdmmc_document();
    for (mode_t mask : {mode_t(0), mode_t(077), mode_t(0222)}) {
        umask(mask);
        const std::string file = m_dir.file("pgm_flash_cards.xml");
        ASSERT_TRUE(PGM_COMMON_XML::write_xml(tree.get(), file));
        EXPECT_EQ(mode(file), 0644u) << "umask " << mask;
        EXPECT_EQ(names(), std::vector<std::string>{"pgm_flash_cards.xml"});
    }
}

TEST_F(XmlAtomicWrite, ReplacesAnExistingFileWhole) {
    const std::string file = m_dir.file("pgm_flash_cards.xml");
    m_dir.write("pgm_flash_cards.xml", std::string(100000, 'x'));
    ASSERT_EQ(::chmod(file.c_str(), 0400), 0);
    auto tree = sdmmc_document();
    ASSERT_TRUE(PGM_COMMON_XML::write_xml(tree.get(), file));
    EXPECT_EQ(m_dir.read("pgm_flash_cards.xml"), PGM_COMMON_XML::write_xml_string(tree.get()));
    EXPECT_EQ(mode(file), 0644u);
    EXPECT_EQ(names().size(), 1u);
}

TEST_F(XmlAtomicWrite, TemporariesOfKilledWritersGoOnceOldOthersStay) {
    // Left by writers killed before their rename: one an hour old, one just made.
    m_dir.write(".pgm_flash_cards.xml.Ab12Cd", "partial");
    m_dir.write(".pgm_flash_cards.xml.Ef34Gh", "partial");
    m_dir.write(".pgm_flash_other.xml.Ij56Kl", "partial");
    m_dir.write(".pgm_flash_cards.xml.keep", "not a temporary of ours");
    const timespec hour_ago[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
    for (const char* old : {".pgm_flash_cards.xml.Ab12Cd", ".pgm_flash_other.xml.Ij56Kl",
                            ".pgm_flash_cards.xml.keep"})
        ASSERT_EQ(::utimensat(AT_FDCWD, m_dir.file(old).c_str(), hour_ago, 0), 0);

    auto tree = sdmmc_document();
    ASSERT_TRUE(PGM_COMMON_XML::write_xml(tree.get(), m_dir.file("pgm_flash_cards.xml")));
    auto left = names();
    std::sort(left.begin(), left.end());
    // Another file's temporaries wait for a write of that file.
    EXPECT_EQ(left,
              (std::vector<std::string>{".pgm_flash_cards.xml.Ef34Gh", ".pgm_flash_cards.xml.keep",
                                        ".pgm_flash_other.xml.Ij56Kl", "pgm_flash_cards.xml"}));
}

TEST_F(XmlAtomicWrite, AnInjectedFailureLeavesTheTargetUntouched) {
    m_dir.write("pgm_flash_cards.xml", "previous");
    auto tree = sdmmc_document();
    HOST_FAULT::fail_next(HOST_FAULT::WRITE_XML);
    EXPECT_FALSE(PGM_COMMON_XML::write_xml(tree.get(), m_dir.file("pgm_flash_cards.xml")));
    EXPECT_FALSE(PGM_COMMON_XML::last_error().empty());
    EXPECT_EQ(m_dir.read("pgm_flash_cards.xml"), "previous");
    EXPECT_EQ(names().size(), 1u);
    EXPECT_EQ(HOST_FAULT::pending(HOST_FAULT::WRITE_XML), 0);
    // Only the next write failed.
    EXPECT_TRUE(PGM_COMMON_XML::write_xml(tree.get(), m_dir.file("pgm_flash_cards.xml")));
}

TEST_F(XmlAtomicWrite, FailsWithAReasonWhenTheFolderIsMissingOrTheTreeIsNull) {
    auto tree = sdmmc_document();
    EXPECT_FALSE(PGM_COMMON_XML::write_xml(tree.get(), m_dir.path() + "missing/pgm_flash_x.xml"));
    EXPECT_NE(PGM_COMMON_XML::last_error().find("missing"), std::string::npos)
        << PGM_COMMON_XML::last_error();
    EXPECT_FALSE(PGM_COMMON_XML::write_xml(nullptr, m_dir.file("pgm_flash_x.xml")));
    EXPECT_FALSE(PGM_COMMON_XML::write_xml(tree.get(), ""));
    // A directory standing where the file should go is not replaced.
    fs::create_directories(m_dir.path() + "pgm_flash_dir.xml");
    EXPECT_FALSE(PGM_COMMON_XML::write_xml(tree.get(), m_dir.path() + "pgm_flash_dir.xml"));
    EXPECT_TRUE(fs::is_directory(m_dir.path() + "pgm_flash_dir.xml"));
    EXPECT_EQ(names().size(), 1u);
}

// ---- reading: counts, attributes, formats
// ---------------------------------------------------------

const char* const FLOWS =
    "<PROGRAMMING_FLOW><SFL><INITIALIZATION/><PROGRAM/><ERASE/><VERIFY_BLANKCHECK_EXAMINE/>"
    "<TERMINATION/></SFL><SDM><INITIALIZATION/><PROGRAM/><ERASE/><VERIFY_BLANKCHECK_EXAMINE/>"
    "<TERMINATION/></SDM></PROGRAMMING_FLOW>";

std::string device_info(const std::string& extra = "", const std::string& die = "1") {
    return "<DEVICE_INFO><DEVICE_NAME>N</DEVICE_NAME><DEVICE_ID>0x1</DEVICE_ID>"
           "<DEVICE_IO_VOLTAGE>1.8V</DEVICE_IO_VOLTAGE><DEVICE_DENSITY>1Gb</DEVICE_DENSITY>"
           "<TOTAL_DEVICE_DIE>" +
           die +
           "</TOTAL_DEVICE_DIE><DUMMY_CLOCK_CYCLE>8</DUMMY_CLOCK_CYCLE>"
           "<DUMMY_CLOCK_CYCLE_X4>8</DUMMY_CLOCK_CYCLE_X4><PROG_FLOW_TEMPLATE/>" +
           extra + "</DEVICE_INFO>";
}

std::string qspi(const std::string& body, const std::string& root_attributes = "version=\"1\"") {
    return "<?xml version=\"1.0\"?>\n<QSPI_FLASH " + root_attributes + ">\n" + body +
           "\n</QSPI_FLASH>\n";
}

std::string golden_with(const std::string& vendors) {
    return qspi("<GOLDEN_TEMPLATE>" + vendors + "</GOLDEN_TEMPLATE>");
}

std::string vendors(const std::string& skip = "") {
    std::string out;
    for (const char* v : {"MICRON", "MACRONIX", "CYPRESS", "WINBOND", "ISSI"})
        if (skip != v) out += "<"s + v + ">" + FLOWS + "</" + v + ">";
    return out;
}

std::string action_doc(const std::string& action,
                       const std::string& root_attributes = "version=\"1\"") {
    return qspi(
        "<USER_TEMPLATE><TEMPLATE_NAME>t</TEMPLATE_NAME><PROGRAMMING_FLOW><SFL>"
        "<INITIALIZATION>" +
            action +
            "</INITIALIZATION><PROGRAM/><ERASE/><VERIFY_BLANKCHECK_EXAMINE/><TERMINATION/>"
            "</SFL><SDM><INITIALIZATION/><PROGRAM/><ERASE/><VERIFY_BLANKCHECK_EXAMINE/>"
            "<TERMINATION/></SDM></PROGRAMMING_FLOW></USER_TEMPLATE>",
        root_attributes);
}

std::string sdmmc(const std::string& body) {
    return "<?xml version=\"1.0\"?>\n<SDMMC_FLASH version=\"1\">" + body + "</SDMMC_FLASH>\n";
}

TEST(XmlRead, CountViolationsAreRejectedWithTheirLine) {
    vorn_test::TempDir dir;
    dir.write("two_infos.xml",
              qspi("<FLASH>" + device_info() + "\n" + device_info() + FLOWS + "</FLASH>"));
    EXPECT_EQ(parse(dir.path() + "two_infos.xml"), nullptr);
    EXPECT_EQ(PGM_COMMON_XML::last_error(),
              "line 3: element \"FLASH\" holds 2 \"DEVICE_INFO\", allowed exactly 1");

    std::string info = device_info();
    info.erase(info.find("<DEVICE_ID>"), std::string("<DEVICE_ID>0x1</DEVICE_ID>").size());
    dir.write("no_id.xml", qspi("<FLASH>" + info + FLOWS + "</FLASH>"));
    EXPECT_EQ(parse(dir.path() + "no_id.xml"), nullptr);
    EXPECT_EQ(PGM_COMMON_XML::last_error(),
              "line 3: element \"DEVICE_INFO\" holds 0 \"DEVICE_ID\", allowed exactly 1");

    dir.write("sd_no_info.xml", sdmmc("\n<FLASH/>"));
    EXPECT_EQ(parse(dir.path() + "sd_no_info.xml", PGM_COMMON_XML_FILE_VORN_SDMMC), nullptr);
    EXPECT_EQ(PGM_COMMON_XML::last_error(),
              "line 3: element \"FLASH\" holds 0 \"DEVICE_INFO\", allowed exactly 1");
}

TEST(XmlRead, EmptyRootsAndEmptyOperationsAreValid) {
    vorn_test::TempDir dir;
    dir.write("empty_q.xml", qspi(""));
    dir.write("empty_s.xml", sdmmc(""));
    dir.write("no_actions.xml", action_doc(""));
    for (const char* name : {"empty_q.xml", "no_actions.xml"}) {
        EXPECT_TRUE(check(dir.path() + name, QSPI_XSD)) << name;
        EXPECT_NE(parse(dir.path() + name), nullptr) << name;
    }
    EXPECT_TRUE(check(dir.path() + "empty_s.xml", SDMMC_XSD));
    TREE s = parse(dir.path() + "empty_s.xml", PGM_COMMON_XML_FILE_VORN_SDMMC);
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(s->get_all_childs().empty());
}

TEST(XmlRead, AnUnknownActionTypeKeepsTheDefaultOnlyInTheGoldenTemplate) {
    vorn_test::TempDir dir;
    const std::string file = dir.file("bogus.xml");
    dir.write("bogus.xml", action_doc("<ACTION type=\"BOGUS\"><NAME>x</NAME></ACTION>"));

    TREE golden = parse(file, PGM_COMMON_XML_FILE_VORN_QSPI, true);
    ASSERT_NE(golden, nullptr) << PGM_COMMON_XML::last_error();
    auto actions = golden->get_childs(PGM_COMMON_XML_ENUM_ACTION, false);
    ASSERT_EQ(actions.size(), 1u);
    auto* act = dynamic_cast<PGM_COMMON_XML_VORN_QSPI_ACTION*>(actions[0]);
    ASSERT_NE(act, nullptr);
    EXPECT_EQ(act->type, PGM_COMMON_XML_ENUM__INVALID__);
    EXPECT_FALSE(act->find_attribute("type")->is_set());

    EXPECT_EQ(parse(file), nullptr);
    EXPECT_EQ(PGM_COMMON_XML::last_error(),
              "line 3: \"BOGUS\" is not a valid value of attribute \"type\" of element \"ACTION\"");
    std::string reason;
    EXPECT_FALSE(check(file, QSPI_XSD, &reason));
    EXPECT_NE(reason.find("BOGUS"), std::string::npos) << reason;

    // Every one of the six names is a type, ERASE included.
    for (const char* type :
         {"WRITE_REG", "READ_REG", "WRITE_DATA", "READ_DATA", "ERASE", "CUSTOM"}) {
        dir.write("typed.xml", action_doc("<ACTION type=\""s + type + "\"/>"));
        EXPECT_TRUE(check(dir.path() + "typed.xml", QSPI_XSD)) << type;
        TREE tree = parse(dir.path() + "typed.xml");
        ASSERT_NE(tree, nullptr) << type;
        auto* a = dynamic_cast<PGM_COMMON_XML_VORN_QSPI_ACTION*>(
            tree->get_childs(PGM_COMMON_XML_ENUM_ACTION, false).at(0));
        EXPECT_STREQ(PGM_COMMON_XML_ENUM_STRING[a->type], type);
    }
}

TEST(XmlRead, TheGoldenTemplateVendorSetIsLeftToTheLoader) {
    vorn_test::TempDir dir;
    dir.write("no_issi.xml", golden_with(vendors("ISSI")));
    TREE tree = parse(dir.path() + "no_issi.xml", PGM_COMMON_XML_FILE_VORN_QSPI, true);
    ASSERT_NE(tree, nullptr) << PGM_COMMON_XML::last_error();
    EXPECT_EQ(tree->get_childs(PGM_COMMON_XML_ENUM_GOLDEN_TEMPLATE, true)
                  .at(0)
                  ->get_child_count(PGM_COMMON_XML_ENUM_ISSI, true),
              0u);
    EXPECT_FALSE(check(dir.path() + "no_issi.xml", QSPI_XSD));
}

TEST(XmlRead, DocumentsOfOneFormatAreNotOfTheOther) {
    std::string reason;
    EXPECT_FALSE(check(test_file("qspi_user.xml"), SDMMC_XSD, &reason));
    EXPECT_NE(reason.find("QSPI_FLASH"), std::string::npos) << reason;
    EXPECT_FALSE(check(test_file("sdmmc_user.xml"), QSPI_XSD));
    EXPECT_TRUE(check(test_file("qspi_user.xml"), QSPI_XSD));
    EXPECT_TRUE(check(test_file("sdmmc_user.xml"), SDMMC_XSD));

    EXPECT_EQ(parse(test_file("qspi_user.xml"), PGM_COMMON_XML_FILE_VORN_SDMMC), nullptr);
    EXPECT_EQ(parse(test_file("sdmmc_user.xml"), PGM_COMMON_XML_FILE_VORN_QSPI), nullptr);
    EXPECT_EQ(parse(test_file("qspi_user.xml"), PGM_COMMON_XML_FILE_RESERVED), nullptr);
    EXPECT_EQ(PGM_COMMON_XML::last_error(), "document kind 1 is not supported");
}

// ---- the schemas against the parser -----------------------------------------------------------

struct Variant {
    const char* name;
    PGM_COMMON_XML_FILE_ENUM kind;
    std::string text;
};

// Whatever the schema accepts, the parser must build: the loader treats a parse failure
// after a passed check as a broken invariant.
TEST(XmlSchemaAgreement, EveryAcceptedVariantParses) {
    const std::string xsi = "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"";
    const std::vector<Variant> variants = {
        {"file qspi", PGM_COMMON_XML_FILE_VORN_QSPI,
         vorn_test::read_test_file("xml/qspi_user.xml")},
        {"file golden", PGM_COMMON_XML_FILE_VORN_QSPI,
         vorn_test::read_test_file("xml/qspi_golden.xml")},
        {"file sdmmc", PGM_COMMON_XML_FILE_VORN_SDMMC,
         vorn_test::read_test_file("xml/sdmmc_user.xml")},
        {"siblings in any order", PGM_COMMON_XML_FILE_VORN_QSPI,
         qspi("<USER_TEMPLATE>" + std::string(FLOWS) +
              "<TEMPLATE_NAME>t</TEMPLATE_NAME></USER_TEMPLATE><FLASH>" + FLOWS +
              "<DEVICE_INFO><PROG_FLOW_TEMPLATE/><DEVICE_DENSITY>1Gb</DEVICE_DENSITY>"
              "<DUMMY_CLOCK_CYCLE_X4>8</DUMMY_CLOCK_CYCLE_X4><DEVICE_ID>0x1</DEVICE_ID>"
              "<TOTAL_DEVICE_DIE>1</TOTAL_DEVICE_DIE><DEVICE_NAME>N</DEVICE_NAME>"
              "<DUMMY_CLOCK_CYCLE>8</DUMMY_CLOCK_CYCLE><DEVICE_IO_VOLTAGE>1.8V</DEVICE_IO_VOLTAGE>"
              "</DEVICE_INFO></FLASH>")},
        {"golden then devices and templates", PGM_COMMON_XML_FILE_VORN_QSPI,
         qspi("<GOLDEN_TEMPLATE>" + vendors() + "</GOLDEN_TEMPLATE><FLASH>" + device_info() +
              FLOWS + "</FLASH><USER_TEMPLATE><TEMPLATE_NAME/>" + FLOWS + "</USER_TEMPLATE>")},
        {"comments, processing instructions, CDATA, references", PGM_COMMON_XML_FILE_VORN_SDMMC,
         sdmmc("<!-- c --><?pi x?><FLASH><!-- c --><DEVICE_INFO><DEVICE_NAME>A<!-- c -->"
               "<![CDATA[<b>]]>&#x43;&amp;</DEVICE_NAME><DEVICE_IO_VOLTAGE><?pi?>1.8V"
               "</DEVICE_IO_VOLTAGE><DEVICE_DENSITY></DEVICE_DENSITY></DEVICE_INFO></FLASH>")},
        {"schema-instance hints", PGM_COMMON_XML_FILE_VORN_QSPI,
         "<QSPI_FLASH version=\"1\" " + xsi +
             " xsi:noNamespaceSchemaLocation=\"http://203.0.113.7/q.xsd\"/>"},
        {"built-in attributes everywhere", PGM_COMMON_XML_FILE_VORN_QSPI,
         action_doc("<ACTION type=\"WRITE_REG\" __if_skip__=\"a\" __if_continue__=\"\">"
                    "<DELAY unit=\"ms\" __hidden__=\"\">5</DELAY><NAME __if_skip__=\"\"/>"
                    "</ACTION>",
                    "version=\"1\" __hidden__=\"1\"")},
        {"numbers with leading zeros", PGM_COMMON_XML_FILE_VORN_QSPI,
         qspi("<FLASH>" + device_info("", "0001") + FLOWS + "</FLASH>")},
        {"the largest unsigned and version", PGM_COMMON_XML_FILE_VORN_QSPI,
         action_doc("<ACTION type=\"READ_DATA\"><ATTEMPT_COUNT>4294967295</ATTEMPT_COUNT>"
                    "</ACTION>",
                    "version=\"4294967295\"")},
        {"byte order mark and CRLF", PGM_COMMON_XML_FILE_VORN_SDMMC,
         "\xef\xbb\xbf<SDMMC_FLASH version=\"1\">\r\n\t<FLASH>\r\n<DEVICE_INFO>"
         "<DEVICE_NAME>a</DEVICE_NAME><DEVICE_IO_VOLTAGE/><DEVICE_DENSITY/></DEVICE_INFO>"
         "\r\n</FLASH></SDMMC_FLASH>"},
    };
    vorn_test::TempDir dir;
    for (const auto& v : variants) {
        const std::string file = dir.file("v.xml");
        dir.write("v.xml", v.text);
        const std::string& xsd = v.kind == PGM_COMMON_XML_FILE_VORN_SDMMC ? SDMMC_XSD : QSPI_XSD;
        std::string reason;
        EXPECT_TRUE(check(file, xsd, &reason)) << v.name << ": " << reason;
        EXPECT_NE(parse(file, v.kind), nullptr) << v.name << ": " << PGM_COMMON_XML::last_error();
        // And without the check before it, as the golden template is read.
        EXPECT_NE(parse(file, v.kind, true), nullptr) << v.name;
    }
}

// ---- checking and reading in one pass ---------------------------------------------------------

// Every element's line, depth first.
void collect_lines(const PGM_COMMON_XML_ELEMENT& element, std::vector<int>& lines) {
    lines.push_back(element.get_line());
    for (const PGM_COMMON_XML_ELEMENT* child : element.get_all_childs())
        collect_lines(*child, lines);
}

// A file check_xsd accepted is normally turned into a tree while it is checked; that tree must
// be the one a plain parse of the file builds, line numbers included.
TEST(XmlOnePass, ACheckedFileGivesTheTreeAPlainParseGives) {
    struct Case {
        Variant variant;
        bool one_pass;  // false: the check hands over to the ordinary parse
    };
    const std::string xsi = "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"";
    const std::vector<Case> cases = {
        {{"file qspi", PGM_COMMON_XML_FILE_VORN_QSPI,
          vorn_test::read_test_file("xml/qspi_user.xml")},
         true},
        {{"file sdmmc", PGM_COMMON_XML_FILE_VORN_SDMMC,
          vorn_test::read_test_file("xml/sdmmc_user.xml")},
         true},
        {{"comments, processing instructions, CDATA, references", PGM_COMMON_XML_FILE_VORN_SDMMC,
          sdmmc("<!-- c --><?pi x?><FLASH><!-- c --><DEVICE_INFO><DEVICE_NAME> A<!-- c -->"
                "<![CDATA[<b>]]>&#x43;&amp;&lt;\n</DEVICE_NAME><DEVICE_IO_VOLTAGE><?pi?>1.8V"
                "</DEVICE_IO_VOLTAGE><DEVICE_DENSITY>\n</DEVICE_DENSITY></DEVICE_INFO></FLASH>")},
         true},
        {{"tags over several lines", PGM_COMMON_XML_FILE_VORN_QSPI,
          action_doc("<ACTION\n  type=\"ERASE\"\n><DELAY\nunit=\"ms\">7</DELAY>\n<NAME>n</NAME\n>"
                     "</ACTION>")},
         true},
        {{"schema-instance hints", PGM_COMMON_XML_FILE_VORN_QSPI,
          "<QSPI_FLASH version=\"1\" " + xsi + " xsi:noNamespaceSchemaLocation=\"q.xsd\"/>"},
         true},
        {{"built-in attributes", PGM_COMMON_XML_FILE_VORN_QSPI,
          action_doc("<ACTION type=\"WRITE_REG\" __if_skip__=\"a\"><DELAY unit=\"us\" "
                     "__hidden__=\"\">5</DELAY></ACTION>",
                     "version=\"1\" __hidden__=\"1\"")},
         true},
        {{"byte order mark and CRLF", PGM_COMMON_XML_FILE_VORN_SDMMC,
          "\xef\xbb\xbf<SDMMC_FLASH version=\"1\">\r\n\t<FLASH>\r\n<DEVICE_INFO>"
          "<DEVICE_NAME>a\r\nb</DEVICE_NAME><DEVICE_IO_VOLTAGE/><DEVICE_DENSITY/></DEVICE_INFO>"
          "\r\n</FLASH></SDMMC_FLASH>"},
         true},
        // A parsed document keeps lines from 65,535 on its own way: left to the ordinary way.
        {{"elements beyond line 65,535", PGM_COMMON_XML_FILE_VORN_SDMMC,
          sdmmc("<FLASH>" + std::string(70000, '\n') +
                "<DEVICE_INFO><DEVICE_NAME>a</DEVICE_NAME><DEVICE_IO_VOLTAGE/><DEVICE_DENSITY/>"
                "</DEVICE_INFO></FLASH>")},
         false},
        // libxml2 hands an ampersand in an attribute over escaped: left to the ordinary way.
        {{"an ampersand in an attribute", PGM_COMMON_XML_FILE_VORN_QSPI,
          action_doc("<ACTION type=\"ERASE\" __if_skip__=\"a &amp; b\"/>")},
         false},
        {{"an ampersand in a schema-instance hint", PGM_COMMON_XML_FILE_VORN_QSPI,
          "<QSPI_FLASH version=\"1\" " + xsi + " xsi:noNamespaceSchemaLocation=\"a&amp;b\"/>"},
         false},
    };
    vorn_test::TempDir dir;
    for (const auto& [v, one_pass] : cases) {
        const std::string file = dir.file("v.xml");
        dir.write("v.xml", v.text);
        const std::string& xsd = v.kind == PGM_COMMON_XML_FILE_VORN_SDMMC ? SDMMC_XSD : QSPI_XSD;
        const size_t before = pgm_common_xml_detail::trees_read_in_one_pass();
        std::string reason;
        ASSERT_TRUE(check(file, xsd, &reason)) << v.name << ": " << reason;
        EXPECT_EQ(pgm_common_xml_detail::trees_read_in_one_pass() - before, one_pass ? 1u : 0u)
            << v.name;
        TREE checked = parse(file, v.kind);
        ASSERT_NE(checked, nullptr) << v.name << ": " << PGM_COMMON_XML::last_error();
        // The check's tree is handed over once; this parse reads the file.
        TREE parsed = parse(file, v.kind);
        ASSERT_NE(parsed, nullptr) << v.name;
        EXPECT_EQ(PGM_COMMON_XML::write_xml_string(checked.get()),
                  PGM_COMMON_XML::write_xml_string(parsed.get()))
            << v.name;
        std::vector<int> checked_lines, parsed_lines;
        collect_lines(*checked, checked_lines);
        collect_lines(*parsed, parsed_lines);
        EXPECT_EQ(checked_lines, parsed_lines) << v.name;
    }
}

// Refusals are worded as libxml2 words them on a parsed document: a schema error names the
// line where its element starts, and a file that is not well-formed gets no schema messages.
TEST(XmlOnePass, RefusalsKeepTheWordingOfAParsedDocument) {
    vorn_test::TempDir dir;
    const std::string file = dir.file("r.xml");
    std::string reason;

    // DEVICE_INFO starts on line 4 and ends on line 7, where a streaming check would see the
    // missing child.
    dir.write("r.xml", sdmmc("\n<FLASH>\n<DEVICE_INFO>\n<DEVICE_NAME>a</DEVICE_NAME>\n"
                             "<DEVICE_IO_VOLTAGE/>\n</DEVICE_INFO>\n</FLASH>"));
    EXPECT_FALSE(check(file, SDMMC_XSD, &reason));
    EXPECT_EQ(reason.rfind("line 4: Element 'DEVICE_INFO': Missing child element(s).", 0), 0u)
        << reason;

    // A schema error early, a broken tag at the end: only the parser speaks.
    dir.write("r.xml", sdmmc("<BOGUS/><FLASH></FLASHX>"));
    EXPECT_FALSE(check(file, SDMMC_XSD, &reason));
    EXPECT_EQ(reason.find("BOGUS"), std::string::npos) << reason;
    EXPECT_NE(reason.find("FLASHX"), std::string::npos) << reason;
}

TEST(XmlSchemaAgreement, EachRuleOfTheFormatIsEnforcedByTheSchema) {
    std::string two_names = action_doc("<ACTION type=\"WRITE_REG\"><NAME/><NAME/></ACTION>");
    std::string info = device_info();
    const std::vector<std::pair<const char*, std::string>> invalid = {
        {"two golden templates",
         qspi("<GOLDEN_TEMPLATE>" + vendors() + "</GOLDEN_TEMPLATE><GOLDEN_TEMPLATE>" + vendors() +
              "</GOLDEN_TEMPLATE>")},
        {"golden template without ISSI", golden_with(vendors("ISSI"))},
        {"vendor with two flows",
         golden_with(vendors("MICRON") + "<MICRON>" + FLOWS + FLOWS + "</MICRON>")},
        {"flash without programming flow", qspi("<FLASH>" + info + "</FLASH>")},
        {"flash with two device infos", qspi("<FLASH>" + info + info + FLOWS + "</FLASH>")},
        {"device info with two ids",
         qspi("<FLASH>" + device_info("<DEVICE_ID>0x2</DEVICE_ID>") + FLOWS + "</FLASH>")},
        {"template without name",
         qspi("<USER_TEMPLATE>" + std::string(FLOWS) + "</USER_TEMPLATE>")},
        {"flow without termination",
         qspi("<USER_TEMPLATE><TEMPLATE_NAME/><PROGRAMMING_FLOW><SFL><INITIALIZATION/><PROGRAM/>"
              "<ERASE/><VERIFY_BLANKCHECK_EXAMINE/></SFL><SDM><INITIALIZATION/><PROGRAM/><ERASE/>"
              "<VERIFY_BLANKCHECK_EXAMINE/><TERMINATION/></SDM></PROGRAMMING_FLOW>"
              "</USER_TEMPLATE>")},
        {"action with two names", two_names},
        {"action without type", action_doc("<ACTION><NAME/></ACTION>")},
        {"action type in lower case", action_doc("<ACTION type=\"erase\"/>")},
        {"delay without unit", action_doc("<ACTION type=\"ERASE\"><DELAY>1</DELAY></ACTION>")},
        {"negative delay",
         action_doc("<ACTION type=\"ERASE\"><DELAY unit=\"us\">-1</DELAY></ACTION>")},
        {"hexadecimal number",
         action_doc("<ACTION type=\"ERASE\"><ERASE_SIZE>0x10</ERASE_SIZE></ACTION>")},
        {"number beyond 32 bits",
         action_doc("<ACTION type=\"ERASE\"><ERASE_SIZE>4294967296</ERASE_SIZE></ACTION>")},
        {"operation holding a leaf", action_doc("<NAME/>")},
        {"text inside a container", qspi("<FLASH>text" + info + FLOWS + "</FLASH>")},
        {"element inside a leaf",
         action_doc("<ACTION type=\"ERASE\"><NAME><COMMAND/></NAME></ACTION>")},
        {"unknown attribute", "<QSPI_FLASH version=\"1\" owner=\"me\"/>"},
        {"missing version", "<QSPI_FLASH/>"},
        {"version not a number", "<QSPI_FLASH version=\"one\"/>"},
        {"namespaced root", "<QSPI_FLASH xmlns=\"urn:vorn\" version=\"1\"/>"},
        {"inner element as root", "<FLASH>" + info + FLOWS + "</FLASH>"},
        {"golden template inside a flash",
         qspi("<FLASH>" + info + FLOWS + "<GOLDEN_TEMPLATE/></FLASH>")},
    };
    vorn_test::TempDir dir;
    for (const auto& [name, text] : invalid) {
        dir.write("i.xml", text);
        std::string reason;
        EXPECT_FALSE(check(dir.path() + "i.xml", QSPI_XSD, &reason)) << name;
        EXPECT_EQ(reason.rfind("line ", 0), 0u) << name << ": " << reason;
    }
}

// ---- caching -----------------------------------------------------------------------------------

TEST(XmlCaching, AChangedSchemaIsCompiledAgain) {
    vorn_test::TempDir dir;
    const std::string xsd = dir.file("xsd/vorn_qspi.xsd");
    fs::copy_file(QSPI_XSD, xsd);
    EXPECT_TRUE(check(test_file("qspi_user.xml"), xsd));
    fs::copy_file(SDMMC_XSD, xsd, fs::copy_options::overwrite_existing);
    EXPECT_FALSE(check(test_file("qspi_user.xml"), xsd));
    EXPECT_TRUE(check(test_file("sdmmc_user.xml"), xsd));
}

TEST(XmlCaching, TheCheckedDocumentIsParsedOnlyOnceWhileTheFileIsUnchanged) {
    vorn_test::TempDir dir;
    const std::string file = dir.file("pgm_flash_a.xml");
    dir.write("pgm_flash_a.xml", sdmmc("<FLASH>" +
                                       std::string("<DEVICE_INFO><DEVICE_NAME>AAAA"
                                                   "</DEVICE_NAME><DEVICE_IO_VOLTAGE/>"
                                                   "<DEVICE_DENSITY/></DEVICE_INFO>") +
                                       "</FLASH>"));
    auto name_in = [](const TREE& tree) {
        return tree->get_childs(PGM_COMMON_XML_ENUM_DEVICE_NAME, false).at(0)->get_value_text();
    };
    ASSERT_TRUE(check(file, SDMMC_XSD));
    struct stat before;
    ASSERT_EQ(::stat(file.c_str(), &before), 0);

    // Same inode, size and time: the parse uses what the check read.
    std::string text = dir.read("pgm_flash_a.xml");
    text.replace(text.find("AAAA"), 4, "BBBB");
    {
        FILE* f = std::fopen(file.c_str(), "r+");
        ASSERT_NE(f, nullptr);
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    TREE first = parse(file, PGM_COMMON_XML_FILE_VORN_SDMMC);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(name_in(first), "AAAA");

    // Used once: the next parse reads the file.
    TREE second = parse(file, PGM_COMMON_XML_FILE_VORN_SDMMC);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(name_in(second), "BBBB");

    // A file that changed after its check is read again.
    ASSERT_TRUE(check(file, SDMMC_XSD));
    text.replace(text.find("BBBB"), 4, "CCCCC");
    dir.write("pgm_flash_a.xml", text);
    TREE third = parse(file, PGM_COMMON_XML_FILE_VORN_SDMMC);
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(name_in(third), "CCCCC");
}

}  // namespace
