// The library's messages: every catalogue row as the host sees it, the builders' texts and
// suppression.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "vorn_msgs.h"
#include "vorn_test_support.h"

namespace {

// Each row of files/msg/catalogue.tsv (id, severity, format) is a message the host must know at
// load with that format and post type, and no other identifier may be known.
TEST(MsgCatalogue, EveryRowIsRegisteredWithItsFormat) {
    std::istringstream rows(vorn_test::read_test_file("msg/catalogue.tsv"));
    size_t count = 0;
    for (std::string line; std::getline(rows, line); ++count) {
        std::istringstream row(line);
        MSG_ID id = 0;
        char severity = 0;
        std::string format;
        row >> id >> severity;
        row.ignore(1);
        std::getline(row, format);
        SCOPED_TRACE(line);
        const VORN_MSG_INFO* info = vorn_msg_find(id);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->format, format);
        EXPECT_EQ(info->severity, severity);
        EXPECT_EQ(MSG_ID_REGISTRAR::get_post_type(id),
                  severity == 'E' ? MSG_POST_TYPE_ERROR : MSG_POST_TYPE_WARNING);
    }
    size_t catalogued = 0;
    vorn_msg_catalogue(&catalogued);
    EXPECT_EQ(catalogued, count);
    EXPECT_EQ(vorn_msg_find(20480), nullptr);
    EXPECT_FALSE(MSG_ID_REGISTRAR::is_registered(20480));
}

TEST(MsgBuilders, FillTheirArgumentsUnchangedAndPostOnce) {
    using namespace MSG_VORN;
    const std::pair<std::function<MSG_BASE*()>, const char*> cases[] = {
        {[] { return W::INVALID_TOTAL_DEVICE_DIE(-7); }, "Total device die '-7' is invalid."},
        {[] { return W::INVALID_TEMPLATE_NAME_CONFLICT_WITH_TEMPLATE_DATABASE("T1"); },
         "Template name 'T1' is invalid as it already exist in the template database."},
        {[] { return W::FAILED_TO_UPDATE_DB("custom"); },
         "Failed to update the device database in the custom directory."},
        {[] { return W::INVALID_DEVICE_DENSITY("3Mb %1!s! 'x'"); },
         "Device density '3Mb %1!s! 'x'' is invalid."},
        {[] { return E::FOUND_DUPLICATED_FLASH_IN_DB("MT25QU01G", "custom"); },
         "Found duplicate flash device names 'MT25QU01G' in the custom directory."},
    };
    for (const auto& [build, text] : cases) {
        vorn_test::MessageCapture capture;
        std::unique_ptr<MSG_BASE> msg(build());
        msg->post();
        ASSERT_EQ(capture.messages().size(), 1u) << text;
        EXPECT_EQ(capture.messages()[0].text, text);
        EXPECT_EQ(capture.messages()[0].module, "VORN");
    }
}

TEST(MsgBuilders, SuppressionSilencesOnlyThatWarningAndNeverAnError) {
    MSG_INDEX* index = MSG_INDEX::get_default_index();
    index->set_suppressed(20473, true);
    index->set_suppressed(20510, true);
    vorn_test::MessageCapture capture;
    std::unique_ptr<MSG_W> quiet(
        MSG_VORN::W::INVALID_DEVICE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("bad name!"));
    EXPECT_NE(dynamic_cast<MSG_W_NULL*>(quiet.get()), nullptr);
    quiet->post();
    std::unique_ptr<MSG_W>(MSG_VORN::W::INVALID_IO_VOLTAGE("5V"))->post();
    std::unique_ptr<MSG_E>(MSG_VORN::E::FAILED_TO_PARSE_USER_XML("a.xml", "Zentro"))->post();
    index->set_suppressed(20473, false);
    std::unique_ptr<MSG_W>(MSG_VORN::W::INVALID_DEVICE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR(""))
        ->post();
    index->clear_suppressed();
    EXPECT_EQ(capture.message_ids(), (std::vector<unsigned>{20476, 20510, 20473}));
}

TEST(MsgDebug, TracesReachTheHostAtLevelTwoUnderTheModuleName) {
    vorn_test::MessageCapture capture;
    // A "%" inside an argument is text, not a directive.
    int sent = msg_vdebug_impl(2, "Skipping %s: %d errors", "100%d.xml", 2);
    std::unique_ptr<MSG_D>(MSG_VORN::DEBUG_MSG(3, "loaded %d from %s", 12, "xml/"))->post();
    ASSERT_EQ(capture.records().size(), 2u);
    EXPECT_EQ(capture.traces(),
              (std::vector<std::string>{"Skipping 100%d.xml: 2 errors", "loaded 12 from xml/"}));
    EXPECT_EQ(sent, static_cast<int>(capture.records()[0].text.size()));
    EXPECT_EQ(capture.records()[0].level, 2);
    EXPECT_EQ(capture.records()[1].level, 3);
    EXPECT_EQ(capture.records()[0].module, "VORN");
}

}  // namespace
