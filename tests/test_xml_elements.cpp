// The element base and the generated element classes: what a tree admits, how its typed
// lists follow it, and which values its leaves and attributes take.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pgm_common_xml_vorn_qspi_auto_export.h"
#include "pgm_common_xml_vorn_sdmmc_auto_export.h"
#include "vorn_test_support.h"

using vorn_test::internal_error_of;

namespace {

TEST(XmlElements, AClassRefusesChildrenItDoesNotAdmitAndStaysUnchanged) {
    PGM_COMMON_XML_VORN_QSPI_FLASH flash;
    auto* info = new PGM_COMMON_XML_VORN_QSPI_DEVICE_INFO();
    flash.add_child(info);
    PGM_COMMON_XML_VORN_QSPI_TEMPLATE_NAME wrong;
    auto e = internal_error_of([&] { flash.add_child(&wrong, info); });
    EXPECT_STREQ(e.what(), "Element \"FLASH\" does not support child element \"TEMPLATE_NAME\"");
    EXPECT_EQ(e.module() + " " + e.file(), "VORN h/pgm_common_xml_vorn_qspi_auto_export");
    EXPECT_EQ(wrong.get_parent(), nullptr);
    EXPECT_EQ(flash.get_all_childs(), std::vector<PGM_COMMON_XML_ELEMENT*>{info});
    EXPECT_EQ(flash.device_info, std::vector<PGM_COMMON_XML_VORN_QSPI_DEVICE_INFO*>{info});
    // The same tag from the other format is another class.
    PGM_COMMON_XML_VORN_SDMMC_DEVICE_INFO sdmmc_info;
    EXPECT_THROW(flash.add_child(&sdmmc_info), VORN_INTERNAL_ERROR);
    EXPECT_EQ(sdmmc_info.get_parent(), nullptr);
    // A child has one parent, and a tree never holds itself.
    EXPECT_STREQ(internal_error_of([&] { flash.add_child(info); }).what(),
                 "child->get_parent() == NULL");
    EXPECT_STREQ(internal_error_of([&] { info->add_child(&flash); }).what(),
                 "child is not this element or one of its ancestors");
}

TEST(XmlElements, TypedListsFollowDocumentOrderThroughAddAndRemove) {
    PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH root;
    auto* f1 = new PGM_COMMON_XML_VORN_QSPI_FLASH();
    auto* t1 = new PGM_COMMON_XML_VORN_QSPI_USER_TEMPLATE();
    auto* f2 = new PGM_COMMON_XML_VORN_QSPI_FLASH();
    auto* f3 = new PGM_COMMON_XML_VORN_QSPI_FLASH();
    auto* f4 = new PGM_COMMON_XML_VORN_QSPI_FLASH();
    root.add_child(f1);
    root.add_child(t1);
    root.add_child(f3);
    root.add_child(f4);
    root.add_child(f2, f3);  // before f3
    using LIST = std::vector<PGM_COMMON_XML_VORN_QSPI_FLASH*>;
    EXPECT_EQ(root.flash, (LIST{f1, f2, f3, f4}));
    EXPECT_EQ(root.get_all_childs(), (std::vector<PGM_COMMON_XML_ELEMENT*>{f1, t1, f2, f3, f4}));
    // Middle, last and first children of a kind each leave the right ones behind.
    for (auto [gone, left] : {std::pair<PGM_COMMON_XML_VORN_QSPI_FLASH*, LIST>{f2, {f1, f3, f4}},
                              {f4, {f1, f3}},
                              {f1, {f3}}}) {
        EXPECT_TRUE(root.remove_child(gone));
        EXPECT_EQ(root.flash, left);
        EXPECT_EQ(gone->get_parent(), nullptr);
        EXPECT_FALSE(root.remove_child(gone));
        delete gone;
    }
    EXPECT_EQ(root.user_template, std::vector<PGM_COMMON_XML_VORN_QSPI_USER_TEMPLATE*>{t1});
    EXPECT_EQ(root.get_child_count(PGM_COMMON_XML_ENUM_FLASH, true), 1u);
}

}  // namespace
