// The manager base: byte lists, lookups with the device-family filter, legacy records,
// directories and the custom directory in the user INI, and the field validators. Lookups by
// ID and density and the new-device list are also checked after every kind of change to the
// database: each must still answer what a walk of the map in name order answers.
#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <cstdlib>
#include <memory>

#include "host_fault.h"
#include "test_mgr_double.h"
#include "test_qspi_fixture.h"
#include "vorn.h"
#include "vorn_test_support.h"

using vorn_test::MessageCapture;
using vorn_test::TEST_MGR;

using vorn_test::internal_error_of;

namespace {

using NAMES = std::vector<std::string>;

constexpr unsigned int kFull = 0xFFFFFFFFu;
constexpr unsigned int kMiddle = 0x00FFFF00u;

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

// ---- the answers of a plain walk, name by name --------------------------------------------

VORN_FLASH* walk_for_id(const VORN_MGR& mgr, unsigned int id, unsigned int mask) {
    for (const auto& entry : mgr.get_flash_map()) {
        unsigned int value =
            entry.second->get_parameter_value_in_dword(VORN_FLASH_PARAM_ID, nullptr);
        if (((value ^ id) & mask) == 0) return entry.second;
    }
    return nullptr;
}

VORN_FLASH* walk_for_density(const VORN_MGR& mgr, unsigned long long bytes) {
    for (const auto& entry : mgr.get_flash_map())
        if (entry.second->get_density_in_bytes_qword() == bytes) return entry.second;
    return nullptr;
}

// Every ID and density the map holds, and some nobody has, under several masks.
void expect_lookups_agree_with_a_walk(VORN_MGR& mgr) {
    std::vector<unsigned int> ids{0x5A5A5A5Au, 0u};
    std::vector<unsigned long long> densities{12345ull, 0ull};
    for (const auto& entry : mgr.get_flash_map()) {
        ids.push_back(entry.second->get_parameter_value_in_dword(VORN_FLASH_PARAM_ID, nullptr));
        densities.push_back(entry.second->get_density_in_bytes_qword());
    }
    for (unsigned int id : ids) {
        for (unsigned int mask : {kFull, kMiddle, 0x0000FFFFu, 0u}) {
            VORN_FLASH* expected = walk_for_id(mgr, id, mask);
            EXPECT_EQ(mgr.get_flash_with_id(id, mask), expected)
                << "id " << std::hex << id << " mask " << mask;
            EXPECT_EQ(mgr.get_current_flash(), expected);
        }
    }
    for (unsigned long long bytes : densities)
        EXPECT_EQ(mgr.get_flash_with_density(bytes), walk_for_density(mgr, bytes))
            << "density " << bytes;
}

// Makes the manager drop its current record, before the test double deletes it.
void let_go(VORN_MGR& mgr) { ASSERT_EQ(mgr.get_flash_with_density(1), nullptr); }

// A record class of a host: its ID and density are its own fields, changed without setters.
class HOST_FLASH : public VORN_QSPI_FLASH {
  public:
    explicit HOST_FLASH(const std::string& name) : VORN_QSPI_FLASH(name) {}
    unsigned int get_parameter_value_in_dword(VORN_FLASH_PARAM param,
                                              unsigned int* out) const override {
        if (param == VORN_FLASH_PARAM_ID) return id;
        return VORN_QSPI_FLASH::get_parameter_value_in_dword(param, out);
    }
    unsigned long long get_density_in_bytes_qword() const override { return bytes; }
    unsigned int id = 0;
    unsigned long long bytes = 0;
};

}  // namespace

// ---- byte lists ---------------------------------------------------------------------------

