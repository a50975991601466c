// Configuration switches and the user INI file.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "host_fault.h"
#include "vorn_test_support.h"

namespace fs = std::filesystem;

namespace {

class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        const char* old = std::getenv(name);
        m_had = old != nullptr;
        if (m_had) m_old = old;
        value != nullptr ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { m_had ? setenv(m_name.c_str(), m_old.c_str(), 1) : unsetenv(m_name.c_str()); }

  private:
    std::string m_name;
    bool m_had = false;
    std::string m_old;
};

class HostConfig : public testing::Test {
  protected:
    HostConfig()
        : m_ini("VORN_INI", (m_dir.path() + "vorn.ini").c_str()),
          m_user("VORN_USER_INI", (m_dir.path() + "cfg/sub/user.ini").c_str()) {
        cfg_clear_switches();
        cfg_reload_user_ini();
        HOST_FAULT::clear();
    }
    ~HostConfig() override {
        cfg_clear_switches();
        cfg_reload_user_ini();
        HOST_FAULT::clear();
    }
    void switches(const std::string& text) { m_dir.write("vorn.ini", text); }
    std::string custom_dir() { return cfg_get_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR); }

    vorn_test::TempDir m_dir;
    ScopedEnv m_ini;
    ScopedEnv m_user;
};

TEST_F(HostConfig, SwitchValuesInAnyCaseAndAnythingElseGivesTheDefault) {
    switches(
        "pgm_enable_sdmmc = ON\nb=yes\nc = 1\nd= True\n; e = on\n# f = on\n"
        "n = \"on\"\ng = off\nh = No\ni = 0\nj = FALSE\nk = maybe\nl =\n[tool]\nm = on\n[x]\nm = "
        "off\n");
    for (const char* on : {"pgm_enable_sdmmc", "PGM_Enable_SDMMC", "b", "c", "d", "n"})
        EXPECT_TRUE(cfg_is_on(on, false)) << on;
    for (const char* off : {"g", "h", "i", "j", "m"}) EXPECT_FALSE(cfg_is_on(off, true)) << off;
    for (const char* other : {"e", "f", "k", "l", "missing"}) {
        EXPECT_TRUE(cfg_is_on(other, true)) << other;
        EXPECT_FALSE(cfg_is_on(other, false)) << other;
    }
    switches(
        "\xEF\xBB\xBF"
        "first = on\r\n");
    EXPECT_TRUE(cfg_is_on("first", false));
}

TEST_F(HostConfig, EveryChangeToTheSwitchFileIsSeenAndOverridesWin) {
    switches("a = on\n");
    EXPECT_TRUE(cfg_is_on("a", false));
    switches("a = no\n");  // same size, written at once
    EXPECT_FALSE(cfg_is_on("a", true));
    // Old enough that its stamp alone is trusted between calls; a change still shows, even
    // with the old modification time put back.
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));
    EXPECT_FALSE(cfg_is_on("a", true));
    const auto stamp = fs::last_write_time(m_dir.file("vorn.ini"));
    switches("a = on\n");
    fs::last_write_time(m_dir.file("vorn.ini"), stamp);
    EXPECT_TRUE(cfg_is_on("a", false));
    m_dir.write("next.ini", "a = on\nb = on\n");
    fs::rename(m_dir.file("next.ini"), m_dir.file("vorn.ini"));
    EXPECT_TRUE(cfg_is_on("b", false));

    cfg_set_switch("a", false);
    cfg_set_switch("Z", true);
    EXPECT_FALSE(cfg_is_on("a", true));
    EXPECT_TRUE(cfg_is_on("z", false));
    cfg_clear_switches();
    EXPECT_TRUE(cfg_is_on("a", false));
    fs::remove(m_dir.file("vorn.ini"));
    EXPECT_FALSE(cfg_is_on("a", false));
}

