// A host's whole edit through the facade: pick the QSPI manager, build a device from a vendor
// flow, judge every field, save it, find it after a refresh, delete it, and see it gone.
#include <gtest/gtest.h>

#include <cstdlib>

#include "test_qspi_fixture.h"
#include "vorn.h"
#include "vorn_test_support.h"

using vorn_test::MessageCapture;

namespace {

const char* const NAME = "E2E_FLASH";
const char* const ID = "0xEE 0x7A 0x19";
const unsigned int ID_DWORD = 0x197AEEu;
const DEV_FAMILY_ENUM DEVICE_FAMILY = static_cast<DEV_FAMILY_ENUM>(73);  // 3.0V/3.3V

// Every enabled property of every action, as the host's editor would check it.
void expect_flow_valid(const std::vector<VORN_OPERATION*>* flow) {
    ASSERT_NE(flow, nullptr);
    for (const VORN_OPERATION* op : *flow)
        for (const VORN_ACTION* act : *op->get_action_list())
            for (VORN_ACT_PROPERTY p : act->get_property_enum_list()) {
                if (!act->property_value_is_enable(p)) continue;
                std::string err;
                EXPECT_TRUE(act->property_value_is_valid(p, act->get_property_value(p), &err))
                    << op->get_name() << "/" << act->get_name() << ": " << err;
            }
}

}  // namespace

class FacadeEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        m_old_ini = std::getenv("VORN_USER_INI") ? std::getenv("VORN_USER_INI") : "";
        setenv("VORN_USER_INI", (m_home.path() + "user.ini").c_str(), 1);
        cfg_reload_user_ini();
    }
    void TearDown() override {
        VORN_MGR::set_db_custom_dir("");
        VORN_HELPER::refresh_flash_managers();
        setenv("VORN_USER_INI", m_old_ini.c_str(), 1);
        cfg_reload_user_ini();
    }
    vorn_test::ProgrammerDir m_prog;
    vorn_test::TempDir m_home;
    vorn_test::TempDir m_db;
    std::string m_old_ini;
};