TEST(MgrByteList, ReadsHexAndDecimalTokensSeparatedBySpacesOnly) {
    const std::pair<const char*, std::vector<int>> good[] = {
        {"0x9F", {0x9F}},
        {"0x03 0x00 0xFF", {0x03, 0x00, 0xFF}},
        {"255 0 0xa 7", {255, 0, 0x0A, 7}},
        {"   0x0A    0x0B  ", {0x0A, 0x0B}},
    };
    for (const auto& [text, values] : good) {
        BYTES b = convert(text);
        EXPECT_TRUE(b.ok) << text;
        EXPECT_EQ(b.values(), values) << text;
    }
    // Any bad token rejects the whole text.
    for (const char* text : {"0x0A\t0x0B", "    ", "0x123", "0x", "256", "0x1G", "0X12", "-1",
                             "1.5", "0x9F 256", "0x01 0x", "12 abc", "0x0A,0x0B"}) {
        BYTES b = convert(text);
        EXPECT_FALSE(b.ok) << text;
        EXPECT_EQ(b.size, 0u) << text;
        EXPECT_EQ(b.data, nullptr) << text;
    }
}

TEST(MgrByteList, OutputsAreOptionalAndEmptyTextIsAnInternalError) {
    std::unique_ptr<unsigned char[]> data(
        VORN_MGR::convert_data_list_string_to_byte_array("0x01 0x02", nullptr, nullptr));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data[1], 0x02);
    EXPECT_EQ(VORN_MGR::convert_data_list_string_to_byte_array("zz", nullptr, nullptr), nullptr);

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
    EXPECT_EQ(mgr.get_flash_with_id(0x0019BA20u, kFull), b);
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

TEST_F(MgrLookup, NullRecordIsAnErrorOnlyWhereTheWalkReachesIt) {
    TEST_MGR mgr;
    VORN_FLASH* a = mgr.add("a_dev", "1.8V", "512Mb", "0x11");
    mgr.put_null("m_ghost");
    mgr.add("z_dev", "1.8V", "1024Mb", "0x22");
    EXPECT_EQ(mgr.get_flash_with_id(0x11u, kFull), a) << "found before the null record";
    EXPECT_EQ(mgr.get_flash_with_density(64ull << 20), a);
    for (auto lookup : std::vector<std::function<void()>>{
             [&] { mgr.get_flash_with_id(0x22u, kFull); },
             [&] { mgr.get_flash_with_density(128ull << 20); },
             [&] { mgr.get_flash_with_id(0x99u, kFull); }, [&] { mgr.get_flash("m_ghost", true); }})
        EXPECT_STREQ(internal_error_of(lookup).what(), "m_flash");
}

TEST_F(MgrLookup, EditsThroughTheLookupPointerAreSeen) {
    TEST_MGR mgr;
    VORN_FLASH* a = mgr.add("a_dev", "1.8V", "512Mb", "0x20 0xBA 0x18");
    VORN_FLASH* b = mgr.add("b_dev", "1.8V", "1024Mb", "0x20 0xBA 0x19");
    VORN_FLASH* c = mgr.add("c_dev", "3.0V/3.3V", "2048Mb", "0xC2 0x20 0x1A");
    ASSERT_EQ(mgr.get_flash_with_id(0x0019BA20u, kFull), b);

    // b takes a's ID: both match, the first name wins.
    ASSERT_EQ(mgr.get_flash("b_dev", true), b);
    b->set_parameter_value(VORN_FLASH_PARAM_ID, "0x20 0xBA 0x18");
    EXPECT_EQ(mgr.get_flash_with_id(0x0018BA20u, kFull), a);
    EXPECT_EQ(mgr.get_flash_with_id(0x0019BA20u, kFull), nullptr);

    // a moves away; the numeric setter stores the ID as text too.
    mgr.get_flash("a_dev", true)->set_parameter_value(VORN_FLASH_PARAM_ID, 0x7Fu);
    EXPECT_EQ(mgr.get_flash_with_id(0x0018BA20u, kFull), b);
    EXPECT_EQ(mgr.get_flash_with_id(0x7Fu, kFull), a);

    // Densities: c shrinks to a's size but a comes first; then a grows away.
    c->set_density("512Mb");
    EXPECT_EQ(mgr.get_flash_with_density(64ull << 20), a);
    a->set_density("2048Mb");
    EXPECT_EQ(mgr.get_flash_with_density(64ull << 20), c);
    EXPECT_EQ(mgr.get_flash_with_density(256ull << 20), a);
    // An unreadable density is 0 bytes.
    b->set_density("huge");
    EXPECT_EQ(mgr.get_flash_with_density(0), b);
    expect_lookups_agree_with_a_walk(mgr);
}