TEST_F(HostConfig, FilesFollowTheEnvironment) {
    EXPECT_EQ(cfg_get_switch_file(), m_dir.path() + "vorn.ini");
    EXPECT_EQ(cfg_get_user_ini_file(), m_dir.path() + "cfg/sub/user.ini");
    ScopedEnv no_ini("VORN_INI", nullptr);
    ScopedEnv no_user("VORN_USER_INI", nullptr);
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", (m_dir.path() + "xdg//").c_str());
        EXPECT_EQ(cfg_get_switch_file(), m_dir.path() + "xdg/vorn/vorn.ini");
        EXPECT_EQ(cfg_get_user_ini_file(), m_dir.path() + "xdg/vorn/user.ini");
    }
    ScopedEnv no_xdg("XDG_CONFIG_HOME", nullptr);
    {
        ScopedEnv home("HOME", (m_dir.path() + "home/").c_str());
        EXPECT_EQ(cfg_get_switch_file(), m_dir.path() + "home/.config/vorn/vorn.ini");
    }
    ScopedEnv no_home("HOME", nullptr);
    const passwd* pw = getpwuid(getuid());
    ASSERT_NE(pw, nullptr);
    EXPECT_EQ(cfg_get_switch_file(), std::string(pw->pw_dir) + "/.config/vorn/vorn.ini");
}

TEST_F(HostConfig, TheUserIniIsReadOnceAndWrittenKeepingTheRest) {
    m_dir.write("cfg/sub/user.ini",
                "; kept\nother = 1\n[window]\nwidth = 800\nvorn_custom_db_dir = /old/\n");
    EXPECT_EQ(custom_dir(), "/old/");
    // A later edit is not seen until a reload.
    m_dir.write("cfg/sub/user.ini", "; kept\n[window]\nvorn_custom_db_dir = /edited/\n");
    EXPECT_EQ(custom_dir(), "/old/");
    cfg_reload_user_ini();
    EXPECT_EQ(custom_dir(), "/edited/");

    ASSERT_TRUE(cfg_set_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR, "/data/my db/"));
    EXPECT_EQ(custom_dir(), "/data/my db/");
    EXPECT_EQ(m_dir.read("cfg/sub/user.ini"), "; kept\n[window]\nvorn_custom_db_dir = /edited/\n");
    ASSERT_TRUE(cfg_write_user_ini_file());
    const std::string text = m_dir.read("cfg/sub/user.ini");
    EXPECT_NE(text.find("; kept"), std::string::npos);
    // The entry stays in the section where the file had it.
    EXPECT_GT(text.find("vorn_custom_db_dir = /data/my db/"), text.find("[window]")) << text;
    EXPECT_EQ(
        std::distance(fs::directory_iterator(m_dir.path() + "cfg/sub"), fs::directory_iterator()),
        1);
    cfg_reload_user_ini();
    EXPECT_EQ(custom_dir(), "/data/my db/");

    auto unknown = static_cast<CFG_USER_INI_ENUMS>(93);
    EXPECT_FALSE(cfg_set_user_ini_value(unknown, "x"));
    EXPECT_EQ(cfg_get_user_ini_value(unknown), "");
}

TEST_F(HostConfig, AFailedWriteReportsFalseAndLeavesFileAndValueAlone) {
    m_dir.write("cfg/sub/user.ini", "vorn_custom_db_dir = /old/\n");
    ASSERT_TRUE(cfg_set_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR, "/new/"));
    HOST_FAULT::fail_next(HOST_FAULT::WRITE_INI);
    EXPECT_FALSE(cfg_write_user_ini_file());
    EXPECT_EQ(m_dir.read("cfg/sub/user.ini"), "vorn_custom_db_dir = /old/\n");
    EXPECT_TRUE(cfg_write_user_ini_file());
    EXPECT_NE(m_dir.read("cfg/sub/user.ini").find("/new/"), std::string::npos);

    // A file name that changed is read afresh; one that cannot be written fails.
    m_dir.write("blocker", "a file where a folder should be");
    ScopedEnv bad("VORN_USER_INI", (m_dir.path() + "blocker/user.ini").c_str());
    EXPECT_EQ(custom_dir(), "");
    ASSERT_TRUE(cfg_set_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR, "/x/"));
    EXPECT_FALSE(cfg_write_user_ini_file());
    EXPECT_EQ(custom_dir(), "/x/");
}

}  // namespace
