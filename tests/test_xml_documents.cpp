// The host XML layer inside someone else's process: very large documents come back whole, and a
// host that uses libxml2 on its own thread meets libxml2 as it left it.
#include <gtest/gtest.h>

#include <libxml/parser.h>
#include <libxml/xmlmemory.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "pgm_common_xml_vorn_qspi_auto_export.h"
#include "vorn.h"
#include "vorn_test_support.h"

namespace {

const std::string QSPI_XSD = std::string(VORN_TEST_DATA_DIR) + "xsd/vorn_qspi.xsd";
const std::string USER_FILE = std::string(VORN_TEST_FILES_DIR) + "xml/qspi_user.xml";

using TREE = std::unique_ptr<PGM_COMMON_XML_ELEMENT>;

TREE parse(const std::string& file) {
    return TREE(PGM_COMMON_XML::parse_xml(PGM_COMMON_XML_FILE_VORN_QSPI, file, QSPI_XSD, false, "",
                                          "", ""));
}

TEST(XmlDocuments, DocumentsFarLargerThanUsualComeBackWhole) {
    vorn_test::TempDir dir;
    const std::string original = dir.read(USER_FILE);
    const size_t begin = original.find("  <FLASH>");
    const size_t end = original.find("</FLASH>") + std::string("</FLASH>\n").size();
    // About 8 MB of XML, tens of megabytes of parsed nodes; and one text of 3 MB.
    const std::string device = original.substr(begin, end - begin);
    const size_t copies = 8u * 1024 * 1024 / device.size();
    std::string many = original.substr(0, begin);
    for (size_t i = 0; i < copies; ++i) many += device;
    dir.write("many.xml", many + original.substr(end));
    const std::string long_text(3u * 1024 * 1024, 'x');
    std::string one = original;
    one.replace(one.find("MT25QU01G"), 9, long_text);
    dir.write("long.xml", one);

    std::string error, warning;
    ASSERT_TRUE(PGM_COMMON_XML::check_xsd(dir.file("many.xml"), QSPI_XSD, error, warning)) << error;
    TREE tree = parse(dir.file("many.xml"));
    ASSERT_NE(tree, nullptr) << PGM_COMMON_XML::last_error();
    EXPECT_EQ(tree->get_child_count(PGM_COMMON_XML_ENUM_FLASH, true), copies);
    tree = parse(dir.file("long.xml"));
    ASSERT_NE(tree, nullptr) << PGM_COMMON_XML::last_error();
    EXPECT_EQ(tree->get_childs(PGM_COMMON_XML_ENUM_DEVICE_NAME, false).at(0)->get_value_text(),
              long_text);
}

// A host thread parses and frees its own documents with libxml2 while the main thread loads
// the database again and again: nothing is shared between them (ThreadSanitizer watches this
// test), and libxml2's memory functions stay the ones the host had.
TEST(XmlDocuments, AHostUsingLibxml2OnItsOwnThreadIsLeftAlone) {
    xmlInitParser();
    xmlFreeFunc free_before = nullptr;
    xmlMallocFunc malloc_before = nullptr;
    xmlReallocFunc realloc_before = nullptr;
    xmlStrdupFunc strdup_before = nullptr;
    ASSERT_EQ(xmlMemGet(&free_before, &malloc_before, &realloc_before, &strdup_before), 0);

    vorn_test::ProgrammerDir programmer;
    vorn_test::TempDir custom;
    custom.write("pgm_flash_user.xml",
                 custom.read(std::string(VORN_TEST_FILES_DIR) + "tool/good_device.xml"));
    VORN_MGR::set_db_custom_dir(custom.path());

    const std::string host_doc = "<host><item a='1'>text</item><item/></host>";
    std::atomic<bool> loading{true};
    std::atomic<int> host_failures{0};
    std::atomic<long> host_documents{0};
    std::thread host([&] {
        while (loading.load()) {
            xmlDocPtr doc = xmlReadMemory(host_doc.data(), static_cast<int>(host_doc.size()),
                                          "host.xml", nullptr, XML_PARSE_NONET);
            if (doc == nullptr || xmlDocGetRootElement(doc) == nullptr) ++host_failures;
            xmlFreeDoc(doc);
            ++host_documents;
        }
    });
    size_t devices = 0;
    int without_user_device = 0;
    for (int i = 0; i < 200; ++i) {
        VORN_QSPI_MGR mgr;
        devices = mgr.get_flash_map().size();
        without_user_device += mgr.get_custom_dir_map().count("GOODDEV") == 0;
    }
    loading = false;
    host.join();
    VORN_MGR::set_db_custom_dir("");

    EXPECT_GT(devices, 10u);
    EXPECT_EQ(without_user_device, 0);
    EXPECT_GT(host_documents.load(), 0);
    EXPECT_EQ(host_failures.load(), 0);
    xmlFreeFunc free_after = nullptr;
    xmlMallocFunc malloc_after = nullptr;
    xmlReallocFunc realloc_after = nullptr;
    xmlStrdupFunc strdup_after = nullptr;
    ASSERT_EQ(xmlMemGet(&free_after, &malloc_after, &realloc_after, &strdup_after), 0);
    EXPECT_EQ(free_after, free_before);
    EXPECT_EQ(malloc_after, malloc_before);
    EXPECT_EQ(realloc_after, realloc_before);
    EXPECT_EQ(strdup_after, strdup_before);
}

}  // namespace