TEST_F(MgrLookup, AddedReplacedAndRemovedRecordsAreSeen) {
    TEST_MGR mgr;
    mgr.add("m_dev", "1.8V", "512Mb", "0x01 0x02 0x03");
    ASSERT_EQ(mgr.get_flash_with_density(64ull << 20), mgr.get_flash_map().at("m_dev"));

    // A name sorting first takes over; one sorting last does not.
    VORN_FLASH* first = mgr.add("a_dev", "1.8V", "512Mb", "0x01 0x02 0x03");
    mgr.add("z_dev", "1.8V", "512Mb", "0x01 0x02 0x03");
    EXPECT_EQ(mgr.get_flash_with_id(0x030201u, kFull), first);
    EXPECT_EQ(mgr.get_flash_with_density(64ull << 20), first);

    // The record under a name is replaced (the old one, current until now, is deleted).
    let_go(mgr);
    VORN_FLASH* replacement = mgr.add("a_dev", "1.8V", "128Mb", "0x0A");
    EXPECT_EQ(mgr.get_flash_with_id(0x0Au, kFull), replacement);
    EXPECT_EQ(mgr.get_flash_with_density(64ull << 20), mgr.get_flash_map().at("m_dev"));

    let_go(mgr);
    mgr.forget_record("m_dev");
    EXPECT_EQ(mgr.get_flash_with_density(64ull << 20), mgr.get_flash_map().at("z_dev"));
    let_go(mgr);
    mgr.forget_record("z_dev");
    mgr.forget_record("a_dev");
    EXPECT_EQ(mgr.get_flash_with_id(0, 0), nullptr);
    EXPECT_EQ(mgr.get_flash_with_density(64ull << 20), nullptr);
}

