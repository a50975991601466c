// Choice lists, new and legacy device lists and their order, edit permissions, and the life of
// legacy records: a fresh one per lookup, never found by ID or density, never a database record.
#include <gtest/gtest.h>

#include <algorithm>

#include "test_qspi_fixture.h"

using namespace qspi_test;

namespace {

using NAMES = std::vector<std::string>;

constexpr auto LOW_FAMILY = static_cast<DEV_FAMILY_ENUM>(73);       // 1.8V, no SDM
constexpr auto LOW_SDM_FAMILY = static_cast<DEV_FAMILY_ENUM>(28);   // 1.8V, SDM, may use ISSI
constexpr auto HIGH_FAMILY = static_cast<DEV_FAMILY_ENUM>(23);      // 3.0V/3.3V, may use ISSI
constexpr auto HIGH_SDM_FAMILY = static_cast<DEV_FAMILY_ENUM>(48);  // 3.0V/3.3V, SDM
constexpr auto UNKNOWN_FAMILY = static_cast<DEV_FAMILY_ENUM>(99);
constexpr auto SCHEME_X1 = PGMIO_CONFIG_SCHEME_AS_X1;
constexpr auto SCHEME_X4 = PGMIO_CONFIG_SCHEME_AS_X4;

DEVICE make(const std::string& name, const std::string& voltage, const std::string& tpl,
            const std::string& id, const std::string& density) {
    DEVICE d = device(name);
    d.io_voltage = voltage;
    d.prog_flow_template = tpl;
    d.id = id;
    d.density = density;
    return d;
}

// A database built for these tests: its own golden template, families and legacy list.
class QspiLists : public QspiTest {
  protected:
    void SetUp() override {
        QspiTest::SetUp();
        write_golden(golden_document(
            all_vendors(),
            flash_xml(make("A18_MIC", "1.8V", "Micron", "0x20 0xBB 0x19", "256Mb")) +
                flash_xml(make("B33_MAC", "3.0V/3.3V", "Macronix", "0xC2 0x20 0x19", "256Mb")) +
                flash_xml(make("C18_ISSI", "1.8V", "Issi", "0x9D 0x70 0x1A", "512Mb")) +
                flash_xml(make("D33_ISSI", "3.0V/3.3V", "Issi", "0x9D 0x60 0x19", "256Mb")) +
                flash_xml(make("E18_WIN", "1.8V", "Winbond", "0xEF 0x80 0x19", "256Mb")) +
                flash_xml(make("F18_LOWER", "1.8V", "issi", "0x9D 0x70 0x19", "256Mb"))));
        programmer.write("dev/families.ini",
                         "[23]\nname = F23\nenabled = 1\nsdm = 0\nflash_io_voltage = 3.0V/3.3V\n"
                         "[28]\nname = F28\nenabled = 1\nsdm = 1\nflash_io_voltage = 1.8V\n"
                         "[48]\nname = F48\nenabled = 1\nsdm = 1\nflash_io_voltage = 3.0V/3.3V\n"
                         "[73]\nname = F73\nenabled = 1\nsdm = 0\nflash_io_voltage = 1.8V\n");
        programmer.write("dev/legacy_flash.ini", legacy_ini());
        mgr = load();
    }

    static std::string legacy(const std::string& name, const std::string& voltage,
                              const std::string& group, int order) {
        return "[" + name + "]\nenabled = 1\nio_voltage = " + voltage + "\ngroup = " + group +
               "\norder = " + std::to_string(order) + "\n";
    }
    static std::string legacy_ini() {
        return legacy("LGCY16", "3.0V/3.3V", "quad", 2) + legacy("LGCY4", "3.0V/3.3V", "quad", 1) +
               legacy("LGCY128", "3.0V/3.3V", "quad", 4) +
               legacy("LGCY64", "3.0V/3.3V", "quad", 3) +
               legacy("LGCY32", "3.0V/3.3V", "other", 0) +
               legacy("SCDV16", "3.0V/3.3V", "serial", 2) +
               legacy("SCDV4", "3.0V/3.3V", "serial", 1) + legacy("LOWV1", "1.8V", "low", 1) +
               legacy("XSCDVX", "3.0V/3.3V", "x", 1);
    }

