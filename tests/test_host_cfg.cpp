// Configuration switches and the user INI file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "host_fault.h"
#include "vorn_test_support.h"

namespace fs = std::filesystem;

namespace {

class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string* value) : m_name(name) {
        const char* old = std::getenv(name);
        m_had = old != nullptr;
        if (m_had) m_old = old;
        if (value != nullptr)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, &value) {}
    ~ScopedEnv() {
        if (m_had)
            setenv(m_name.c_str(), m_old.c_str(), 1);
        else
            unsetenv(m_name.c_str());
    }

  private:
    std::string m_name;
    bool m_had = false;
    std::string m_old;
};

class HostSwitches : public testing::Test {
  protected:
    HostSwitches() : m_env("VORN_INI", m_dir.path() + "vorn.ini") { cfg_clear_switches(); }
    ~HostSwitches() override { cfg_clear_switches(); }
    void write(const std::string& text) { m_dir.write("vorn.ini", text); }

    vorn_test::TempDir m_dir;
    ScopedEnv m_env;
};

TEST_F(HostSwitches, ValuesInAnyCaseAndAbsentOrUnreadableGiveTheDefault) {
    write(
        "pgm_enable_sdmmc = ON\nb=yes\nc = 1\nd= True\n; e = on\n# f = on\n"
        "g = off\nh = No\ni = 0\nj = FALSE\nk = maybe\nl =\n");
    for (const char* on : {"pgm_enable_sdmmc", "b", "c", "d"}) {
        EXPECT_TRUE(cfg_is_on(on, false)) << on;
    }
    for (const char* off : {"g", "h", "i", "j"}) {
        EXPECT_FALSE(cfg_is_on(off, true)) << off;
    }
    for (const char* other : {"e", "f", "k", "l", "missing"}) {
        EXPECT_TRUE(cfg_is_on(other, true)) << other;
        EXPECT_FALSE(cfg_is_on(other, false)) << other;
    }
    // Switch names are not case-sensitive.
    EXPECT_TRUE(cfg_is_on("PGM_Enable_SDMMC", false));
}

TEST_F(HostSwitches, KeysInsideSectionsCountAndTheLastOneWins) {
    write(
        "\xEF\xBB\xBF"
        "first = on\r\n[tool]\r\nx = on\r\n[other]\r\nx = off\r\n");
    EXPECT_TRUE(cfg_is_on("first", false));
    EXPECT_FALSE(cfg_is_on("x", true));
}

TEST_F(HostSwitches, MissingFileGivesDefaults) {
    EXPECT_FALSE(cfg_is_on("pgm_enable_sdmmc", false));
    EXPECT_TRUE(cfg_is_on("pgm_enable_sdmmc", true));
}

TEST_F(HostSwitches, ChangesToTheFileAreSeenByTheNextCall) {
    write("a = on\n");
    EXPECT_TRUE(cfg_is_on("a", false));
    // Same size, written at once: the stamp may not move, the content does.
    write("a = no\n");
    EXPECT_FALSE(cfg_is_on("a", true));
    write("a = on\nb = on\n");
    EXPECT_TRUE(cfg_is_on("b", false));
    // Replaced by rename, as editors do.
    m_dir.write("next.ini", "b = off\n");
    fs::rename(m_dir.path() + "next.ini", m_dir.path() + "vorn.ini");
    EXPECT_FALSE(cfg_is_on("b", true));
    fs::remove(m_dir.path() + "vorn.ini");
    EXPECT_TRUE(cfg_is_on("b", true));
}

TEST_F(HostSwitches, SettledFileStillShowsALaterChange) {
    write("a = on\n");
    // Old enough that its stamp alone is trusted between calls.
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));
    EXPECT_TRUE(cfg_is_on("a", false));
    EXPECT_TRUE(cfg_is_on("a", false));
    write("a = no\n");
    EXPECT_FALSE(cfg_is_on("a", true));
    // Even with the old modification time put back.
    auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    fs::last_write_time(m_dir.path() + "vorn.ini", old);
    EXPECT_FALSE(cfg_is_on("a", true));
    write("a = on\n");
    fs::last_write_time(m_dir.path() + "vorn.ini", old);
    EXPECT_TRUE(cfg_is_on("a", false));
}

TEST_F(HostSwitches, OverridesWinOverTheFileUntilCleared) {
    write("a = on\n");
    cfg_set_switch("a", false);
    cfg_set_switch("Z", true);
    EXPECT_FALSE(cfg_is_on("a", true));
    EXPECT_TRUE(cfg_is_on("z", false));
    cfg_set_switch("a", true);
    EXPECT_TRUE(cfg_is_on("a", false));
    cfg_clear_switches();
    EXPECT_TRUE(cfg_is_on("a", false));
    EXPECT_FALSE(cfg_is_on("z", false));
}

TEST_F(HostSwitches, SwitchFileFollowsTheEnvironment) {
    EXPECT_EQ(cfg_get_switch_file(), m_dir.path() + "vorn.ini");
    ScopedEnv no_ini("VORN_INI", nullptr);
    ScopedEnv xdg("XDG_CONFIG_HOME", m_dir.path() + "xdg");
    EXPECT_EQ(cfg_get_switch_file(), m_dir.path() + "xdg/vorn/vorn.ini");
    m_dir.write("xdg/vorn/vorn.ini", "from_xdg = on\n");
    EXPECT_TRUE(cfg_is_on("from_xdg", false));
    ScopedEnv no_xdg("XDG_CONFIG_HOME", nullptr);
    ScopedEnv home("HOME", m_dir.path() + "home");
    EXPECT_EQ(cfg_get_switch_file(), m_dir.path() + "home/.config/vorn/vorn.ini");
}

