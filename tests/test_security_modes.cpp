// Every file the library and the tool write gets mode 0644 or stricter, whatever the umask of
// the process: a database folder may be shared, and a group- or world-writable device file
// would let others change the commands sent to a flash.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "pgm_common_xml_vorn_sdmmc_auto_export.h"
#include "test_reliability_support.h"
#include "vorn.h"
#include "vorn_test_support.h"

using namespace reliability_test;

namespace {

std::string mode_of(const std::string& path) {
    struct stat st;
    char text[8] = "none";
    if (lstat(path.c_str(), &st) == 0)
        std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return text;
}

// Regular files below `root` with bits beyond 0644, as "path mode" lines.
std::string too_open(const std::string& root) {
    std::string out;
    for (const std::string& rel : tree(root)) {
        struct stat st;
        if (lstat((root + rel).c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            (st.st_mode & 07777 & ~0644u) != 0)
            out += "\n  " + rel + " " + mode_of(root + rel);
    }
    return out;
}

class ModesUnderUmask : public ::testing::TestWithParam<mode_t>, protected SMALL_DATABASE {
  protected:
    void SetUp() override { m_old_umask = umask(GetParam()); }
    void TearDown() override { umask(m_old_umask); }

    vorn_test::MessageCapture quiet;

  private:
    mode_t m_old_umask = 022;
};

TEST_P(ModesUnderUmask, DeviceAndTemplateFilesTheLibrarySaves) {
    VORN_QSPI_MGR mgr;
    ASSERT_TRUE(mgr.update_db(make_qspi_device(mgr, "NEWDEV"), custom.path()));
    ASSERT_TRUE(mgr.update_db(make_qspi_device(mgr, "NEWDEV", VORN_PROG_FLOW_TEMPLATE_ISSI),
                              custom.path()));  // saved again: the file is replaced
    ASSERT_TRUE(mgr.update_db(
        make_qspi_device(mgr, "TPLDEV", VORN_PROG_FLOW_TEMPLATE_MICRON, "newtpl"), custom.path()));
    EXPECT_TRUE(custom.exists("pgm_flash_NEWDEV.xml"));
    EXPECT_TRUE(custom.exists("pgm_flash_template_newtpl.xml"));
    EXPECT_EQ(too_open(custom.path()), "");

    // And the user INI file that records the custom folder.
    vorn_test::TempDir config;
    const std::string saved = std::getenv("VORN_USER_INI") ? std::getenv("VORN_USER_INI") : "";
    setenv("VORN_USER_INI", config.file("vorn/user.ini").c_str(), 1);
    cfg_reload_user_ini();
    EXPECT_TRUE(VORN_MGR::save_custom_dir_to_ini(custom.path(), true));
    setenv("VORN_USER_INI", saved.c_str(), 1);
    cfg_reload_user_ini();
    EXPECT_EQ(too_open(config.path()), "");
}

// The XML layer itself: a written file is exactly 0644, an existing read-only one is replaced
// whole, and no temporary stays behind.
TEST_P(ModesUnderUmask, WhatTheXmlLayerWrites) {
    vorn_test::TempDir dir;
    const std::string file = dir.file("pgm_flash_cards.xml");
    dir.write("pgm_flash_cards.xml", std::string(100000, 'x'));
    ASSERT_EQ(chmod(file.c_str(), 0400), 0);
    PGM_COMMON_XML_VORN_SDMMC_SDMMC_FLASH root;
    ASSERT_TRUE(PGM_COMMON_XML::write_xml(&root, file)) << PGM_COMMON_XML::last_error();
    EXPECT_EQ(dir.read("pgm_flash_cards.xml"), PGM_COMMON_XML::write_xml_string(&root));
    EXPECT_EQ(mode_of(file), "0644");
    EXPECT_EQ(tree(dir.path()), std::vector<std::string>{"pgm_flash_cards.xml"});
}

TEST_P(ModesUnderUmask, FilesTheToolWrites) {
    if (tool_path().empty()) GTEST_SKIP() << "no vorn tool in this build";
    vorn_test::TempDir home;
    vorn_test::TempDir scratch;
    vorn_test::TempDir out;
    const std::vector<std::string> env = {"HOME=" + home.path(),
                                          "XDG_CONFIG_HOME=" + home.path() + ".config"};
    auto vorn = [&](std::vector<std::string> args) {
        args.insert(args.begin(),
                    {"--programmer-dir", programmer.path(), "--custom-dir", custom.path()});
        return run_tool(args, env, scratch.path(), GetParam());
    };
    // Added with a template, exported, deleted, then brought back from the exported file.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"add", "TOOLDEV", "--template", "Micron", "--id", "0xEF 0x40 0x19", "--density",
              "256Mb", "--io-voltage", "1.8V", "--save-template", "tooltpl"},
             {"export", "TOOLDEV", "--template", "tooltpl", "-o", out.path() + "x.xml"},
             {"delete", "TOOLDEV"},
             {"template", "delete", "tooltpl"},
             {"import", out.path() + "x.xml"}}) {
        RUN run = vorn(args);
        ASSERT_EQ(run.status, 0) << args[0] << ": " << run.err;
    }
    ASSERT_TRUE(custom.exists("pgm_flash_TOOLDEV.xml"));
    ASSERT_TRUE(custom.exists("pgm_flash_template_tooltpl.xml"));
    EXPECT_EQ(too_open(custom.path()), "");
    EXPECT_EQ(too_open(out.path()), "");
    EXPECT_EQ(too_open(home.path()), "");
}

std::string umask_name(const ::testing::TestParamInfo<mode_t>& info) {
    return "umask0" + std::to_string(info.param / 64) + std::to_string(info.param / 8 % 8) +
           std::to_string(info.param % 8);
}

INSTANTIATE_TEST_SUITE_P(Umasks, ModesUnderUmask, ::testing::Values(0000, 0002, 0022, 0077),
                         umask_name);

}  // namespace