    std::unique_ptr<VORN_QSPI_MGR> mgr;
};

TEST_F(QspiLists, ListsFollowTheFamilyVoltageAndScheme) {
    EXPECT_EQ(
        mgr->get_device_family_list(),
        (std::vector<DEV_FAMILY_ENUM>{HIGH_FAMILY, LOW_SDM_FAMILY, HIGH_SDM_FAMILY, LOW_FAMILY}));
    EXPECT_EQ(mgr->get_config_mode_list(),
              (std::vector<PGMIO_CONFIG_SCHEME>{SCHEME_X1, SCHEME_X4}));

    // New devices: by voltage; ISSI parts only for the two families that may use them.
    EXPECT_EQ(mgr->get_new_config_device_list(LOW_FAMILY, SCHEME_X4, false),
              (NAMES{"A18_MIC", "E18_WIN"}));
    EXPECT_EQ(mgr->get_new_config_device_list(LOW_SDM_FAMILY, SCHEME_X4, false),
              (NAMES{"A18_MIC", "C18_ISSI", "E18_WIN", "F18_LOWER"}));
    EXPECT_EQ(mgr->get_new_config_device_list(HIGH_FAMILY, SCHEME_X1, false),
              (NAMES{"B33_MAC", "D33_ISSI"}));
    EXPECT_EQ(mgr->get_new_config_device_list(HIGH_SDM_FAMILY, SCHEME_X1, false),
              (NAMES{"B33_MAC"}));
    EXPECT_TRUE(mgr->get_new_config_device_list(UNKNOWN_FAMILY, SCHEME_X4, false).empty());
    const NAMES all{"A18_MIC", "B33_MAC", "C18_ISSI", "D33_ISSI", "E18_WIN", "F18_LOWER"};
    EXPECT_EQ(mgr->get_new_config_device_list(HIGH_SDM_FAMILY, SCHEME_X4, true), all);

    // Legacy devices: by voltage and scheme, each group in its order.
    const NAMES quad{"LGCY4", "LGCY16", "LGCY64", "LGCY128", "LGCY32"};
    NAMES x1 = quad;
    for (const char* n : {"SCDV4", "SCDV16", "XSCDVX"}) x1.push_back(n);
    EXPECT_EQ(mgr->get_legacy_config_device_list(HIGH_FAMILY, SCHEME_X4, false), quad);
    EXPECT_EQ(mgr->get_legacy_config_device_list(HIGH_FAMILY, SCHEME_X1, false), x1);
    EXPECT_EQ(mgr->get_legacy_config_device_list(LOW_FAMILY, SCHEME_X1, false), (NAMES{"LOWV1"}));
    EXPECT_TRUE(
        mgr->get_legacy_config_device_list(HIGH_FAMILY, static_cast<PGMIO_CONFIG_SCHEME>(23), false)
            .empty());
    EXPECT_TRUE(mgr->get_legacy_config_device_list(UNKNOWN_FAMILY, SCHEME_X1, false).empty());
    NAMES everything = x1;
    everything.insert(everything.begin() + 5, "LOWV1");
    EXPECT_EQ(mgr->get_legacy_config_device_list(UNKNOWN_FAMILY, SCHEME_X4, true), everything);

    // The switch that skips filtering makes every list whole.
    cfg_set_switch("pgm_vorn_skip_device_filtering", true);
    mgr = load();
    EXPECT_EQ(mgr->get_new_config_device_list(HIGH_SDM_FAMILY, SCHEME_X4, false), all);
    EXPECT_EQ(
        mgr->get_legacy_config_device_list(LOW_FAMILY, static_cast<PGMIO_CONFIG_SCHEME>(23), false),
        everything);
}

TEST_F(QspiLists, EditPermission) {
    write_custom("pgm_flash_u.xml", document(flash_xml(device("USERDEV"))));
    mgr = load();
    EXPECT_TRUE(mgr->is_new_device_supported()) << "no switch turns QSPI user devices off";
    VORN_FLASH* builtin = mgr->get_flash_map().at("A18_MIC");
    mgr->set_active_device_family(LOW_FAMILY);
    EXPECT_TRUE(mgr->get_operation_editable_permission(nullptr));
    EXPECT_FALSE(mgr->get_operation_editable_permission(builtin));
    EXPECT_TRUE(mgr->get_operation_editable_permission(mgr->get_flash_map().at("USERDEV")));
    VORN_FLASH* fresh = mgr->create_flash("UNSAVED");
    EXPECT_TRUE(mgr->get_operation_editable_permission(fresh));
    EXPECT_FALSE(mgr->get_operation_editable_permission(mgr->get_flash("LOWV1", false)));

    mgr->set_active_device_family(LOW_SDM_FAMILY);
    EXPECT_FALSE(mgr->get_operation_editable_permission(fresh));
    cfg_set_switch("pgm_vorn_enable_operation_editable", true);
    EXPECT_TRUE(mgr->get_operation_editable_permission(builtin));
    delete fresh;
}

// Each legacy lookup makes a new record and deletes the previous one; a database record is
// never deleted, not even one whose name the host also lists as legacy. The sanitizer build
// proves the releases.
TEST_F(QspiLists, LegacyRecordsLiveUntilTheNextLookup) {
    programmer.write("dev/legacy_flash.ini", legacy_ini() + legacy("B33_MAC", "3.0V/3.3V", "q", 9));
    mgr = load();
    mgr->set_active_device_family(HIGH_FAMILY);
    VORN_FLASH* first = mgr->get_flash("LGCY16", false);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(mgr->get_flash_map().count("LGCY16"), 0u);
    VORN_FLASH* second = mgr->get_flash("LGCY64", false);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->get_name(), "LGCY64");
    EXPECT_EQ(mgr->get_current_flash(), second);
    EXPECT_EQ(mgr->get_flash("LOWV1", false), nullptr) << "another voltage";
    EXPECT_EQ(mgr->get_flash("SCDV4", false), nullptr) << "another scheme";
    mgr->set_active_config_mode(SCHEME_X1);
    ASSERT_NE(mgr->get_flash("SCDV4", false), nullptr);