TEST_F(MgrLookup, RecordsOfHostClassesAreAskedOnEveryLookup) {
    TEST_MGR mgr;
    auto* host = new HOST_FLASH("h_dev");
    host->id = 0x42;
    host->bytes = 1000;
    mgr.put("h_dev", host);
    VORN_FLASH* plain = mgr.add("p_dev", "1.8V", "512Mb", "0x42");
    EXPECT_EQ(mgr.get_flash_with_id(0x42u, kFull), host);
    EXPECT_EQ(mgr.get_flash_with_density(1000), host);

    // Changed behind every setter.
    host->id = 0x43;
    host->bytes = 2000;
    EXPECT_EQ(mgr.get_flash_with_id(0x42u, kFull), plain);
    EXPECT_EQ(mgr.get_flash_with_id(0x43u, kFull), host);
    EXPECT_EQ(mgr.get_flash_with_density(1000), nullptr);
    EXPECT_EQ(mgr.get_flash_with_density(2000), host);
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

TEST_F(MgrLegacy, LegacyRecordsAreNeverFoundByIdOrDensityAndAreReleasedByThem) {
    TEST_MGR mgr;
    mgr.legacy = {{"LEG", "1.8V"}};
    VORN_FLASH* db = mgr.add("db_dev", "1.8V", "512Mb", "0x01");
    ASSERT_EQ(mgr.get_flash_with_id(0x01u, kFull), db);

    VORN_FLASH* legacy = mgr.get_flash("LEG", false);
    ASSERT_NE(legacy, nullptr);
    legacy->set_parameter_value(VORN_FLASH_PARAM_ID, "0x77");
    legacy->set_density("2048Mb");
    EXPECT_EQ(mgr.get_flash_with_id(0x77u, kFull), nullptr);
    EXPECT_EQ(mgr.get_current_flash(), nullptr);
    ASSERT_NE(mgr.get_flash("LEG", false), nullptr);
    EXPECT_NE(mgr.get_flash_with_id(0x01u, 0xFF), nullptr);
    ASSERT_NE(mgr.get_flash("LEG", false), nullptr);
    EXPECT_EQ(mgr.get_flash_with_density(256ull << 20), nullptr);
    EXPECT_EQ(mgr.get_current_flash(), nullptr);
    EXPECT_EQ(mgr.get_flash_with_id(0, 0), db);
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

TEST_F(MgrValidation, AcceptedValuesLeaveTheTextAlone) {
    std::string err = "untouched";
    EXPECT_TRUE(mgr.device_name_is_valid("fresh_name", &err));
    EXPECT_TRUE(mgr.device_name_is_valid("micron", nullptr));
    EXPECT_TRUE(mgr.device_density_is_valid("512Mb", &err));
    EXPECT_TRUE(mgr.device_io_voltage_is_valid("3.0V/3.3V", &err));
    EXPECT_TRUE(mgr.device_io_voltage_is_compatible("1.8V", &err));
    EXPECT_TRUE(mgr.is_parameter_valid(VORN_FLASH_PARAM_DENSITY, "2048Mb", &err));
    EXPECT_EQ(err, "untouched");
    EXPECT_TRUE(capture.messages().empty());
}

// Each rejection, called directly and through the dispatch, explains itself with one warning;
// without a text pointer nothing is posted.
TEST_F(MgrValidation, RejectionsPostTheirWarningAndExplain) {
    const std::string special =
        "' is invalid as it contains either an empty string or special "
        "characters.";
    const std::string exists = "' is invalid as it already exist in the device database.";
    const std::string incompatible = "' is incompatible with the selected FPGA device family.";
    const struct {
        VORN_FLASH_PARAM param;
        bool compat;
        std::string value;
        unsigned id;
        std::string text;
    } rows[] = {
        {VORN_FLASH_PARAM_NAME, false, "bad name", 20473, "Device name 'bad name" + special},
        {VORN_FLASH_PARAM_NAME, false, "", 20473, "Device name '" + special},
        {VORN_FLASH_PARAM_NAME, false, "db", 20473, "Device name 'db" + special},
        {VORN_FLASH_PARAM_NAME, false, "Micron", 20474,
         "Device name 'Micron' is invalid as it conflicts with the reserved name for the "
         "programming flow template."},
        {VORN_FLASH_PARAM_NAME, false, "Cypress", 20474,
         "Device name 'Cypress' is invalid as it conflicts with the reserved name for the "
         "programming flow template."},
        // "taken" is a 3.3 V device and the active family is 1.8 V: still a conflict.
        {VORN_FLASH_PARAM_NAME, false, "taken", 20475, "Device name 'taken" + exists},
        {VORN_FLASH_PARAM_NAME, false, "LEGACY_ONE", 20475, "Device name 'LEGACY_ONE" + exists},
        {VORN_FLASH_PARAM_DENSITY, false, "512MB", 20478, "Device density '512MB' is invalid."},
        {VORN_FLASH_PARAM_DENSITY, false, "", 20478, "Device density '' is invalid."},
        {VORN_FLASH_PARAM_DENSITY, false, "3Mb", 20478, "Device density '3Mb' is invalid."},
        {VORN_FLASH_PARAM_IO_VOLTAGE, false, "1.8v", 20476,
         "Device I/O voltage '1.8v' is invalid."},
        {VORN_FLASH_PARAM_IO_VOLTAGE, false, "", 20476, "Device I/O voltage '' is invalid."},
        {VORN_FLASH_PARAM_IO_VOLTAGE, false, "5V", 20476, "Device I/O voltage '5V' is invalid."},
        {VORN_FLASH_PARAM_IO_VOLTAGE, true, "3.0V/3.3V", 20535,
         "Flash device I/O voltage '3.0V/3.3V" + incompatible},
        // Invalid reads as incompatible.
        {VORN_FLASH_PARAM_IO_VOLTAGE, true, "5V", 20535,
         "Flash device I/O voltage '5V" + incompatible},
    };
    ASSERT_FALSE(mgr.device_exist_in_db("taken", false));
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "param " << row.param << " '" << row.value << "'");
        auto direct = [&](std::string* err) {
            if (row.compat) return mgr.device_io_voltage_is_compatible(row.value, err);
            if (row.param == VORN_FLASH_PARAM_NAME) return mgr.device_name_is_valid(row.value, err);
            if (row.param == VORN_FLASH_PARAM_DENSITY)
                return mgr.device_density_is_valid(row.value, err);
            return mgr.device_io_voltage_is_valid(row.value, err);
        };
        std::string err;
        capture.clear();
        EXPECT_FALSE(direct(&err));
        EXPECT_EQ(err, row.text);
        EXPECT_EQ(only_warning(), std::make_pair(row.id, row.text));

        capture.clear();
        err.clear();
        EXPECT_FALSE(row.compat ? mgr.is_parameter_compatible(row.param, row.value, &err)
                                : mgr.is_parameter_valid(row.param, row.value, &err));
        EXPECT_EQ(err, row.text);
        EXPECT_EQ(only_warning().first, row.id);

        capture.clear();
        EXPECT_FALSE(direct(nullptr));
        EXPECT_TRUE(capture.messages().empty());
    }
}

