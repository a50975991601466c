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

TEST_F(MgrDirs, DirectoriesAreSpeltWithOneTrailingSeparator) {
    EXPECT_EQ(VORN_MGR::get_db_zentro_dir(), prog.path() + "xml/");
    const std::pair<const char*, const char*> cases[] = {{"/data/flash", "/data/flash/"},
                                                         {"/data/flash/", "/data/flash/"},
                                                         {"C:\\flash\\db", "C:/flash/db/"},
                                                         {"", "./"}};
    for (const auto& [given, kept] : cases) {
        VORN_MGR::set_db_custom_dir(given);
        EXPECT_EQ(VORN_MGR::get_db_custom_dir(), kept) << given;
    }
    EXPECT_FALSE(FIO_FILE_SYSTEM::exists(ini)) << "setting it leaves the INI alone";
}

// Saving refuses an empty or missing directory unless forced, writes nothing for the same
// directory in another case, and reports a failed write; reading normalises what is stored and
// stores the working directory on a first read.
TEST_F(MgrDirs, TheCustomDirectoryIsKeptInTheUserIni) {
    EXPECT_FALSE(VORN_MGR::save_custom_dir_to_ini("", false));
    EXPECT_FALSE(VORN_MGR::save_custom_dir_to_ini(dir.path() + "missing", false));
    HOST_FAULT::fail_next(HOST_FAULT::WRITE_INI);
    EXPECT_FALSE(VORN_MGR::save_custom_dir_to_ini(dir.path(), false));
    EXPECT_FALSE(FIO_FILE_SYSTEM::exists(ini));
    EXPECT_TRUE(VORN_MGR::save_custom_dir_to_ini(dir.path() + "missing", true));
    EXPECT_EQ(stored(), dir.path() + "missing/");
    EXPECT_NE(dir.read("cfg/user.ini").find(dir.path() + "missing/"), std::string::npos);

    const std::string lower = dir.file("db/x");
    const std::string upper = dir.file("DB/X");
    ASSERT_TRUE(FIO_FILE_SYSTEM::create_directories(lower));
    ASSERT_TRUE(FIO_FILE_SYSTEM::create_directories(upper));
    ASSERT_TRUE(VORN_MGR::save_custom_dir_to_ini(lower, false));
    HOST_FAULT::fail_next(HOST_FAULT::WRITE_INI);
    EXPECT_TRUE(VORN_MGR::save_custom_dir_to_ini(upper, false));
    EXPECT_EQ(HOST_FAULT::pending(HOST_FAULT::WRITE_INI), 1) << "no write was attempted";
    EXPECT_EQ(stored(), lower + "/");
    HOST_FAULT::clear();

    ASSERT_TRUE(cfg_set_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR, "/srv//flash"));
    EXPECT_EQ(VORN_MGR::get_custom_dir_from_ini(), "/srv/flash/");
    ASSERT_TRUE(cfg_set_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR, ""));
    HOST_FAULT::fail_next(HOST_FAULT::WRITE_INI);
    EXPECT_EQ(VORN_MGR::get_custom_dir_from_ini(), "") << "when it cannot be stored";
    EXPECT_EQ(VORN_MGR::get_custom_dir_from_ini(), "./");
    EXPECT_EQ(stored(), "./");
}

}  // namespace