TEST_F(FacadeEndToEnd, CreateSaveFindDelete) {
    // The host keeps its custom directory in the user INI and hands it to the library.
    ASSERT_TRUE(VORN_MGR::save_custom_dir_to_ini(m_db.path(), false));
    VORN_MGR::set_db_custom_dir(VORN_MGR::get_custom_dir_from_ini());
    const std::string db_dir = FIO_PATH(VORN_MGR::get_db_custom_dir()).full_directory();
    ASSERT_EQ(db_dir, m_db.path());
    VORN_HELPER::refresh_flash_managers();

    VORN_MGR* mgr = VORN_HELPER::get_flash_manager(DEV_FAMILY_QSPI_FLASH, false);
    ASSERT_NE(mgr, nullptr);
    EXPECT_EQ(VORN_HELPER::get_flash_manager(PGMIO_CONFIG_SCHEME_AS_X4, false), mgr);
    ASSERT_TRUE(VORN_HELPER::set_active_flash_family(DEV_FAMILY_QSPI_FLASH));
    EXPECT_EQ(VORN_HELPER::get_active_flash_manager(false), mgr);
    ASSERT_TRUE(VORN_HELPER::is_supported_family(DEV_FAMILY_QSPI_FLASH, DEVICE_FAMILY));
    mgr->set_active_device_family(DEVICE_FAMILY);
    mgr->set_active_config_mode(PGMIO_CONFIG_SCHEME_AS_X4);

    // ---- build and judge the device ----
    MessageCapture capture;
    std::string err;
    ASSERT_TRUE(mgr->is_parameter_valid(VORN_FLASH_PARAM_NAME, NAME, &err)) << err;
    VORN_FLASH* flash = mgr->create_flash(NAME);
    const auto* sfl = mgr->get_prog_flow_template_operation_list(VORN_PROG_FLOW_TEMPLATE_MACRONIX,
                                                                 VORN_PROG_FLOW_TYPE_SFL);
    const auto* sdm = mgr->get_prog_flow_template_operation_list(VORN_PROG_FLOW_TEMPLATE_MACRONIX,
                                                                 VORN_PROG_FLOW_TYPE_SDM);
    ASSERT_NE(sfl, nullptr);
    ASSERT_NE(sdm, nullptr);
    flash->set_operation_list(qspi_test::copy_operations(*sfl), VORN_PROG_FLOW_TYPE_SFL);
    flash->set_operation_list(qspi_test::copy_operations(*sdm), VORN_PROG_FLOW_TYPE_SDM);

    const std::vector<std::pair<VORN_FLASH_PARAM, std::string>> texts = {
        {VORN_FLASH_PARAM_ID, ID},
        {VORN_FLASH_PARAM_IO_VOLTAGE, "3.0V/3.3V"},
        {VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE, "Macronix"}};
    for (const auto& t : texts) {
        ASSERT_TRUE(mgr->is_parameter_valid(t.first, t.second, &err)) << err;
        flash->set_parameter_value(t.first, t.second);
    }
    ASSERT_TRUE(mgr->is_parameter_valid(VORN_FLASH_PARAM_DENSITY, "256Mb", &err)) << err;
    flash->set_density("256Mb");
    ASSERT_TRUE(mgr->is_parameter_compatible(VORN_FLASH_PARAM_IO_VOLTAGE, "3.0V/3.3V", &err));
    const std::vector<std::pair<VORN_FLASH_PARAM, unsigned int>> numbers = {
        {VORN_FLASH_PARAM_TOTAL_DIE, 1},
        {VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, 8},
        {VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, 10}};
    for (const auto& n : numbers) {
        ASSERT_TRUE(mgr->is_parameter_valid(n.first, n.second, &err)) << err;
        flash->set_parameter_value(n.first, n.second);
    }
    // One edit, judged before it is stored.
    VORN_ACTION* first =
        (*flash->get_operation_list(VORN_PROG_FLOW_TYPE_SFL))[0]->get_action_list()->at(0);
    VORN_ACT_PROPERTY delay = VORN_ACT_PROPERTY_WRITE_REG_DELAY;
    if (first->get_type() == VORN_ACT_TYPE_READ_REGISTER) delay = VORN_ACT_PROPERTY_READ_REG_DELAY;
    ASSERT_TRUE(first->property_value_is_valid(delay, "0x64", &err)) << err;
    first->set_property_value(delay, "0x64");
    expect_flow_valid(flash->get_operation_list(VORN_PROG_FLOW_TYPE_SFL));
    expect_flow_valid(flash->get_operation_list(VORN_PROG_FLOW_TYPE_SDM));
    EXPECT_TRUE(capture.messages().empty());

    // ---- save ----
    ASSERT_TRUE(mgr->update_db(flash, db_dir));
    EXPECT_TRUE(m_db.exists(std::string("pgm_flash_") + NAME + ".xml"));
    EXPECT_TRUE(capture.messages().empty());

    // A copy of what was saved, to compare with what comes back from the file.
    std::unique_ptr<VORN_QSPI_FLASH> saved(new VORN_QSPI_FLASH(NAME));
    saved->set_operation_list(
        qspi_test::copy_operations(*flash->get_operation_list(VORN_PROG_FLOW_TYPE_SFL)),
        VORN_PROG_FLOW_TYPE_SFL);
    saved->set_operation_list(
        qspi_test::copy_operations(*flash->get_operation_list(VORN_PROG_FLOW_TYPE_SDM)),
        VORN_PROG_FLOW_TYPE_SDM);

    // Numbers are written in decimal: the edited delay comes back as 100.
    (*saved->get_operation_list(VORN_PROG_FLOW_TYPE_SFL))[0]
        ->get_action_list()
        ->at(0)
        ->set_property_value(delay, "100");

    // ---- refresh and find ----
    VORN_HELPER::refresh_flash_managers();
    mgr = VORN_HELPER::get_flash_manager(std::string(NAME), false, false);
    ASSERT_NE(mgr, nullptr) << "visible under the active family after a refresh";
    EXPECT_EQ(mgr->get_flash_family(), DEV_FAMILY_QSPI_FLASH);
    EXPECT_TRUE(VORN_HELPER::is_vorn_flash(NAME, DEV_FAMILY_QSPI_FLASH, false, false));
    mgr->set_active_device_family(DEVICE_FAMILY);

    VORN_FLASH* by_name = mgr->get_flash(NAME, false);
    ASSERT_NE(by_name, nullptr);
    EXPECT_EQ(by_name->get_parameter_value(VORN_FLASH_PARAM_ID), ID);
    EXPECT_EQ(by_name->get_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE), "3.0V/3.3V");
    EXPECT_EQ(by_name->get_parameter_value(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE), "Macronix");
    EXPECT_EQ(by_name->get_parameter_value_in_dword(VORN_FLASH_PARAM_TOTAL_DIE, nullptr), 1u);
    EXPECT_EQ(by_name->get_parameter_value_in_dword(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, nullptr), 8u);
    EXPECT_EQ(by_name->get_parameter_value_in_dword(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, nullptr),
              10u);
    EXPECT_EQ(by_name->get_density(), "256Mb");
    EXPECT_EQ(by_name->get_db_dir(), db_dir);
    EXPECT_TRUE(by_name->get_flash_removable_permission());
    qspi_test::expect_same_flow(*by_name->get_operation_list(VORN_PROG_FLOW_TYPE_SFL),
                                *saved->get_operation_list(VORN_PROG_FLOW_TYPE_SFL));
    qspi_test::expect_same_flow(*by_name->get_operation_list(VORN_PROG_FLOW_TYPE_SDM),
                                *saved->get_operation_list(VORN_PROG_FLOW_TYPE_SDM));

    EXPECT_EQ(mgr->get_flash_with_id(ID_DWORD, 0xFFFFFF), by_name);
    // 256 Mbit is 32 MiB; the name sorts before every shipped 256 Mbit part.
    EXPECT_EQ(mgr->get_flash_with_density(32ull << 20), by_name);

    // ---- delete ----
    ASSERT_TRUE(mgr->delete_db(NAME, db_dir));
    EXPECT_FALSE(m_db.exists(std::string("pgm_flash_") + NAME + ".xml"));
    EXPECT_EQ(mgr->get_flash(NAME, true), nullptr);
    VORN_HELPER::refresh_flash_managers();
    EXPECT_EQ(VORN_HELPER::get_flash_manager(std::string(NAME), true, false), nullptr);
    EXPECT_FALSE(VORN_HELPER::is_vorn_flash(NAME, DEV_FAMILY_QSPI_FLASH, true, false));
    EXPECT_TRUE(capture.messages().empty());
}
