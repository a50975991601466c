// The manager base: byte lists, lookups with the device-family filter, legacy records,
// directories and the custom directory in the user INI, and the field validators.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "host_fault.h"
#include "test_mgr_double.h"
#include "vorn.h"
#include "vorn_test_support.h"

using vorn_test::MessageCapture;
using vorn_test::TEST_MGR;

namespace {

// Runs `fn`, which must end in an internal error; returns it.
template <typename F>
VORN_INTERNAL_ERROR internal_error_of(F fn) {
    try {
        fn();
    } catch (const VORN_INTERNAL_ERROR& e) {
        return e;
    }
    ADD_FAILURE() << "no internal error";
    return VORN_INTERNAL_ERROR("", "", "", 0);
}

struct BYTES {
    std::unique_ptr<unsigned char[]> data;
    unsigned int size = 77;
    bool ok = false;
    std::vector<int> values() const {
        std::vector<int> out;
        for (unsigned int i = 0; data && i < size; ++i) out.push_back(data[i]);
        return out;
    }
};

BYTES convert(const std::string& text) {
    BYTES b;
    b.ok = true;
    b.data.reset(VORN_MGR::convert_data_list_string_to_byte_array(text, &b.size, &b.ok));
    return b;
}

}  // namespace

// ---- byte lists ---------------------------------------------------------------------------

TEST(MgrByteList, ReadsHexAndDecimalTokensInOrder) {
    BYTES one = convert("0x9F");
    EXPECT_TRUE(one.ok);
    EXPECT_EQ(one.values(), (std::vector<int>{0x9F}));

    BYTES three = convert("0x03 0x00 0xFF");
    EXPECT_TRUE(three.ok);
    EXPECT_EQ(three.values(), (std::vector<int>{0x03, 0x00, 0xFF}));

    BYTES mixed = convert("255 0 0xa 7");
    EXPECT_TRUE(mixed.ok);
    EXPECT_EQ(mixed.values(), (std::vector<int>{255, 0, 0x0A, 7}));
}

TEST(MgrByteList, OnlySpacesSeparate) {
    BYTES spaced = convert("   0x0A    0x0B  ");
    EXPECT_TRUE(spaced.ok);
    EXPECT_EQ(spaced.values(), (std::vector<int>{0x0A, 0x0B}));

    BYTES tab = convert("0x0A\t0x0B");
    EXPECT_FALSE(tab.ok);
    EXPECT_EQ(tab.size, 0u);
    EXPECT_EQ(tab.data, nullptr);

    BYTES blank = convert("    ");
    EXPECT_FALSE(blank.ok);
    EXPECT_EQ(blank.size, 0u);
    EXPECT_EQ(blank.data, nullptr);
}

TEST(MgrByteList, AnyBadTokenRejectsTheWholeText) {
    for (const char* text : {"0x123", "0x", "256", "0x1G", "0X12", "-1", "1.5", "0x9F 256",
                             "0x01 0x", "12 abc", "0x0A,0x0B"}) {
        BYTES b = convert(text);
        EXPECT_FALSE(b.ok) << text;
        EXPECT_EQ(b.size, 0u) << text;
        EXPECT_EQ(b.data, nullptr) << text;
    }
}

TEST(MgrByteList, OutputsAreOptional) {
    std::unique_ptr<unsigned char[]> data(
        VORN_MGR::convert_data_list_string_to_byte_array("0x01 0x02", nullptr, nullptr));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data[1], 0x02);
    EXPECT_EQ(VORN_MGR::convert_data_list_string_to_byte_array("zz", nullptr, nullptr), nullptr);
}

TEST(MgrByteList, EmptyTextIsAnInternalError) {
    VORN_INTERNAL_ERROR e = internal_error_of(
        [] { VORN_MGR::convert_data_list_string_to_byte_array("", nullptr, nullptr); });
    EXPECT_STREQ(e.what(), "!data_string.empty()");
    EXPECT_EQ(e.module(), "VORN");
    EXPECT_EQ(e.file(), "pgm/vorn/vorn_mgr");
}

// ---- lookups ------------------------------------------------------------------------------

class MgrLookup : public ::testing::Test {
  protected:
    void SetUp() override { cfg_clear_switches(); }
    void TearDown() override { cfg_clear_switches(); }
};

