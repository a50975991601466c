// The SD/MMC manager: loading with its switches and duplicate rules, the family answers and
// stubs, and saving cards through the shared update and delete path.
#include <gtest/gtest.h>

#include "pgm_common_xml_vorn_sdmmc_auto_export.h"
#include "vorn.h"
#include "vorn_test_support.h"

using vorn_test::MessageCapture;
using vorn_test::sdmmc_document;

using vorn_test::internal_error_of;

namespace {

const char* const families_ini =
    "[12]\nname = Plain\nenabled = 1\nsdm = 0\nsdmmc = 0\nflash_io_voltage = 3.0V/3.3V\n"
    "[61]\nname = Boots\nenabled = 1\nsdm = 1\nsdmmc = 1\nflash_io_voltage = 1.8V\n"
    "[28]\nname = Gated\nenabled = 1\nsdm = 1\nsdmmc = 1\nflash_io_voltage = 1.8V\n"
    "[48]\nname = Quiet\nenabled = 0\nsdm = 0\nsdmmc = 1\nflash_io_voltage = 1.8V\n";

}  // namespace

class SdmmcMgr : public ::testing::Test {
  protected:
    void SetUp() override {
        m_prog.write("dev/families.ini", families_ini);
        m_prog.write("xml/pgm_flash_db_sdmmc.xml", sdmmc_document({{"GOLD_A", "1.8V", "8GB"},
                                                                   {"GOLD_B", "1.8V", "32GB"},
                                                                   {"GOLD_C", "1.8V", "32GB"}}));
        VORN_MGR::set_db_custom_dir(m_custom.path());
        zentro = FIO_PATH(VORN_MGR::get_db_zentro_dir()).full_directory();
        custom = FIO_PATH(VORN_MGR::get_db_custom_dir()).full_directory();
    }
    void TearDown() override { VORN_MGR::set_db_custom_dir(""); }

    vorn_test::ProgrammerDir m_prog;
    vorn_test::TempDir m_custom;
    std::string zentro;
    std::string custom;
    MessageCapture capture;
};

// ---- construction -------------------------------------------------------------------------

TEST_F(SdmmcMgr, FamiliesComeFromTheHostWithTheGate) {
    {
        VORN_SDMMC_MGR mgr;
        // 12 boots no SD/MMC; 28 waits for its switch; 48 counts although disabled.
        EXPECT_EQ(mgr.get_device_family_list(),
                  (std::vector<DEV_FAMILY_ENUM>{static_cast<DEV_FAMILY_ENUM>(48),
                                                static_cast<DEV_FAMILY_ENUM>(61)}));
        EXPECT_TRUE(mgr.get_dev_info_map().at(static_cast<DEV_FAMILY_ENUM>(61)).use_sdm_mode);
        EXPECT_EQ(mgr.get_dev_info_map().at(static_cast<DEV_FAMILY_ENUM>(61)).io_voltage, "1.8V");
    }
    cfg_set_switch("pgm_enable_sdmmc_solvane", true);
    VORN_SDMMC_MGR gated;
    EXPECT_EQ(gated.get_device_family_list(),
              (std::vector<DEV_FAMILY_ENUM>{static_cast<DEV_FAMILY_ENUM>(28),
                                            static_cast<DEV_FAMILY_ENUM>(48),
                                            static_cast<DEV_FAMILY_ENUM>(61)}));
}

TEST_F(SdmmcMgr, UserFilesNeedTheCustomSwitch) {
    m_prog.write("xml/pgm_flash_mine.xml", sdmmc_document({{"ZEN_1", "1.8V", "64GB"}}));
    // GOLD_B is also a built-in card: the custom one replaces it.
    m_custom.write("pgm_flash_mine.xml",
                   sdmmc_document({{"CUS_1", "1.8V", "64GB"}, {"GOLD_B", "1.8V", "128GB"}}));
    {
        VORN_SDMMC_MGR off;
        EXPECT_EQ(off.get_flash_map().size(), 3u);
        EXPECT_FALSE(off.is_new_device_supported());
    }
    cfg_set_switch("pgm_enable_custom_sdmmc", true);
    VORN_SDMMC_MGR on;
    EXPECT_TRUE(on.is_new_device_supported());
    EXPECT_EQ(on.get_zentro_dir_map().at("ZEN_1"), zentro + "pgm_flash_mine.xml");
    EXPECT_EQ(on.get_custom_dir_map().at("CUS_1"), custom + "pgm_flash_mine.xml");
    EXPECT_TRUE(on.get_flash_map().at("CUS_1")->get_flash_removable_permission());
    EXPECT_EQ(on.get_flash_map().at("CUS_1")->get_db_dir(), custom);
    EXPECT_EQ(on.get_flash_map().size(), 5u);
    EXPECT_EQ(on.get_flash_map().at("GOLD_B")->get_density(), "128GB");
    EXPECT_TRUE(on.get_flash_map().at("GOLD_B")->get_flash_removable_permission());
    EXPECT_EQ(on.get_flash_db_active_dir_map().at("GOLD_B"), custom + "pgm_flash_mine.xml");
}

TEST_F(SdmmcMgr, BadCardSilentlyEndsItsFile) {
    cfg_set_switch("pgm_enable_custom_sdmmc", true);
    m_custom.write("pgm_flash_bad.xml", sdmmc_document({{"FIRST", "1.8V", "16GB"},
                                                        {"SECOND", "1.8V", "3GB"},
                                                        {"THIRD", "1.8V", "16GB"}}));
    m_custom.write("pgm_flash_volt.xml", sdmmc_document({{"LOWV", "3.0V/3.3V", "16GB"}}));
    VORN_SDMMC_MGR mgr;
    EXPECT_EQ(mgr.get_flash_map().count("FIRST"), 1u);
    EXPECT_EQ(mgr.get_flash_map().count("SECOND"), 0u);
    EXPECT_EQ(mgr.get_flash_map().count("THIRD"), 0u);
    EXPECT_EQ(mgr.get_flash_map().count("LOWV"), 0u);
    EXPECT_TRUE(capture.messages().empty());
}