TEST_F(MgrValidation, CompatibilityFollowsTheActiveFamily) {
    mgr.set_active_device_family(TEST_MGR::FAMILY_3V3);
    EXPECT_TRUE(mgr.device_io_voltage_is_compatible("3.0V/3.3V", nullptr));
    EXPECT_FALSE(mgr.device_io_voltage_is_compatible("1.8V", nullptr));
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
    const std::pair<std::function<void()>, const char*> calls[] = {
        {[&] { mgr.is_parameter_valid(VORN_FLASH_PARAM_TOTAL_DIE, 2u, &err); }, "4"},
        {[&] { mgr.is_parameter_valid(VORN_FLASH_PARAM_NAME, 2u, &err); }, "0"},
        {[&] { mgr.is_parameter_compatible(VORN_FLASH_PARAM_DENSITY, "512Mb", &err); }, "3"},
        {[&] { mgr.is_parameter_valid(static_cast<VORN_FLASH_PARAM>(42), "x", &err); }, "42"},
    };
    for (const auto& [call, number] : calls)
        EXPECT_EQ(std::string(internal_error_of(call).what()),
                  std::string("Unknown flash parameter: ") + number);
    EXPECT_TRUE(capture.messages().empty());
}

// ---- saving and deleting ------------------------------------------------------------------

class MgrLookupFiles : public MgrLookup {
  protected:
    void SetUp() override {
        MgrLookup::SetUp();
        HOST_FAULT::clear();
        VORN_MGR::set_db_custom_dir(m_custom.path());
        custom = FIO_PATH(VORN_MGR::get_db_custom_dir()).full_directory();
    }
    void TearDown() override {
        HOST_FAULT::clear();
        VORN_MGR::set_db_custom_dir("");
        MgrLookup::TearDown();
    }
    VORN_FLASH* make(const std::string& name, const std::string& id,
                     const std::string& density = "512Mb") {
        VORN_FLASH* flash = mgr.create_flash(name);
        flash->set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, "1.8V");
        flash->set_parameter_value(VORN_FLASH_PARAM_ID, id);
        flash->set_density(density);
        return flash;
    }

    vorn_test::ProgrammerDir m_prog;
    vorn_test::TempDir m_custom;
    std::string custom;
    TEST_MGR mgr;
    vorn_test::MessageCapture capture;
};

