// Configuration switches and the user INI file.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <thread>

#include "host_fault.h"
#include "vorn_test_support.h"

namespace fs = std::filesystem;

namespace {

class HostConfig : public testing::Test {
  protected:
    HostConfig() {
        for (const char* name : {"VORN_INI", "VORN_USER_INI", "XDG_CONFIG_HOME", "HOME"})
            if (const char* value = std::getenv(name)) m_env[name] = value;
        setenv("VORN_INI", m_dir.file("vorn.ini").c_str(), 1);
        setenv("VORN_USER_INI", (m_dir.path() + "cfg/user.ini").c_str(), 1);
        cfg_reload_user_ini();
    }
    ~HostConfig() override {
        for (const char* name : {"VORN_INI", "VORN_USER_INI", "XDG_CONFIG_HOME", "HOME"})
            m_env.count(name) ? setenv(name, m_env[name].c_str(), 1) : unsetenv(name);
        cfg_clear_switches();
        cfg_reload_user_ini();
        HOST_FAULT::clear();
    }
    std::string custom_dir() { return cfg_get_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR); }

    vorn_test::TempDir m_dir;
    std::map<std::string, std::string> m_env;
};

TEST_F(HostConfig, SwitchValuesInAnyCaseAndAnythingElseGivesTheDefault) {
    m_dir.write("vorn.ini",
                "pgm_enable_sdmmc = ON\nb=yes\nc = 1\nd= True\nn = \"on\"\n; e = on\n"
                "# f = on\ng = off\nh = No\ni = 0\nj = FALSE\nk = maybe\nl =\n"
                "[tool]\nm = on\n[x]\nm = off\n");
    for (const char* on : {"pgm_enable_sdmmc", "PGM_Enable_SDMMC", "b", "c", "d", "n"})
        EXPECT_TRUE(cfg_is_on(on, false)) << on;
    for (const char* off : {"g", "h", "i", "j", "m"}) EXPECT_FALSE(cfg_is_on(off, true)) << off;
    for (const char* other : {"e", "f", "k", "l", "missing"})
        EXPECT_TRUE(cfg_is_on(other, true) && !cfg_is_on(other, false)) << other;
    m_dir.write("vorn.ini",
                "\xEF\xBB\xBF"
                "first = on\r\n");
    EXPECT_TRUE(cfg_is_on("first", false));
}

TEST_F(HostConfig, EveryChangeToTheSwitchFileIsSeenAndOverridesWin) {
    m_dir.write("vorn.ini", "a = on\n");
    EXPECT_TRUE(cfg_is_on("a", false));
    m_dir.write("vorn.ini", "a = no\n");  // same size, written at once
    EXPECT_FALSE(cfg_is_on("a", true));
    // Old enough that its stamp alone is trusted; a change still shows with the stamp put back.
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));
    EXPECT_FALSE(cfg_is_on("a", true));
    const auto stamp = fs::last_write_time(m_dir.file("vorn.ini"));
    m_dir.write("vorn.ini", "a = on\n");
    fs::last_write_time(m_dir.file("vorn.ini"), stamp);
    EXPECT_TRUE(cfg_is_on("a", false));

    cfg_set_switch("a", false);
    cfg_set_switch("Z", true);
    EXPECT_TRUE(!cfg_is_on("a", true) && cfg_is_on("z", false));
    cfg_clear_switches();
    EXPECT_TRUE(cfg_is_on("a", false));
    fs::remove(m_dir.file("vorn.ini"));
    EXPECT_FALSE(cfg_is_on("a", false));
}

TEST_F(HostConfig, FilesFollowTheEnvironment) {
    EXPECT_EQ(cfg_get_switch_file(), m_dir.file("vorn.ini"));
    unsetenv("VORN_INI");
    unsetenv("VORN_USER_INI");
    setenv("XDG_CONFIG_HOME", (m_dir.path() + "xdg//").c_str(), 1);
    EXPECT_EQ(cfg_get_switch_file(), m_dir.path() + "xdg/vorn/vorn.ini");
    EXPECT_EQ(cfg_get_user_ini_file(), m_dir.path() + "xdg/vorn/user.ini");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", (m_dir.path() + "home/").c_str(), 1);
    EXPECT_EQ(cfg_get_switch_file(), m_dir.path() + "home/.config/vorn/vorn.ini");
    unsetenv("HOME");
    const passwd* pw = getpwuid(getuid());
    ASSERT_NE(pw, nullptr);
    EXPECT_EQ(cfg_get_switch_file(), std::string(pw->pw_dir) + "/.config/vorn/vorn.ini");
}

TEST_F(HostConfig, TheUserIniIsReadOnceAndWrittenKeepingTheRest) {
    m_dir.write("cfg/user.ini", "other = 1\n[window]\nvorn_custom_db_dir = /old/\n");
    EXPECT_EQ(custom_dir(), "/old/");
    m_dir.write("cfg/user.ini", "; kept\n[window]\nvorn_custom_db_dir = /edited/\n");
    EXPECT_EQ(custom_dir(), "/old/");  // not seen until a reload
    cfg_reload_user_ini();
    EXPECT_EQ(custom_dir(), "/edited/");

    ASSERT_TRUE(cfg_set_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR, "/data/my db/"));
    EXPECT_EQ(custom_dir(), "/data/my db/");
    HOST_FAULT::fail_next(HOST_FAULT::WRITE_INI);
    EXPECT_FALSE(cfg_write_user_ini_file());
    EXPECT_EQ(m_dir.read("cfg/user.ini"), "; kept\n[window]\nvorn_custom_db_dir = /edited/\n");
    ASSERT_TRUE(cfg_write_user_ini_file());
    const std::string text = m_dir.read("cfg/user.ini");
    EXPECT_EQ(text.find("; kept"), 0u) << text;
    // The entry stays in the section where the file had it; no temporary stays.
    EXPECT_GT(text.find("vorn_custom_db_dir = /data/my db/"), text.find("[window]")) << text;
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir.path() + "cfg"), {}), 1);
    cfg_reload_user_ini();
    EXPECT_EQ(custom_dir(), "/data/my db/");
    EXPECT_FALSE(cfg_set_user_ini_value(static_cast<CFG_USER_INI_ENUMS>(93), "x"));

    // Another file is read afresh; one that cannot be written fails and keeps the value.
    m_dir.write("blocker", "a file where a folder should be");
    setenv("VORN_USER_INI", (m_dir.path() + "blocker/user.ini").c_str(), 1);
    EXPECT_EQ(custom_dir(), "");
    ASSERT_TRUE(cfg_set_user_ini_value(CFG_USER_INI_VORN_CUSTOM_DB_DIR, "/x/"));
    EXPECT_FALSE(cfg_write_user_ini_file());
    EXPECT_EQ(custom_dir(), "/x/");
}

}  // namespace
