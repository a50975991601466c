// Device families and the legacy flash list read from the programmer's dev/ folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "vorn_test_support.h"

namespace fs = std::filesystem;

namespace {

class HostDeviceTables : public testing::Test {
  protected:
    HostDeviceTables() { PGM_COMMON::set_common_programmer(m_dir.path()); }
    ~HostDeviceTables() override { PGM_COMMON::set_common_programmer(""); }

    void write(const std::string& name, const std::string& text) {
        m_dir.write("dev/" + name, text);
    }
    std::vector<std::string> legacy_names() {
        std::vector<std::string> out;
        for (const auto& f : PGMDEV_FLASH_MANAGER(true, 1, false, false).get_flash_info_list())
            out.push_back(f.name);
        return out;
    }

    vorn_test::TempDir m_dir;
};

TEST_F(HostDeviceTables, FamiliesInFileOrderWithTheirFields) {
    write("families.ini",
          "[73]\nname = Kestrel 10\nenabled = 1\nsdm = 1\nsdmmc = 0\nflash_io_voltage = 1.8V\n"
          "[28]\nname = Heron\nenabled = 1\nsdm = 0\nsdmmc = 1\nflash_io_voltage = 3.0V/3.3V\n"
          "[not_a_number]\nname = ignored\n[5]\nname = Old\nenabled = 0\n"
          "[28]\nname = Heron2\nsdmmc = 1\nflash_io_voltage = 3.0V/3.3V\n");
    PGMDEV_DEV_INFO_MANAGER m(false, 0);
    std::vector<std::string> names;
    for (const auto& f : m.m_supported_family_list)
        names.push_back(std::to_string(f.family) + " " + f.name);
    EXPECT_EQ(names, (std::vector<std::string>{"73 Kestrel 10", "28 Heron2", "5 Old"}));
    const PGMDEV_DEV_INFO* k = m.get_db_by_family(static_cast<DEV_FAMILY_ENUM>(73));
    ASSERT_NE(k, nullptr);
    EXPECT_TRUE(k->enabled && k->sdm && !k->sdmmc);
    EXPECT_EQ(k->flash_io_voltage, "1.8V");
    const PGMDEV_DEV_INFO* h = m.get_db_by_family(static_cast<DEV_FAMILY_ENUM>(28));
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(!h->sdm && h->sdmmc);
    EXPECT_FALSE(m.get_db_by_family(static_cast<DEV_FAMILY_ENUM>(5))->enabled);
    EXPECT_EQ(m.get_db_by_family(DEV_FAMILY_QSPI_FLASH), nullptr);
}

TEST_F(HostDeviceTables, LegacyListInFileOrderWithLookupByName) {
    EXPECT_TRUE(legacy_names().empty());
    EXPECT_EQ(PGMDEV_FLASH_MANAGER(true, 1, false, false).get_default_flash("LEGACY_X1"), nullptr);
    write("legacy_flash.ini",
          "[LGC16]\nenabled = 1\nio_voltage = 3.3V\ngroup = serial\norder = 2\n"
          "[LGC4]\nenabled = 1\nio_voltage = 3.3V\ngroup = serial\norder = 1\n"
          "[LGC16 SCDV]\nenabled = 0\nio_voltage = 1.8V\ngroup = scdv\norder = oops\n"
          "[LGC4]\nio_voltage = 1.8V\norder = 9\n");
    EXPECT_EQ(legacy_names(), (std::vector<std::string>{"LGC16", "LGC4", "LGC16 SCDV", "LGC4"}));
    PGMDEV_FLASH_MANAGER m(true, 1, false, false);
    const PGMDEV_SFL_FLASH_INFO* a = m.get_default_flash("LGC16");
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(a->enabled);
    EXPECT_EQ(a->io_voltage, "3.3V");
    EXPECT_EQ(a->group, "serial");
    EXPECT_EQ(a->order, 2u);
    EXPECT_EQ(m.get_default_flash("LGC4")->order, 9u);
    EXPECT_EQ(m.get_default_flash("LGC16 SCDV")->order, 0u);
    EXPECT_EQ(m.get_default_flash("lgc4"), nullptr);
}

// Managers share one parse of a file until it changes; each keeps what it was built with.
TEST_F(HostDeviceTables, ASettledFileIsParsedOnceUntilItChanges) {
    write("legacy_flash.ini", "[A]\nio_voltage = 1.8V\n");
    write("families.ini", "[10]\nenabled = 1\n");
    // A file is trusted by its stamp only once it is older than any timestamp tick.
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));
    PGMDEV_FLASH_MANAGER first(true, 1, false, false);
    PGMDEV_FLASH_MANAGER second(true, 1, false, false);
    EXPECT_EQ(first.get_default_flash("A"), second.get_default_flash("A"));
    PGMDEV_DEV_INFO_MANAGER d1(false, 0);

    write("legacy_flash.ini", "[A]\nio_voltage = 3.30V\n");
    write("families.ini", "[10]\nenabled = 0\n");
    PGMDEV_FLASH_MANAGER after(true, 1, false, false);
    ASSERT_NE(after.get_default_flash("A"), nullptr);
    EXPECT_EQ(after.get_default_flash("A")->io_voltage, "3.30V");
    EXPECT_FALSE(
        PGMDEV_DEV_INFO_MANAGER(false, 0).get_db_by_family(DEV_FAMILY_QSPI_FLASH)->enabled);
    EXPECT_EQ(first.get_default_flash("A")->io_voltage, "1.8V");
    EXPECT_TRUE(d1.get_db_by_family(DEV_FAMILY_QSPI_FLASH)->enabled);

    fs::remove(m_dir.file("dev/legacy_flash.ini"));
    EXPECT_TRUE(legacy_names().empty());
    vorn_test::TempDir other;
    other.write("dev/legacy_flash.ini", "[B]\n");
    PGM_COMMON::set_common_programmer(other.path());
    EXPECT_EQ(legacy_names(), std::vector<std::string>{"B"});
}

}  // namespace
