// The helper facade: the process-wide helper, manager selection and renewal, the active flash
// family and the database-device checks.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "vorn.h"
#include "vorn_test_support.h"

using vorn_test::MessageCapture;

using vorn_test::internal_error_of;

namespace {

const DEV_FAMILY_ENUM QSPI = DEV_FAMILY_QSPI_FLASH;
const DEV_FAMILY_ENUM SDMMC = DEV_FAMILY_SDMMC_FLASH;
const DEV_FAMILY_ENUM NO_FAMILY = static_cast<DEV_FAMILY_ENUM>(99);
const PGMIO_CONFIG_SCHEME NO_SCHEME = static_cast<PGMIO_CONFIG_SCHEME>(99);

// Legacy parts the host knows; the active QSPI family (73) takes 3.0V/3.3V under scheme 13.
const char* const legacy_ini =
    "[QCDV64]\nenabled = 1\nio_voltage = 3.0V/3.3V\ngroup = quad\norder = 1\n"
    "[QCDV18]\nenabled = 1\nio_voltage = 1.8V\ngroup = quad\norder = 2\n";

}  // namespace

// First in the file: when it runs first (always under ctest, one process per test) these are
// the very first calls of the process.
TEST(HelperSingleton, ConcurrentFirstCallsCreateOneHelper) {
    vorn_test::ProgrammerDir prog;
    // A card repeating an SD/MMC golden name: each SD/MMC load reports one duplicate.
    prog.write("xml/pgm_flash_dup.xml", vorn_test::sdmmc_document({{"EMMC_1GB", "1.8V", "1GB"}}));
    cfg_set_switch("pgm_enable_sdmmc", true);
    cfg_set_switch("pgm_enable_custom_sdmmc", true);
    MessageCapture capture;

    std::atomic<bool> go{false};
    std::vector<VORN_HELPER*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&, i] {
            while (!go.load()) std::this_thread::yield();
            seen[i] = VORN_HELPER::get_helper();
        });
    go = true;
    for (std::thread& t : threads) t.join();
    for (VORN_HELPER* h : seen) EXPECT_EQ(h, seen[0]);
    ASSERT_NE(seen[0], nullptr);
    // One construction loads the SD/MMC manager once and reports the duplicate once.
    size_t first = capture.count_id(20482);
    EXPECT_LE(first, 1u);
    VORN_HELPER::refresh_flash_managers();
    EXPECT_EQ(capture.count_id(20482), first + 1);
    cfg_clear_switches();
    VORN_HELPER::refresh_flash_managers();
}

class Helper : public ::testing::Test {
  protected:
    void SetUp() override {
        m_prog.write("dev/legacy_flash.ini", legacy_ini);
        VORN_MGR::set_db_custom_dir(m_custom.path());
    }
    void TearDown() override {
        cfg_clear_switches();
        VORN_HELPER::refresh_flash_managers();
        VORN_HELPER::set_active_flash_family(QSPI);
        VORN_MGR::set_db_custom_dir("");
    }
    static std::vector<DEV_FAMILY_ENUM> families(const VORN_HELPER& helper) {
        std::vector<DEV_FAMILY_ENUM> out;
        for (VORN_MGR* m : helper.get_manager_list()) out.push_back(m->get_flash_family());
        return out;
    }

    vorn_test::ProgrammerDir m_prog;
    vorn_test::TempDir m_custom;
};

// ---- which managers exist -----------------------------------------------------------------

TEST_F(Helper, SdmmcManagerFollowsTheSwitchAtTheLastRefresh) {
    cfg_set_switch("pgm_enable_sdmmc", false);
    VORN_HELPER::refresh_flash_managers();
    EXPECT_EQ(families(*VORN_HELPER::get_helper()), std::vector<DEV_FAMILY_ENUM>{QSPI});
    EXPECT_FALSE(VORN_HELPER::is_supported_family(SDMMC));
    EXPECT_EQ(VORN_HELPER::get_flash_manager(SDMMC, false), nullptr);
    EXPECT_FALSE(VORN_HELPER::is_supported_mode(PGMIO_CONFIG_SCHEME_SDMMC_X8));
    EXPECT_TRUE(VORN_HELPER::is_supported_mode(PGMIO_CONFIG_SCHEME_AS_X1));
    EXPECT_FALSE(VORN_HELPER::set_active_flash_family(SDMMC));

    cfg_set_switch("pgm_enable_sdmmc", true);
    EXPECT_FALSE(VORN_HELPER::is_supported_family(SDMMC)) << "not before a refresh";

    VORN_HELPER::refresh_flash_managers();
    EXPECT_EQ(families(*VORN_HELPER::get_helper()), (std::vector<DEV_FAMILY_ENUM>{QSPI, SDMMC}));
    EXPECT_TRUE(VORN_HELPER::is_supported_family(SDMMC));
    VORN_MGR* sdmmc = VORN_HELPER::get_flash_manager(SDMMC, false);
    ASSERT_NE(sdmmc, nullptr);
    EXPECT_EQ(VORN_HELPER::get_flash_manager(PGMIO_CONFIG_SCHEME_SDMMC_X8, false), sdmmc);
    EXPECT_TRUE(VORN_HELPER::set_active_flash_family(SDMMC));
    EXPECT_EQ(VORN_HELPER::get_active_flash_manager(false), sdmmc);
}