class HostUserIni : public testing::Test {
  protected:
    HostUserIni() : m_env("VORN_USER_INI", m_dir.path() + "cfg/sub/user.ini") {
        cfg_reload_user_ini();
        HOST_FAULT::clear();
    }
    ~HostUserIni() override {
        cfg_reload_user_ini();
        HOST_FAULT::clear();
    }

    vorn_test::TempDir m_dir;
    ScopedEnv m_env;
};

TEST_F(HostUserIni, RoundTripThroughTheFile) {
    EXPECT_EQ(cfg_get_user_ini_file(), m_dir.path() + "cfg/sub/user.ini");
    EXPECT_EQ(cfg_get_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR), "");
    ASSERT_TRUE(cfg_set_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR, "/data/my db/"));
    EXPECT_EQ(cfg_get_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR), "/data/my db/");
    EXPECT_FALSE(m_dir.exists("cfg/sub/user.ini"));

    ASSERT_TRUE(cfg_write_user_ini_file());
    std::string text = m_dir.read("cfg/sub/user.ini");
    EXPECT_NE(text.find("vorn_custom_db_dir"), std::string::npos);
    EXPECT_NE(text.find("/data/my db/"), std::string::npos);
    // Written through a temporary file, which is gone.
    int files = 0;
    for (const auto& e : fs::directory_iterator(m_dir.path() + "cfg/sub")) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1);

    cfg_reload_user_ini();
    EXPECT_EQ(cfg_get_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR), "/data/my db/");
}

TEST_F(HostUserIni, ReadOnFirstUseAndKeepsTheRestOfTheFile) {
    m_dir.write("cfg/sub/user.ini",
                "; kept\nother = 1\n[window]\nwidth = 800\nvorn_custom_db_dir = /old/\n");
    EXPECT_EQ(cfg_get_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR), "/old/");
    // A later edit of the file is not seen until a reload.
    m_dir.write("cfg/sub/user.ini", "vorn_custom_db_dir = /edited/\n");
    EXPECT_EQ(cfg_get_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR), "/old/");
    cfg_reload_user_ini();
    EXPECT_EQ(cfg_get_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR), "/edited/");

    m_dir.write("cfg/sub/user.ini",
                "; kept\nother = 1\n[window]\nwidth = 800\nvorn_custom_db_dir = /old/\n");
    cfg_reload_user_ini();
    ASSERT_TRUE(cfg_set_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR, "/new/"));
    ASSERT_TRUE(cfg_write_user_ini_file());
    std::string text = m_dir.read("cfg/sub/user.ini");
    EXPECT_NE(text.find("; kept"), std::string::npos);
    EXPECT_NE(text.find("other = 1"), std::string::npos);
    EXPECT_NE(text.find("width = 800"), std::string::npos);
    EXPECT_EQ(text.find("/old/"), std::string::npos);
    // The entry stays in the section where the file had it.
    EXPECT_GT(text.find("/new/"), text.find("[window]"));
    EXPECT_EQ(cfg_get_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR), "/new/");
}

TEST_F(HostUserIni, FailedWriteReportsFalseAndKeepsTheValue) {
    m_dir.write("blocker", "a file where a folder should be");
    ScopedEnv bad("VORN_USER_INI", m_dir.path() + "blocker/user.ini");
    ASSERT_TRUE(cfg_set_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR, "/x/"));
    EXPECT_FALSE(cfg_write_user_ini_file());
    EXPECT_EQ(cfg_get_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR), "/x/");
}

TEST_F(HostUserIni, InjectedWriteFailureLeavesTheFileAlone) {
    m_dir.write("cfg/sub/user.ini", "vorn_custom_db_dir = /old/\n");
    ASSERT_TRUE(cfg_set_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR, "/new/"));
    HOST_FAULT::fail_next(HOST_FAULT::WRITE_INI);
    EXPECT_FALSE(cfg_write_user_ini_file());
    EXPECT_EQ(m_dir.read("cfg/sub/user.ini"), "vorn_custom_db_dir = /old/\n");
    EXPECT_TRUE(cfg_write_user_ini_file());
    EXPECT_NE(m_dir.read("cfg/sub/user.ini").find("/new/"), std::string::npos);
}

TEST_F(HostUserIni, ANewFileNameIsReadAfresh) {
    ASSERT_TRUE(cfg_set_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR, "/unsaved/"));
    m_dir.write("second.ini", "vorn_custom_db_dir = /second/\n");
    ScopedEnv other("VORN_USER_INI", m_dir.path() + "second.ini");
    EXPECT_EQ(cfg_get_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR), "/second/");
}

TEST_F(HostUserIni, UnknownEntryIsRefused) {
    auto unknown = static_cast<CFG_USER_INI_ENUMS>(93);
    EXPECT_FALSE(cfg_set_user_ini_value(unknown, "x"));
    EXPECT_EQ(cfg_get_user_ini_value(unknown), "");
}

TEST_F(HostUserIni, DefaultFileLivesUnderTheConfigHome) {
    ScopedEnv no_user("VORN_USER_INI", nullptr);
    ScopedEnv xdg("XDG_CONFIG_HOME", m_dir.path() + "xdg/");
    EXPECT_EQ(cfg_get_user_ini_file(), m_dir.path() + "xdg/vorn/user.ini");
}

}  // namespace