TEST_F(MgrLookup, EmptyNameFindsNothingAndClearsCurrent) {
    TEST_MGR mgr;
    mgr.add("dev", "1.8V");
    ASSERT_NE(mgr.get_flash("dev", false), nullptr);
    EXPECT_EQ(mgr.get_flash("", false), nullptr);
    EXPECT_EQ(mgr.get_current_flash(), nullptr);
    EXPECT_FALSE(mgr.device_exist_in_db("", true));
    EXPECT_FALSE(mgr.device_is_legacy("", true));
}

TEST_F(MgrLookup, DeviceFamilyFilterHidesOtherVoltages) {
    TEST_MGR mgr;
    VORN_FLASH* wide = mgr.add("wide", "3.0V/3.3V");
    VORN_FLASH* low = mgr.add("low", "1.8V");
    EXPECT_EQ(mgr.get_flash("wide", false), nullptr);
    EXPECT_EQ(mgr.get_flash("wide", true), wide);
    EXPECT_EQ(mgr.get_flash("low", false), low);
    EXPECT_EQ(mgr.get_current_flash(), low);
    EXPECT_FALSE(mgr.device_exist_in_db("wide", false));
    EXPECT_TRUE(mgr.device_exist_in_db("wide", true));
    EXPECT_FALSE(mgr.device_exist_in_db("Wide", true)) << "names are case-sensitive";

    mgr.set_active_device_family(TEST_MGR::FAMILY_3V3);
    EXPECT_EQ(mgr.get_flash("wide", false), wide);
    EXPECT_EQ(mgr.get_flash("low", false), nullptr);
}

TEST_F(MgrLookup, SkipSwitchIsReadAtConstruction) {
    cfg_set_switch("pgm_vorn_skip_device_filtering", true);
    TEST_MGR skipping;
    cfg_set_switch("pgm_vorn_skip_device_filtering", false);
    VORN_FLASH* wide = skipping.add("wide", "3.0V/3.3V");
    EXPECT_EQ(skipping.get_flash("wide", false), wide);
    EXPECT_EQ(skipping.get_flash("wide", true), wide);

    TEST_MGR filtering;
    filtering.add("wide", "3.0V/3.3V");
    EXPECT_EQ(filtering.get_flash("wide", false), nullptr);
}

TEST_F(MgrLookup, UnknownFamilyGetsADefaultEntry) {
    TEST_MGR mgr;
    mgr.add("low", "1.8V");
    VORN_FLASH* blank = mgr.add("blank", "");
    EXPECT_FALSE(mgr.get_use_sdm_mode()) << "copied only when a family is set";
    mgr.set_active_device_family(TEST_MGR::FAMILY_1V8);
    EXPECT_TRUE(mgr.get_use_sdm_mode());

    mgr.set_active_device_family(TEST_MGR::FAMILY_UNKNOWN);
    EXPECT_EQ(mgr.get_active_device_family(), TEST_MGR::FAMILY_UNKNOWN);
    EXPECT_FALSE(mgr.get_use_sdm_mode());
    EXPECT_EQ(mgr.get_dev_info_map().count(TEST_MGR::FAMILY_UNKNOWN), 1u);
    EXPECT_EQ(mgr.get_flash("low", false), nullptr);
    EXPECT_EQ(mgr.get_flash("blank", false), blank) << "two empty voltages are equal";
}

TEST_F(MgrLookup, IdMatchesUnderMaskInNameOrder) {
    TEST_MGR mgr;
    // Inserted out of name order on purpose.
    VORN_FLASH* b = mgr.add("b_dev", "1.8V", "512Mb", "0x20 0xBA 0x19");
    VORN_FLASH* a = mgr.add("a_dev", "1.8V", "512Mb", "0x20 0xBA 0x18");
    EXPECT_EQ(mgr.get_flash_with_id(0x0019BA20u, 0xFFFFFFFFu), b);
    EXPECT_EQ(mgr.get_current_flash(), b);
    // Only the high byte differs: masked away.
    EXPECT_EQ(mgr.get_flash_with_id(0xAB19BA20u, 0x00FFFFFFu), b);
    EXPECT_EQ(mgr.get_flash_with_id(0xAB18BA20u, 0x00FFFFFFu), a);
    EXPECT_EQ(mgr.get_flash_with_id(0x12345678u, 0), a) << "mask 0 takes the first name";
    EXPECT_EQ(mgr.get_flash_with_id(0x00EEEEEEu, 0x00FFFFFFu), nullptr);
    EXPECT_EQ(mgr.get_current_flash(), nullptr);
}