    // Never found by ID or density, and released by those lookups.
    VORN_FLASH* legacy_record = mgr->get_flash("LGCY16", false);
    legacy_record->set_parameter_value(VORN_FLASH_PARAM_ID, "0x77");
    legacy_record->set_density("2048Mb");
    EXPECT_EQ(mgr->get_flash_with_id(0x77u, 0xFFFFFFFF), nullptr);
    EXPECT_EQ(mgr->get_current_flash(), nullptr);
    ASSERT_NE(mgr->get_flash("LGCY16", false), nullptr);
    EXPECT_EQ(mgr->get_flash_with_density(2048ull << 17), nullptr);

    // A database record listed as legacy too stays the map's, through every later call.
    VORN_FLASH* db = mgr->get_flash_with_id(0x1920C2, 0xFFFFFF);
    ASSERT_EQ(db, mgr->get_flash_map().at("B33_MAC"));
    VORN_FLASH* draft = mgr->create_flash("BRAND_NEW");
    EXPECT_NE(mgr->get_flash("B33_MAC", false), db) << "by name the legacy list answers first";
    EXPECT_NE(mgr->get_flash("LGCY4", false), nullptr);
    EXPECT_EQ(mgr->get_flash_map().at("B33_MAC")->get_density(), "256Mb");
    delete draft;
    VORN_FLASH* old = mgr->create_flash("LGCY4");
    EXPECT_EQ(mgr->get_current_flash(), old);
    EXPECT_NE(mgr->create_flash("LGCY4"), nullptr) << "a legacy current record is replaced";
}

