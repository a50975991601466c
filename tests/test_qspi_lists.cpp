// Choice lists, new and legacy device lists, their order, edit permissions, and the lookups of
// the manager base as the QSPI manager answers them.
#include <gtest/gtest.h>

#include <algorithm>

#include "test_qspi_fixture.h"

using namespace qspi_test;

namespace {

using NAMES = std::vector<std::string>;

constexpr auto kLow = static_cast<DEV_FAMILY_ENUM>(73);      // 1.8V, no SDM
constexpr auto kLowSdm = static_cast<DEV_FAMILY_ENUM>(28);   // 1.8V, SDM, may use ISSI
constexpr auto kHigh = static_cast<DEV_FAMILY_ENUM>(23);     // 3.0V/3.3V, may use ISSI
constexpr auto kHighSdm = static_cast<DEV_FAMILY_ENUM>(48);  // 3.0V/3.3V, SDM
constexpr auto kUnknown = static_cast<DEV_FAMILY_ENUM>(99);
constexpr auto kX1 = PGMIO_CONFIG_SCHEME_AS_X1;
constexpr auto kX4 = PGMIO_CONFIG_SCHEME_AS_X4;

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

TEST_F(QspiLists, ChoiceLists) {
    EXPECT_EQ(mgr->get_device_family_list(),
              (std::vector<DEV_FAMILY_ENUM>{kHigh, kLowSdm, kHighSdm, kLow}));
    EXPECT_EQ(mgr->get_config_mode_list(), (std::vector<PGMIO_CONFIG_SCHEME>{kX1, kX4}));
    EXPECT_EQ(mgr->get_device_density_list(),
              (NAMES{"1Mb", "2Mb", "4Mb", "8Mb", "16Mb", "32Mb", "64Mb", "128Mb", "256Mb", "512Mb",
                     "1024Mb", "2048Mb"}));
    EXPECT_EQ(mgr->get_device_io_voltage_list(), (NAMES{"1.8V", "3.0V/3.3V"}));
    EXPECT_EQ(mgr->get_prog_flow_template_list(),
              (NAMES{"Micron", "Macronix", "Cypress", "Winbond", "Issi"}));
}

TEST_F(QspiLists, UserTemplatesFollowTheVendorNames) {
    write_custom("pgm_flash_t.xml", document(template_xml("zeta") + template_xml("alpha")));
    mgr = load();
    EXPECT_EQ(mgr->get_user_template_list(), (NAMES{"alpha", "zeta"}));
    EXPECT_EQ(mgr->get_prog_flow_template_list(),
              (NAMES{"Micron", "Macronix", "Cypress", "Winbond", "Issi", "alpha", "zeta"}));
}

TEST_F(QspiLists, NewDeviceListFiltersByVoltageAndKeepsIssiForTwoFamilies) {
    EXPECT_EQ(mgr->get_new_config_device_list(kLow, kX4, false), (NAMES{"A18_MIC", "E18_WIN"}));
    EXPECT_EQ(mgr->get_new_config_device_list(kLowSdm, kX4, false),
              (NAMES{"A18_MIC", "C18_ISSI", "E18_WIN", "F18_LOWER"}));
    EXPECT_EQ(mgr->get_new_config_device_list(kHigh, kX1, false), (NAMES{"B33_MAC", "D33_ISSI"}));
    EXPECT_EQ(mgr->get_new_config_device_list(kHighSdm, kX1, false), (NAMES{"B33_MAC"}));
    // The scheme plays no part.
    EXPECT_EQ(mgr->get_new_config_device_list(kLow, static_cast<PGMIO_CONFIG_SCHEME>(23), false),
              (NAMES{"A18_MIC", "E18_WIN"}));
    EXPECT_TRUE(mgr->get_new_config_device_list(kUnknown, kX4, false).empty());
    const NAMES all{"A18_MIC", "B33_MAC", "C18_ISSI", "D33_ISSI", "E18_WIN", "F18_LOWER"};
    EXPECT_EQ(mgr->get_new_config_device_list(kUnknown, kX4, true), all);
    EXPECT_EQ(mgr->get_new_config_device_list(kHighSdm, kX4, true), all);

    cfg_set_switch("pgm_vorn_skip_device_filtering", true);
    mgr = load();
    EXPECT_EQ(mgr->get_new_config_device_list(kHighSdm, kX4, false), all);
}

TEST_F(QspiLists, LegacyListFiltersByVoltageAndScheme) {
    const NAMES quad{"LGCY4", "LGCY16", "LGCY64", "LGCY128", "LGCY32"};
    NAMES x1 = quad;
    for (const char* n : {"SCDV4", "SCDV16", "XSCDVX"}) x1.push_back(n);
    EXPECT_EQ(mgr->get_legacy_config_device_list(kHigh, kX4, false), quad);
    EXPECT_EQ(mgr->get_legacy_config_device_list(kHigh, kX1, false), x1);
    EXPECT_EQ(mgr->get_legacy_config_device_list(kLow, kX4, false), (NAMES{"LOWV1"}));
    EXPECT_EQ(mgr->get_legacy_config_device_list(kLow, kX1, false), (NAMES{"LOWV1"}));
    for (int scheme : {0, 23, 24, 12}) {
        EXPECT_TRUE(mgr->get_legacy_config_device_list(
                           kHigh, static_cast<PGMIO_CONFIG_SCHEME>(scheme), false)
                        .empty())
            << scheme;
    }
    EXPECT_TRUE(mgr->get_legacy_config_device_list(kUnknown, kX1, false).empty());

    NAMES everything = x1;
    everything.insert(everything.begin() + 5, "LOWV1");
    EXPECT_EQ(
        mgr->get_legacy_config_device_list(kUnknown, static_cast<PGMIO_CONFIG_SCHEME>(23), true),
        everything);
    cfg_set_switch("pgm_vorn_skip_device_filtering", true);
    mgr = load();
    EXPECT_EQ(mgr->get_legacy_config_device_list(kLow, static_cast<PGMIO_CONFIG_SCHEME>(23), false),
              everything);
}

TEST_F(QspiLists, ComparatorOrdersOnlyWithinAGroup) {
    EXPECT_TRUE(mgr->legacy_config_device_comparator("LGCY4", "LGCY16"));
    EXPECT_FALSE(mgr->legacy_config_device_comparator("LGCY16", "LGCY4"));
    EXPECT_FALSE(mgr->legacy_config_device_comparator("LGCY4", "LGCY4"));
    // Different text field, different prefix, or no record: never ordered.
    EXPECT_FALSE(mgr->legacy_config_device_comparator("LGCY32", "LGCY4"));
    EXPECT_FALSE(mgr->legacy_config_device_comparator("LGCY4", "LGCY32"));
    EXPECT_FALSE(mgr->legacy_config_device_comparator("SCDV4", "LGCY16"));
    EXPECT_FALSE(mgr->legacy_config_device_comparator("NOPE", "LGCY16"));
    EXPECT_FALSE(mgr->legacy_config_device_comparator("LGCY4", "NOPE"));
}

TEST_F(QspiLists, SortedListAgreesWithTheComparatorEverywhere) {
    const NAMES list =
        mgr->get_legacy_config_device_list(kUnknown, static_cast<PGMIO_CONFIG_SCHEME>(0), true);
    ASSERT_EQ(list.size(), mgr->get_legacy_flash_map().size());
    for (size_t i = 0; i < list.size(); ++i) {
        for (size_t j = 0; j < list.size(); ++j) {
            if (mgr->legacy_config_device_comparator(list[i], list[j])) {
                EXPECT_LT(i, j) << list[i] << " should come before " << list[j];
            }
        }
    }
}

TEST_F(QspiLists, EqualOrderValuesKeepKeyOrder) {
    programmer.write("dev/legacy_flash.ini", legacy("ABCD2", "1.8V", "g", 5) +
                                                 legacy("ABCD1", "1.8V", "g", 5) +
                                                 legacy("ABCD3", "1.8V", "g", 1));
    mgr = load();
    EXPECT_EQ(mgr->get_legacy_config_device_list(kLow, kX4, false),
              (NAMES{"ABCD3", "ABCD1", "ABCD2"}));
}

TEST_F(QspiLists, EditPermission) {
    VORN_FLASH* builtin = mgr->get_flash_map().at("A18_MIC");
    mgr->set_active_device_family(kLow);
    EXPECT_TRUE(mgr->get_operation_editable_permission(nullptr));
    EXPECT_FALSE(mgr->get_operation_editable_permission(builtin));
    VORN_FLASH* fresh = mgr->create_flash("UNSAVED");
    EXPECT_TRUE(mgr->get_operation_editable_permission(fresh));
    fresh->set_flash_removable_permission(true);
    EXPECT_TRUE(mgr->get_operation_editable_permission(fresh));
    // A legacy record is not editable either.
    VORN_FLASH* old = mgr->get_flash("LOWV1", false);
    ASSERT_NE(old, nullptr);
    EXPECT_FALSE(mgr->get_operation_editable_permission(old));

    mgr->set_active_device_family(kLowSdm);
    EXPECT_FALSE(mgr->get_operation_editable_permission(nullptr));
    EXPECT_FALSE(mgr->get_operation_editable_permission(fresh));

    cfg_set_switch("pgm_vorn_enable_operation_editable", true);
    EXPECT_TRUE(mgr->get_operation_editable_permission(nullptr));
    EXPECT_TRUE(mgr->get_operation_editable_permission(builtin));
    mgr->set_active_device_family(kLow);
    EXPECT_TRUE(mgr->get_operation_editable_permission(builtin));
    delete fresh;
}

TEST_F(QspiLists, UserDevicesAreEditable) {
    write_custom("pgm_flash_u.xml", document(flash_xml(device("USERDEV"))));
    mgr = load();
    mgr->set_active_device_family(kLow);
    EXPECT_TRUE(mgr->get_operation_editable_permission(mgr->get_flash_map().at("USERDEV")));
}

// ---- legacy lookups on this manager ------------------------------------------------------

TEST_F(QspiLists, LegacyLookupsMakeAFreshRecordEachTime) {
    mgr->set_active_device_family(kHigh);
    VORN_FLASH* first = mgr->get_flash("LGCY16", false);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(mgr->get_flash_map().count("LGCY16"), 0u);
    EXPECT_TRUE(mgr->device_is_legacy("LGCY16", false));
    VORN_FLASH* second = mgr->get_flash("LGCY16", false);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->get_name(), "LGCY16");
    EXPECT_EQ(mgr->get_current_flash(), second);
    // Looking up a database record releases the legacy one but never a database record.
    VORN_FLASH* db = mgr->get_flash("B33_MAC", false);
    EXPECT_EQ(mgr->get_flash("B33_MAC", false), db);
    EXPECT_EQ(mgr->get_flash("SCDV4", false), nullptr);  // filtered out under scheme 13
    mgr->set_active_config_mode(kX1);
    EXPECT_NE(mgr->get_flash("SCDV4", false), nullptr);
    EXPECT_EQ(mgr->get_flash_map().at("B33_MAC"), db);
    EXPECT_EQ(db->get_name(), "B33_MAC");
}

}  // namespace
