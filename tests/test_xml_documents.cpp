// Documents of every size, and documents read on several threads at once: libxml2's memory for
// a document is kept apart from the rest of the process, and none of that may show.
#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "pgm_common_xml_internal.h"
#include "pgm_common_xml_vorn_qspi_auto_export.h"
#include "vorn_test_support.h"

namespace {

const std::string QSPI_XSD = std::string(VORN_TEST_DATA_DIR) + "xsd/vorn_qspi.xsd";
const std::string USER_FILE = std::string(VORN_TEST_FILES_DIR) + "xml/qspi_user.xml";

using TREE = std::unique_ptr<PGM_COMMON_XML_ELEMENT>;

TREE parse(const std::string& file) {
    return TREE(PGM_COMMON_XML::parse_xml(PGM_COMMON_XML_FILE_VORN_QSPI, file, QSPI_XSD, false, "",
                                          "", ""));
}

std::string text_of(const std::string& file) {
    TREE tree = parse(file);
    return tree ? PGM_COMMON_XML::write_xml_string(tree.get()) : std::string();
}

// The test file with its one device repeated `copies` times, the n-th named "DEV<n>".
std::string repeated_devices(const std::string& original, size_t copies) {
    const size_t begin = original.find("  <FLASH>");
    const size_t end = original.find("</FLASH>") + std::string("</FLASH>\n").size();
    const std::string device = original.substr(begin, end - begin);
    const std::string name = "<DEVICE_NAME>MT25QU01G</DEVICE_NAME>";
    std::string out = original.substr(0, begin);
    for (size_t i = 0; i < copies; ++i) {
        std::string copy = device;
        copy.replace(copy.find(name), name.size(),
                     "<DEVICE_NAME>DEV" + std::to_string(i) + "</DEVICE_NAME>");
        out += copy;
    }
    return out + original.substr(end);
}

// First in the file: it must be the process's first document, as the first one also builds
// process-wide tables, and these must not hold on to a document's memory.
TEST(XmlDocuments, DocumentsReadOneAfterAnotherReuseTheSameMemory) {
    vorn_test::TempDir dir;
    dir.write("one.xml", dir.read(USER_FILE));
    // Many blocks' worth of documents, each dropped before the next one is read.
    for (int i = 0; i < 300; ++i) ASSERT_NE(parse(dir.file("one.xml")), nullptr);
    // Without AddressSanitizer one block for documents and one for elements, used again and
    // again; with it, none.
    EXPECT_LE(pgm_common_xml_detail::mapped_document_blocks(), 2u);
}

TEST(XmlDocuments, DocumentsFarLargerThanUsualComeBackWhole) {
    vorn_test::TempDir dir;
    const std::string original = dir.read(USER_FILE);
    ASSERT_NE(original.find("<DEVICE_NAME>MT25QU01G</DEVICE_NAME>"), std::string::npos);

    // About 8 MB of XML, tens of megabytes of parsed nodes.
    const size_t copies = 8u * 1024 * 1024 / original.size();
    dir.write("many.xml", repeated_devices(original, copies));
    std::string error, warning;
    ASSERT_TRUE(PGM_COMMON_XML::check_xsd(dir.file("many.xml"), QSPI_XSD, error, warning)) << error;
    TREE tree = parse(dir.file("many.xml"));
    ASSERT_NE(tree, nullptr) << PGM_COMMON_XML::last_error();
    auto* root = dynamic_cast<PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH*>(tree.get());
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(root->flash.size(), copies);
    for (size_t i : {size_t{0}, copies / 2, copies - 1})
        EXPECT_EQ(root->flash[i]->device_info.at(0)->device_name.at(0)->value,
                  "DEV" + std::to_string(i));

    // One text far longer than any other, in a file of its own.
    const std::string long_text(3u * 1024 * 1024, 'x');
    std::string one = original;
    one.replace(one.find("MT25QU01G"), 9, long_text);
    dir.write("long.xml", one);
    tree = parse(dir.file("long.xml"));
    ASSERT_NE(tree, nullptr) << PGM_COMMON_XML::last_error();
    root = dynamic_cast<PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH*>(tree.get());
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->flash.at(0)->device_info.at(0)->device_name.at(0)->value, long_text);
}