// device_is_legacy answers as the legacy list does, for every family, scheme and filter.
TEST_F(QspiLists, LegacyAnswersMatchTheLists) {
    const NAMES asked{"LGCY4", "LGCY16", "LGCY32", "LGCY64", "LGCY128",
                      "SCDV4", "SCDV16", "XSCDVX", "LOWV1",  "A18_MIC",
                      "lgcy4", "LGCY",   "LGCY44", "SCDV4 ", "NOWHERE"};
    for (DEV_FAMILY_ENUM family :
         {LOW_FAMILY, LOW_SDM_FAMILY, HIGH_FAMILY, HIGH_SDM_FAMILY, UNKNOWN_FAMILY}) {
        for (PGMIO_CONFIG_SCHEME scheme :
             {SCHEME_X1, SCHEME_X4, static_cast<PGMIO_CONFIG_SCHEME>(23)}) {
            mgr->set_active_device_family(family);
            mgr->set_active_config_mode(scheme);
            for (bool ignore_filter : {false, true}) {
                const NAMES list =
                    mgr->get_legacy_config_device_list(family, scheme, ignore_filter);
                for (const std::string& name : asked) {
                    const bool listed = std::find(list.begin(), list.end(), name) != list.end();
                    EXPECT_EQ(mgr->device_is_legacy(name, ignore_filter), listed)
                        << name << " family " << family << " scheme " << scheme << " filter off "
                        << ignore_filter;
                }
            }
        }
    }
    // A name the device tables do not hold is ordered against nothing, either way round.
    EXPECT_TRUE(mgr->legacy_config_device_comparator("LGCY4", "LGCY16"));
    EXPECT_FALSE(mgr->legacy_config_device_comparator("LGCY16", "LGCY4"));
    EXPECT_FALSE(mgr->legacy_config_device_comparator("LGCY4", "NOWHERE"));
    EXPECT_FALSE(mgr->legacy_config_device_comparator("NOWHERE", "LGCY4"));
}

// A host's subclass that narrows the legacy list, or makes its own with names of its own, is
// what device_is_legacy and the lookups by name follow.
TEST_F(QspiLists, ASubclassNarrowingOrReplacingTheLegacyListIsAsked) {
    struct NARROWING : VORN_QSPI_MGR {
        NAMES get_legacy_config_device_list(DEV_FAMILY_ENUM family, PGMIO_CONFIG_SCHEME scheme,
                                            bool ignore_filter) override {
            NAMES names =
                VORN_QSPI_MGR::get_legacy_config_device_list(family, scheme, ignore_filter);
            names.erase(std::remove(names.begin(), names.end(), "LGCY16"), names.end());
            return names;
        }
    } narrowing;
    EXPECT_FALSE(narrowing.device_is_legacy("LGCY16", true));
    EXPECT_TRUE(narrowing.device_is_legacy("LGCY64", true));
    EXPECT_FALSE(narrowing.device_exist_in_db("LGCY16", true));
    EXPECT_EQ(narrowing.get_flash("LGCY16", true), nullptr);
    ASSERT_NE(narrowing.get_flash("LGCY64", true), nullptr);

    struct REPLACING : VORN_QSPI_MGR {
        NAMES get_legacy_config_device_list(DEV_FAMILY_ENUM, PGMIO_CONFIG_SCHEME, bool) override {
            return {"OWN_PART", "A18_MIC"};
        }
    } replacing;
    EXPECT_FALSE(mgr->device_is_legacy("OWN_PART", true));
    EXPECT_TRUE(replacing.device_is_legacy("OWN_PART", true));
    EXPECT_TRUE(replacing.device_is_legacy("OWN_PART", false));
    EXPECT_TRUE(replacing.device_exist_in_db("OWN_PART", false));
    ASSERT_NE(replacing.get_flash("OWN_PART", false), nullptr);
    EXPECT_FALSE(replacing.device_is_legacy("LGCY64", true));
    VORN_FLASH* own = replacing.get_flash("A18_MIC", true);
    ASSERT_NE(own, nullptr);
    EXPECT_NE(own, replacing.get_flash_map().at("A18_MIC")) << "a legacy name gives a new record";
    EXPECT_EQ(replacing.get_flash("LGCY64", true), nullptr);
}