TEST_F(MgrLookupFiles, SavedResavedAndDeletedDevicesAreSeen) {
    mgr.add("b_dev", "1.8V", "512Mb", "0x05");
    ASSERT_EQ(mgr.get_flash_with_id(0x05u, kFull), mgr.get_flash_map().at("b_dev"));

    VORN_FLASH* a = make("a_dev", "0x05");
    ASSERT_TRUE(mgr.update_db(a, custom));
    EXPECT_EQ(mgr.get_flash_with_id(0x05u, kFull), a);

    // Saving a new record under the same name drops the old one.
    VORN_FLASH* again = make("a_dev", "0x06", "1024Mb");
    ASSERT_TRUE(mgr.update_db(again, custom));
    EXPECT_EQ(mgr.get_flash_with_id(0x05u, kFull), mgr.get_flash_map().at("b_dev"));
    EXPECT_EQ(mgr.get_flash_with_id(0x06u, kFull), again);
    EXPECT_EQ(mgr.get_flash_with_density(128ull << 20), again);

    ASSERT_TRUE(mgr.delete_db("a_dev", custom));
    EXPECT_EQ(mgr.get_flash_with_id(0x06u, kFull), nullptr);
    EXPECT_EQ(mgr.get_flash_with_density(128ull << 20), nullptr);
    expect_lookups_agree_with_a_walk(mgr);
}

TEST_F(MgrLookupFiles, FailedResavesPutTheOldRecordBackOrDropIt) {
    VORN_FLASH* kept = make("a_dev", "0x05");
    ASSERT_TRUE(mgr.update_db(kept, custom));
    ASSERT_EQ(mgr.get_flash_with_id(0x05u, kFull), kept);

    // The new copy cannot be written, or not put in place: the old one stays.
    for (HOST_FAULT::OP fault : {HOST_FAULT::CHANGE_WRITE, HOST_FAULT::CHANGE_COMMIT}) {
        HOST_FAULT::fail_next(fault);
        EXPECT_FALSE(mgr.update_db(make("a_dev", "0x06"), custom));
        EXPECT_EQ(mgr.get_flash_with_id(0x05u, kFull), kept);
        EXPECT_EQ(mgr.get_flash_with_id(0x06u, kFull), nullptr);
    }
}

TEST_F(MgrLookupFiles, FailedDeletionKeepsTheDeviceFindable) {
    mgr.add("d1", "1.8V", "512Mb", "0x01");
    mgr.add("d2", "1.8V", "1024Mb", "0x02");
    mgr.place(custom + "pgm_flash_pair.xml", {"d1", "d2"}, {}, true);
    VORN_FLASH* d1 = mgr.get_flash_map().at("d1");
    ASSERT_EQ(mgr.get_flash_with_id(0x01u, kFull), d1);

    // The companion cannot be written back: the deletion is undone.
    HOST_FAULT::fail_next(HOST_FAULT::CHANGE_WRITE);
    EXPECT_FALSE(mgr.delete_db("d1", custom));
    EXPECT_EQ(mgr.get_flash_with_id(0x01u, kFull), d1);
    EXPECT_EQ(mgr.get_flash_with_density(64ull << 20), d1);
    expect_lookups_agree_with_a_walk(mgr);
}

// ---- the QSPI manager: loading, renewal and the new-device list --------------------------

namespace {

constexpr auto kLow = static_cast<DEV_FAMILY_ENUM>(73);     // 1.8V, no ISSI flow
constexpr auto kLowSdm = static_cast<DEV_FAMILY_ENUM>(28);  // 1.8V, may use ISSI
constexpr auto kHigh = static_cast<DEV_FAMILY_ENUM>(48);    // 3.0V/3.3V, no ISSI flow
constexpr auto kUnknown = static_cast<DEV_FAMILY_ENUM>(99);
constexpr auto kX4 = PGMIO_CONFIG_SCHEME_AS_X4;

class QspiLookup : public qspi_test::QspiTest {
  protected:
    void SetUp() override {
        QspiTest::SetUp();
        HOST_FAULT::clear();
        using qspi_test::flash_xml;
        write_golden(qspi_test::golden_document(
            qspi_test::all_vendors(),
            flash_xml(make("A18_MIC", "1.8V", "Micron", "0x20 0xBB 0x19", "256Mb")) +
                flash_xml(make("B33_MAC", "3.0V/3.3V", "Macronix", "0xC2 0x20 0x19", "256Mb")) +
                flash_xml(make("C18_ISSI", "1.8V", "Issi", "0x9D 0x70 0x1A", "512Mb"))));
        write_custom(
            "pgm_flash_user.xml",
            qspi_test::document(
                flash_xml(make("D18_USER", "1.8V", "Winbond", "0xEF 0x80 0x19", "256Mb")) +
                flash_xml(make("E33_USER", "3.0V/3.3V", "Micron", "0x20 0xBB 0x1A", "512Mb"))));
        programmer.write("dev/families.ini",
                         "[28]\nname = F28\nenabled = 1\nsdm = 1\nflash_io_voltage = 1.8V\n"
                         "[48]\nname = F48\nenabled = 1\nsdm = 1\nflash_io_voltage = 3.0V/3.3V\n"
                         "[73]\nname = F73\nenabled = 1\nsdm = 0\nflash_io_voltage = 1.8V\n");
        mgr = load();
    }
    void TearDown() override {
        HOST_FAULT::clear();
        QspiTest::TearDown();
    }