TEST(XmlDocuments, ThreadsReadingAtOnceGetWhatOneThreadGets) {
    vorn_test::TempDir dir;
    const std::string original = dir.read(USER_FILE);
    std::vector<std::string> files, expected;
    for (size_t i = 1; i <= 4; ++i) {
        files.push_back(dir.file("file" + std::to_string(i) + ".xml"));
        dir.write("file" + std::to_string(i) + ".xml", repeated_devices(original, i * 7));
        expected.push_back(text_of(files.back()));
        ASSERT_FALSE(expected.back().empty()) << PGM_COMMON_XML::last_error();
    }

    // A document one thread validates may be taken, and freed, by another thread's parse of
    // the same file; threads end while documents they read are still alive.
    std::vector<std::string> failures(8);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < failures.size(); ++t) {
        threads.emplace_back([&, t] {
            for (size_t round = 0; round < 25; ++round) {
                const size_t i = (t + round) % files.size();
                std::string error, warning;
                if (!PGM_COMMON_XML::check_xsd(files[i], QSPI_XSD, error, warning))
                    failures[t] = "check_xsd: " + error;
                else if (text_of(files[i]) != expected[i])
                    failures[t] = "a different tree from " + files[i];
                if (!failures[t].empty()) return;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (const std::string& failure : failures) EXPECT_EQ(failure, "");

    // And the process goes on reading after its readers are gone.
    for (size_t i = 0; i < files.size(); ++i) EXPECT_EQ(text_of(files[i]), expected[i]);
}

TEST(XmlDocuments, ElementsMadeEveryWayMixAndOutliveTheirDocument) {
    vorn_test::TempDir dir;
    dir.write("one.xml", dir.read(USER_FILE));

    // Parsed elements moved into trees made in memory, deleted after their own tree is gone.
    auto* kept = new PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH();
    PGM_COMMON_XML_ELEMENT* moved = nullptr;
    {
        TREE parsed = parse(dir.file("one.xml"));
        ASSERT_NE(parsed, nullptr) << PGM_COMMON_XML::last_error();
        auto* root = dynamic_cast<PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH*>(parsed.get());
        ASSERT_NE(root, nullptr);
        moved = root->flash.at(0);
        ASSERT_TRUE(root->remove_child(moved));
        kept->add_child(moved);
    }
    // The parsed element's lists, made with the document, grow into ordinary memory.
    auto* info = kept->flash.at(0)->device_info.at(0);
    for (int i = 0; i < 40; ++i) {
        auto* name = new (std::nothrow) PGM_COMMON_XML_VORN_QSPI_DEVICE_NAME();
        ASSERT_NE(name, nullptr);
        name->write_string("MADE_HERE" + std::to_string(i));
        info->add_child(name);
    }
    // More documents read meanwhile reuse whatever memory is free.
    for (int i = 0; i < 20; ++i) ASSERT_NE(parse(dir.file("one.xml")), nullptr);
    ASSERT_EQ(info->device_name.size(), 41u);
    EXPECT_EQ(info->device_name.at(0)->value, "MT25QU01G");
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(info->device_name.at(static_cast<size_t>(i) + 1)->value,
                  "MADE_HERE" + std::to_string(i));
    EXPECT_EQ(info->get_all_childs().back(), info->device_name.back());
    const std::string text = PGM_COMMON_XML::write_xml_string(kept);
    EXPECT_NE(text.find("MT25QU01G"), std::string::npos);
    delete kept;

    // Placement new stays available for element classes.
    alignas(PGM_COMMON_XML_VORN_QSPI_COMMAND) unsigned char
        storage[sizeof(PGM_COMMON_XML_VORN_QSPI_COMMAND)];
    auto* command = new (storage) PGM_COMMON_XML_VORN_QSPI_COMMAND();
    command->write_string("0x06");
    EXPECT_EQ(command->get_value_text(), "0x06");
    command->~PGM_COMMON_XML_VORN_QSPI_COMMAND();
}

}  // namespace