TEST_F(MgrLookup, DensityMatchTakesTheFirstName) {
    TEST_MGR mgr;
    mgr.add("zeta", "1.8V", "512Mb");
    VORN_FLASH* alpha = mgr.add("alpha", "3.0V/3.3V", "512Mb");
    mgr.add("big", "1.8V", "1024Mb");
    EXPECT_EQ(mgr.get_flash_with_density(67108864ull), alpha) << "no device-family filter";
    EXPECT_EQ(mgr.get_flash_with_density(1ull), nullptr);
    EXPECT_EQ(mgr.get_current_flash(), nullptr);

    TEST_MGR empty;
    EXPECT_EQ(empty.get_flash_with_density(67108864ull), nullptr);
    EXPECT_EQ(empty.get_flash_with_id(0, 0), nullptr);
}

TEST_F(MgrLookup, NullRecordInTheMapIsAnInternalError) {
    TEST_MGR mgr;
    mgr.put_null("ghost");
    EXPECT_STREQ(internal_error_of([&] { mgr.get_flash_with_id(0, 0); }).what(), "m_flash");
    EXPECT_STREQ(internal_error_of([&] { mgr.get_flash_with_density(0); }).what(), "m_flash");
    EXPECT_STREQ(internal_error_of([&] { mgr.get_flash("ghost", true); }).what(), "m_flash");
}

// ---- legacy records -----------------------------------------------------------------------

class MgrLegacy : public MgrLookup {};

TEST_F(MgrLegacy, LegacyNamesAreFilteredByVoltage) {
    TEST_MGR mgr;
    mgr.legacy = {{"LEG18", "1.8V"}, {"LEG33", "3.0V/3.3V"}};
    EXPECT_TRUE(mgr.device_is_legacy("LEG18", false));
    EXPECT_FALSE(mgr.device_is_legacy("LEG33", false));
    EXPECT_TRUE(mgr.device_is_legacy("LEG33", true));
    EXPECT_FALSE(mgr.device_is_legacy("leg18", true)) << "exact comparison";
    EXPECT_TRUE(mgr.device_exist_in_db("LEG18", false)) << "a legacy device exists";
    EXPECT_FALSE(mgr.device_exist_in_db("LEG33", false));
}

TEST_F(MgrLegacy, EachLookupMakesAFreshRecordAndDropsThePrevious) {
    TEST_MGR mgr;
    mgr.legacy = {{"LEG", "1.8V"}, {"OLD", "1.8V"}};
    VORN_FLASH* db = mgr.add("db_dev", "1.8V");

    VORN_FLASH* first = mgr.get_flash("LEG", false);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->get_name(), "LEG");
    EXPECT_FALSE(mgr.holds(first));
    EXPECT_EQ(mgr.created, 1);

    // The first legacy record is deleted here (the sanitizer build proves it is not leaked).
    VORN_FLASH* second = mgr.get_flash("OLD", false);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->get_name(), "OLD");
    EXPECT_EQ(mgr.created, 2);

    EXPECT_EQ(mgr.get_flash("db_dev", false), db);
    EXPECT_EQ(mgr.get_current_flash(), db);
    // A database record held as current is never deleted by the next lookup.
    EXPECT_NE(mgr.get_flash("LEG", false), nullptr);
    EXPECT_EQ(db->get_name(), "db_dev");
    EXPECT_EQ(mgr.get_flash("nothing", false), nullptr);
}

TEST_F(MgrLegacy, LookupsByIdAndDensityReleaseTheLegacyRecord) {
    TEST_MGR mgr;
    mgr.legacy = {{"LEG", "1.8V"}};
    mgr.add("dev", "1.8V", "512Mb", "0x01");
    ASSERT_NE(mgr.get_flash("LEG", false), nullptr);
    EXPECT_NE(mgr.get_flash_with_id(0x01, 0xFF), nullptr);
    ASSERT_NE(mgr.get_flash("LEG", false), nullptr);
    EXPECT_EQ(mgr.get_flash_with_density(12345), nullptr);
    EXPECT_EQ(mgr.get_current_flash(), nullptr);
}

