// The host XML layer inside someone else's process: a host that uses libxml2 on its own thread
// meets libxml2 as it left it.
#include <gtest/gtest.h>

#include <libxml/parser.h>
#include <libxml/xmlmemory.h>

#include <atomic>
#include <memory>
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