    static qspi_test::DEVICE make(const std::string& name, const std::string& voltage,
                                  const std::string& tpl, const std::string& id,
                                  const std::string& density) {
        qspi_test::DEVICE d = qspi_test::device(name);
        d.io_voltage = voltage;
        d.prog_flow_template = tpl;
        d.id = id;
        d.density = density;
        return d;
    }

    // The new-device list as a walk of the map gives it.
    static NAMES walk_for_list(const VORN_MGR& mgr, DEV_FAMILY_ENUM family) {
        const auto& info = mgr.get_dev_info_map();
        const std::string voltage = info.count(family) ? info.at(family).io_voltage : "";
        NAMES names;
        for (const auto& entry : mgr.get_flash_map()) {
            if (entry.second->get_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE) != voltage) continue;
            std::string tpl =
                entry.second->get_parameter_value(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE);
            for (char& ch : tpl) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
            if (tpl != "ISSI" || family == 28 || family == 23) names.push_back(entry.first);
        }
        return names;
    }

    void expect_lists_agree_with_a_walk(VORN_MGR& m) {
        for (DEV_FAMILY_ENUM family : {kLow, kLowSdm, kHigh}) {
            EXPECT_EQ(m.get_new_config_device_list(family, kX4, false), walk_for_list(m, family))
                << "family " << family;
        }
        NAMES all;
        for (const auto& entry : m.get_flash_map()) all.push_back(entry.first);
        EXPECT_EQ(m.get_new_config_device_list(kLow, kX4, true), all);
    }

    // A complete record for saving: flows copied from the Winbond template.
    VORN_FLASH* new_device(const std::string& name, const std::string& id) {
        return qspi_test::complete_record(*mgr, mgr->create_flash(name),
                                          VORN_PROG_FLOW_TEMPLATE_WINBOND, id, "1.8V", "1024Mb");
    }

    std::string custom_dir() const { return FIO_PATH(custom.path()).full_directory(); }

    std::unique_ptr<VORN_QSPI_MGR> mgr;
};

}  // namespace

TEST_F(QspiLookup, ListFollowsVoltageAndTemplateEditsInPlace) {
    ASSERT_EQ(mgr->get_new_config_device_list(kLow, kX4, false), (NAMES{"A18_MIC", "D18_USER"}));
    ASSERT_EQ(mgr->get_new_config_device_list(kLowSdm, kX4, false),
              (NAMES{"A18_MIC", "C18_ISSI", "D18_USER"}));

    VORN_FLASH* b33 = mgr->get_flash("B33_MAC", true);
    ASSERT_NE(b33, nullptr);
    b33->set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, "1.8V");
    EXPECT_EQ(mgr->get_new_config_device_list(kLow, kX4, false),
              (NAMES{"A18_MIC", "B33_MAC", "D18_USER"}));
    EXPECT_EQ(mgr->get_new_config_device_list(kHigh, kX4, false), (NAMES{"E33_USER"}));

    // Lower-case ISSI is still ISSI.
    mgr->get_flash("D18_USER", true)
        ->set_parameter_value(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE, "issi");
    EXPECT_EQ(mgr->get_new_config_device_list(kLow, kX4, false), (NAMES{"A18_MIC", "B33_MAC"}));
    EXPECT_EQ(mgr->get_new_config_device_list(kLowSdm, kX4, false),
              (NAMES{"A18_MIC", "B33_MAC", "C18_ISSI", "D18_USER"}));

    // A voltage no family has leaves every filtered list, never the unfiltered one.
    b33->set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, "5V");
    EXPECT_EQ(mgr->get_new_config_device_list(kLow, kX4, false), (NAMES{"A18_MIC"}));
    EXPECT_EQ(mgr->get_new_config_device_list(kLow, kX4, true).size(), 5u);
    expect_lists_agree_with_a_walk(*mgr);
    expect_lookups_agree_with_a_walk(*mgr);
}