TEST_F(MgrLegacy, DatabaseRecordWithALegacyNameIsNeverDeleted) {
    TEST_MGR mgr;
    mgr.legacy = {{"TWIN", "1.8V"}};
    VORN_FLASH* twin = mgr.add("TWIN", "1.8V", "2048Mb");
    ASSERT_EQ(mgr.get_flash_with_density(268435456ull), twin);
    EXPECT_EQ(mgr.get_flash("other", false), nullptr);
    EXPECT_EQ(mgr.get_flash_with_id(0, 0), twin);
    EXPECT_EQ(twin->get_density(), "2048Mb");
}

TEST_F(MgrLegacy, VisibleDatabaseDeviceSkipsTheLegacyList) {
    TEST_MGR mgr;
    mgr.legacy = {{"LEG", "1.8V"}};
    mgr.add("dev", "1.8V");
    int before = mgr.legacy_list_calls;
    EXPECT_TRUE(mgr.device_exist_in_db("dev", false));
    EXPECT_EQ(mgr.legacy_list_calls, before);
}

// ---- directories and the user INI --------------------------------------------------------

class MgrDirectories : public ::testing::Test {
  protected:
    void SetUp() override {
        m_old_ini = std::getenv("VORN_USER_INI") ? std::getenv("VORN_USER_INI") : "";
        m_ini = m_dir.path() + "cfg/user.ini";
        setenv("VORN_USER_INI", m_ini.c_str(), 1);
        cfg_reload_user_ini();
        HOST_FAULT::clear();
    }
    void TearDown() override {
        HOST_FAULT::clear();
        setenv("VORN_USER_INI", m_old_ini.c_str(), 1);
        cfg_reload_user_ini();
        VORN_MGR::set_db_custom_dir("");
    }
    vorn_test::ProgrammerDir m_prog;
    vorn_test::TempDir m_dir;
    std::string m_ini;
    std::string m_old_ini;
};

TEST_F(MgrDirectories, ZentroDirIsBelowTheProgrammerDir) {
    EXPECT_EQ(VORN_MGR::get_db_zentro_dir(), m_prog.path() + "xml/");
}

TEST_F(MgrDirectories, CustomDirGetsOneTrailingSeparator) {
    VORN_MGR::set_db_custom_dir("/data/flash");
    EXPECT_EQ(VORN_MGR::get_db_custom_dir(), "/data/flash/");
    VORN_MGR::set_db_custom_dir("/data/flash/");
    EXPECT_EQ(VORN_MGR::get_db_custom_dir(), "/data/flash/");
    VORN_MGR::set_db_custom_dir("C:\\flash\\db");
    EXPECT_EQ(VORN_MGR::get_db_custom_dir(), "C:/flash/db/");
    VORN_MGR::set_db_custom_dir("");
    EXPECT_EQ(VORN_MGR::get_db_custom_dir(), "./");
}

TEST_F(MgrDirectories, SettingTheCustomDirLeavesTheIniAlone) {
    VORN_MGR::set_db_custom_dir(m_dir.path());
    EXPECT_FALSE(FIO_FILE_SYSTEM::exists(m_ini));
}

TEST_F(MgrDirectories, SaveRefusesEmptyOrMissingDirectoriesUnlessForced) {
    EXPECT_FALSE(VORN_MGR::save_custom_dir_to_ini("", false));
    EXPECT_FALSE(VORN_MGR::save_custom_dir_to_ini(m_dir.path() + "missing", false));
    EXPECT_FALSE(FIO_FILE_SYSTEM::exists(m_ini));

    EXPECT_TRUE(VORN_MGR::save_custom_dir_to_ini(m_dir.path() + "missing", true));
    EXPECT_EQ(cfg_get_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR), m_dir.path() + "missing/");
    EXPECT_NE(m_dir.read("cfg/user.ini").find(m_dir.path() + "missing/"), std::string::npos);
}

