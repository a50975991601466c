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

}  // namespace
