// The host XML layer inside someone else's process: a host that uses libxml2 on its own thread
// meets libxml2 as it left it.
#include <gtest/gtest.h>

#include <libxml/parser.h>
#include <libxml/xmlmemory.h>

#include <atomic>
#include <string>
#include <thread>

#include "vorn.h"
#include "vorn_test_support.h"

namespace {

// A host thread parses and frees its own documents with libxml2 while the main thread loads
// the database again and again: nothing is shared between them (ThreadSanitizer watches this
// test), and libxml2's memory functions stay the ones the host had.
TEST(XmlDocuments, AHostUsingLibxml2OnItsOwnThreadIsLeftAlone) {
    xmlInitParser();
    // libxml2's memory functions before [0] and after [1].
    xmlFreeFunc f[2];
    xmlMallocFunc m[2];
    xmlReallocFunc r[2];
    xmlStrdupFunc s[2];
    ASSERT_EQ(xmlMemGet(&f[0], &m[0], &r[0], &s[0]), 0);

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
    ASSERT_EQ(xmlMemGet(&f[1], &m[1], &r[1], &s[1]), 0);
    EXPECT_TRUE(f[0] == f[1] && m[0] == m[1] && r[0] == r[1] && s[0] == s[1]);
}

}  // namespace