TEST_F(MgrDirectories, SavingTheSameDirectoryInAnotherCaseWritesNothing) {
    std::string lower = m_dir.file("db/x");
    std::string upper = m_dir.file("DB/X");
    // Two real folders that differ only in case, so that both pass the existence check.
    ASSERT_TRUE(FIO_FILE_SYSTEM::create_directories(lower));
    ASSERT_TRUE(FIO_FILE_SYSTEM::create_directories(upper));
    ASSERT_TRUE(VORN_MGR::save_custom_dir_to_ini(lower, false));
    HOST_FAULT::fail_next(HOST_FAULT::WRITE_INI);
    EXPECT_TRUE(VORN_MGR::save_custom_dir_to_ini(upper, false));
    EXPECT_EQ(HOST_FAULT::pending(HOST_FAULT::WRITE_INI), 1) << "no write was attempted";
    EXPECT_EQ(cfg_get_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR), lower + "/");
}

TEST_F(MgrDirectories, AFailedIniWriteIsReported) {
    HOST_FAULT::fail_next(HOST_FAULT::WRITE_INI);
    EXPECT_FALSE(VORN_MGR::save_custom_dir_to_ini(m_dir.path(), false));
    EXPECT_FALSE(FIO_FILE_SYSTEM::exists(m_ini));
}

TEST_F(MgrDirectories, ReadingTheIniNormalisesTheStoredValue) {
    ASSERT_TRUE(cfg_set_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR, "/srv//flash"));
    EXPECT_EQ(VORN_MGR::get_custom_dir_from_ini(), "/srv/flash/");
}

TEST_F(MgrDirectories, FirstReadOfAnUnsetEntryStoresTheWorkingDirectory) {
    EXPECT_EQ(VORN_MGR::get_custom_dir_from_ini(), "./");
    EXPECT_TRUE(FIO_FILE_SYSTEM::exists(m_ini));
    cfg_reload_user_ini();
    EXPECT_EQ(cfg_get_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR), "./");

    // When the entry cannot be stored the answer is empty.
    ASSERT_TRUE(cfg_set_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR, ""));
    HOST_FAULT::fail_next(HOST_FAULT::WRITE_INI);
    EXPECT_EQ(VORN_MGR::get_custom_dir_from_ini(), "");
}

// ---- field validation ---------------------------------------------------------------------

class MgrValidation : public ::testing::Test {
  protected:
    void SetUp() override {
        cfg_clear_switches();
        MSG_INDEX::get_default_index()->clear_suppressed();
        mgr.legacy = {{"LEGACY_ONE", "3.0V/3.3V"}};
        mgr.add("taken", "3.0V/3.3V");
    }
    void TearDown() override { MSG_INDEX::get_default_index()->clear_suppressed(); }

    // The one warning posted, as id and text.
    std::pair<unsigned, std::string> only_warning() const {
        std::vector<MSG_RECORD> m = capture.messages();
        if (m.size() != 1) return {0, "posted " + std::to_string(m.size())};
        EXPECT_EQ(m[0].severity, 'W');
        return {m[0].id, m[0].text};
    }

    TEST_MGR mgr;
    MessageCapture capture;
};

TEST_F(MgrValidation, NameAlphabetAndReservedNames) {
    for (std::string good : {"DB", "db1", "_", "Flash_01", "micron"})
        EXPECT_TRUE(mgr.is_valid_name(good)) << good;
    for (std::string bad : {"", "db", "a b", "a-b", "a.b", "naïve", "tab\t"})
        EXPECT_FALSE(mgr.is_valid_name(bad)) << bad;
    for (std::string reserved : {"Micron", "Macronix", "Cypress", "Winbond", "Issi"})
        EXPECT_TRUE(mgr.is_golden_template_name(reserved)) << reserved;
    for (std::string free : {"micron", "ISSI", "Issi2", ""})
        EXPECT_FALSE(mgr.is_golden_template_name(free)) << free;
}

TEST_F(MgrValidation, DeviceNameRulesInOrder) {
    std::string err = "untouched";
    EXPECT_TRUE(mgr.device_name_is_valid("fresh_name", &err));
    EXPECT_EQ(err, "untouched");
    EXPECT_TRUE(capture.messages().empty());

    EXPECT_FALSE(mgr.device_name_is_valid("bad name", &err));
    EXPECT_EQ(err,
              "Device name 'bad name' is invalid as it contains either an empty string or special "
              "characters.");
    EXPECT_EQ(only_warning(), std::make_pair(20473u, err));

    capture.clear();
    EXPECT_FALSE(mgr.device_name_is_valid("", &err));
    EXPECT_EQ(err,
              "Device name '' is invalid as it contains either an empty string or special "
              "characters.");

    capture.clear();
    EXPECT_FALSE(mgr.device_name_is_valid("Micron", &err));
    EXPECT_EQ(err,
              "Device name 'Micron' is invalid as it conflicts with the reserved name for the "
              "programming flow template.");
    EXPECT_EQ(only_warning(), std::make_pair(20474u, err));
    EXPECT_TRUE(mgr.device_name_is_valid("micron", nullptr));
}