// Hosts edit records in place through the pointers the lookups return: the next lookup by ID,
// density, name or the family's device list sees the edit, however many records changed.
TEST_F(QspiLists, AnEditInPlaceIsSeenByTheNextLookup) {
    VORN_FLASH* a = mgr->get_flash_with_id(0x19BB20u, 0xFFFFFFu);
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->get_name(), "A18_MIC");
    VORN_FLASH* b = mgr->get_flash_map().at("B33_MAC");
    EXPECT_EQ(mgr->get_flash_with_id(0x99AA77u, 0xFFFFFFu), nullptr);
    a->set_parameter_value(VORN_FLASH_PARAM_ID, "0x77 0xAA 0x99");
    EXPECT_EQ(mgr->get_flash_with_id(0x99AA77u, 0xFFFFFFu), a);
    EXPECT_EQ(mgr->get_flash_with_id(0x19BB20u, 0xFFFFFFu), nullptr) << "the old ID is gone";
    EXPECT_EQ(mgr->get_flash_with_id(0x1920C2u, 0xFFFFFFu), b);
    a->set_parameter_value(VORN_FLASH_PARAM_ID, 0x42u);  // stored as "66": malformed, no ID
    EXPECT_EQ(mgr->get_flash_with_id(0x99AA77u, 0xFFFFFFu), nullptr);

    EXPECT_EQ(mgr->get_flash_with_density(256ull << 17), a) << "first of five in name order";
    a->set_density("4096Mb");
    EXPECT_EQ(mgr->get_flash_with_density(4096ull << 17), a);
    EXPECT_EQ(mgr->get_flash_with_density(256ull << 17), b);

    // By name the I/O voltage filters; the lists follow it too.
    mgr->set_active_device_family(HIGH_FAMILY);
    EXPECT_EQ(mgr->get_flash("A18_MIC", false), nullptr);
    EXPECT_EQ(mgr->get_new_config_device_list(HIGH_FAMILY, SCHEME_X4, false),
              (NAMES{"B33_MAC", "D33_ISSI"}));
    a->set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, "3.0V/3.3V");
    EXPECT_EQ(mgr->get_flash("A18_MIC", false), a);
    EXPECT_TRUE(mgr->device_exist_in_db("A18_MIC", false));
    EXPECT_EQ(mgr->get_new_config_device_list(HIGH_FAMILY, SCHEME_X4, false),
              (NAMES{"A18_MIC", "B33_MAC", "D33_ISSI"}));
    EXPECT_EQ(mgr->get_new_config_device_list(LOW_FAMILY, SCHEME_X4, false), (NAMES{"E18_WIN"}));
    b->set_parameter_value(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE, "iSsI");
    EXPECT_EQ(mgr->get_new_config_device_list(HIGH_SDM_FAMILY, SCHEME_X4, false),
              (NAMES{"A18_MIC"}));

    // Edits of many records between two lookups, and a record edited twice. The host's own
    // records have IDs "0xAA <i>", then "<edits> <i>".
    struct HOST_MGR : VORN_QSPI_MGR {
        VORN_FLASH* add(const std::string& name, unsigned int i) {
            auto* record = new VORN_QSPI_FLASH(name);
            record->set_parameter_value(VORN_FLASH_PARAM_ID, TARVEN::fmt_sprintf("0xAA 0x%02X", i));
            m_flash_map[name] = record;
            return record;
        }
        void erase(const std::string& name) {
            delete m_flash_map.at(name);
            m_flash_map.erase(name);
        }
    } host;
    for (unsigned int i = 0; i < 100; ++i) host.add(TARVEN::fmt_sprintf("M%03u", i), i);
    ASSERT_EQ(host.get_flash_with_id(0x07AAu, 0xFFFFu), host.get_flash_map().at("M007"));
    for (unsigned int edits : {3u, 100u}) {
        for (unsigned int i = 0; i < edits; ++i) {
            VORN_FLASH* record = host.get_flash_map().at(TARVEN::fmt_sprintf("M%03u", i));
            record->set_parameter_value(VORN_FLASH_PARAM_ID, "0xEE");
            record->set_parameter_value(VORN_FLASH_PARAM_ID,
                                        TARVEN::fmt_sprintf("0x%02X 0x%02X", edits, i));
        }
        for (unsigned int i = 0; i < edits; ++i)
            EXPECT_EQ(host.get_flash_with_id(i << 8 | edits, 0xFFFFu),
                      host.get_flash_map().at(TARVEN::fmt_sprintf("M%03u", i)))
                << edits << " edits, record " << i;
        EXPECT_EQ(host.get_flash_with_id(0xEE, 0xFFu), nullptr);
        VORN_FLASH* unedited = edits == 3 ? host.get_flash_map().at("M050") : nullptr;
        EXPECT_EQ(host.get_flash_with_id(0x32AAu, 0xFFFFu), unedited);
    }

    // Edits and changes of the map between two lookups: the records kept keep their values,
    // the edited and the new ones are read, also a new one in a deleted one's place.
    host.get_flash_map().at("M010")->set_parameter_value(VORN_FLASH_PARAM_ID, "0x11 0x0A");
    host.erase("M020");
    VORN_FLASH* again = host.add("M020", 0x99);
    host.add("M200", 0x98);
    EXPECT_EQ(host.get_flash_with_id(0x0A11u, 0xFFFFu), host.get_flash_map().at("M010"));
    EXPECT_EQ(host.get_flash_with_id(0x99AAu, 0xFFFFu), again);
    EXPECT_EQ(host.get_flash_with_id(0x98AAu, 0xFFFFu), host.get_flash_map().at("M200"));
    EXPECT_EQ(host.get_flash_with_id(0x1464u, 0xFFFFu), nullptr) << "the deleted M020's ID";
    EXPECT_EQ(host.get_flash_with_id(0x1564u, 0xFFFFu), host.get_flash_map().at("M021"));
    host.erase("M200");
    EXPECT_EQ(host.get_flash_with_id(0x98AAu, 0xFFFFu), nullptr);
    EXPECT_EQ(host.get_flash_with_id(0x1664u, 0xFFFFu), host.get_flash_map().at("M022"));
}

