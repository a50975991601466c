// A database device whose name the host also lists as legacy stays owned by the map.
#include <gtest/gtest.h>

#include "vorn.h"
#include "vorn_test_support.h"

namespace {

TEST(QspiLegacyGuard, CreatingAfterAnIdLookupKeepsTheDatabaseRecord) {
    vorn_test::ProgrammerDir programmer;
    vorn_test::TempDir custom;
    VORN_MGR::set_db_custom_dir(custom.path());
    programmer.write("dev/legacy_flash.ini",
                     "[MT25QU512]\nenabled = 1\nio_voltage = 1.8V\ngroup = shared\norder = 1\n");
    {
        VORN_QSPI_MGR mgr;
        ASSERT_TRUE(mgr.device_is_legacy("MT25QU512", true));
        // 0x20 0xBB 0x20 read little-endian.
        VORN_FLASH* held = mgr.get_flash_with_id(0x20BB20, 0xFFFFFF);
        ASSERT_NE(held, nullptr);
        ASSERT_EQ(held->get_name(), "MT25QU512");
        ASSERT_EQ(mgr.get_flash_map().at("MT25QU512"), held);

        VORN_FLASH* fresh = mgr.create_flash("BRAND_NEW");
        ASSERT_NE(fresh, nullptr);
        // The map's record is still alive and unchanged (ASan would flag a freed one).
        EXPECT_EQ(mgr.get_flash_map().at("MT25QU512")->get_density(), "512Mb");
        // Make the map's record current again (teardown must not free it), then release the
        // unsaved record, which stays the caller's.
        ASSERT_EQ(mgr.get_flash_with_id(0x20BB20, 0xFFFFFF), held);
        delete fresh;
    }
    VORN_MGR::set_db_custom_dir("");
}

// A host that extends the legacy list in a subclass sees its names treated as legacy by every
// question that depends on the list.
TEST(QspiLegacyGuard, ASubclassThatExtendsTheLegacyListIsAsked) {
    vorn_test::ProgrammerDir programmer;
    vorn_test::TempDir custom;
    VORN_MGR::set_db_custom_dir(custom.path());
    struct HOST_MGR : VORN_QSPI_MGR {
        std::vector<std::string> get_legacy_config_device_list(DEV_FAMILY_ENUM family,
                                                               PGMIO_CONFIG_SCHEME scheme,
                                                               bool ignore_filter) override {
            auto names = VORN_QSPI_MGR::get_legacy_config_device_list(family, scheme, ignore_filter);
            names.push_back("HOST_ONLY_PART");
            return names;
        }
    } mgr;
    VORN_QSPI_MGR plain;
    EXPECT_FALSE(plain.device_is_legacy("HOST_ONLY_PART", true));
    EXPECT_TRUE(mgr.device_is_legacy("HOST_ONLY_PART", false));
    EXPECT_TRUE(mgr.device_exist_in_db("HOST_ONLY_PART", false));
    VORN_FLASH* record = mgr.get_flash("HOST_ONLY_PART", false);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->get_name(), "HOST_ONLY_PART");
    // The shipped manager's own answers stay those of its list.
    for (const std::string& name : plain.get_legacy_config_device_list(
             plain.get_active_device_family(), plain.get_active_config_mode(), false))
        EXPECT_TRUE(plain.device_is_legacy(name, false)) << name;
    VORN_MGR::set_db_custom_dir("");
}

}  // namespace