TEST_F(MgrValidation, ExistingNamesConflictWhateverTheFamily) {
    std::string err;
    // "taken" is a 3.3 V device and the active family is 1.8 V: still a conflict.
    ASSERT_FALSE(mgr.device_exist_in_db("taken", false));
    EXPECT_FALSE(mgr.device_name_is_valid("taken", &err));
    EXPECT_EQ(err, "Device name 'taken' is invalid as it already exist in the device database.");
    EXPECT_EQ(only_warning(), std::make_pair(20475u, err));

    capture.clear();
    EXPECT_FALSE(mgr.device_name_is_valid("LEGACY_ONE", &err));
    EXPECT_EQ(only_warning().first, 20475u);
}

TEST_F(MgrValidation, WithoutATextPointerNothingIsPosted) {
    EXPECT_FALSE(mgr.device_name_is_valid("db", nullptr));
    EXPECT_FALSE(mgr.device_name_is_valid("Cypress", nullptr));
    EXPECT_FALSE(mgr.device_name_is_valid("taken", nullptr));
    EXPECT_FALSE(mgr.device_density_is_valid("3Mb", nullptr));
    EXPECT_FALSE(mgr.device_io_voltage_is_valid("5V", nullptr));
    EXPECT_FALSE(mgr.device_io_voltage_is_compatible("3.0V/3.3V", nullptr));
    EXPECT_TRUE(capture.messages().empty());
}

TEST_F(MgrValidation, DensityAndVoltageComeFromTheFamilyLists) {
    std::string err = "untouched";
    EXPECT_TRUE(mgr.device_density_is_valid("512Mb", &err));
    EXPECT_TRUE(mgr.device_io_voltage_is_valid("3.0V/3.3V", &err));
    EXPECT_EQ(err, "untouched");

    EXPECT_FALSE(mgr.device_density_is_valid("512MB", &err));
    EXPECT_EQ(err, "Device density '512MB' is invalid.");
    EXPECT_EQ(only_warning(), std::make_pair(20478u, err));

    capture.clear();
    EXPECT_FALSE(mgr.device_density_is_valid("", &err));
    EXPECT_EQ(err, "Device density '' is invalid.");
    EXPECT_EQ(only_warning().first, 20478u);

    capture.clear();
    EXPECT_FALSE(mgr.device_io_voltage_is_valid("1.8v", &err));
    EXPECT_EQ(err, "Device I/O voltage '1.8v' is invalid.");
    EXPECT_EQ(only_warning(), std::make_pair(20476u, err));

    capture.clear();
    EXPECT_FALSE(mgr.device_io_voltage_is_valid("", &err));
    EXPECT_EQ(err, "Device I/O voltage '' is invalid.");
}

TEST_F(MgrValidation, CompatibilityFollowsTheActiveFamily) {
    std::string err;
    EXPECT_TRUE(mgr.device_io_voltage_is_compatible("1.8V", &err));
    EXPECT_FALSE(mgr.device_io_voltage_is_compatible("3.0V/3.3V", &err));
    EXPECT_EQ(err,
              "Flash device I/O voltage '3.0V/3.3V' is incompatible with the selected FPGA device "
              "family.");
    EXPECT_EQ(only_warning(), std::make_pair(20535u, err));

    capture.clear();
    EXPECT_FALSE(mgr.device_io_voltage_is_compatible("5V", &err))
        << "invalid reads as incompatible";
    EXPECT_EQ(err,
              "Flash device I/O voltage '5V' is incompatible with the selected FPGA device "
              "family.");
    EXPECT_EQ(only_warning().first, 20535u);

    mgr.set_active_device_family(TEST_MGR::FAMILY_3V3);
    EXPECT_TRUE(mgr.device_io_voltage_is_compatible("3.0V/3.3V", nullptr));
    mgr.set_active_device_family(TEST_MGR::FAMILY_UNKNOWN);
    EXPECT_FALSE(mgr.device_io_voltage_is_compatible("1.8V", nullptr));
    EXPECT_FALSE(mgr.device_io_voltage_is_compatible("", nullptr));
}