TEST_F(QspiLookup, ListAndLookupsFollowSavesDeletesAndRenewal) {
    ASSERT_EQ(mgr->get_flash_with_id(0x1980EFu, kFull), mgr->get_flash_map().at("D18_USER"));
    expect_lists_agree_with_a_walk(*mgr);

    // Sorts first, shares D18_USER's ID and A18_MIC's voltage.
    VORN_FLASH* saved = new_device("A00_NEW", "0xEF 0x80 0x19");
    ASSERT_TRUE(mgr->update_db(saved, custom_dir()));
    EXPECT_EQ(mgr->get_flash_with_id(0x1980EFu, kFull), saved);
    EXPECT_EQ(mgr->get_flash_with_density(128ull << 20), saved);
    EXPECT_EQ(mgr->get_new_config_device_list(kLow, kX4, false),
              (NAMES{"A00_NEW", "A18_MIC", "D18_USER"}));
    expect_lists_agree_with_a_walk(*mgr);
    expect_lookups_agree_with_a_walk(*mgr);

    // A renewed manager reads the same database and answers the same.
    std::unique_ptr<VORN_MGR> renewed(mgr->get_new_instance());
    EXPECT_EQ(renewed->get_new_config_device_list(kLow, kX4, false),
              (NAMES{"A00_NEW", "A18_MIC", "D18_USER"}));
    EXPECT_EQ(renewed->get_flash_with_id(0x1980EFu, kFull), renewed->get_flash_map().at("A00_NEW"));
    expect_lookups_agree_with_a_walk(*renewed);

    // Deleting a device of a shared file keeps its companion.
    ASSERT_TRUE(mgr->delete_db("D18_USER", custom_dir()));
    ASSERT_TRUE(mgr->delete_db("A00_NEW", custom_dir()));
    EXPECT_EQ(mgr->get_flash_with_id(0x1980EFu, kFull), nullptr);
    EXPECT_EQ(mgr->get_flash_with_density(128ull << 20), nullptr);
    EXPECT_EQ(mgr->get_new_config_device_list(kLow, kX4, false), (NAMES{"A18_MIC"}));
    EXPECT_EQ(mgr->get_new_config_device_list(kHigh, kX4, false), (NAMES{"B33_MAC", "E33_USER"}));
    expect_lists_agree_with_a_walk(*mgr);
    // The renewed manager is not affected until it is renewed in turn.
    EXPECT_EQ(renewed->get_flash_with_id(0x1980EFu, kFull), renewed->get_flash_map().at("A00_NEW"));
}

TEST_F(QspiLookup, EveryFilteredListCallTouchesTheFamilyEntry) {
    ASSERT_EQ(mgr->get_new_config_device_list(kLow, kX4, false).size(), 2u);
    ASSERT_EQ(mgr->get_dev_info_map().count(kUnknown), 0u);
    EXPECT_EQ(mgr->get_new_config_device_list(kUnknown, kX4, true).size(), 5u);
    EXPECT_EQ(mgr->get_dev_info_map().count(kUnknown), 0u) << "not when the filter is off";
    EXPECT_TRUE(mgr->get_new_config_device_list(kUnknown, kX4, false).empty());
    EXPECT_EQ(mgr->get_dev_info_map().count(kUnknown), 1u);
    EXPECT_EQ(mgr->get_dev_info_map().at(kUnknown).io_voltage, "");
}