// A host's record class that computes its values tells of their changes; a host's manager
// class may put records into the map itself; a record may outlive the manager that held it.
TEST_F(QspiLists, HostSubclassesOfRecordAndManager) {
    struct COMPUTED : VORN_QSPI_FLASH {
        using VORN_QSPI_FLASH::VORN_QSPI_FLASH;
        unsigned int id = 0x123456;
        int sets = 0;
        void set_id(unsigned int value) {
            id = value;
            values_changed();
        }
        unsigned int get_parameter_value_in_dword(VORN_FLASH_PARAM param,
                                                  unsigned int* out) const override {
            return param == VORN_FLASH_PARAM_ID
                       ? id
                       : VORN_QSPI_FLASH::get_parameter_value_in_dword(param, out);
        }
        unsigned long long get_density_in_bytes_qword() const override {
            return m_density == "twelve" ? 12 : 12345;
        }
        void set_parameter_value(VORN_FLASH_PARAM param, std::string value) override {
            ++sets;
            VORN_QSPI_FLASH::set_parameter_value(param, std::move(value));
        }
        using VORN_QSPI_FLASH::set_parameter_value;
        void rename_density(const std::string& text) {
            m_density = text;
            values_changed();
        }
    };
    struct HOST_MGR : VORN_QSPI_MGR {
        COMPUTED* add(const std::string& name) {
            auto* record = new COMPUTED(name);
            m_flash_map[name] = record;
            return record;
        }
        VORN_FLASH* take(const std::string& name) {
            VORN_FLASH* record = m_flash_map.at(name);
            m_flash_map.erase(name);
            return record;
        }
    };
    auto host = std::make_unique<HOST_MGR>();
    EXPECT_EQ(host->get_flash_with_id(0x123456u, 0xFFFFFFu), nullptr);
    COMPUTED* computed = host->add("Z_COMPUTED");
    EXPECT_EQ(host->get_flash_with_id(0x123456u, 0xFFFFFFu), computed);
    computed->set_id(0x654321);
    EXPECT_EQ(host->get_flash_with_id(0x654321u, 0xFFFFFFu), computed);
    EXPECT_EQ(host->get_flash_with_id(0x123456u, 0xFFFFFFu), nullptr);
    EXPECT_EQ(host->get_flash_with_density(12345), computed);
    computed->rename_density("twelve");
    EXPECT_EQ(host->get_flash_with_density(12), computed);
    computed->set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, "1.8V");
    EXPECT_EQ(computed->sets, 1);
    const NAMES low = host->get_new_config_device_list(LOW_FAMILY, SCHEME_X4, false);
    EXPECT_EQ(low.back(), "Z_COMPUTED");
    EXPECT_EQ(host->get_new_config_device_list(LOW_FAMILY, SCHEME_X4, true).back(), "Z_COMPUTED");

    // Taken out of the map, a record is found no more, and its edits after its manager is
    // gone reach nobody.
    std::unique_ptr<VORN_FLASH> taken(host->take("Z_COMPUTED"));
    EXPECT_EQ(host->get_flash_with_id(0x654321u, 0xFFFFFFu), nullptr);
    host.reset();
    taken->set_density("1Gb");
    taken->set_parameter_value(VORN_FLASH_PARAM_ID, "0x01");
    EXPECT_EQ(taken->get_density_in_bytes_qword(), 12345u);
}

}  // namespace
