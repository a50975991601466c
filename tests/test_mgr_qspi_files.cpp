// Saving and deleting through the manager base with the real QSPI reader and writer: what a
// fresh manager reads back after each change of a shared file.
#include <gtest/gtest.h>

#include "host_fault.h"
#include "test_qspi_fixture.h"

using namespace qspi_test;
using vorn_test::MessageCapture;

namespace {

class MgrQspiFiles : public QspiTest {
  protected:
    void SetUp() override {
        QspiTest::SetUp();
        HOST_FAULT::clear();
        dir = FIO_PATH(custom.path()).full_directory();
        file = dir + "pgm_flash_shared.xml";
        DEVICE b = device("BETA");
        b.id = "0xEF 0x40 0x19";
        FLOW flow;
        flow.initialization = write_reg("Write Enable", "0x06");
        write_custom("pgm_flash_shared.xml",
                     document(flash_xml(device("ALPHA")) + flash_xml(b) +
                              flash_xml(device("GAMMA")) + template_xml("shared_tpl", flow, flow)));
        mgr = load();
        ASSERT_EQ(mgr->get_custom_dir_map().size(), 3u);
        ASSERT_EQ(mgr->get_user_template_list(), std::vector<std::string>{"shared_tpl"});
    }
    void TearDown() override {
        HOST_FAULT::clear();
        QspiTest::TearDown();
    }

    static std::vector<std::string> devices_in(const VORN_MGR& m) {
        std::vector<std::string> out;
        for (const auto& e : m.get_custom_dir_map()) out.push_back(e.first);
        return out;
    }

    std::unique_ptr<VORN_QSPI_MGR> mgr;
    std::string dir;
    std::string file;
};

TEST_F(MgrQspiFiles, DeletedDeviceLeavesItsCompanionsReadable) {
    ASSERT_TRUE(mgr->delete_db("BETA", dir));
    auto fresh = load();
    EXPECT_EQ(devices_in(*fresh), (std::vector<std::string>{"ALPHA", "GAMMA"}));
    EXPECT_EQ(fresh->get_custom_dir_map().at("GAMMA"), file);
    EXPECT_EQ(fresh->get_user_template_list(), std::vector<std::string>{"shared_tpl"});
    std::string name = "shared_tpl";
    ASSERT_NE(fresh->get_user_template_operation_list(name, VORN_PROG_FLOW_TYPE_SFL), nullptr);
    EXPECT_EQ(fresh->get_user_template_operation_list(name, VORN_PROG_FLOW_TYPE_SFL)
                  ->at(VORN_OP_TYPE_INITIALIZATION)
                  ->get_action_list()
                  ->size(),
              1u);
}

TEST_F(MgrQspiFiles, DeletedTemplateLeavesTheDevices) {
    ASSERT_TRUE(mgr->delete_template("shared_tpl"));
    EXPECT_TRUE(mgr->get_user_template_list().empty());
    auto fresh = load();
    EXPECT_EQ(devices_in(*fresh), (std::vector<std::string>{"ALPHA", "BETA", "GAMMA"}));
    EXPECT_TRUE(fresh->get_user_template_list().empty());
}

TEST_F(MgrQspiFiles, FailedRewriteKeepsAllFourEntries) {
    MessageCapture capture;
    HOST_FAULT::fail_next(HOST_FAULT::CHANGE_WRITE);
    EXPECT_FALSE(mgr->delete_db("BETA", dir));
    EXPECT_EQ(capture.message_ids(), std::vector<unsigned>{20560});
    EXPECT_EQ(devices_in(*mgr), (std::vector<std::string>{"ALPHA", "BETA", "GAMMA"}));
    auto fresh = load();
    EXPECT_EQ(devices_in(*fresh), (std::vector<std::string>{"ALPHA", "BETA", "GAMMA"}));
    EXPECT_EQ(fresh->get_user_template_list(), std::vector<std::string>{"shared_tpl"});
    EXPECT_EQ(fresh->get_flash_map().at("BETA")->get_parameter_value(VORN_FLASH_PARAM_ID),
              "0xEF 0x40 0x19");
}

TEST_F(MgrQspiFiles, ResavingAnEntryOfASharedFileMovesItToItsOwnFile) {
    VORN_FLASH* beta =
        complete_record(*mgr, mgr->create_flash("BETA"), VORN_PROG_FLOW_TEMPLATE_WINBOND,
                        "0xEF 0x40 0x20", "1.8V", "512Mb");
    ASSERT_TRUE(mgr->update_db(beta, dir));
    EXPECT_EQ(mgr->get_custom_dir_map().at("BETA"), dir + "pgm_flash_BETA.xml");

    auto fresh = load();
    EXPECT_EQ(devices_in(*fresh), (std::vector<std::string>{"ALPHA", "BETA", "GAMMA"}));
    EXPECT_EQ(fresh->get_custom_dir_map().at("ALPHA"), file);
    EXPECT_EQ(fresh->get_custom_dir_map().at("BETA"), dir + "pgm_flash_BETA.xml");
    EXPECT_EQ(fresh->get_flash_map().at("BETA")->get_density(), "512Mb");
    EXPECT_EQ(fresh->get_user_template_list(), std::vector<std::string>{"shared_tpl"});
}

TEST_F(MgrQspiFiles, DeletingEveryEntryRemovesTheFile) {
    for (const char* name : {"GAMMA", "shared_tpl", "ALPHA"})
        ASSERT_TRUE(mgr->delete_db(name, dir));
    EXPECT_TRUE(custom.exists("pgm_flash_shared.xml"));
    ASSERT_TRUE(mgr->delete_db("BETA", dir));
    EXPECT_FALSE(custom.exists("pgm_flash_shared.xml"));
    EXPECT_TRUE(mgr->get_custom_dir_map().empty());
    EXPECT_TRUE(mgr->get_flash_db_active_dir_map().count("BETA") == 0);
}

}  // namespace
