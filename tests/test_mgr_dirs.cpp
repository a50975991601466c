// The database directories: where the Zentro one is, how a custom one is spelt, and how the
// custom one is kept in the user INI.
#include <gtest/gtest.h>

#include <cstdlib>

#include "host_fault.h"
#include "vorn.h"
#include "vorn_test_support.h"

namespace {

class MgrDirs : public ::testing::Test {
  protected:
    void SetUp() override {
        old_ini = std::getenv("VORN_USER_INI") ? std::getenv("VORN_USER_INI") : "";
        ini = dir.path() + "cfg/user.ini";
        setenv("VORN_USER_INI", ini.c_str(), 1);
        cfg_reload_user_ini();
        HOST_FAULT::clear();
    }
    void TearDown() override {
        HOST_FAULT::clear();
        setenv("VORN_USER_INI", old_ini.c_str(), 1);
        cfg_reload_user_ini();
        VORN_MGR::set_db_custom_dir("");
    }
    std::string stored() { return cfg_get_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR); }

    vorn_test::ProgrammerDir prog;
    vorn_test::TempDir dir;
    std::string ini;
    std::string old_ini;
};

TEST_F(MgrDirs, TheCustomDirectoryIsKeptInTheUserIni) {
    EXPECT_FALSE(VORN_MGR::save_custom_dir_to_ini("", false));
    EXPECT_FALSE(VORN_MGR::save_custom_dir_to_ini(dir.path() + "missing", false));
    HOST_FAULT::fail_next(HOST_FAULT::WRITE_INI);
    EXPECT_FALSE(VORN_MGR::save_custom_dir_to_ini(dir.path(), false));
    EXPECT_FALSE(FIO_FILE_SYSTEM::exists(ini));
    EXPECT_TRUE(VORN_MGR::save_custom_dir_to_ini(dir.path() + "missing", true));
    EXPECT_EQ(stored(), dir.path() + "missing/");

    ASSERT_TRUE(cfg_set_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR, "/srv//flash"));
    EXPECT_EQ(VORN_MGR::get_custom_dir_from_ini(), "/srv/flash/");
    ASSERT_TRUE(cfg_set_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR, ""));
    HOST_FAULT::fail_next(HOST_FAULT::WRITE_INI);
    EXPECT_EQ(VORN_MGR::get_custom_dir_from_ini(), "") << "when it cannot be stored";
    EXPECT_EQ(VORN_MGR::get_custom_dir_from_ini(), "./");
    EXPECT_EQ(stored(), "./");
}

}  // namespace