// ---- lookups on a helper of our own ------------------------------------------------------

TEST_F(Helper, RenewalMovesTheNewManagerToTheEnd) {
    cfg_set_switch("pgm_enable_sdmmc", true);
    cfg_set_switch("pgm_enable_custom_sdmmc", true);
    // A card that shares its name with a QSPI golden device.
    m_custom.write("pgm_flash_twin.xml", vorn_test::sdmmc_document({{"MT25QL128", "1.8V", "8GB"}}));
    VORN_HELPER helper;
    VORN_MGR* qspi = helper.get_manager(QSPI, false);
    VORN_MGR* sdmmc = helper.get_manager(SDMMC, false);
    ASSERT_EQ(helper.get_manager_list(), (std::vector<VORN_MGR*>{qspi, sdmmc}));
    // Both know the twin; the first in the list answers.
    EXPECT_EQ(helper.get_manager("MT25QL128", true, false), qspi);

    VORN_MGR* renewed = helper.get_manager(QSPI, true);
    ASSERT_NE(renewed, nullptr);
    EXPECT_NE(renewed, qspi) << "a new object; the old one is deleted (sanitizer build)";
    EXPECT_EQ(renewed->get_flash_family(), QSPI);
    EXPECT_EQ(helper.get_manager_list(), (std::vector<VORN_MGR*>{sdmmc, renewed}));
    EXPECT_EQ(helper.get_manager("MT25QL128", true, false), sdmmc);
    EXPECT_EQ(helper.get_manager(QSPI, false), renewed);

    EXPECT_EQ(helper.get_manager(NO_FAMILY, true), nullptr);
}

// ---- database devices ---------------------------------------------------------------------

// The three forms (by flash family, by scheme, by name alone) agree.
TEST_F(Helper, DatabaseDevicesInAllThreeForms) {
    VORN_HELPER::refresh_flash_managers();
    VORN_MGR* qspi = VORN_HELPER::get_flash_manager(QSPI, false);
    ASSERT_TRUE(qspi->device_is_legacy("QCDV64", false));
    EXPECT_EQ(VORN_HELPER::get_flash_manager("QCDV64", false, false), qspi);
    const struct {
        const char* name;
        bool ignore_filter;
        bool expected;
    } rows[] = {
        {"QCDV64", false, false},  // legacy only
        // A 1.8V part is outside the active 3.3V family unless the filter is off.
        {"MT25QU128", false, false},
        {"MT25QU128", true, true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "'" << r.name << "' " << r.ignore_filter);
        EXPECT_EQ(VORN_HELPER::is_vorn_flash(r.name, QSPI, r.ignore_filter, false), r.expected);
        EXPECT_EQ(
            VORN_HELPER::is_vorn_flash(r.name, PGMIO_CONFIG_SCHEME_AS_X4, r.ignore_filter, false),
            r.expected);
        EXPECT_EQ(VORN_HELPER::is_vorn_flash(r.name, r.ignore_filter, false), r.expected);
    }
    EXPECT_FALSE(VORN_HELPER::is_vorn_flash("MT25QL128", NO_FAMILY, true, false));

    VORN_MGR* before = VORN_HELPER::get_flash_manager(QSPI, false);
    EXPECT_TRUE(VORN_HELPER::is_vorn_flash("MT25QL128", QSPI, false, true));
    EXPECT_NE(VORN_HELPER::get_flash_manager(QSPI, false), before) << "renewed on request";
}
