// Device families and the legacy flash list read from the programmer's dev/ folder.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "vorn_test_support.h"

namespace fs = std::filesystem;

namespace {

class HostDeviceTables : public testing::Test {
  protected:
    HostDeviceTables() { PGM_COMMON::set_common_programmer(m_dir.path()); }
    ~HostDeviceTables() override { PGM_COMMON::set_common_programmer(""); }

    void families(const std::string& text) { m_dir.write("dev/families.ini", text); }
    void legacy(const std::string& text) { m_dir.write("dev/legacy_flash.ini", text); }

    vorn_test::TempDir m_dir;
};

std::vector<int> family_numbers(const PGMDEV_DEV_INFO_MANAGER& m) {
    std::vector<int> out;
    for (const auto& f : m.m_supported_family_list) out.push_back(f.family);
    return out;
}

std::vector<std::string> flash_names(const PGMDEV_FLASH_MANAGER& m) {
    std::vector<std::string> out;
    for (const auto& f : m.get_flash_info_list()) out.push_back(f.name);
    return out;
}

TEST_F(HostDeviceTables, FamiliesInFileOrderWithTheirFields) {
    families(
        "; device families\n"
        "[73]\nname = Kestrel 10\nenabled = 1\nsdm = 1\nsdmmc = 0\nflash_io_voltage = 1.8V\n"
        "[28]\nname = Heron\nenabled = 1\nsdm = 0\nsdmmc = 1\nflash_io_voltage = 3.0V/3.3V\n"
        "[not_a_number]\nname = ignored\nenabled = 1\n"
        "[5]\nname = Old\nenabled = 0\n");
    PGMDEV_DEV_INFO_MANAGER m(false, 0);
    EXPECT_EQ(family_numbers(m), (std::vector<int>{73, 28, 5}));
    EXPECT_EQ(m.m_supported_family_list[1].name, "Heron");

    const PGMDEV_DEV_INFO* k = m.get_db_by_family(static_cast<DEV_FAMILY_ENUM>(73));
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->family, 73);
    EXPECT_EQ(k->name, "Kestrel 10");
    EXPECT_TRUE(k->enabled);
    EXPECT_TRUE(k->sdm);
    EXPECT_FALSE(k->sdmmc);
    EXPECT_EQ(k->flash_io_voltage, "1.8V");

    const PGMDEV_DEV_INFO* h = m.get_db_by_family(static_cast<DEV_FAMILY_ENUM>(28));
    ASSERT_NE(h, nullptr);
    EXPECT_FALSE(h->sdm);
    EXPECT_TRUE(h->sdmmc);
    EXPECT_EQ(h->flash_io_voltage, "3.0V/3.3V");

    const PGMDEV_DEV_INFO* old = m.get_db_by_family(static_cast<DEV_FAMILY_ENUM>(5));
    ASSERT_NE(old, nullptr);
    EXPECT_FALSE(old->enabled);
    EXPECT_TRUE(old->flash_io_voltage.empty());
    EXPECT_EQ(m.get_db_by_family(DEV_FAMILY_QSPI_FLASH), nullptr);
}

TEST_F(HostDeviceTables, RepeatedFamilyKeepsItsPlaceAndTakesTheLastValues) {
    families("[10]\nname = A\nenabled = 0\n[20]\nname = B\n[10]\nname = C\nenabled = 1\n");
    PGMDEV_DEV_INFO_MANAGER m(false, 0);
    EXPECT_EQ(family_numbers(m), (std::vector<int>{10, 20}));
    EXPECT_EQ(m.m_supported_family_list[0].name, "C");
    ASSERT_NE(m.get_db_by_family(DEV_FAMILY_QSPI_FLASH), nullptr);
    EXPECT_TRUE(m.get_db_by_family(DEV_FAMILY_QSPI_FLASH)->enabled);
}

TEST_F(HostDeviceTables, MissingFilesGiveEmptyTables) {
    PGMDEV_DEV_INFO_MANAGER d(false, 0);
    EXPECT_TRUE(d.m_supported_family_list.empty());
    EXPECT_EQ(d.get_db_by_family(DEV_FAMILY_QSPI_FLASH), nullptr);
    PGMDEV_FLASH_MANAGER f(true, 1, false, false);
    EXPECT_TRUE(f.get_flash_info_list().empty());
    EXPECT_EQ(f.get_default_flash("EPCQ"), nullptr);
}

