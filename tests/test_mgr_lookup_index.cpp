// Lookups by ID and density and the new-device list after every kind of change to the
// database: each must still answer what a walk of the map in name order answers.
#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <sstream>

#include "host_fault.h"
#include "test_mgr_double.h"
#include "test_qspi_fixture.h"
#include "vorn.h"
#include "vorn_test_support.h"

using vorn_test::TEST_MGR;

namespace {

using NAMES = std::vector<std::string>;

constexpr unsigned int kFull = 0xFFFFFFFFu;
constexpr unsigned int kMiddle = 0x00FFFF00u;

template <typename F>
std::string internal_error_of(F fn) {
    try {
        fn();
    } catch (const VORN_INTERNAL_ERROR& e) {
        return e.what();
    }
    return "";
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

std::string hex(unsigned int value) {
    std::ostringstream out;
    out << std::hex << value;
    return out.str();
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
                << "id " << hex(id) << " mask " << hex(mask);
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

class MgrLookupIndex : public ::testing::Test {
  protected:
    void SetUp() override { cfg_clear_switches(); }
    void TearDown() override { cfg_clear_switches(); }
};

}  // namespace

// ---- edits in place and map changes, on the manager base -----------------------------------

TEST_F(MgrLookupIndex, EditsThroughTheLookupPointerAreSeen) {
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

TEST_F(MgrLookupIndex, AddedReplacedAndRemovedRecordsAreSeen) {
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

TEST_F(MgrLookupIndex, NullRecordIsAnErrorOnlyWhereTheWalkReachesIt) {
    TEST_MGR mgr;
    VORN_FLASH* a = mgr.add("a_dev", "1.8V", "512Mb", "0x11");
    mgr.put_null("m_ghost");
    mgr.add("z_dev", "1.8V", "1024Mb", "0x22");
    EXPECT_EQ(mgr.get_flash_with_id(0x11u, kFull), a) << "found before the null record";
    EXPECT_EQ(mgr.get_flash_with_density(64ull << 20), a);
    EXPECT_EQ(internal_error_of([&] { mgr.get_flash_with_id(0x22u, kFull); }), "m_flash");
    EXPECT_EQ(internal_error_of([&] { mgr.get_flash_with_density(128ull << 20); }), "m_flash");
    EXPECT_EQ(internal_error_of([&] { mgr.get_flash_with_id(0x99u, kFull); }), "m_flash");
}

TEST_F(MgrLookupIndex, RecordsOfHostClassesAreAskedOnEveryLookup) {
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

TEST_F(MgrLookupIndex, LegacyRecordsAreNeverFoundByIdOrDensity) {
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
    EXPECT_EQ(mgr.get_flash_with_density(256ull << 20), nullptr);
    EXPECT_EQ(mgr.get_flash_with_id(0, 0), db);
}

// ---- saving and deleting ------------------------------------------------------------------

class MgrLookupIndexFiles : public MgrLookupIndex {
  protected:
    void SetUp() override {
        MgrLookupIndex::SetUp();
        HOST_FAULT::clear();
        VORN_MGR::set_db_custom_dir(m_custom.path());
        custom = FIO_PATH(VORN_MGR::get_db_custom_dir()).full_directory();
    }
    void TearDown() override {
        HOST_FAULT::clear();
        VORN_MGR::set_db_custom_dir("");
        MgrLookupIndex::TearDown();
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

TEST_F(MgrLookupIndexFiles, SavedResavedAndDeletedDevicesAreSeen) {
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

TEST_F(MgrLookupIndexFiles, FailedResavesPutTheOldRecordBackOrDropIt) {
    VORN_FLASH* kept = make("a_dev", "0x05");
    ASSERT_TRUE(mgr.update_db(kept, custom));
    ASSERT_EQ(mgr.get_flash_with_id(0x05u, kFull), kept);

    // The new copy cannot be written: the old one comes back.
    HOST_FAULT::fail_next(HOST_FAULT::WRITE_XML);
    EXPECT_FALSE(mgr.update_db(make("a_dev", "0x06"), custom));
    EXPECT_EQ(mgr.get_flash_with_id(0x05u, kFull), kept);
    EXPECT_EQ(mgr.get_flash_with_id(0x06u, kFull), nullptr);

    // Neither can the old one be put back on disk: the device is gone.
    HOST_FAULT::fail_next(HOST_FAULT::WRITE_XML, 2);
    EXPECT_FALSE(mgr.update_db(make("a_dev", "0x07"), custom));
    EXPECT_EQ(mgr.get_flash_map().count("a_dev"), 0u);
    EXPECT_EQ(mgr.get_flash_with_id(0, 0), nullptr);
}

TEST_F(MgrLookupIndexFiles, FailedDeletionKeepsTheDeviceFindable) {
    mgr.add("d1", "1.8V", "512Mb", "0x01");
    mgr.add("d2", "1.8V", "1024Mb", "0x02");
    mgr.place(custom + "pgm_flash_pair.xml", {"d1", "d2"}, {}, true);
    VORN_FLASH* d1 = mgr.get_flash_map().at("d1");
    ASSERT_EQ(mgr.get_flash_with_id(0x01u, kFull), d1);

    // The companion cannot be written back: the deletion is undone.
    HOST_FAULT::fail_next(HOST_FAULT::WRITE_XML);
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

class QspiLookupIndex : public qspi_test::QspiTest {
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
        VORN_FLASH* flash = mgr->create_flash(name);
        flash->set_parameter_value(VORN_FLASH_PARAM_ID, id);
        flash->set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, "1.8V");
        flash->set_density("1024Mb");
        flash->set_parameter_value(VORN_FLASH_PARAM_TOTAL_DIE, 1u);
        flash->set_parameter_value(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, 8u);
        flash->set_parameter_value(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, 6u);
        flash->set_parameter_value(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE, "Winbond");
        for (VORN_PROG_FLOW_TYPE type : {VORN_PROG_FLOW_TYPE_SFL, VORN_PROG_FLOW_TYPE_SDM}) {
            std::vector<VORN_OPERATION*> ops;
            for (const VORN_OPERATION* op :
                 *mgr->get_prog_flow_template_operation_list(VORN_PROG_FLOW_TEMPLATE_WINBOND, type))
                ops.push_back(
                    new VORN_QSPI_OPERATION(*static_cast<const VORN_QSPI_OPERATION*>(op)));
            flash->set_operation_list(ops, type);
        }
        return flash;
    }

    std::string custom_dir() const { return FIO_PATH(custom.path()).full_directory(); }

    std::unique_ptr<VORN_QSPI_MGR> mgr;
};

}  // namespace

TEST_F(QspiLookupIndex, ListFollowsVoltageAndTemplateEditsInPlace) {
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

TEST_F(QspiLookupIndex, ListAndLookupsFollowSavesDeletesAndRenewal) {
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

TEST_F(QspiLookupIndex, EveryFilteredListCallTouchesTheFamilyEntry) {
    ASSERT_EQ(mgr->get_new_config_device_list(kLow, kX4, false).size(), 2u);
    ASSERT_EQ(mgr->get_dev_info_map().count(kUnknown), 0u);
    EXPECT_EQ(mgr->get_new_config_device_list(kUnknown, kX4, true).size(), 5u);
    EXPECT_EQ(mgr->get_dev_info_map().count(kUnknown), 0u) << "not when the filter is off";
    EXPECT_TRUE(mgr->get_new_config_device_list(kUnknown, kX4, false).empty());
    EXPECT_EQ(mgr->get_dev_info_map().count(kUnknown), 1u);
    EXPECT_EQ(mgr->get_dev_info_map().at(kUnknown).io_voltage, "");
}