TEST_F(MgrValidation, SuppressedWarningStillExplains) {
    MSG_INDEX::get_default_index()->set_suppressed(20478, true);
    std::string err;
    EXPECT_FALSE(mgr.device_density_is_valid("7Mb", &err));
    EXPECT_EQ(err, "Device density '7Mb' is invalid.");
    EXPECT_TRUE(capture.messages().empty());
}

TEST_F(MgrValidation, BaseJudgesNameVoltageAndDensityOnly) {
    for (int p = 0; p <= 8; ++p) {
        bool expected = p == VORN_FLASH_PARAM_NAME || p == VORN_FLASH_PARAM_IO_VOLTAGE ||
                        p == VORN_FLASH_PARAM_DENSITY;
        EXPECT_EQ(mgr.is_parameter_valid(static_cast<VORN_FLASH_PARAM>(p)), expected) << p;
    }
}

TEST_F(MgrValidation, DispatchReachesEachRule) {
    std::string err;
    EXPECT_FALSE(mgr.is_parameter_valid(VORN_FLASH_PARAM_NAME, "db", &err));
    EXPECT_EQ(only_warning().first, 20473u);
    capture.clear();
    EXPECT_FALSE(mgr.is_parameter_valid(VORN_FLASH_PARAM_IO_VOLTAGE, "2V", &err));
    EXPECT_EQ(only_warning().first, 20476u);
    capture.clear();
    EXPECT_FALSE(mgr.is_parameter_valid(VORN_FLASH_PARAM_DENSITY, "2Mb", &err));
    EXPECT_EQ(only_warning().first, 20478u);
    capture.clear();
    EXPECT_TRUE(mgr.is_parameter_valid(VORN_FLASH_PARAM_DENSITY, "2048Mb", &err));
    EXPECT_FALSE(mgr.is_parameter_compatible(VORN_FLASH_PARAM_IO_VOLTAGE, "3.0V/3.3V", &err));
    EXPECT_EQ(only_warning().first, 20535u);
}

TEST_F(MgrValidation, DispatchHonoursFamilyOverrides) {
    struct LENIENT : TEST_MGR {
        int calls = 0;
        bool device_density_is_valid(std::string, std::string*) override {
            ++calls;
            return true;
        }
    } lenient;
    EXPECT_TRUE(lenient.is_parameter_valid(VORN_FLASH_PARAM_DENSITY, "anything", nullptr));
    EXPECT_EQ(lenient.calls, 1);
}

TEST_F(MgrValidation, UnhandledParametersAreInternalErrors) {
    std::string err;
    VORN_INTERNAL_ERROR e =
        internal_error_of([&] { mgr.is_parameter_valid(VORN_FLASH_PARAM_ID, "0x20", &err); });
    EXPECT_STREQ(e.what(), "Unknown flash parameter: 1");
    EXPECT_EQ(e.file(), "pgm/vorn/vorn_mgr");
    EXPECT_STREQ(internal_error_of([&] {
                     mgr.is_parameter_valid(VORN_FLASH_PARAM_TOTAL_DIE, 2u, &err);
                 }).what(),
                 "Unknown flash parameter: 4");
    EXPECT_STREQ(
        internal_error_of([&] { mgr.is_parameter_valid(VORN_FLASH_PARAM_NAME, 2u, &err); }).what(),
        "Unknown flash parameter: 0");
    EXPECT_STREQ(internal_error_of([&] {
                     mgr.is_parameter_compatible(VORN_FLASH_PARAM_DENSITY, "512Mb", &err);
                 }).what(),
                 "Unknown flash parameter: 3");
    EXPECT_STREQ(internal_error_of([&] {
                     mgr.is_parameter_valid(static_cast<VORN_FLASH_PARAM>(42), "x", &err);
                 }).what(),
                 "Unknown flash parameter: 42");
    EXPECT_TRUE(capture.messages().empty());
}