TEST_F(HostDeviceTables, LegacyListInFileOrderWithLookupByName) {
    legacy(
        "[LGC16]\nenabled = 1\nio_voltage = 3.3V\ngroup = serial\norder = 2\n"
        "[LGC4]\nenabled = 1\nio_voltage = 3.3V\ngroup = serial\norder = 1\n"
        "[LGC16 SCDV]\nenabled = 0\nio_voltage = 1.8V\ngroup = scdv\norder = oops\n");
    PGMDEV_FLASH_MANAGER m(true, 1, false, false);
    EXPECT_EQ(flash_names(m), (std::vector<std::string>{"LGC16", "LGC4", "LGC16 SCDV"}));

    const PGMDEV_SFL_FLASH_INFO* a = m.get_default_flash("LGC4");
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(a->enabled);
    EXPECT_EQ(a->io_voltage, "3.3V");
    EXPECT_EQ(a->group, "serial");
    EXPECT_EQ(a->order, 1u);
    const PGMDEV_SFL_FLASH_INFO* s = m.get_default_flash("LGC16 SCDV");
    ASSERT_NE(s, nullptr);
    EXPECT_FALSE(s->enabled);
    EXPECT_EQ(s->order, 0u);
    EXPECT_EQ(m.get_default_flash("lgc4"), nullptr);
    EXPECT_EQ(m.get_default_flash(""), nullptr);
}

TEST_F(HostDeviceTables, RepeatedLegacyNameIsListedTwiceAndFoundAsTheLast) {
    legacy("[X]\nio_voltage = 1.8V\norder = 1\n[Y]\n[X]\nio_voltage = 3.3V\norder = 9\n");
    PGMDEV_FLASH_MANAGER m(true, 1, false, false);
    EXPECT_EQ(flash_names(m), (std::vector<std::string>{"X", "Y", "X"}));
    ASSERT_NE(m.get_default_flash("X"), nullptr);
    EXPECT_EQ(m.get_default_flash("X")->order, 9u);
}

TEST_F(HostDeviceTables, SettledFileIsParsedOnceUntilItChanges) {
    legacy("[A]\nio_voltage = 1.8V\n");
    families("[10]\nenabled = 1\n");
    // A file is trusted by its stamp only once it is older than any timestamp tick.
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));

    PGMDEV_FLASH_MANAGER first(true, 1, false, false);
    PGMDEV_FLASH_MANAGER second(true, 1, false, false);
    EXPECT_EQ(&first.get_flash_info_list(), &second.get_flash_info_list());
    const PGMDEV_SFL_FLASH_INFO* old_a = first.get_default_flash("A");
    ASSERT_NE(old_a, nullptr);
    EXPECT_EQ(old_a, second.get_default_flash("A"));
    PGMDEV_DEV_INFO_MANAGER d1(false, 0);
    PGMDEV_DEV_INFO_MANAGER d2(false, 0);
    EXPECT_EQ(d1.get_db_by_family(DEV_FAMILY_QSPI_FLASH),
              d2.get_db_by_family(DEV_FAMILY_QSPI_FLASH));

    legacy("[A]\nio_voltage = 3.3V\n");  // same size, same file
    families("[10]\nenabled = 0\n");
    PGMDEV_FLASH_MANAGER after(true, 1, false, false);
    ASSERT_NE(after.get_default_flash("A"), nullptr);
    EXPECT_EQ(after.get_default_flash("A")->io_voltage, "3.3V");
    PGMDEV_DEV_INFO_MANAGER d3(false, 0);
    ASSERT_NE(d3.get_db_by_family(DEV_FAMILY_QSPI_FLASH), nullptr);
    EXPECT_FALSE(d3.get_db_by_family(DEV_FAMILY_QSPI_FLASH)->enabled);
    // Managers built before keep what they were built with.
    EXPECT_EQ(old_a->io_voltage, "1.8V");
    EXPECT_TRUE(d1.get_db_by_family(DEV_FAMILY_QSPI_FLASH)->enabled);
}

TEST_F(HostDeviceTables, FreshChangesAndRemovalAreSeenAtOnce) {
    legacy("[A]\nio_voltage = 1.8V\n");
    PGMDEV_FLASH_MANAGER before(true, 1, false, false);
    legacy("[A]\nio_voltage = 3.3V\n");
    PGMDEV_FLASH_MANAGER after(true, 1, false, false);
    ASSERT_NE(after.get_default_flash("A"), nullptr);
    EXPECT_EQ(after.get_default_flash("A")->io_voltage, "3.3V");
    EXPECT_EQ(before.get_default_flash("A")->io_voltage, "1.8V");

    fs::remove(m_dir.path() + "dev/legacy_flash.ini");
    PGMDEV_FLASH_MANAGER gone(true, 1, false, false);
    EXPECT_TRUE(gone.get_flash_info_list().empty());
    EXPECT_EQ(gone.get_default_flash("A"), nullptr);
}

TEST_F(HostDeviceTables, EachProgrammerDirectoryHasItsOwnTables) {
    legacy("[A]\n");
    vorn_test::TempDir other;
    other.write("dev/legacy_flash.ini", "[B]\n");
    PGMDEV_FLASH_MANAGER here(true, 1, false, false);
    PGM_COMMON::set_common_programmer(other.path());
    PGMDEV_FLASH_MANAGER there(true, 1, false, false);
    EXPECT_EQ(flash_names(here), std::vector<std::string>{"A"});
    EXPECT_EQ(flash_names(there), std::vector<std::string>{"B"});
}

}  // namespace