TEST_F(SdmmcMgr, GoldenTemplateDefectsAreInternalErrors) {
    std::string golden = m_prog.path() + "xml/pgm_flash_db_sdmmc.xml";
    ASSERT_TRUE(FIO_FILE_SYSTEM::remove(golden));
    VORN_INTERNAL_ERROR missing = internal_error_of([] { VORN_SDMMC_MGR mgr; });
    EXPECT_EQ(std::string(missing.what()), golden + " not found.");

    // A defect after some cards were stored must not leak them.
    m_prog.write("xml/pgm_flash_db_sdmmc.xml",
                 sdmmc_document({{"OK", "1.8V", "1GB"}, {"BAD", "1.8V", "1TB"}}));
    EXPECT_STREQ(internal_error_of([] { VORN_SDMMC_MGR mgr; }).what(), "status");
}

// ---- family answers -----------------------------------------------------------------------

// A host's manager may clear its maps; the current record goes with them, in both families.
TEST_F(SdmmcMgr, ClearingTheMapsForgetsTheCurrentRecord) {
    struct CLEARABLE_SDMMC : VORN_SDMMC_MGR {
        using VORN_SDMMC_MGR::clear_flash_mapping_info;
    } sdmmc;
    struct CLEARABLE_QSPI : VORN_QSPI_MGR {
        using VORN_QSPI_MGR::clear_flash_mapping_info;
    } qspi;
    ASSERT_NE(sdmmc.get_flash("GOLD_A", true), nullptr);
    ASSERT_NE(qspi.get_flash("MT25QL128", true), nullptr);
    sdmmc.clear_flash_mapping_info();
    qspi.clear_flash_mapping_info();
    for (VORN_MGR* mgr : {static_cast<VORN_MGR*>(&sdmmc), static_cast<VORN_MGR*>(&qspi)}) {
        EXPECT_EQ(mgr->get_current_flash(), nullptr);
        EXPECT_TRUE(mgr->get_flash_map().empty());
        EXPECT_TRUE(mgr->get_flash_db_active_dir_map().empty());
        EXPECT_TRUE(mgr->get_dev_info_map().empty());
    }
}

// Stubs succeed and write nothing; what the family cannot do is an internal error.
TEST_F(SdmmcMgr, StubsAndUnsupportedFunctions) {
    VORN_SDMMC_MGR mgr;
    EXPECT_FALSE(mgr.is_flash_operation_supported());
    // The template services succeed and write nothing.
    EXPECT_TRUE(mgr.update_template_db(nullptr, custom));
    EXPECT_TRUE(mgr.delete_template("any"));
    PGM_COMMON_XML_ELEMENT* root = nullptr;
    mgr.create_user_template_with_template_list(root, {"x"});
    EXPECT_EQ(root, nullptr);
    FIO_FIND written(custom + "*", false);
    EXPECT_EQ(written.find_first(), "");
    VORN_INTERNAL_ERROR id = internal_error_of([&] { mgr.get_flash_with_id(0, 0); });
    EXPECT_STREQ(id.what(), "Unsupported function: get_flash_with_id");
    EXPECT_EQ(id.file(), "pgm/vorn/vorn_sdmmc_mgr");
    EXPECT_STREQ(internal_error_of([&] { mgr.create_action(VORN_ACT_TYPE_ERASE); }).what(),
                 "Unsupported function: create_action");
    EXPECT_STREQ(internal_error_of([&] { mgr.create_operation(VORN_OP_TYPE_PROGRAM); }).what(),
                 "Unsupported function: create_operation");

    m_prog.write("xml/pgm_flash_db_sdmmc.xml", sdmmc_document({}));
    VORN_SDMMC_MGR empty;
    EXPECT_TRUE(empty.get_flash_map().empty());
    EXPECT_STREQ(internal_error_of([&] {
                     empty.get_new_config_device_list(DEV_FAMILY_NONE, PGMIO_CONFIG_SCHEME_NONE,
                                                      false);
                 }).what(),
                 "!m_flash_map.empty()");
}

// ---- saving -------------------------------------------------------------------------------

TEST_F(SdmmcMgr, WriterRefusesInvalidCards) {
    VORN_SDMMC_MGR mgr;
    VORN_SDMMC_FLASH card("CARD");
    card.set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, "3.0V/3.3V");
    card.set_density("64GB");
    EXPECT_STREQ(internal_error_of([&] { delete mgr.create_xml_device_info(&card); }).what(),
                 "device_io_voltage_is_valid(flash->get_parameter_value(VORN_FLASH_PARAM_IO_"
                 "VOLTAGE), &err_msg)");
    card.set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, "1.8V");
    card.set_density("3GB");
    EXPECT_STREQ(
        internal_error_of([&] { delete mgr.create_xml_object_with_flash_list({&card}); }).what(),
        "device_density_is_valid(flash->get_density(), &err_msg)");
    EXPECT_STREQ(
        internal_error_of([&] { delete mgr.create_xml_object_with_flash_list({}); }).what(),
        "flash_list.size() > 0");
    EXPECT_STREQ(internal_error_of([&] { delete mgr.create_xml_device_info(nullptr); }).what(),
                 "flash");
}
