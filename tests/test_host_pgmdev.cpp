// Device families and the legacy flash list read from the programmer's dev/ folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "vorn_test_support.h"

namespace {

class HostDeviceTables : public testing::Test {
  protected:
    HostDeviceTables() { PGM_COMMON::set_common_programmer(m_dir.path()); }
    ~HostDeviceTables() override { PGM_COMMON::set_common_programmer(""); }

    // Each family as "number name enabled sdm sdmmc voltage".
    std::vector<std::string> families() {
        std::vector<std::string> out;
        PGMDEV_DEV_INFO_MANAGER m(false, 0);
        for (const auto& f : m.m_supported_family_list) {
            const PGMDEV_DEV_INFO* d = m.get_db_by_family(static_cast<DEV_FAMILY_ENUM>(f.family));
            out.push_back(std::to_string(f.family) + " " + f.name + " " +
                          std::to_string(d->enabled) + std::to_string(d->sdm) +
                          std::to_string(d->sdmmc) + " " + d->flash_io_voltage);
        }
        return out;
    }
    // Each legacy device as "name enabled voltage group order".
    std::vector<std::string> legacy() {
        std::vector<std::string> out;
        for (const auto& f : PGMDEV_FLASH_MANAGER(true, 1, false, false).get_flash_info_list())
            out.push_back(f.name + " " + std::to_string(f.enabled) + " " + f.io_voltage + " " +
                          f.group + " " + std::to_string(f.order));
        return out;
    }

    vorn_test::TempDir m_dir;
};

TEST_F(HostDeviceTables, BothTablesInFileOrderWithTheirFields) {
    EXPECT_TRUE(families().empty() && legacy().empty());
    EXPECT_EQ(PGMDEV_FLASH_MANAGER(true, 1, false, false).get_default_flash("LEGACY_X1"), nullptr);
    m_dir.write(
        "dev/families.ini",
        "[73]\nname = Kestrel 10\nenabled = 1\nsdm = 1\nsdmmc = 0\nflash_io_voltage = 1.8V\n"
        "[28]\nname = Heron\nsdmmc = 1\n[not_a_number]\nname = ignored\n[5]\nname = Old\n"
        "[28]\nname = Heron2\nenabled = 1\nsdmmc = 1\nflash_io_voltage = 3.0V/3.3V\n");
    EXPECT_EQ(families(), (std::vector<std::string>{"73 Kestrel 10 110 1.8V",
                                                    "28 Heron2 101 3.0V/3.3V", "5 Old 000 "}));
    PGMDEV_DEV_INFO_MANAGER m(false, 0);
    ASSERT_NE(m.get_db_by_family(static_cast<DEV_FAMILY_ENUM>(28)), nullptr);
    EXPECT_EQ(m.get_db_by_family(static_cast<DEV_FAMILY_ENUM>(28))->name, "Heron2");
    EXPECT_EQ(m.get_db_by_family(DEV_FAMILY_QSPI_FLASH), nullptr);

    m_dir.write("dev/legacy_flash.ini",
                "[LGC16]\nenabled = 1\nio_voltage = 3.3V\ngroup = serial\norder = 2\n"
                "[LGC4]\nenabled = 1\nio_voltage = 3.3V\ngroup = serial\norder = 1\n"
                "[LGC16 SCDV]\nenabled = 0\nio_voltage = 1.8V\ngroup = scdv\norder = oops\n"
                "[LGC4]\nio_voltage = 1.8V\norder = 9\n");
    EXPECT_EQ(legacy(), (std::vector<std::string>{"LGC16 1 3.3V serial 2", "LGC4 1 3.3V serial 1",
                                                  "LGC16 SCDV 0 1.8V scdv 0", "LGC4 0 1.8V  9"}));
    PGMDEV_FLASH_MANAGER f(true, 1, false, false);
    ASSERT_NE(f.get_default_flash("LGC4"), nullptr);
    EXPECT_EQ(f.get_default_flash("LGC4")->order, 9u);  // a repeated name is found as the last
    EXPECT_EQ(f.get_default_flash("lgc4"), nullptr);
}

// Managers share one parse of a file until it changes; each keeps what it was built with.
TEST_F(HostDeviceTables, ASettledFileIsParsedOnceUntilItChanges) {
    m_dir.write("dev/legacy_flash.ini", "[A]\nio_voltage = 1.8V\n");
    m_dir.write("dev/families.ini", "[10]\nenabled = 1\n");
    // A file is trusted by its stamp only once it is older than any timestamp tick.
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));
    PGMDEV_FLASH_MANAGER first(true, 1, false, false);
    PGMDEV_FLASH_MANAGER second(true, 1, false, false);
    EXPECT_EQ(first.get_default_flash("A"), second.get_default_flash("A"));
    PGMDEV_DEV_INFO_MANAGER d1(false, 0);

    m_dir.write("dev/legacy_flash.ini", "[A]\nio_voltage = 3.3V\n");  // same size
    m_dir.write("dev/families.ini", "[10]\nenabled = 0\n");
    EXPECT_EQ(legacy(), std::vector<std::string>{"A 0 3.3V  0"});
    EXPECT_EQ(families(), std::vector<std::string>{"10  000 "});
    EXPECT_EQ(first.get_default_flash("A")->io_voltage, "1.8V");
    EXPECT_TRUE(d1.get_db_by_family(DEV_FAMILY_QSPI_FLASH)->enabled);

    std::filesystem::remove(m_dir.file("dev/legacy_flash.ini"));
    EXPECT_TRUE(legacy().empty());
    vorn_test::TempDir other;
    other.write("dev/legacy_flash.ini", "[B]\n");
    PGM_COMMON::set_common_programmer(other.path());
    EXPECT_EQ(legacy(), std::vector<std::string>{"B 0   0"});
}

}  // namespace
